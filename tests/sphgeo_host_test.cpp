// A small host for the plug-in sphgeo: it offers the MEX operations that the gateway calls,
// loads the built sphgeo.mex with dlopen and calls its gateway with matrices it builds.
// Built twice: offering the version-4 mxCreateFull, or (SPHGEO_HOST_DOUBLE_MATRIX) only
// mxCreateDoubleMatrix, as GNU Octave does. mexErrMsgTxt throws, as Octave's does; the
// gateway holds nothing when it calls it and never catches the host's exception.
#include "sphgeo.h"

#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <cstring>
#include <dlfcn.h>
#include <memory>
#include <random>
#include <string>
#include <thread>
#include <vector>

// The host's matrix: m by n values in column order; non-double classes keep no values.
struct mxArray {
    std::size_t m = 0, n = 0;
    bool isdouble = true, complex = false, sparse = false;
    std::vector<double> re, im;
};

namespace {
struct MexError {
    std::string text;
};
std::vector<std::unique_ptr<mxArray>> created; // by the gateway, in order
std::vector<int> flags;                        // the complexity flag of each creation
mxArray* create(std::size_t m, std::size_t n, int complexity) {
    flags.push_back(complexity);
    created.push_back(std::make_unique<mxArray>(
        mxArray{m, n, true, complexity != 0, false, std::vector<double>(m * n, 0.0),
                std::vector<double>(complexity != 0 ? m * n : 0, 0.0)}));
    return created.back().get();
}
} // namespace

// Exported from this executable (ENABLE_EXPORTS) so that the plug-in binds to them.
extern "C" {
double* mxGetPr(const mxArray* a) {
    return a->re.empty() ? nullptr : const_cast<double*>(a->re.data());
}
std::size_t mxGetM(const mxArray* a) {
    return a->m;
}
std::size_t mxGetN(const mxArray* a) {
    return a->n;
}
bool mxIsDouble(const mxArray* a) {
    return a->isdouble;
}
bool mxIsComplex(const mxArray* a) {
    return a->complex;
}
bool mxIsSparse(const mxArray* a) {
    return a->sparse;
}
[[noreturn]] void mexErrMsgTxt(const char* text) {
    throw MexError{text};
}
#ifdef SPHGEO_HOST_DOUBLE_MATRIX
mxArray* mxCreateDoubleMatrix(std::size_t m, std::size_t n, int complexity) {
    return create(m, n, complexity);
}
#else
mxArray* mxCreateFull(int m, int n, int complex_flag) {
    return create(static_cast<std::size_t>(m), static_cast<std::size_t>(n), complex_flag);
}
#endif
}

