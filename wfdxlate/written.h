// The output names written in one batch run, so that a record that would
// write a name again is refused and the line that wrote it first is named.
// The input is never read again for it: a pipe or FIFO can be read only once.
#pragma once

#include <cstdint>
#include <string_view>

namespace kivf::wfdx {

// A 128-bit digest of each name (87 bits kept) with the place that wrote it,
// 16 bytes a name, in one open-addressed table kept between 64% and 80% full
// (20 to 25 bytes a name) that grows in place; each lookup costs the same
// however many names are held.
class Written {
  public:
    Written() = default;
    Written(const Written&) = delete;
    Written& operator=(const Written&) = delete;
    ~Written();

    // The place recorded for name, or 0 when it was not written.
    std::uint64_t find(std::string_view name) const;
    // Make room for one more name; false when no memory is left. Taken before
    // a file is written, so that a written file is always recorded.
    bool room();
    // Record name, not yet held, as written at place (1 to kMaxPlace; larger
    // places are kept as kMaxPlace). room() must have said yes.
    void add(std::string_view name, std::uint64_t place);
    std::size_t size() const { return used_; }
    std::size_t bytes() const { return cap_ * sizeof(Slot); }

    static constexpr std::uint64_t kMaxPlace = (std::uint64_t{1} << 40) - 1;

  private:
    // hi: 64 digest bits; lo: 23 more above the place (40 bits, 0 = empty).
    struct Slot {
        std::uint64_t hi, lo;
    };
    std::size_t home(std::uint64_t hi) const { return static_cast<std::size_t>(hi % cap_); }
    void put(Slot s);

    Slot* slots_ = nullptr;
    std::size_t cap_ = 0, used_ = 0;
};

} // namespace kivf::wfdx
