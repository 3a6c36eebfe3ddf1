// SPDX-License-Identifier: Apache-2.0
// miniSEED records made with libmseed's own packer: the demo's generator, the
// benchmark and the tests all write their files through this one routine.
#pragma once

#include <libmseed.h>

#include <cstdint>
#include <cstring>
#include <stdexcept>
#include <string>
#include <vector>

namespace mspack {

// One stream of samples; pack() makes as many records as they need: text for
// DE_ASCII, floats for DE_FLOAT32, doubles for DE_FLOAT64, ints for the others.
struct Stream {
    std::string net = "XX", sta = "STA", loc = "", chan = "BHZ";
    hptime_t start = 0; // microseconds since 1970
    double rate = 20;   // 0 packs records without a sampling rate
    bool b100 = false;  // the rate also as a blockette 100's float: a rate no factor holds
    int encoding = DE_STEIM2;
    int reclen = 512;
    int byteorder = 1; // 1 big-endian, 0 little-endian
    std::vector<std::int32_t> ints{};
    std::vector<float> floats{};
    std::vector<double> doubles{};
    std::string text{};
};

// year, day of the year, hour, minute, second, microsecond
inline constexpr auto& at = ms_time2hptime;

// The records' bytes. s is a copy: the packer wants samples it may write.
inline std::string pack(Stream s) {
    MSRecord* msr = msr_init(nullptr);
    std::strncpy(msr->network, s.net.c_str(), 10);
    std::strncpy(msr->station, s.sta.c_str(), 10);
    std::strncpy(msr->location, s.loc.c_str(), 10);
    std::strncpy(msr->channel, s.chan.c_str(), 10);
    msr->dataquality = 'D';
    msr->starttime = s.start;
    msr->samprate = s.rate;
    msr->reclen = s.reclen;
    msr->encoding = static_cast<std::int8_t>(s.encoding);
    msr->byteorder = static_cast<std::int8_t>(s.byteorder);
    const auto use = [&](auto& v, char type) {
        msr->datasamples = v.data();
        msr->numsamples = static_cast<std::int64_t>(v.size());
        msr->sampletype = type;
    };
    if (s.encoding == DE_ASCII)
        use(s.text, 'a');
    else if (s.encoding == DE_FLOAT32)
        use(s.floats, 'f');
    else if (s.encoding == DE_FLOAT64)
        use(s.doubles, 'd');
    else
        use(s.ints, 'i');
    const std::int64_t wanted = msr->numsamples;
    blkt_1001_s b1001{}; // holds the microseconds beyond the header's 100 us
    if (s.start % 100 != 0)
        msr_addblockette(msr, reinterpret_cast<char*>(&b1001), sizeof b1001, 1001, 0);
    blkt_100_s b100{};
    b100.samprate = static_cast<float>(s.rate);
    if (s.b100) msr_addblockette(msr, reinterpret_cast<char*>(&b100), sizeof b100, 100, 0);
    std::string out;
    const auto collect = [](char* rec, int len, void* into) {
        static_cast<std::string*>(into)->append(rec, static_cast<std::size_t>(len));
    };
    std::int64_t packed = 0;
    const int records = msr_pack(msr, collect, &out, &packed, 1, 0);
    msr->datasamples = nullptr; // ours, not the record's
    msr_free(&msr);
    if (records <= 0 || packed != wanted)
        throw std::runtime_error("msr_pack failed for " + s.net + "." + s.sta + "." + s.chan);
    return out;
}

} // namespace mspack
