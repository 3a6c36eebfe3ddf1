// SPDX-License-Identifier: Apache-2.0
// Nanoseconds per station of the sphgeo computation for 1,000,000 stations: the naive loop
// (sphgeoj per station, the event's terms recomputed each time) against sphgeom on one thread
// and sphgeom as the gateway calls it (stations shared among the cores), in the same run.
// Every variant must give the same bits; the run fails otherwise.
//
// Build and run by hand:
//   cmake --build <build> --target sphgeo_bench && <build>/bench/sphgeo_bench [stations] [reps]
#include "sphgeo.h"

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <random>
#include <string>
#include <thread>
#include <vector>

namespace {

struct Out {
    std::vector<double> delta, dist, azim, bazim;
    explicit Out(std::size_t n) : delta(n), dist(n), azim(n), bazim(n) {}
    bool same_bits(const Out& o) const {
        const auto eq = [](const std::vector<double>& a, const std::vector<double>& b) {
            return std::memcmp(a.data(), b.data(), a.size() * sizeof(double)) == 0;
        };
        return eq(delta, o.delta) && eq(dist, o.dist) && eq(azim, o.azim) && eq(bazim, o.bazim);
    }
};

struct Variant {
    const char* name;
    std::function<void(Out&)> run;
    std::vector<double> ns_per_station;
};

} // namespace

int main(int argc, char** argv) {
    const std::size_t n = argc > 1 ? std::strtoul(argv[1], nullptr, 10) : 1000000;
    const int reps = argc > 2 ? std::atoi(argv[2]) : 9;
    const double elat = 35.0;
    const double elon = 140.0;

    std::mt19937_64 rng(20240601);
    std::uniform_real_distribution<double> ulat(-90.0, 90.0);
    std::uniform_real_distribution<double> ulon(-180.0, 180.0);
    std::vector<double> slat(n), slon(n);
    for (std::size_t j = 0; j < n; ++j) {
        slat[j] = ulat(rng);
        slon[j] = ulon(rng);
    }
    const auto count = static_cast<std::int32_t>(n);

    std::vector<Variant> variants = {
        {"naive loop of sphgeoj",
         [&](Out& o) {
             for (std::size_t j = 0; j < n; ++j) {
                 kivf::sphgeoj(slat[j], slon[j], elat, elon, o.delta[j], o.dist[j], o.azim[j],
                               o.bazim[j]);
             }
         },
         {}},
        {"sphgeom, 1 thread",
         [&](Out& o) {
             kivf::sphgeom_on(slat, slon, elat, elon, o.delta, o.dist, o.azim, o.bazim, count, 1);
         },
         {}},
        {"sphgeom (as the gateway calls it)",
         [&](Out& o) {
             kivf::sphgeom(slat, slon, elat, elon, o.delta, o.dist, o.azim, o.bazim, count);
         },
         {}},
    };

    std::vector<Out> outs(variants.size(), Out(n));
    // Interleave the variants so that a slow spell of the machine hits all of them alike.
    for (int r = 0; r < reps; ++r) {
        for (std::size_t v = 0; v < variants.size(); ++v) {
            const auto t0 = std::chrono::steady_clock::now();
            variants[v].run(outs[v]);
            const auto t1 = std::chrono::steady_clock::now();
            variants[v].ns_per_station.push_back(
                std::chrono::duration<double, std::nano>(t1 - t0).count() / static_cast<double>(n));
        }
    }

    bool identical = true;
    for (std::size_t v = 1; v < variants.size(); ++v) identical &= outs[v].same_bits(outs[0]);

    std::printf("sphgeo: %zu stations, event (%g, %g), %d repetitions, %u hardware threads, "
                "sphgeom uses %u\n",
                n, elat, elon, reps, std::thread::hardware_concurrency(),
                kivf::sphgeo_workers(count));
    std::printf("%-36s %12s %12s %10s\n", "variant", "min ns/stn", "median", "speed-up");
    const auto median = [](std::vector<double> v) {
        std::sort(v.begin(), v.end());
        return v[v.size() / 2];
    };
    const double base = median(variants[0].ns_per_station);
    for (const Variant& v : variants) {
        const double med = median(v.ns_per_station);
        std::printf("%-36s %12.2f %12.2f %9.2fx\n", v.name,
                    *std::min_element(v.ns_per_station.begin(), v.ns_per_station.end()), med,
                    base / med);
    }
    std::printf("results bit-identical across variants: %s\n", identical ? "yes" : "NO");
    return identical ? 0 : 1;
}
