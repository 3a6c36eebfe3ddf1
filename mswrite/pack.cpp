// A planned trace packed into records by libmseed's own packer.
#include "mswrite/mswrite.h"

#include "bot/numbers.h"
#include "msread/msread.h"

#include <cerrno>
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
        doubles.assign(y.begin(), y.end());
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
    m->byteorder = 1; // big-endian, as exchanged
    m->sequence_number = sequence;
    // The microseconds after the header's tenth of a millisecond; a rate no
    // factor and multiplier hold exactly, as a float as well.
    blkt_1001_s b1001{};
    msr_addblockette(m, reinterpret_cast<char*>(&b1001), sizeof b1001, 1001, 0);
    std::int16_t factor = 0, multiplier = 0;
    ms_genfactmult(p.rate, &factor, &multiplier);
    if (ms_nomsamprate(factor, multiplier) != p.rate) {
        blkt_100_s b100{};
        b100.samprate = static_cast<float>(p.rate);
        msr_addblockette(m, reinterpret_cast<char*>(&b100), sizeof b100, 100, 0);
    }
    m->datasamples = samples;
    m->numsamples = static_cast<std::int64_t>(y.size());
    m->sampletype = type;
    Handler h{&put};
    std::int64_t packed = 0;
    const int made = msr_pack(m, handle, &h, &packed, 1, 0);
    m->datasamples = nullptr; // ours, not the record's to free
    records = h.records;
    sequence = m->sequence_number;
    if (h.err != 0) return Draft(kMsgWriteFailed, h.err).failure();
    if (made < 0 || packed != static_cast<std::int64_t>(y.size())) {
        const std::string said = msread::takelogged();
        return (Draft(kMsgPackLibrary) << "(" + (said.empty() ? "no reason given" : said) + ")")
            .failure();
    }
    return {};
}

} // namespace kivf::mswrite