namespace {

using Gateway = void (*)(const std::int32_t*, mxArray**, const std::int32_t*, mxArray**);
void* const handle = dlopen(SPHGEO_MEX_PATH, RTLD_NOW | RTLD_LOCAL);
const auto gateway = reinterpret_cast<Gateway>(handle ? dlsym(handle, "mexfunction_") : nullptr);

mxArray full(std::size_t m, std::size_t n, std::vector<double> v) {
    return {m, n, true, false, false, v, {}};
}
mxArray scalar(double v) {
    return full(1, 1, {v});
}

// One call: the message of a refusal ("" when none); plhs holds two slots more than asked.
std::string call(std::int32_t nlhs, std::vector<mxArray> args, std::array<mxArray*, 6>& plhs) {
    created.clear();
    flags.clear();
    plhs.fill(nullptr);
    std::vector<mxArray*> prhs;
    for (auto& a : args) prhs.push_back(&a);
    const auto nrhs = static_cast<std::int32_t>(prhs.size());
    try {
        gateway(&nlhs, plhs.data(), &nrhs, prhs.data());
    } catch (const MexError& e) {
        return e.text;
    }
    return "";
}

// The documented cases (station, event) with figures to the digits given; "" none stated.
// clang-format off
struct Stated {
    double slat, slon, elat, elon;
    const char* fig[4]; // delta, dist, azim, bazim
} const stated[] = {
    {0, 10, 0, 0, {"9.999998556", "1111.949106", "90.0000000", "270.0000000"}},
    {10, 0, 0, 0, {"9.967142027", "1108.295627", "0.0000043", "179.9999957"}},
    {90, 0, 0, 0, {"89.99998696", "10007.54195", "", ""}},
    {0, -10, 0, 0, {"9.999998566", "", "270.0000000", "90.0000000"}},
    {0, 350, 0, 0, {"10.00005053", "", "", ""}},
    {30, -120, 35, 140, {"80.67731564", "8970.908194", "59.88366599", "305.0743652"}},
    {0, 0, 0, 10, {"9.999998556", "", "270.0000000", "90.0000000"}}};
// clang-format on

void expect_stated(const Stated& c, const double (&got)[4]) {
    for (int k = 0; k < 4; ++k) {
        if (*c.fig[k] == '\0') continue;
        const char* dot = std::strchr(c.fig[k], '.');
        const double tol = 0.5 * std::pow(10.0, -static_cast<int>(std::strlen(dot + 1)));
        EXPECT_NEAR(got[k], std::strtod(c.fig[k], nullptr), tol)
            << c.slat << " " << c.slon << " result " << k;
    }
}

const std::string usage =
    "Usage: [delta, dist, azim, bazim] = sphgeo(slat, slon, elat, elon)" + std::string(21, ' ');

TEST(SphgeoHost, StatedCasesDirectAndThroughTheGateway) {
    ASSERT_NE(gateway, nullptr) << SPHGEO_MEX_PATH << ": " << dlerror();
    const auto version = reinterpret_cast<const char* (*)()>(dlsym(handle, "mexVersion"));
    ASSERT_NE(version, nullptr);
    EXPECT_STREQ(version(), "MATLAB 4 compatible");
    std::array<mxArray*, 6> plhs{};
    for (const Stated& c : stated) {
        double d[4];
        kivf::sphgeoj(c.slat, c.slon, c.elat, c.elon, d[0], d[1], d[2], d[3]);
        expect_stated(c, d);
        ASSERT_EQ(call(4, {scalar(c.slat), scalar(c.slon), scalar(c.elat), scalar(c.elon)}, plhs),
                  "");
        for (int k = 0; k < 4; ++k) d[k] = plhs[k]->re.at(0);
        expect_stated(c, d);
    }
    double d[4];
    kivf::sphgeoj(10, 20, 10, 20, d[0], d[1], d[2], d[3]); // coincident: IEEE results kept
    EXPECT_TRUE(d[0] == 0 && d[1] == 0 && std::isnan(d[2]) && std::isnan(d[3]));
}

TEST(SphgeoHost, ShapesAndRefusals) {
    ASSERT_NE(gateway, nullptr);
    std::array<mxArray*, 6> plhs{};
    const std::vector<double> lat = {0, 10, 90, 0, 0, 45}, lon = {10, 0, 0, -10, 350, 45};
    for (auto [m, n, computed] :
         {std::array<std::size_t, 3>{1, 5, 5}, {5, 1, 5}, {2, 3, 3}, {0, 0, 0}, {1, 1, 1}}) {
        std::vector<double> la(lat.begin(), lat.begin() + long(m * n)),
            lo(lon.begin(), lon.begin() + long(m * n));
        ASSERT_EQ(call(4, {full(m, n, la), full(m, n, lo), scalar(0), scalar(0)}, plhs), "")
            << m << "x" << n;
        ASSERT_EQ(created.size(), 4u);
        EXPECT_EQ(flags, (std::vector<int>{1, 1, 1, 1})); // complex, imaginary part 0
        EXPECT_TRUE(plhs[4] == nullptr && plhs[5] == nullptr);
        for (std::size_t k = 0; k < 4; ++k) {
            ASSERT_EQ(plhs[k], created[k].get()); // delta, dist, azim, bazim in that order
            EXPECT_TRUE(plhs[k]->m == m && plhs[k]->n == n &&
                        plhs[k]->im == std::vector<double>(m * n));
            for (std::size_t j = computed; j < m * n; ++j) EXPECT_EQ(plhs[k]->re[j], 0.0) << j;
        }
        for (std::size_t j = 0; j < computed; ++j)
            expect_stated(stated[j],
                          {plhs[0]->re[j], plhs[1]->re[j], plhs[2]->re[j], plhs[3]->re[j]});
    }
    auto bad = [](int what) {
        mxArray a = full(1, 5, {1, 2, 3, 4, 5});
        a.isdouble = what != 0;
        if (what == 1) a.complex = true, a.im.assign(5, 1.0);
        if (what == 2) a.sparse = true, a.re = {7};
        if (what == 0) a.re.clear();
        return a;
    };
    const mxArray five = full(1, 5, {1, 2, 3, 4, 5}), e = full(0, 0, {});
    std::vector<std::pair<std::int32_t, std::vector<mxArray>>> cases = {
        {4, {five, five, scalar(0)}},
        {1, {five, five, scalar(0)}},
        {3, {five, five, scalar(0), scalar(0)}},
        {5, {five, five, scalar(0), scalar(0)}},
        {4, {five, five, scalar(0), scalar(0), scalar(0)}},
        {4, {}},
        {4, {five, full(1, 4, {1, 2, 3, 4}), scalar(0), scalar(0)}},
        {4, {full(2, 1, {1, 2}), e, scalar(0), scalar(0)}},
        {4, {five, five, e, scalar(0)}},
        {4, {five, five, scalar(0), full(1, 0, {})}},
        {4, {e, e, full(0, 1, {}), scalar(0)}},
        {4, {full(0, 3, {}), full(0, 3, {}), scalar(0), scalar(0)}}};
    for (std::size_t pos = 0; pos < 4; ++pos)
        for (int what : {0, 1, 2}) {
            cases.push_back({4, {five, five, scalar(0), scalar(0)}});
            cases.back().second[pos] = bad(what);
        }
    for (const auto& [nlhs, args] : cases) {
        const std::string m = call(nlhs, args, plhs);
        if (nlhs == 4 && args.size() == 4) // the counts are right: it says what is wrong
            EXPECT_TRUE(m.starts_with("sphgeo: ")) << m;
        else
            EXPECT_EQ(m, usage) << nlhs << " " << args.size();
        EXPECT_TRUE(created.empty()) << "matrices created before the refusal";
        EXPECT_EQ(plhs, (std::array<mxArray*, 6>{}));
    }
}

TEST(SphgeoHost, ManyStationsAreSplitWithoutChangingABit) {
    ASSERT_NE(gateway, nullptr);
    const std::size_t count = 50003; // several workers, not a multiple of them
    std::mt19937_64 rng(1);
    std::uniform_real_distribution<double> ulat(-90, 90), ulon(-180, 180);
    std::vector<double> lat = {35, -35, 35, 90, -90, 0, 0, 45},
                        lon = {140, -40, -40, 0, 0, 180, -180, -140};
    while (lat.size() < count) lat.push_back(ulat(rng)), lon.push_back(ulon(rng));
    std::vector<std::uint64_t> want;
    for (std::size_t j = 0; j < count; ++j) {
        double d[4];
        kivf::sphgeoj(lat[j], lon[j], 35, 140, d[0], d[1], d[2], d[3]);
        for (double v : d) want.push_back(std::bit_cast<std::uint64_t>(v));
    }
    // Stations whose four results differ in any bit from sphgeoj's.
    const auto same = [&](const double* d, const double* km, const double* a, const double* b,
                          std::size_t n) {
        std::size_t bad = 0;
        for (std::size_t j = 0; j < n; ++j)
            for (std::size_t k = 0; k < 4; ++k)
                bad +=
                    std::bit_cast<std::uint64_t>(std::array{d, km, a, b}[k][j]) != want[4 * j + k];
        return bad;
    };
    const auto n = static_cast<std::int32_t>(count);
    for (unsigned workers : {0U, 1U, 2U, 3U, 7U, 16U, 99U}) {
        std::vector<double> d(count + 1, -7), km(d), a(d), b(d);
        if (workers == 0)
            kivf::sphgeom(lat, lon, 35, 140, d, km, a, b, n);
        else
            kivf::sphgeom_on(lat, lon, 35, 140, d, km, a, b, n, workers);
        EXPECT_EQ(same(d.data(), km.data(), a.data(), b.data(), count), 0u) << workers;
        EXPECT_EQ(d[count] + km[count] + a[count] + b[count], -28.0); // never past n
    }
    for (auto [nn, size, computed] :
         {std::array{0, 4, 0}, {-3, 4, 0}, {2, 4, 2}, {9, 4, 4}, {4, 3, 3}}) {
        std::vector<double> d(5, -7), km(d), a(d), b(d);
        const auto first = [len = std::size_t(size)](std::vector<double>& v) {
            return std::span<double>(v.data(), len);
        };
        kivf::sphgeom(lat, lon, 35, 140, first(d), first(km), first(a), first(b), nn);
        EXPECT_EQ(same(d.data(), km.data(), a.data(), b.data(), std::size_t(computed)), 0u) << nn;
        for (std::size_t j = std::size_t(computed); j < 5; ++j)
            EXPECT_EQ(d[j] + km[j] + a[j] + b[j], -28.0) << nn;
    }
    const unsigned cores = std::max(1U, std::thread::hardware_concurrency());
    EXPECT_EQ(kivf::sphgeo_workers(32767), 1u);
    EXPECT_EQ(kivf::sphgeo_workers(32768), std::min(cores, 2U));
    EXPECT_EQ(kivf::sphgeo_workers(2147483647), std::min(cores, 16U));
    std::array<mxArray*, 6> plhs{};
    ASSERT_EQ(call(4, {full(count, 1, lat), full(count, 1, lon), scalar(35), scalar(140)}, plhs),
              "");
    EXPECT_EQ(
        same(plhs[0]->re.data(), plhs[1]->re.data(), plhs[2]->re.data(), plhs[3]->re.data(), count),
        0u);
}

} // namespace
