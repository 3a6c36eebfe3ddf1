// A small host for the plug-in sphgeo: it offers the MEX operations that the gateway calls,
// loads the built sphgeo.mex with dlopen and calls its gateway with matrices it builds.
//
// Built twice: by default the host offers the version-4 mxCreateFull; with
// SPHGEO_HOST_DOUBLE_MATRIX it offers only mxCreateDoubleMatrix, as GNU Octave does, so both
// ways the gateway creates its results are exercised.
//
// mexErrMsgTxt throws a C++ exception through the gateway, as Octave's does, instead of
// longjmp: unwinding is defined for C++ frames, the gateway is built to be unwound (it holds
// nothing when it calls mexErrMsgTxt), and a longjmp would skip destructors in the gateway's
// frames. The exception type belongs to the host alone; the gateway never catches it.
#include "sphgeo.h"

#include <gtest/gtest.h>

#include <array>
#include <bit>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <dlfcn.h>
#include <functional>
#include <memory>
#include <random>
#include <string>
#include <utility>
#include <vector>

// The host's matrix: m by n values in column order; integer, text and logical matrices keep
// no double values, and a sparse one keeps only its nonzero values.
struct mxArray {
    enum class Class { Double, Int32, Char, Logical };
    std::size_t m = 0;
    std::size_t n = 0;
    Class cls = Class::Double;
    bool complex = false;
    bool sparse = false;
    std::vector<double> re;
    std::vector<double> im;
};

namespace {

struct MexError {
    std::string text;
};

// What the gateway did through the host during one call.
struct Journal {
    std::vector<std::unique_ptr<mxArray>> created; // in the order of creation
    std::vector<int> complexity;                   // the flag of each creation
};
Journal journal;

std::unique_ptr<mxArray> create(std::size_t m, std::size_t n, int complexity) {
    auto a = std::make_unique<mxArray>();
    a->m = m;
    a->n = n;
    a->complex = complexity != 0;
    a->re.assign(m * n, 0.0);
    if (a->complex) a->im.assign(m * n, 0.0);
    return a;
}

mxArray* record(std::unique_ptr<mxArray> a, int complexity) {
    journal.complexity.push_back(complexity);
    journal.created.push_back(std::move(a));
    return journal.created.back().get();
}

} // namespace

// The operations the host offers, with the C interface the gateway declares. They are
// exported from this executable (ENABLE_EXPORTS) so that the plug-in binds to them.
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
    return a->cls == mxArray::Class::Double;
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
    return record(create(m, n, complexity), complexity);
}
#else
mxArray* mxCreateFull(int m, int n, int complex_flag) {
    if (m < 0 || n < 0) mexErrMsgTxt("mxCreateFull: negative dimension");
    return record(create(static_cast<std::size_t>(m), static_cast<std::size_t>(n), complex_flag),
                  complex_flag);
}
#endif
}

