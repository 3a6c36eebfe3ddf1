// Writes the raw sample files that a wfdisc file names: 32-bit integers in
// this machine's byte order, plausible seismogram-like counts (background
// noise, then a decaying arrival), the same on every run.
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
    std::string line;
    std::uint32_t seed = 12345;
    auto noise = [&seed] { // small linear congruential generator, uniform in [-1, 1)
        seed = seed * 1664525u + 1013904223u;
        return static_cast<double>(seed >> 8) / 8388608.0 - 1.0;
    };
    while (std::getline(in, line)) {
        std::istringstream tokens(line);
        std::vector<std::string> tok;
        for (std::string t; tokens >> t;) tok.push_back(t);
        if (tok.size() < 16) continue;
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
    return 0;
}
