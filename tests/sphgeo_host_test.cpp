// SPDX-License-Identifier: Apache-2.0
// A host for sphgeo.mex offering mxCreateFull or (SPHGEO_HOST_DOUBLE_MATRIX) only
// mxCreateDoubleMatrix, as GNU Octave; mexErrMsgTxt throws the text as Octave shows it.
#include "sphgeo.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <ctime>
#include <dlfcn.h>
#include <filesystem>
#include <memory>
#include <string>
#include <thread>
#include <vector>

struct mxArray {
    std::size_t m, n;
    bool isdouble, complex, sparse;
    std::vector<double> re, im;
};

namespace {
std::vector<std::unique_ptr<mxArray>> created; // by the gateway, in order
bool nomemory = false;                         // the host creates nothing
mxArray* create(std::size_t m, std::size_t n, int c) {
    if (nomemory) return nullptr;
    return created
        .emplace_back(new mxArray{m, n, true, c != 0, false, std::vector<double>(m * n),
                                  std::vector<double>(c ? m * n : 0)})
        .get();
}
mxArray full(std::size_t m, std::size_t n, std::vector<double> v) {
    return {m, n, true, false, false, v, {}};
}
mxArray scalar(double v) {
    return full(1, 1, {v});
}
} // namespace

// Exported from this executable (ENABLE_EXPORTS) so that the plug-in binds to them, one a line;
// values of non-double classes are not reached.
// clang-format off
extern "C" {
double* mxGetPr(const mxArray* a) { return a->re.empty() ? nullptr : const_cast<double*>(a->re.data()); }
std::size_t mxGetM(const mxArray* a) { return a->m; }
std::size_t mxGetN(const mxArray* a) { return a->n; }
bool mxIsDouble(const mxArray* a) { return a->isdouble; }
bool mxIsComplex(const mxArray* a) { return a->complex; }
bool mxIsSparse(const mxArray* a) { return a->sparse; }
[[noreturn]] void mexErrMsgTxt(const char* text) { throw std::filesystem::path(SPHGEO_MEX_PATH).stem().string() + ": " + text; }
#ifdef SPHGEO_HOST_DOUBLE_MATRIX
mxArray* mxCreateDoubleMatrix(std::size_t m, std::size_t n, int c) { return create(m, n, c); }
#else
mxArray* mxCreateFull(int m, int n, int c) { return create(std::size_t(m), std::size_t(n), c); }
#endif
}
// clang-format on