namespace {

using Gateway = void (*)(const std::int32_t*, mxArray**, const std::int32_t*, mxArray**);
using Version = const char* (*)();

struct Plugin {
    void* handle = nullptr;
    Gateway gateway = nullptr;
    Version version = nullptr;
    std::string error;
};

const Plugin& plugin() {
    static const Plugin p = [] {
        Plugin r;
        r.handle = dlopen(SPHGEO_MEX_PATH, RTLD_NOW | RTLD_LOCAL);
        if (r.handle == nullptr) {
            r.error = dlerror();
            return r;
        }
        r.gateway = reinterpret_cast<Gateway>(dlsym(r.handle, "mexfunction_"));
        r.version = reinterpret_cast<Version>(dlsym(r.handle, "mexVersion"));
        return r;
    }();
    return p;
}

using Matrix = std::unique_ptr<mxArray>;

Matrix full(std::size_t m, std::size_t n, std::vector<double> values) {
    auto a = std::make_unique<mxArray>();
    a->m = m;
    a->n = n;
    a->re = std::move(values);
    EXPECT_EQ(a->re.size(), m * n) << "test matrix built with the wrong number of values";
    return a;
}
Matrix scalar(double v) {
    return full(1, 1, {v});
}
Matrix row(std::vector<double> v) {
    const std::size_t n = v.size();
    return full(1, n, std::move(v));
}

struct Outcome {
    bool failed = false;
    std::string message;
    std::array<mxArray*, 6> plhs{}; // two slots more than asked, to see nothing lands there
    Journal journal;
};

Outcome call(std::int32_t nlhs, const std::vector<Matrix>& args) {
    Outcome o;
    journal = {};
    std::vector<mxArray*> prhs;
    for (const auto& a : args) prhs.push_back(a.get());
    const auto nrhs = static_cast<std::int32_t>(prhs.size());
    try {
        plugin().gateway(&nlhs, o.plhs.data(), &nrhs, prhs.data());
    } catch (const MexError& e) {
        o.failed = true;
        o.message = e.text;
    }
    o.journal = std::move(journal);
    return o;
}

std::vector<Matrix> args4(Matrix a, Matrix b, Matrix c, Matrix d) {
    std::vector<Matrix> v;
    v.push_back(std::move(a));
    v.push_back(std::move(b));
    v.push_back(std::move(c));
    v.push_back(std::move(d));
    return v;
}

std::string usage_message() {
    const std::string text = "[delta, dist, azim, bazim] = sphgeo(slat, slon, elat, elon)";
    return "Usage: " + text + std::string(80 - text.size(), ' ');
}

// A stated figure holds within half a unit of its last digit.
void expect_digits(double got, const char* stated, const char* what) {
    if (stated == nullptr) return;
    const char* dot = std::strchr(stated, '.');
    const int decimals = dot == nullptr ? 0 : static_cast<int>(std::strlen(dot + 1));
    EXPECT_NEAR(got, std::strtod(stated, nullptr), 0.5 * std::pow(10.0, -decimals))
        << what << " stated as " << stated;
}

// The documented cases, with the figures to the digits given; nullptr: no figure stated.
struct Stated {
    double slat, slon, elat, elon;
    const char* delta;
    const char* dist;
    const char* azim;
    const char* bazim;
};
const Stated stated[] = {
    {0, 10, 0, 0, "9.999998556", "1111.949106", "90.0000000", "270.0000000"},
    {0, 0, 0, 10, "9.999998556", nullptr, "270.0000000", "90.0000000"},
    {10, 0, 0, 0, "9.967142027", "1108.295627", "0.0000043", "179.9999957"},
    {30, -120, 35, 140, "80.67731564", "8970.908194", "59.88366599", "305.0743652"},
    {90, 0, 0, 0, "89.99998696", "10007.54195", nullptr, nullptr},
    {0, -10, 0, 0, "9.999998566", nullptr, "270.0000000", "90.0000000"},
    {0, 350, 0, 0, "10.00005053", nullptr, nullptr, nullptr},
};

void expect_stated(const Stated& c, double delta, double dist, double azim, double bazim) {
    expect_digits(delta, c.delta, "delta");
    expect_digits(dist, c.dist, "dist");
    expect_digits(azim, c.azim, "azim");
    expect_digits(bazim, c.bazim, "bazim");
}

std::uint64_t bits(double v) {
    return std::bit_cast<std::uint64_t>(v);
}

class SphgeoHost : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_NE(plugin().handle, nullptr)
            << "cannot load " SPHGEO_MEX_PATH ": " << plugin().error;
        ASSERT_NE(plugin().gateway, nullptr);
    }
};

TEST_F(SphgeoHost, ExportsGatewayAndVersion) {
    EXPECT_NE(plugin().gateway, nullptr) << "mexfunction_ not exported";
    ASSERT_NE(plugin().version, nullptr) << "mexVersion not exported";
    EXPECT_STREQ(plugin().version(), "MATLAB 4 compatible");
}

TEST_F(SphgeoHost, StatedCasesDirectAndThroughGateway) {
    for (const Stated& c : stated) {
        SCOPED_TRACE(testing::Message() << "station (" << c.slat << ", " << c.slon << "), event ("
                                        << c.elat << ", " << c.elon << ")");
        double delta = -1, dist = -1, azim = -1, bazim = -1;
        kivf::sphgeoj(c.slat, c.slon, c.elat, c.elon, delta, dist, azim, bazim);
        expect_stated(c, delta, dist, azim, bazim);

        const Outcome o =
            call(4, args4(scalar(c.slat), scalar(c.slon), scalar(c.elat), scalar(c.elon)));
        ASSERT_FALSE(o.failed) << o.message;
        for (int k = 0; k < 4; ++k) {
            ASSERT_NE(o.plhs[k], nullptr);
            EXPECT_EQ(o.plhs[k]->m, 1U);
            EXPECT_EQ(o.plhs[k]->n, 1U);
        }
        expect_stated(c, o.plhs[0]->re[0], o.plhs[1]->re[0], o.plhs[2]->re[0], o.plhs[3]->re[0]);
    }
}

