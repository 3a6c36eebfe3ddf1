// SPDX-License-Identifier: Apache-2.0
// Writes a small CSS 3.0 archive into a directory (not installed): one
// wfdisc file and two sample files, each shared by several channels at
// different byte offsets, in both byte orders, 16- and 32-bit integers,
// floats and e1 blocks. The same bytes on every run.
#include "e1pack.h"

#include <bit>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <string>
#include <utility>
#include <vector>

namespace {

struct Channel {
    const char* sta;
    const char* chan;
    const char* datatype; // s4 s2 t4 e1: big-endian; i4 i2 f4: little-endian
    const char* file;
    double rate;
    int nsamp;
};

// A quiet background, then a decaying arrival a third of the way in.
double trace(int i, int n, double rate, std::uint32_t& seed) {
    seed = seed * 1664525u + 1013904223u;
    const double noise = static_cast<double>(seed >> 8) / 8388608.0 - 1.0;
    const double t = (i - n / 3) / rate;
    const double arrival = t < 0 ? 0 : std::exp(-t / 4.0) * std::sin(2 * M_PI * 1.5 * t);
    return 40 * noise + 3000 * arrival;
}

void put(std::string& out, const void* p, std::size_t w, bool big) {
    const auto* b = static_cast<const unsigned char*>(p);
    const bool swap = big != (std::endian::native == std::endian::big);
    for (std::size_t k = 0; k < w; ++k) out += static_cast<char>(b[swap ? w - 1 - k : k]);
}

} // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::cerr << "usage: genarchive DIR\n";
        return 2;
    }
    const std::filesystem::path dir = argv[1];
    std::filesystem::create_directories(dir / "2017");
    const std::vector<Channel> chans = {
        {"ANMO", "BHZ", "s4", "ANMO.20170308.w", 20, 1200},
        {"ANMO", "BHN", "s4", "ANMO.20170308.w", 20, 1200},
        {"ANMO", "BHE", "i4", "ANMO.20170308.w", 20, 1200},
        {"TKL", "HHZ", "s2", "TKL.20170308.w", 100, 3000},
        {"TKL", "HHN", "i2", "TKL.20170308.w", 100, 3000},
        {"TKL", "HHE", "t4", "TKL.20170308.w", 100, 3000},
        {"TKL", "LHZ", "f4", "TKL.20170308.w", 1, 60},
        {"TKL", "HNZ", "e1", "TKL.20170308.w", 100, 3000},
    };
    std::string wfdisc;
    std::vector<std::pair<std::string, std::string>> files; // name, bytes
    std::uint32_t seed = 2017;
    int wfid = 1;
    for (const Channel& c : chans) {
        std::string* data = nullptr;
        for (auto& f : files)
            if (f.first == c.file) data = &f.second;
        if (data == nullptr) data = &files.emplace_back(c.file, "").second;
        const std::size_t foff = data->size();
        const bool big = c.datatype[0] == 's' || c.datatype[0] == 't';
        std::vector<std::int32_t> counts; // e1: first differences, blocks of 1000
        for (int i = 0; i < c.nsamp; ++i) {
            const double v = trace(i, c.nsamp, c.rate, seed);
            if (c.datatype[0] == 'e') {
                counts.push_back(static_cast<std::int32_t>(std::lround(v)));
                if (counts.size() == 1000 || i + 1 == c.nsamp)
                    *data += e1enc::block(std::exchange(counts, {}), 1);
            } else if (c.datatype[0] == 't' || c.datatype[0] == 'f') {
                const float f = static_cast<float>(v / 1000);
                put(*data, &f, 4, big);
            } else if (c.datatype[1] == '2') {
                const auto s = static_cast<std::int16_t>(std::lround(v));
                put(*data, &s, 2, big);
            } else {
                const auto s = static_cast<std::int32_t>(std::lround(v * 100));
                put(*data, &s, 4, big);
            }
        }
        const double t0 = 1488931200.019 + (c.rate == 1 ? 0 : 7.5);
        char line[400];
        std::snprintf(line, sizeof line,
                      "%-6s %-8s %17.5f %8d %8d %8d %17.5f %8d %11.7f %16.6f %16.6f %-6s %c %-2s "
                      "%c %-64s %-32s %10zu %8d %-17s\n",
                      c.sta, c.chan, t0, wfid, wfid, 2017067, t0 + (c.nsamp - 1) / c.rate, c.nsamp,
                      c.rate, 1.0, 1.0, "STS2", 'o', c.datatype, '-', "2017", c.file, foff, -1,
                      "1489009080.00000");
        wfdisc += line;
        ++wfid;
    }
    for (const auto& [name, bytes] : files)
        std::ofstream(dir / "2017" / name, std::ios::binary) << bytes;
    std::ofstream(dir / "day.wfdisc") << wfdisc;
    std::cout << "wrote " << (dir / "day.wfdisc").string() << " (" << chans.size()
              << " records) and its sample files\n";
    return 0;
}
