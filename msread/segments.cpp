// SPDX-License-Identifier: Apache-2.0
// A file's trace list: its segments in order, their breaks and repeats,
// their samples as 32-bit floats, the stats gathered as records join them.
#include "msread/msread.h"

#include <algorithm>
#include <bit>
#include <cfloat>
#include <cmath>
#include <cstring>
#include <new>

namespace kivf::msread {

std::vector<Segment> segments(const MSTraceList* list) {
    std::vector<Segment> all;
    for (const MSTraceID* id = list->traces; id != nullptr; id = id->next)
        for (MSTraceSeg* seg = id->first; seg != nullptr; seg = seg->next) all.push_back({id, seg});
    const auto key = [](const Segment& s) {
        return std::tuple(std::string_view(s.id->network), std::string_view(s.id->station),
                          std::string_view(s.id->location), std::string_view(s.id->channel),
                          s.seg->starttime);
    };
    std::stable_sort(all.begin(), all.end(),
                     [&](const Segment& a, const Segment& b) { return key(a) < key(b); });
    return all;
}

Breaks breaks(const std::vector<Segment>& all) {
    Breaks b;
    const MSTraceSeg* reach = nullptr; // of the channel's segments so far, the one ending last
    for (std::size_t i = 0; i < all.size(); ++i) {
        const MSTraceSeg* seg = all[i].seg;
        if (i > 0 && all[i].id == all[i - 1].id) {
            const double period = HPTMODULUS / reach->samprate;
            const double off = static_cast<double>(seg->starttime - reach->endtime) - period;
            b.gaps += off > period / 2 ? 1 : 0;
            b.overlaps += off < -period / 2 ? 1 : 0; // else a change of rate or kind of sample
        }
        if (i == 0 || all[i].id != all[i - 1].id || seg->endtime > reach->endtime) reach = seg;
    }
    return b;
}

bool holds(const MSTraceSeg* p, hptime_t start, hptime_t end, double rate,
           std::span<const float> y) {
    if (p->samprate != rate || end > p->endtime) return false;
    const double period = HPTMODULUS / rate;
    const auto k = std::llround(static_cast<double>(start - p->starttime) / period);
    const double off = static_cast<double>(start - p->starttime) - static_cast<double>(k) * period;
    if (k < 0 || k + static_cast<std::int64_t>(y.size()) > p->numsamples ||
        std::fabs(off) >= period / 2)
        return false;
    return std::memcmp(floats(p).data() + k, y.data(), y.size_bytes()) == 0;
}

std::vector<std::ptrdiff_t> repeats(const std::vector<Segment>& all) {
    std::vector<std::ptrdiff_t> of(all.size(), -1);
    for (std::size_t i = 1; i < all.size(); ++i) {
        const MSTraceSeg* s = all[i].seg;
        std::size_t first = i; // the channel's first segment: the earliest that holds them is named
        while (first > 0 && all[first - 1].id == all[i].id) --first;
        for (std::size_t j = first; j < i && of[i] < 0; ++j)
            if (holds(all[j].seg, s->starttime, s->endtime, s->samprate, floats(s)))
                of[i] = static_cast<std::ptrdiff_t>(j);
    }
    return of;
}

bool heldalready(const MSTraceList* list, MSRecord* msr) {
    const std::span<const float> y{static_cast<const float*>(msr->datasamples),
                                   static_cast<std::size_t>(msr->numsamples)};
    const hptime_t end = msr_endtime(msr);
    for (const MSTraceID* id = list->traces; id != nullptr; id = id->next) {
        if (std::strcmp(id->network, msr->network) != 0 ||
            std::strcmp(id->station, msr->station) != 0 ||
            std::strcmp(id->location, msr->location) != 0 ||
            std::strcmp(id->channel, msr->channel) != 0)
            continue;
        for (const MSTraceSeg* seg = id->first; seg != nullptr; seg = seg->next)
            if (holds(seg, msr->starttime, end, msr->samprate, y)) return true;
    }
    return false;
}

namespace {

// A NaN made a float with its bits: its payload's top bits kept, signalling
// or quiet as it was, where the machine's conversion would make it quiet.
float narrow(double v) {
    const auto b = std::bit_cast<std::uint64_t>(v);
    std::uint32_t payload = static_cast<std::uint32_t>(b >> 29) & 0x7FFFFFU;
    if (payload == 0) payload = 0x400000U; // its payload all below a float's: a quiet NaN
    return std::bit_cast<float>(static_cast<std::uint32_t>(b >> 63 << 31) | 0x7F800000U | payload);
}

} // namespace

std::int64_t tofloats(void* samples, std::int64_t count, char& type) {
    const auto n = static_cast<std::size_t>(count);
    auto* bytes = static_cast<unsigned char*>(samples);
    std::int64_t changed = 0;
    // Each float goes where its own sample began or before: nothing is read
    // after it is overwritten. memcpy, as the buffer changes type.
    if (type == 'i') {
        // Within 2^24 every value is exact: the plain loops below, which the
        // compiler vectorises, then do the whole work.
        std::int32_t lo = 0, hi = 0;
        for (std::size_t i = 0; i < n; ++i) {
            std::int32_t v;
            std::memcpy(&v, bytes + 4 * i, 4);
            lo = std::min(lo, v);
            hi = std::max(hi, v);
        }
        const bool exact = lo >= -(1 << 24) && hi <= (1 << 24);
        for (std::size_t i = 0; exact && i < n; ++i) {
            std::int32_t v;
            std::memcpy(&v, bytes + 4 * i, 4);
            const auto f = static_cast<float>(v);
            std::memcpy(bytes + 4 * i, &f, 4);
        }
        for (std::size_t i = 0; !exact && i < n; ++i) {
            std::int32_t v;
            std::memcpy(&v, bytes + 4 * i, 4);
            const auto f = static_cast<float>(v);
            changed += static_cast<std::int64_t>(f) != v ? 1 : 0;
            std::memcpy(bytes + 4 * i, &f, 4);
        }
    } else if (type == 'd') {
        for (std::size_t i = 0; i < n; ++i) {
            double v;
            std::memcpy(&v, bytes + 8 * i, 8);
            if (std::isfinite(v) && std::fabs(v) > FLT_MAX) return -1;
        }
        for (std::size_t i = 0; i < n; ++i) {
            double v;
            std::memcpy(&v, bytes + 8 * i, 8);
            const float f = std::isnan(v) ? narrow(v) : static_cast<float>(v);
            changed += static_cast<double>(f) != v && !std::isnan(v) ? 1 : 0;
            std::memcpy(bytes + 4 * i, &f, 4);
        }
    }
    type = 'f';
    return changed;
}

std::span<const float> floats(const MSTraceSeg* seg) {
    return {static_cast<const float*>(seg->datasamples), static_cast<std::size_t>(seg->numsamples)};
}

Instant splittime(hptime_t t) {
    static_assert(HPTMODULUS == 1'000'000, "high-precision times count microseconds");
    return splitmicros(t);
}

void Gathered::joined(const MSTraceSeg* seg, MSRecord* msr) {
    Part* at = nullptr;
    try {
        at = &parts_[seg];
    } catch (const std::bad_alloc&) { // not gathered: walked when its header is made
        return;
    }
    Part& p = *at;
    if (seg->numsamples == msr->numsamples) { // a new segment, perhaps where a freed one was
        p = Part{};
    } else if (!p.inorder || p.n + msr->numsamples != seg->numsamples ||
               seg->endtime != msr_endtime(msr)) { // not at the end of what was gathered
        p.inorder = false;
        return;
    }
    p.stats.add(
        {static_cast<const float*>(msr->datasamples), static_cast<std::size_t>(msr->numsamples)});
    p.n = seg->numsamples;
}

bool Gathered::of(const MSTraceSeg* seg, DepAccum& stats) const {
    const auto p = parts_.find(seg);
    if (p == parts_.end() || !p->second.inorder || p->second.n != seg->numsamples) return false;
    stats = p->second.stats;
    return true;
}

} // namespace kivf::msread