TEST_F(SphgeoHost, CoincidentPositionsKeepIeeeResults) {
    double delta = -1, dist = -1, azim = -1, bazim = -1;
    kivf::sphgeoj(10, 20, 10, 20, delta, dist, azim, bazim);
    EXPECT_EQ(delta, 0.0);
    EXPECT_EQ(dist, 0.0);
    EXPECT_TRUE(std::isnan(azim)) << azim;
    EXPECT_TRUE(std::isnan(bazim)) << bazim;
}

TEST_F(SphgeoHost, UsageErrorForWrongCounts) {
    const std::string expected = usage_message();
    ASSERT_EQ(expected.size(), 87U);
    struct Counts {
        std::int32_t nlhs;
        std::size_t nrhs;
    };
    const Counts cases[] = {{4, 3}, {1, 3}, {0, 3}, {4, 0}, {4, 5}, {1, 4}, {0, 4}, {3, 4}, {5, 4}};
    for (const Counts& c : cases) {
        SCOPED_TRACE(testing::Message() << c.nlhs << " results, " << c.nrhs << " arguments");
        std::vector<Matrix> args;
        for (std::size_t i = 0; i < c.nrhs; ++i) args.push_back(scalar(1.0));
        const Outcome o = call(c.nlhs, args);
        EXPECT_TRUE(o.failed);
        EXPECT_EQ(o.message, expected);
        EXPECT_EQ(o.message.size(), 87U);
        EXPECT_TRUE(o.journal.created.empty()) << "matrices created before the refusal";
        for (mxArray* p : o.plhs) EXPECT_EQ(p, nullptr);
    }
}

// Five stations against the event (0, 0), each one of the stated cases.
const Stated five[] = {stated[0], stated[2], stated[4], stated[5], stated[6]};

TEST_F(SphgeoHost, ResultShapes) {
    struct Shape {
        std::size_t m, n, computed;
    };
    const Shape shapes[] = {{1, 5, 5}, {5, 1, 5}, {2, 3, 3}, {0, 0, 0}, {1, 1, 1}};
    for (const Shape& s : shapes) {
        SCOPED_TRACE(testing::Message() << "slat " << s.m << "x" << s.n);
        std::vector<double> lat, lon;
        for (std::size_t j = 0; j < s.m * s.n; ++j) {
            // Values past the computed ones are real stations too: they must stay unused.
            lat.push_back(j < 5 ? five[j].slat : 45.0);
            lon.push_back(j < 5 ? five[j].slon : 45.0);
        }
        const Outcome o =
            call(4, args4(full(s.m, s.n, lat), full(s.m, s.n, lon), scalar(0.0), scalar(0.0)));
        ASSERT_FALSE(o.failed) << o.message;
        ASSERT_EQ(o.journal.created.size(), 4U);
        for (std::size_t k = 0; k < 4; ++k) {
            // Created in the order delta, dist, azim, bazim, complex with imaginary part 0.
            ASSERT_EQ(o.plhs[k], o.journal.created[k].get());
            EXPECT_EQ(o.journal.complexity[k], 1);
            const mxArray& r = *o.plhs[k];
            EXPECT_EQ(r.m, s.m);
            EXPECT_EQ(r.n, s.n);
            ASSERT_EQ(r.im.size(), s.m * s.n);
            for (double v : r.im) EXPECT_EQ(v, 0.0);
            for (std::size_t j = s.computed; j < s.m * s.n; ++j) EXPECT_EQ(r.re[j], 0.0);
        }
        EXPECT_EQ(o.plhs[4], nullptr);
        EXPECT_EQ(o.plhs[5], nullptr);
        for (std::size_t j = 0; j < s.computed; ++j) {
            SCOPED_TRACE(testing::Message() << "element " << j);
            expect_stated(five[j], o.plhs[0]->re[j], o.plhs[1]->re[j], o.plhs[2]->re[j],
                          o.plhs[3]->re[j]);
        }
    }
}

