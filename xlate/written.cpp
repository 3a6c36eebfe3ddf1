// SPDX-License-Identifier: Apache-2.0
// Names written in a batch run: digests in an open-addressed table.
#include "xlate/xlate.h"

#include <cstdlib>
#include <cstring>

namespace kivf::xlate {

namespace {

constexpr std::uint64_t kPlaceMask = Written::kMaxPlace;
constexpr std::uint64_t kOld = std::uint64_t{1} << 63; // set on every slot while the table grows
constexpr std::size_t kFirstCap = 1024;

std::uint64_t mix(std::uint64_t z) {
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ULL;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBULL;
    return z ^ (z >> 31);
}

// Two 64-bit hashes of the name, seeded apart; each 8-byte piece goes
// through a full mix, the length into the seeds (so a shorter name padded
// with NULs differs).
void digest(std::string_view s, std::uint64_t& a, std::uint64_t& b) {
    a = 0x243F6A8885A308D3ULL ^ s.size();
    b = 0x13198A2E03707344ULL + s.size();
    for (std::size_t i = 0; i < s.size(); i += 8) {
        std::uint64_t w = 0;
        std::memcpy(&w, s.data() + i, s.size() - i < 8 ? s.size() - i : 8);
        a = mix(a ^ w);
        b = mix(b + w * 0x9E3779B97F4A7C15ULL);
    }
}

} // namespace

Written::~Written() {
    std::free(slots_);
}

std::uint64_t Written::find(std::string_view name) const {
    if (cap_ == 0) return 0;
    std::uint64_t hi = 0, lo = 0;
    digest(name, hi, lo);
    lo &= ~kPlaceMask & ~kOld;
    for (std::size_t i = home(hi);; i = i + 1 == cap_ ? 0 : i + 1) {
        const Slot& s = slots_[i];
        if (s.lo == 0) return 0;
        if (s.hi == hi && (s.lo & ~kPlaceMask) == lo) return s.lo & kPlaceMask;
    }
}

void Written::add(std::string_view name, std::uint64_t place) {
    std::uint64_t hi = 0, lo = 0;
    digest(name, hi, lo);
    put(Slot{hi, (lo & ~kPlaceMask & ~kOld) | (place < kMaxPlace ? place : kMaxPlace)});
    ++used_;
}

// Into the first slot from its home that is empty or still holds an old entry;
// an old entry found there moves on in its place. Each old entry is moved
// once, and a placed entry never has an empty slot between it and its home.
void Written::put(Slot s) {
    for (std::size_t i = home(s.hi);; i = i + 1 == cap_ ? 0 : i + 1) {
        Slot& at = slots_[i];
        if (at.lo == 0) {
            at = s;
            return;
        }
        if ((at.lo & kOld) != 0) {
            const Slot moved{at.hi, at.lo & ~kOld};
            at = s;
            s = moved;
            i = home(s.hi) - 1 + (home(s.hi) == 0 ? cap_ : 0); // the loop steps to its home
        }
    }
}

// At most 80% full after one more; else a quarter larger, in the same block
// where the allocator can extend it (large blocks are remapped, not copied),
// then every entry placed anew.
bool Written::room() {
    if ((used_ + 1) * 5 <= cap_ * 4) return true;
    const std::size_t cap = cap_ == 0 ? kFirstCap : cap_ + cap_ / 4;
    void* more = std::realloc(slots_, cap * sizeof(Slot));
    if (more == nullptr) return false;
    slots_ = static_cast<Slot*>(more);
    std::memset(slots_ + cap_, 0, (cap - cap_) * sizeof(Slot));
    const std::size_t old = cap_;
    cap_ = cap;
    for (std::size_t i = 0; i < old; ++i)
        if (slots_[i].lo != 0) slots_[i].lo |= kOld;
    for (std::size_t i = 0; i < old; ++i) {
        if ((slots_[i].lo & kOld) == 0) continue; // empty, or already placed anew
        const Slot s{slots_[i].hi, slots_[i].lo & ~kOld};
        slots_[i] = Slot{0, 0};
        put(s);
    }
    return true;
}

} // namespace kivf::xlate
