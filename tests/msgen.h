// miniSEED bytes for the tests, made by libmseed's own packer, and the cuts
// and splices that damaged or disordered files need.
#pragma once

#include <libmseed.h>

#include <cstdint>
#include <cstring>
#include <stdexcept>
#include <string>
#include <vector>

namespace msgen {

// One stream of samples; pack() makes as many records as they need. Which
// sample vector is used follows the encoding: text for DE_ASCII, floats for
// DE_FLOAT32, doubles for DE_FLOAT64, ints for the others.
struct Stream {
    std::string net = "XX", sta = "STA", loc = "", chan = "BHZ";
    hptime_t start = 0; // microseconds since 1970
    double rate = 20;   // 0 packs records without a sampling rate
    int encoding = DE_STEIM2;
    int reclen = 512;
    int byteorder = 1; // 1 big-endian, 0 little-endian
    std::vector<std::int32_t> ints{};
    std::vector<float> floats{};
    std::vector<double> doubles{};
    std::string text{};
};

inline hptime_t at(int year, int day, int hour, int min, int sec, int usec) {
    return ms_time2hptime(year, day, hour, min, sec, usec);
}

inline std::string pack(const Stream& s) {
    MSRecord* msr = msr_init(nullptr);
    std::strncpy(msr->network, s.net.c_str(), 10);
    std::strncpy(msr->station, s.sta.c_str(), 10);
    std::strncpy(msr->location, s.loc.c_str(), 10);
    std::strncpy(msr->channel, s.chan.c_str(), 10);
    msr->dataquality = 'D';
    msr->starttime = s.start;
    msr->samprate = s.rate;
    msr->encoding = static_cast<std::int8_t>(s.encoding);
    msr->reclen = s.reclen;
    msr->byteorder = static_cast<std::int8_t>(s.byteorder);
    Stream c = s; // the packer wants samples it may write
    const auto use = [&](auto& v, char type) {
        msr->datasamples = v.data(), msr->numsamples = static_cast<std::int64_t>(v.size());
        msr->sampletype = type;
    };
    if (s.encoding == DE_ASCII) use(c.text, 'a');
    if (s.encoding == DE_FLOAT32) use(c.floats, 'f');
    if (s.encoding == DE_FLOAT64) use(c.doubles, 'd');
    if (msr->sampletype == 0) use(c.ints, 'i');
    const std::int64_t wanted = msr->numsamples;
    // Without a blockette 1001 the header holds the start to 100 us only; with
    // one the packer puts the remaining microseconds there.
    if (s.start % 100 != 0) {
        blkt_1001_s b1001{};
        msr_addblockette(msr, reinterpret_cast<char*>(&b1001), sizeof b1001, 1001, 0);
    }
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

// The records of a packed stream, in order.
inline std::vector<std::string> split(const std::string& bytes) {
    std::vector<std::string> recs;
    for (std::size_t off = 0; off < bytes.size();) {
        const int len = ms_detect(bytes.data() + off, static_cast<int>(bytes.size() - off));
        if (len <= 0) throw std::runtime_error("not a record at byte " + std::to_string(off));
        recs.push_back(bytes.substr(off, static_cast<std::size_t>(len)));
        off += static_cast<std::size_t>(len);
    }
    return recs;
}

// The records picked by index, in the order given (an index may repeat);
// all of them in their order when none is given.
inline std::string join(const std::vector<std::string>& recs,
                        const std::vector<std::size_t>& order = {}) {
    std::string out;
    for (std::size_t i = 0; i < (order.empty() ? recs.size() : order.size()); ++i)
        out += recs.at(order.empty() ? i : order[i]);
    return out;
}

// A record's sample count (header bytes 30-31, in the header's byte order).
inline std::uint16_t count(const std::string& rec, int byteorder = 1) {
    const auto hi = static_cast<unsigned char>(rec.at(byteorder ? 30 : 31));
    const auto lo = static_cast<unsigned char>(rec.at(byteorder ? 31 : 30));
    return static_cast<std::uint16_t>(hi << 8 | lo);
}
inline void setcount(std::string& rec, std::uint16_t n, int byteorder = 1) {
    rec.at(byteorder ? 30 : 31) = static_cast<char>(n >> 8);
    rec.at(byteorder ? 31 : 30) = static_cast<char>(n & 0xFF);
}

} // namespace msgen