Matrix of_class(mxArray::Class cls) {
    auto a = std::make_unique<mxArray>();
    a->m = 1;
    a->n = 1;
    a->cls = cls; // no double values: mxGetPr gives null
    return a;
}
Matrix complex_scalar() {
    Matrix a = scalar(1.0);
    a->complex = true;
    a->im = {1.0};
    return a;
}
Matrix sparse_row() {
    auto a = std::make_unique<mxArray>();
    a->m = 1;
    a->n = 5;
    a->sparse = true;
    a->re = {7.0}; // one nonzero of five
    return a;
}

TEST_F(SphgeoHost, RefusalsCreateNothing) {
    struct Refusal {
        std::string what;
        std::function<std::vector<Matrix>()> args;
    };
    std::vector<Refusal> cases = {
        {"slon shorter than the stations",
         [] {
             return args4(row({1, 2, 3, 4, 5}), row({1, 2, 3, 4}), scalar(0), scalar(0));
         }},
        {"slon empty",
         [] {
             return args4(row({1, 2}), full(0, 0, {}), scalar(0), scalar(0));
         }},
        {"elat empty", [] { return args4(scalar(1), scalar(2), full(0, 0, {}), scalar(0)); }},
        {"elon empty", [] { return args4(scalar(1), scalar(2), scalar(0), full(1, 0, {})); }},
        {"elat empty with empty slat",
         [] { return args4(full(0, 0, {}), full(0, 0, {}), full(0, 1, {}), scalar(0)); }},
        {"slat 0x3", [] { return args4(full(0, 3, {}), full(0, 3, {}), scalar(0), scalar(0)); }},
        {"slat 3x0", [] { return args4(full(3, 0, {}), full(3, 0, {}), scalar(0), scalar(0)); }},
    };
    const std::pair<const char*, std::function<Matrix()>> bad_inputs[] = {
        {"int32", [] { return of_class(mxArray::Class::Int32); }},
        {"char", [] { return of_class(mxArray::Class::Char); }},
        {"logical", [] { return of_class(mxArray::Class::Logical); }},
        {"complex", complex_scalar},
        {"sparse", sparse_row},
    };
    for (int pos = 0; pos < 4; ++pos) {
        for (const auto& [name, make] : bad_inputs) {
            cases.push_back(
                {std::string(name) + " argument " + std::to_string(pos + 1), [pos, make = make] {
                     std::vector<Matrix> v =
                         args4(row({1, 2, 3, 4, 5}), row({1, 2, 3, 4, 5}), scalar(0), scalar(0));
                     v[static_cast<std::size_t>(pos)] = make();
                     return v;
                 }});
        }
    }
    for (const Refusal& r : cases) {
        SCOPED_TRACE(r.what);
        const Outcome o = call(4, r.args());
        EXPECT_TRUE(o.failed);
        EXPECT_TRUE(o.message.starts_with("sphgeo: ")) << o.message; // says what is wrong
        EXPECT_TRUE(o.journal.created.empty()) << "matrices created before the refusal";
        for (mxArray* p : o.plhs) EXPECT_EQ(p, nullptr);
    }
}

// Random stations, with exact special positions mixed in: poles, coincident and antipodal
// points, one meridian, the date line.
struct Stations {
    std::vector<double> lat, lon;
};
Stations random_stations(std::size_t count, double elat, double elon, std::uint64_t seed) {
    std::mt19937_64 rng(seed);
    std::uniform_real_distribution<double> ulat(-90.0, 90.0);
    std::uniform_real_distribution<double> ulon(-180.0, 180.0);
    Stations s;
    const double special[][2] = {
        {elat, elon}, {-elat, elon + 180.0}, {elat, elon - 180.0}, {90, 0}, {-90, 0}, {0, 180},
        {0, -180},    {elat + 10, elon},     {elat, -elon}};
    for (const auto& p : special) {
        s.lat.push_back(p[0]);
        s.lon.push_back(p[1]);
    }
    while (s.lat.size() < count) {
        s.lat.push_back(ulat(rng));
        s.lon.push_back(ulon(rng));
    }
    return s;
}

struct Events {
    double lat, lon;
};
const Events events[] = {{0, 0}, {35, 140}, {-62.5, -71.25}, {90, 0}, {-90, 180}, {12, -180}};

