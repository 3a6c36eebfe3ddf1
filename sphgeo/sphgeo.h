// SPDX-License-Identifier: Apache-2.0
// Distance and azimuth between stations and one event, latitudes corrected for the
// Earth's flattening. The results are bit-exact to the steps and constants in sphgeo.cpp;
// build that file with -ffp-contract=off and without fast-math.
#pragma once

#include <cstdint>
#include <span>

namespace kivf {

// One station (slat, slon) against one event (elat, elon), all in degrees.
// delta: angular distance in degrees; dist: kilometres along the surface (radius 6371 km);
// azim: azimuth at the event towards the station; bazim: azimuth at the station towards the
// event; both clockwise from north in degrees. Coincident and antipodal positions keep the
// IEEE results of the formula (the azimuths are then not-a-number or meaningless).
void sphgeoj(const double& slat, const double& slon, const double& elat, const double& elon,
             double& delta, double& dist, double& azim, double& bazim);

// sphgeoj for stations 0..n-1 against one event, bit for bit the same results. Nothing is
// computed when n < 1, and never more stations than the shortest span holds. Large calls
// share the stations among the machine's cores.
void sphgeom(std::span<const double> slat, std::span<const double> slon, const double& elat,
             const double& elon, std::span<double> delta, std::span<double> dist,
             std::span<double> azim, std::span<double> bazim, std::int32_t n);

// As sphgeom, with at most `workers` threads (1: the calling thread alone). For benchmarks
// and tests of the split.
void sphgeom_on(std::span<const double> slat, std::span<const double> slon, const double& elat,
                const double& elon, std::span<double> delta, std::span<double> dist,
                std::span<double> azim, std::span<double> bazim, std::int32_t n, unsigned workers);

// The number of threads sphgeom uses for n stations.
unsigned sphgeo_workers(std::int32_t n);

} // namespace kivf
