// SPDX-License-Identifier: Apache-2.0
// A file's segments as KIV traces: the header every converted segment gets,
// and a whole file read into traces for callers that keep them in memory.
#include "msread/msread.h"

#include "xlate/xlate.h"

#include <array>
#include <climits>
#include <cstdio>

namespace kivf::msread {

void fillheader(const Segment& s, const Instant& start, CmHdr& hdr, KmHdr& khdr,
                const Gathered* gathered) {
    const std::span<const float> y = floats(s.seg);
    newhdr(hdr, khdr);
    xlate::setfields(hdr, khdr,
                     {.npts = static_cast<std::int32_t>(y.size()),
                      .interval = static_cast<float>(1.0 / s.seg->samprate),
                      .start = start,
                      .station = s.id->station,
                      .channel = s.id->channel,
                      .user0 = {},
                      .user1 = {}});
    if (s.id->network[0] != '\0') khdr.k(kslot::KNETWK).set(s.id->network);
    if (s.id->location[0] != '\0') khdr.k(kslot::KHOLE).set(s.id->location);
    DepAccum stats;
    if (gathered == nullptr || !gathered->of(s.seg, stats)) stats.add(y);
    xlate::derive(hdr, start.usec, y.size(), stats);
}

namespace {

// "NET.STA.LOC.CHAN at YYYY.DDD.HH:MM:SS.ffffff", as a segment is named here.
std::string named(const Segment& s) {
    const Instant t = splittime(s.seg->starttime);
    std::array<char, 96> b{};
    std::snprintf(b.data(), b.size(), "%s.%s.%s.%s at %04d.%03d.%02d:%02d:%02d.%03d%03d",
                  s.id->network, s.id->station, s.id->location, s.id->channel, t.year, t.jday,
                  t.hour, t.minute, t.second, t.msec, t.usec);
    return b.data();
}

void tell(const ReadAs& as, std::int32_t number, bool note, std::string text) {
    if (as.tell && (!note || as.notes)) as.tell(Told{number, note, std::move(text)});
}

} // namespace

FileRead readtraces(int fd, std::string_view file, std::vector<SegmentTrace>& traces,
                    const ReadAs& as) {
    capturelog();
    traces.clear();
    MSTraceList* list = mstl_init(nullptr);
    Gathered gathered;
    ReadAs mine = as;
    mine.gathered = &gathered;
    FileRead got = readfile(fd, file, list, mine);
    const std::vector<Segment> all = got.whole ? std::vector<Segment>{} : segments(list);
    const std::vector<std::ptrdiff_t> repeated = repeats(all);
    for (std::size_t i = 0; i < all.size(); ++i) {
        const Segment& s = all[i];
        if (repeated[i] >= 0) {
            tell(as, kMsgMsRepeated, true,
                 std::string(file) + " " + named(s) + " (" + std::to_string(s.seg->numsamples) +
                     " samples) in " + named(all[static_cast<std::size_t>(repeated[i])]));
            continue;
        }
        if (s.seg->numsamples > INT_MAX) {
            tell(as, kMsgMsTooLong, false,
                 std::string(file) + " " + named(s) + " (" + std::to_string(s.seg->numsamples) +
                     " samples)");
            ++got.refused;
            continue;
        }
        SegmentTrace& t = traces.emplace_back();
        fillheader(s, splittime(s.seg->starttime), t.hdr, t.khdr, &gathered);
        t.n = static_cast<std::size_t>(s.seg->numsamples);
        t.y.reset(static_cast<float*>(s.seg->datasamples));
        s.seg->datasamples = nullptr;
        s.seg->numsamples = 0;
    }
    mstl_free(&list, 0);
    return got;
}

} // namespace kivf::msread