namespace {
using Gateway = void (*)(const std::int32_t*, mxArray**, const std::int32_t*, mxArray**);
void* const handle = dlopen(SPHGEO_MEX_PATH, RTLD_NOW | RTLD_LOCAL);
const auto gateway = reinterpret_cast<Gateway>(handle ? dlsym(handle, "mexfunction_") : nullptr);
using Out = std::array<mxArray*, 6>;
Out plhs; // two slots more than the gateway may fill

const std::string usage =
    "sphgeo: Usage: [delta, dist, azim, bazim] = sphgeo(slat, slon, elat, elon)" +
    std::string(21, ' ');

// One call: the refusal's message as shown, "" when none.
std::string call(std::int32_t nlhs, std::vector<mxArray> args) {
    created.clear();
    plhs.fill(nullptr);
    std::vector<mxArray*> prhs;
    for (auto& a : args) prhs.push_back(&a);
    const auto nrhs = std::int32_t(prhs.size());
    try {
        gateway(&nlhs, plhs.data(), &nrhs, prhs.data());
    } catch (const std::string& text) {
        return text;
    }
    return "";
}

// The math is pinned by sphgeo_octave (bit for bit against sphgeo_vec) and the Python tests;
// here the gateway: arguments and results in order (also ManyStations), shapes and refusals.
TEST(SphgeoHost, ShapesAndRefusals) {
    ASSERT_NE(gateway, nullptr) << SPHGEO_MEX_PATH << ": " << dlerror();
    const auto version = reinterpret_cast<const char* (*)()>(dlsym(handle, "mexVersion"));
    EXPECT_STREQ(version ? version() : "", "MATLAB 4 compatible");
    // A 2-by-3 slat holds max(2, 3) stations; the rest of each result stays 0.
    const std::vector<double> lat = {0, 10, 90, 1, 2, 3}, lon = {10, 0, 0, 4, 5, 6};
    ASSERT_EQ(call(4, {full(2, 3, lat), full(2, 3, lon), scalar(35), scalar(140)}), "");
    for (std::size_t k = 0; k < 6; ++k) // four complex results, created in order
        EXPECT_TRUE(k > 3 ? !plhs[k]
                          : created.size() == 4 && plhs[k] == created[k].get() && plhs[k]->m == 2 &&
                                plhs[k]->n == 3 && plhs[k]->complex &&
                                plhs[k]->im == std::vector<double>(6))
            << k;
    for (std::size_t j = 0; j < 6; ++j) {
        std::array<double, 4> want{};
        if (j < 3) kivf::sphgeoj(lat[j], lon[j], 35, 140, want[0], want[1], want[2], want[3]);
        EXPECT_EQ((std::array{plhs[0]->re[j], plhs[1]->re[j], plhs[2]->re[j], plhs[3]->re[j]}),
                  want)
            << j;
    }
    const mxArray five = full(1, 5, {1, 2, 3, 4, 5}), e = full(0, 0, {}), z = scalar(0);
    mxArray notdouble = five, complex = five, sparse = z;
    notdouble.isdouble = false, notdouble.re.clear();
    complex.complex = true, complex.im.assign(5, 1.0);
    sparse.sparse = true;
    const std::string fewer = "slon has fewer elements than slat", none = "elat must not be empty",
                      real = " must be a real double ";
    // clang-format off
    const std::tuple<std::int32_t, std::vector<mxArray>, std::string> cases[] = { // "" the usage
        {4, {five, five, z}, ""}, {1, {five, five, z}, ""}, {3, {five, five, z, z}, ""}, {5, {five, five, z, z}, ""},
        {4, {five, five, z, z, z}, ""}, {4, {}, ""}, {4, {five, full(1, 4, {1, 2, 3, 4}), z, z}, fewer},
        {4, {full(2, 1, {1, 2}), e, z, z}, fewer}, {4, {five, five, e, z}, none}, {4, {five, five, z, full(1, 0, {})}, "elon must not be empty"},
        {4, {e, e, full(0, 1, {}), z}, none}, {4, {full(0, 3, {}), full(0, 3, {}), z, z}, "slat is empty but not 0-by-0 (no stations is 0-by-0)"},
        {4, {notdouble, five, z, z}, "slat" + real + "vector"}, {4, {five, complex, z, z}, "slon" + real + "vector"},
        {4, {five, five, sparse, z}, "elat" + real + "scalar"}, {4, {five, five, z, notdouble}, "elon" + real + "scalar"}};
    // clang-format on
    for (const auto& [nlhs, args, msg] : cases) {
        EXPECT_EQ(call(nlhs, args), msg.empty() ? usage : "sphgeo: " + msg)
            << nlhs << " " << args.size();
        EXPECT_TRUE(created.empty() && plhs == Out{}) << "created before the refusal";
    }
    nomemory = true; // no result for one station is a refusal; none is needed for none
    EXPECT_EQ(call(4, {z, z, z, z}), "sphgeo: the host could not create a result matrix");
    EXPECT_EQ(call(4, {e, e, z, z}), "");
    nomemory = false;
}

TEST(SphgeoHost, ManyStationsAreSplitWithoutChangingABit) {
    const int count = 50003; // several workers, not a multiple of them
    std::vector<double> lat = {35, -35, 35, 90, -90, 0, 0, 45},
                        lon = {140, -40, -40, 0, 0, 180, -180, -140};
    for (double j = 8; j < count; ++j) { // spread over the sphere, no two alike
        lat.push_back(std::fmod(j * 0.6180339887, 1) * 180 - 90);
        lon.push_back(std::fmod(j * 0.7548776662, 1) * 360 - 180);
    }
    std::array<std::vector<double>, 4> want;
    want.fill(std::vector<double>(count));
    for (std::size_t j = 0; j < count; ++j)
        kivf::sphgeoj(lat[j], lon[j], 35, 140, want[0][j], want[1][j], want[2][j], want[3][j]);
    // Whether r holds sphgeoj's bits for the first n stations and -7 after them.
    const auto same = [&](const std::array<std::vector<double>, 4>& r, int n) {
        for (std::size_t k = 0; k < 4; ++k)
            if (std::memcmp(r[k].data(), want[k].data(), 8 * std::size_t(n)) ||
                !std::all_of(r[k].begin() + n, r[k].end(), [](double v) { return v == -7; }))
                return false;
        return true;
    };
    // n, length of the result spans, workers (0: sphgeom's choice), stations computed
    // clang-format off
    const std::array<int, 4> runs[] = {{count, count, 0, count}, {count, count, 1, count}, {count, count, 2, count},
        {count, count, 99, count}, {0, 4, 0, 0}, {-3, 4, 0, 0}, {2, 4, 0, 2}, {9, 4, 0, 4}, {4, 3, 0, 3}};
    // clang-format on
    for (auto [nn, len, workers, computed] : runs) {
        std::array<std::vector<double>, 4> r;
        r.fill(std::vector<double>(count + 1, -7));
        const auto part = [n = std::size_t(len)](std::vector<double>& v) {
            return std::span(v).first(n);
        };
        workers
            ? kivf::sphgeom_on(lat, lon, 35, 140, part(r[0]), part(r[1]), part(r[2]), part(r[3]),
                               nn, workers)
            : kivf::sphgeom(lat, lon, 35, 140, part(r[0]), part(r[1]), part(r[2]), part(r[3]), nn);
        EXPECT_TRUE(same(r, computed)) << nn << " " << workers;
    }
    // Two workers share the work: the calling thread spends about half the CPU time.
    const auto cpu = [](clockid_t c) {
        timespec t{};
        return ::clock_gettime(c, &t), double(t.tv_sec) + 1e-9 * double(t.tv_nsec);
    };
    std::array<std::vector<double>, 4> r;
    r.fill(std::vector<double>(count));
    const double all = cpu(CLOCK_PROCESS_CPUTIME_ID), own = cpu(CLOCK_THREAD_CPUTIME_ID);
    for (int i = 0; i < 20; ++i)
        kivf::sphgeom_on(lat, lon, 35, 140, r[0], r[1], r[2], r[3], count, 2);
    EXPECT_LT(cpu(CLOCK_THREAD_CPUTIME_ID) - own, 0.75 * (cpu(CLOCK_PROCESS_CPUTIME_ID) - all));
    const unsigned cores = std::max(1U, std::thread::hardware_concurrency());
    EXPECT_EQ((std::array{kivf::sphgeo_workers(32767), kivf::sphgeo_workers(32768),
                          kivf::sphgeo_workers(2147483647)}),
              (std::array{1U, std::min(cores, 2U), std::min(cores, 16U)}));
    ASSERT_EQ(call(4, {full(count, 1, lat), full(count, 1, lon), scalar(35), scalar(140)}), "");
    EXPECT_TRUE(same({plhs[0]->re, plhs[1]->re, plhs[2]->re, plhs[3]->re}, count));
}
} // namespace
