// SPDX-License-Identifier: Apache-2.0
// Writes the raw sample files that a wfdisc file names: 32-bit integers in
// this machine's byte order, plausible seismogram-like counts (background
// noise, then a decaying arrival), the same on every run. The wfdisc file's
// datatype column is then made to say what they are (i4 little-endian, s4
// big-endian), so that every reader of it takes the same values.
#include <algorithm>
#include <bit>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <fstream>
#include <iostream>
#include <sstream>
#include <string>
#include <vector>

int main(int argc, char** argv) {
    if (argc != 2) {
        std::cerr << "usage: gensamples WFDISC\n";
        return 2;
    }
    std::ifstream in(argv[1]);
    if (!in) {
        std::cerr << "gensamples: cannot open " << argv[1] << "\n";
        return 1;
    }
    const std::string text{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    std::string fixed = text;
    const char* code = std::endian::native == std::endian::little ? "i4" : "s4";
    std::istringstream lines(text);
    std::size_t at = 0; // where the line being read starts in text
    std::string line;
    std::uint32_t seed = 12345;
    auto noise = [&seed] { // small linear congruential generator, uniform in [-1, 1)
        seed = seed * 1664525u + 1013904223u;
        return static_cast<double>(seed >> 8) / 8388608.0 - 1.0;
    };
    for (; std::getline(lines, line); at += line.size() + 1) {
        std::vector<std::string> tok;
        std::vector<std::size_t> pos; // of each token in the line
        for (std::size_t b = line.find_first_not_of(" \t"); b != std::string::npos;
             b = line.find_first_not_of(" \t", b)) {
            const std::size_t e = std::min(line.find_first_of(" \t", b), line.size());
            tok.push_back(line.substr(b, e - b));
            pos.push_back(b);
            b = e;
        }
        if (tok.size() < 16) continue;
        if (tok[10].size() == 2) fixed.replace(at + pos[10], 2, code); // the datatype column
        const long n = std::stol(tok[4]);
        const double rate = std::stod(tok[5]);
        const double onset = 0.4 * static_cast<double>(n) / rate; // seconds into the record
        std::vector<std::int32_t> s(static_cast<std::size_t>(n));
        double smooth = 0;
        for (long i = 0; i < n; ++i) {
            const double t = static_cast<double>(i) / rate;
            smooth = 0.8 * smooth + 0.2 * noise();
            double v = 400.0 * smooth;
            if (t >= onset) {
                const double dt = t - onset;
                v += 25000.0 * std::exp(-dt / 8.0) * std::sin(2.0 * M_PI * 1.2 * dt) +
                     9000.0 * std::exp(-dt / 20.0) * std::sin(2.0 * M_PI * 0.3 * dt);
            }
            s[static_cast<std::size_t>(i)] = static_cast<std::int32_t>(std::lround(v));
        }
        std::ofstream out(tok[15], std::ios::binary);
        out.write(reinterpret_cast<const char*>(s.data()),
                  static_cast<std::streamsize>(s.size() * sizeof(std::int32_t)));
        if (!out) {
            std::cerr << "gensamples: cannot write " << tok[15] << "\n";
            return 1;
        }
        std::cout << "wrote " << tok[15] << " (" << n << " samples)\n";
    }
    if (fixed != text) {
        in.close();
        std::ofstream wf(argv[1], std::ios::binary | std::ios::trunc);
        wf << fixed;
        if (!wf.flush()) {
            std::cerr << "gensamples: cannot write " << argv[1] << "\n";
            return 1;
        }
        std::cout << "datatype " << code << " in " << argv[1] << "\n";
    }
    return 0;
}