void expect_same_as_sphgeoj(const Stations& s, double elat, double elon, const double* delta,
                            const double* dist, const double* azim, const double* bazim,
                            std::size_t count) {
    std::size_t mismatches = 0;
    for (std::size_t j = 0; j < count; ++j) {
        double d = 0, km = 0, a = 0, b = 0;
        kivf::sphgeoj(s.lat[j], s.lon[j], elat, elon, d, km, a, b);
        if (bits(d) != bits(delta[j]) || bits(km) != bits(dist[j]) || bits(a) != bits(azim[j]) ||
            bits(b) != bits(bazim[j])) {
            if (++mismatches <= 5) {
                ADD_FAILURE() << "station " << j << " (" << s.lat[j] << ", " << s.lon[j]
                              << ") differs from sphgeoj";
            }
        }
        if (!std::isnan(d)) {
            EXPECT_TRUE(d >= 0.0 && d <= 180.0) << d;
        }
        if (!std::isnan(a)) {
            EXPECT_TRUE(a >= 0.0 && a <= 360.0) << a;
        }
        if (!std::isnan(b)) {
            EXPECT_TRUE(b >= 0.0 && b <= 360.0) << b;
        }
    }
    EXPECT_EQ(mismatches, 0U);
}

TEST_F(SphgeoHost, SphgeomMatchesSphgeojBitForBit) {
    const std::size_t count = 100003; // enough for several workers, not a multiple of them
    std::uint64_t seed = 1;
    for (const Events& e : events) {
        SCOPED_TRACE(testing::Message() << "event (" << e.lat << ", " << e.lon << ")");
        const Stations s = random_stations(count, e.lat, e.lon, seed++);
        for (unsigned workers : {0U, 1U, 2U, 3U, 7U, 16U}) {
            SCOPED_TRACE(testing::Message() << "workers " << workers << " (0: sphgeom)");
            std::vector<double> d(count, -1), km(count, -1), a(count, -1), b(count, -1);
            const auto n = static_cast<std::int32_t>(count);
            if (workers == 0) {
                kivf::sphgeom(s.lat, s.lon, e.lat, e.lon, d, km, a, b, n);
            } else {
                kivf::sphgeom_on(s.lat, s.lon, e.lat, e.lon, d, km, a, b, n, workers);
            }
            expect_same_as_sphgeoj(s, e.lat, e.lon, d.data(), km.data(), a.data(), b.data(), count);
        }
    }
}

TEST_F(SphgeoHost, GatewayMatchesSphgeojBitForBit) {
    const std::size_t count = 100003;
    std::uint64_t seed = 100;
    for (const Events& e : events) {
        SCOPED_TRACE(testing::Message() << "event (" << e.lat << ", " << e.lon << ")");
        const Stations s = random_stations(count, e.lat, e.lon, seed++);
        const Outcome o = call(
            4, args4(full(count, 1, s.lat), full(count, 1, s.lon), scalar(e.lat), scalar(e.lon)));
        ASSERT_FALSE(o.failed) << o.message;
        expect_same_as_sphgeoj(s, e.lat, e.lon, o.plhs[0]->re.data(), o.plhs[1]->re.data(),
                               o.plhs[2]->re.data(), o.plhs[3]->re.data(), count);
    }
}

TEST_F(SphgeoHost, SphgeomStaysWithinItsCountAndSpans) {
    const std::vector<double> lat = {0, 10, 90, 0};
    const std::vector<double> lon = {10, 0, 0, -10};
    const double untouched = -7.0;
    struct Case {
        std::int32_t n;
        std::size_t out_size; // the span given for each result
        std::size_t computed;
    };
    const Case cases[] = {{0, 4, 0}, {-3, 4, 0}, {2, 4, 2}, {4, 4, 4}, {9, 4, 4}, {4, 3, 3}};
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << "n " << c.n << ", results of " << c.out_size);
        std::vector<double> d(5, untouched), km(5, untouched), a(5, untouched), b(5, untouched);
        const auto first = [&](std::vector<double>& v) {
            return std::span<double>(v.data(), c.out_size);
        };
        kivf::sphgeom(lat, lon, 0.0, 0.0, first(d), first(km), first(a), first(b), c.n);
        for (std::size_t j = 0; j < 5; ++j) {
            if (j < c.computed) {
                expect_digits(d[j], five[j].delta, "delta");
            } else {
                EXPECT_EQ(d[j], untouched) << "element " << j;
                EXPECT_EQ(km[j], untouched) << "element " << j;
                EXPECT_EQ(a[j], untouched) << "element " << j;
                EXPECT_EQ(b[j], untouched) << "element " << j;
            }
        }
    }
}

} // namespace
