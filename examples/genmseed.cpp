// SPDX-License-Identifier: Apache-2.0
// Writes the demo's miniSEED file with libmseed's packer: three components of
// one station, 20 samples a second for two minutes, their 512-byte Steim-2
// records interleaved as a digitiser sends them; the east component has a
// 10-second gap, and a text (log) record sits among the data.
//
//   genmseed FILE
#include "mspack.h"

#include <cmath>
#include <cstdio>
#include <string>
#include <vector>

namespace {

// One channel's records, packed from start for n samples of a wave train.
std::vector<std::string> channel(const char* chan, hptime_t start, int from, int n, double phase) {
    std::vector<std::int32_t> y(static_cast<std::size_t>(n));
    for (int i = 0; i < n; ++i) {
        const double t = (from + i) / 20.0;
        const double arrival =
            t > 30 ? std::exp(-(t - 30) / 15) * std::sin(2 * M_PI * 0.8 * t + phase) : 0;
        y[static_cast<std::size_t>(i)] =
            static_cast<std::int32_t>(std::lround(40 * std::sin(0.3 * t + phase) + 9000 * arrival));
    }
    const std::string bytes = mspack::pack({.net = "XK",
                                            .sta = "DEMO",
                                            .loc = "00",
                                            .chan = chan,
                                            .start = start + hptime_t{from} * HPTMODULUS / 20,
                                            .ints = y});
    std::vector<std::string> records;
    for (std::size_t off = 0; off < bytes.size(); off += 512)
        records.push_back(bytes.substr(off, 512));
    return records;
}

} // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fputs("usage: genmseed FILE\n", stderr);
        return 1;
    }
    const hptime_t start = mspack::at(2026, 341, 9, 15, 0, 250000);
    std::vector<std::vector<std::string>> chans = {channel("BHZ", start, 0, 2400, 0.0),
                                                   channel("BHN", start, 0, 2400, 1.1)};
    std::vector<std::string> east = channel("BHE", start, 0, 1000, 2.2);
    for (std::string& r : channel("BHE", start, 1200, 1200, 2.2)) east.push_back(r);
    chans.push_back(east);
    // The log record: text, no sampling rate.
    const std::string log = mspack::pack({.net = "XK",
                                          .sta = "DEMO",
                                          .chan = "LOG",
                                          .start = start,
                                          .rate = 0,
                                          .encoding = DE_ASCII,
                                          .text = "GPS lock regained"});

    std::FILE* f = std::fopen(argv[1], "wb");
    if (f == nullptr) return 1;
    for (std::size_t i = 0;; ++i) {
        bool any = false;
        for (const auto& c : chans)
            if (i < c.size()) std::fwrite(c[i].data(), 1, c[i].size(), f), any = true;
        if (i == 2) std::fwrite(log.data(), 1, log.size(), f);
        if (!any) break;
    }
    return std::fclose(f) == 0 ? 0 : 1;
}
