// SPDX-License-Identifier: Apache-2.0
// The arithmetic follows a fixed order of operations and fixed decimal constants so that
// results are reproducible to the last bit; do not reorder, fuse or "simplify" it.
#include "sphgeo.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstddef>
#include <thread>

namespace kivf {
namespace {

// Each constant is exactly the decimal literal below, not a value derived from pi.
constexpr double deg_to_rad = 0.01745329;         // for the four inputs
constexpr double flattening = 0.996647;           // tan(corrected lat) = 0.996647 tan(lat)
constexpr double quarter_turn = 1.570796327;      // colatitude = quarter turn - corrected lat
constexpr double full_turn = 6.283185307;         // negative longitudes; reflected azimuths
constexpr double rad_to_deg = 57.29577951;        // delta, azim, bazim
constexpr double deg_to_rad_dist = 0.01745329252; // in the distance only
constexpr double earth_radius = 6371.0;           // kilometres

// Sines and cosines of a position's corrected colatitude and of its longitude.
struct Position {
    double sin_colat;
    double cos_colat;
    double sin_lon;
    double cos_lon;
};

inline Position position(double lat, double lon) {
    const double latr = lat * deg_to_rad;
    double lonr = lon * deg_to_rad;
    const double colat = quarter_turn - std::atan(std::tan(latr) * flattening);
    if (!(lonr >= 0.0)) lonr += full_turn; // "not >= 0": a NaN takes this branch too
    return {std::sin(colat), std::cos(colat), std::sin(lonr), std::cos(lonr)};
}

// The event's terms, shared by every station of a call. Computing them once gives the same
// bits as computing them per station: the operations and their operands are the same.
struct Event {
    Position p;
    double sin_colat_cos_lon; // sin ec * cos elonr
    double sin_colat_sin_lon; // sin ec * sin elonr
};

inline Event event(double elat, double elon) {
    const Position p = position(elat, elon);
    return {p, p.sin_colat * p.cos_lon, p.sin_colat * p.sin_lon};
}

struct Result {
    double delta;
    double dist;
    double azim;
    double bazim;
};

inline Result solve(const Event& ev, double slat, double slon) {
    const Position& e = ev.p;
    const Position s = position(slat, slon);

    const double cd = (ev.sin_colat_cos_lon * (s.sin_colat * s.cos_lon) +
                       ev.sin_colat_sin_lon * (s.sin_colat * s.sin_lon)) +
                      e.cos_colat * s.cos_colat;
    Result r{};
    r.delta = std::acos(cd) * rad_to_deg;
    r.dist = (r.delta * deg_to_rad_dist) * earth_radius;

    const double cdl = e.cos_lon * s.cos_lon + e.sin_lon * s.sin_lon;
    const double sd = std::sqrt(1.0 - cd * cd);

    // Strict tests: 0.0 and NaN keep the arc-cosine result.
    double a = std::acos(((e.sin_colat * s.cos_colat) - (e.cos_colat * s.sin_colat) * cdl) / sd);
    if (s.sin_lon * e.cos_lon - s.cos_lon * e.sin_lon < 0.0) a = full_turn - a;
    r.azim = a * rad_to_deg;

    double b = std::acos(((e.cos_colat * s.sin_colat) - (e.sin_colat * s.cos_colat) * cdl) / sd);
    if (s.cos_lon * e.sin_lon - s.sin_lon * e.cos_lon < 0.0) b = full_turn - b;
    r.bazim = b * rad_to_deg;
    return r;
}

struct Batch {
    const double* slat;
    const double* slon;
    double* delta;
    double* dist;
    double* azim;
    double* bazim;
};

void run(const Event& ev, const Batch& b, std::size_t first, std::size_t last) {
    for (std::size_t j = first; j < last; ++j) {
        const Result r = solve(ev, b.slat[j], b.slon[j]);
        b.delta[j] = r.delta;
        b.dist[j] = r.dist;
        b.azim[j] = r.azim;
        b.bazim[j] = r.bazim;
    }
}

// Below this many stations per worker, starting a thread costs more than it saves.
constexpr std::int32_t min_per_worker = 16384;
constexpr unsigned max_workers = 16;

} // namespace

void sphgeoj(const double& slat, const double& slon, const double& elat, const double& elon,
             double& delta, double& dist, double& azim, double& bazim) {
    const Result r = solve(event(elat, elon), slat, slon);
    delta = r.delta;
    dist = r.dist;
    azim = r.azim;
    bazim = r.bazim;
}

unsigned sphgeo_workers(std::int32_t n) {
    if (n < 2 * min_per_worker) return 1;
    const unsigned cores = std::max(1U, std::thread::hardware_concurrency());
    const auto by_size = static_cast<unsigned>(n / min_per_worker);
    return std::min({cores, by_size, max_workers});
}

void sphgeom_on(std::span<const double> slat, std::span<const double> slon, const double& elat,
                const double& elon, std::span<double> delta, std::span<double> dist,
                std::span<double> azim, std::span<double> bazim, std::int32_t n, unsigned workers) {
    if (n < 1) return;
    const std::size_t count = std::min({static_cast<std::size_t>(n), slat.size(), slon.size(),
                                        delta.size(), dist.size(), azim.size(), bazim.size()});
    if (count == 0) return;

    const Event ev = event(elat, elon);
    const Batch b{slat.data(), slon.data(), delta.data(), dist.data(), azim.data(), bazim.data()};

    workers = std::clamp(workers, 1U, max_workers);
    workers = static_cast<unsigned>(std::min<std::size_t>(workers, count));
    if (workers == 1) {
        run(ev, b, 0, count);
        return;
    }

    // Contiguous slices; the calling thread takes the last one. Workers only compute; a
    // thread that cannot be started leaves its slice to the calling thread.
    std::array<std::thread, max_workers> pool;
    std::array<bool, max_workers> started{};
    const std::size_t slice = count / workers;
    const std::size_t extra = count % workers;
    std::size_t first = 0;
    for (unsigned w = 0; w < workers; ++w) {
        const std::size_t last = first + slice + (w < extra ? 1 : 0);
        if (w + 1 == workers) {
            run(ev, b, first, last);
        } else {
            try {
                pool[w] = std::thread(run, std::cref(ev), std::cref(b), first, last);
                started[w] = true;
            } catch (...) {
                run(ev, b, first, last);
            }
        }
        first = last;
    }
    for (unsigned w = 0; w + 1 < workers; ++w) {
        if (started[w]) pool[w].join();
    }
}

void sphgeom(std::span<const double> slat, std::span<const double> slon, const double& elat,
             const double& elon, std::span<double> delta, std::span<double> dist,
             std::span<double> azim, std::span<double> bazim, std::int32_t n) {
    sphgeom_on(slat, slon, elat, elon, delta, dist, azim, bazim, n, sphgeo_workers(n));
}

} // namespace kivf
