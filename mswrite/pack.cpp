// SPDX-License-Identifier: Apache-2.0
// A planned trace packed into records by libmseed's own packer.
#include "mswrite/mswrite.h"

#include "bot/numbers.h"
#include "msread/msread.h"
#include "ucf/ucf.h"

#include <algorithm>
#include <bit>
#include <cerrno>
#include <cmath>
#include <cstring>
#include <libmseed.h>
#include <memory>
#include <vector>

namespace kivf::mswrite {

namespace {

struct Handler {
    const PutRecord* put;
    int err = 0;
    std::int64_t records = 0;
};

// A record made: handed on, until a put has failed.
extern "C" void handle(char* record, int len, void* data) {
    auto* h = static_cast<Handler*>(data);
    if (h->err != 0) return;
    h->err = (*h->put)({record, static_cast<std::size_t>(len)});
    ++h->records;
}

struct FreeRecord {
    void operator()(MSRecord* m) const noexcept { msr_free(&m); }
};

// A float widened with its bits: a NaN keeps its payload and stays
// signalling, where the machine's conversion would make it quiet.
double widen(float v) {
    if (!std::isnan(v)) return v;
    const auto b = std::bit_cast<std::uint32_t>(v);
    const std::uint64_t bits = (std::uint64_t{b >> 31} << 63) | (std::uint64_t{0x7FF} << 52) |
                               (std::uint64_t{b & 0x7FFFFFU} << 29);
    return std::bit_cast<double>(bits);
}

// The most samples a record of reclen bytes can hold in an encoding: Steim-2
// up to 7 in 4 bytes, Steim-1 4, int16 2, int32 and float32 1, float64 half.
std::int64_t mostinrecord(Encoding e, int reclen) {
    const std::int64_t words = reclen / 4;
    switch (e) {
    case Encoding::steim2:
        return 7 * words;
    case Encoding::steim1:
        return 4 * words;
    case Encoding::int16:
        return 2 * words;
    case Encoding::float64:
        return words / 2;
    default:
        return words;
    }
}

// A record counts its samples in 16 bits.
constexpr std::int64_t kMostCounted = 65535;

// Whether a sample from first to last (us since 1970) lies on a day whose
// year and day of the year read the same in either byte order: 2056 (0x0808)
// days 1 (0x0001, 0x0100 = 256), 256 and 257 (0x0101).
bool ambiguous(std::int64_t first, std::int64_t last) {
    constexpr std::int64_t kDay = 86400LL * 1'000'000;
    const std::int64_t y2056 = daysfromepoch(2056) * kDay;
    for (const std::int64_t day : {0, 255, 256}) {
        const std::int64_t from = y2056 + day * kDay;
        if (last >= from && first < from + kDay) return true;
    }
    return false;
}

} // namespace

Failure pack(const Plan& p, std::span<const float> y, const PackAs& as, std::int32_t& sequence,
             const PutRecord& put, std::int64_t& records) {
    msread::capturelog();
    msread::takelogged();
    records = 0;
    // The packer's own copy of the samples, in the type the encoding takes:
    // it may write to what it is given.
    std::vector<std::int32_t> ints;
    std::vector<float> floats;
    std::vector<double> doubles;
    void* samples = nullptr;
    char type = 'i';
    if (p.encoding == Encoding::float32) {
        floats.assign(y.begin(), y.end());
        samples = floats.data();
        type = 'f';
    } else if (p.encoding == Encoding::float64) {
        doubles.resize(y.size());
        for (std::size_t i = 0; i < y.size(); ++i) doubles[i] = widen(y[i]);
        samples = doubles.data();
        type = 'd';
    } else { // whole numbers, as plan found them
        ints.resize(y.size());
        for (std::size_t i = 0; i < y.size(); ++i) ints[i] = static_cast<std::int32_t>(y[i]);
        samples = ints.data();
    }
    const std::unique_ptr<MSRecord, FreeRecord> msr(msr_init(nullptr));
    MSRecord* m = msr.get();
    std::strncpy(m->network, p.network.c_str(), sizeof m->network - 1);
    std::strncpy(m->station, p.station.c_str(), sizeof m->station - 1);
    std::strncpy(m->location, p.location.c_str(), sizeof m->location - 1);
    std::strncpy(m->channel, p.channel.c_str(), sizeof m->channel - 1);
    m->dataquality = as.quality;
    m->starttime = p.start;
    m->samprate = p.rate;
    m->reclen = as.reclen;
    m->encoding = static_cast<std::int8_t>(p.encoding);
    m->byteorder = ambiguous(p.start, p.last) ? static_cast<std::int8_t>(ms_bigendianhost())
                                              : 1; // big-endian, as exchanged
    m->sequence_number = sequence;
    // The microseconds after the header's tenth of a millisecond; a rate no
    // factor and multiplier hold exactly, as a float as well.
    blkt_1001_s b1001{};
    msr_addblockette(m, reinterpret_cast<char*>(&b1001), sizeof b1001, 1001, 0);
    if (p.floatrate) {
        blkt_100_s b100{};
        b100.samprate = static_cast<float>(p.rate);
        msr_addblockette(m, reinterpret_cast<char*>(&b100), sizeof b100, 100, 0);
    }
    m->sampletype = type;
    // Pieces of at most what a record counts, each packed whole, when a
    // record could hold more: libmseed would let the count wrap.
    const auto n = static_cast<std::int64_t>(y.size());
    const std::int64_t piece =
        mostinrecord(p.encoding, as.reclen) > kMostCounted ? kMostCounted : n;
    const std::size_t width = type == 'd' ? 8 : 4;
    Handler h{&put};
    int made = 0;
    std::int64_t done = 0;
    for (std::int64_t first = 0; first < n && made >= 0 && h.err == 0; first += piece) {
        std::int64_t offset = 0;
        sampleoffset(p.nominal, first, offset); // within the span plan checked
        m->starttime = p.start + offset;
        m->datasamples = static_cast<char*>(samples) + static_cast<std::size_t>(first) * width;
        m->numsamples = std::min(piece, n - first);
        std::int64_t packed = 0;
        made = msr_pack(m, handle, &h, &packed, 1, 0);
        done += packed;
    }
    m->datasamples = nullptr; // ours, not the record's to free
    records = h.records;
    sequence = m->sequence_number;
    if (h.err != 0) return Draft(kMsgWriteFailed, h.err).failure();
    if (made < 0 || done != n) {
        const std::string said = msread::takelogged();
        return (Draft(kMsgPackLibrary) << "(" + (said.empty() ? "no reason given" : said) + ")")
            .failure();
    }
    return {};
}

} // namespace kivf::mswrite
