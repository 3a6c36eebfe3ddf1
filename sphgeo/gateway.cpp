// SPDX-License-Identifier: Apache-2.0
// The plug-in's entry point: [delta, dist, azim, bazim] = sphgeo(slat, slon, elat, elon).
//
// One gateway serves two hosts. Our own test host offers the version-4 operation
// mxCreateFull; GNU Octave offers only mxCreateDoubleMatrix. Both are declared as weak
// references: the dynamic loader binds each to the host's definition when the plug-in is
// loaded (the same lookup that binds mxGetPr and the others) and leaves a missing one null,
// so one gateway picks whichever the host has, with type-checked declarations and no string
// lookup per call.
//
// mexErrMsgTxt never returns to the gateway: the host unwinds the call (Octave and our test
// host throw a C++ exception through it). The gateway therefore holds nothing that needs
// releasing when it calls mexErrMsgTxt, and it creates no matrix before every check passed.
// Its texts do not name the function: the host puts it before them (Octave shows "sphgeo: "
// and the text, whether given with an identifier or without), so a name of our own would be
// shown twice.
#include "sphgeo.h"

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>
#include <limits>
#include <span>
#include <string_view>

#define SPHGEO_EXPORT __attribute__((visibility("default")))

extern "C" {
// The host's matrix, opaque here.
struct mxArray;

// The host operations, in the C interface that both hosts export (dimensions as size_t).
double* mxGetPr(const mxArray* a);
std::size_t mxGetM(const mxArray* a);
std::size_t mxGetN(const mxArray* a);
bool mxIsDouble(const mxArray* a);
bool mxIsComplex(const mxArray* a);
bool mxIsSparse(const mxArray* a);
void mexErrMsgTxt(const char* text);
__attribute__((weak)) mxArray* mxCreateFull(int m, int n, int complex_flag);
__attribute__((weak)) mxArray* mxCreateDoubleMatrix(std::size_t m, std::size_t n, int complexity);

SPHGEO_EXPORT const char* mexVersion();
SPHGEO_EXPORT void mexfunction_(const std::int32_t* nlhs, mxArray** plhs, const std::int32_t* nrhs,
                                mxArray** prhs);
}

namespace {

constexpr std::string_view usage_text =
    "[delta, dist, azim, bazim] = sphgeo(slat, slon, elat, elon)";
constexpr std::string_view usage_prefix = "Usage: ";
constexpr std::size_t usage_width = 80; // the usage text padded with blanks

// "Usage: " and the padded usage text, 87 characters, then a terminating NUL.
constexpr auto usage_message = [] {
    std::array<char, usage_prefix.size() + usage_width + 1> m{};
    std::fill(m.begin(), m.end() - 1, ' ');
    std::copy(usage_prefix.begin(), usage_prefix.end(), m.begin());
    std::copy(usage_text.begin(), usage_text.end(), m.begin() + usage_prefix.size());
    m.back() = '\0';
    return m;
}();
static_assert(usage_text.size() == 59 && usage_message.size() == 88);

constexpr int complex_flag = 1; // results are complex with imaginary part 0, as in version 4

// A wrong number of arguments or results is the usage message; nothing has been created
// when it or any other refusal is raised.
void refuse() {
    mexErrMsgTxt(usage_message.data());
}

std::size_t elements(const mxArray* a) {
    const std::size_t m = mxGetM(a);
    const std::size_t n = mxGetN(a);
    if (n != 0 && m > std::numeric_limits<std::size_t>::max() / n) {
        return std::numeric_limits<std::size_t>::max();
    }
    return m * n;
}

// mxGetPr reaches all of a matrix's values only for a full, real double matrix.
bool real_full_double(const mxArray* a) {
    return a != nullptr && mxIsDouble(a) && !mxIsComplex(a) && !mxIsSparse(a);
}

mxArray* create(std::size_t m, std::size_t n) {
    if (mxCreateFull != nullptr) {
        return mxCreateFull(static_cast<int>(m), static_cast<int>(n), complex_flag);
    }
    return mxCreateDoubleMatrix(m, n, complex_flag);
}

} // namespace

const char* mexVersion() {
    return "MATLAB 4 compatible";
}

void mexfunction_(const std::int32_t* nlhs, mxArray** plhs, const std::int32_t* nrhs,
                  mxArray** prhs) {
    if (nrhs == nullptr || *nrhs != 4 || prhs == nullptr) return refuse();
    if (nlhs == nullptr || *nlhs != 4 || plhs == nullptr) return refuse();
    // Past the counts, every refusal says what is wrong.
    static constexpr std::array<const char*, 4> wrong_class = {
        "slat must be a real double vector", "slon must be a real double vector",
        "elat must be a real double scalar", "elon must be a real double scalar"};
    for (std::size_t i = 0; i < 4; ++i) {
        if (!real_full_double(prhs[i])) return mexErrMsgTxt(wrong_class[i]);
    }

    // The stations are the first npts values of slat and slon, npts the larger dimension of
    // slat; refuse any call that would make the computation read past a matrix.
    const std::size_t m = mxGetM(prhs[0]);
    const std::size_t n = mxGetN(prhs[0]);
    const std::size_t npts = std::max(m, n);
    if (npts > static_cast<std::size_t>(std::numeric_limits<std::int32_t>::max())) {
        return mexErrMsgTxt("slat has more than 2147483647 elements");
    }
    if (elements(prhs[0]) < npts) {
        return mexErrMsgTxt("slat is empty but not 0-by-0 (no stations is 0-by-0)");
    }
    if (elements(prhs[1]) < npts) return mexErrMsgTxt("slon has fewer elements than slat");
    if (elements(prhs[2]) == 0) return mexErrMsgTxt("elat must not be empty");
    if (elements(prhs[3]) == 0) return mexErrMsgTxt("elon must not be empty");

    if (mxCreateFull == nullptr && mxCreateDoubleMatrix == nullptr) {
        return mexErrMsgTxt("the host offers neither mxCreateFull nor mxCreateDoubleMatrix");
    }

    const double* slat = mxGetPr(prhs[0]);
    const double* slon = mxGetPr(prhs[1]);
    const double* elat = mxGetPr(prhs[2]);
    const double* elon = mxGetPr(prhs[3]);

    // delta, dist, azim, bazim, created in that order, each of the shape of slat.
    std::array<double*, 4> out{};
    for (std::size_t k = 0; k < out.size(); ++k) {
        plhs[k] = create(m, n);
        out[k] = plhs[k] != nullptr ? mxGetPr(plhs[k]) : nullptr;
        if (out[k] == nullptr && npts > 0) {
            return mexErrMsgTxt("the host could not create a result matrix");
        }
    }
    if (npts == 0) return;

    const auto count = static_cast<std::int32_t>(npts);
    kivf::sphgeom(std::span(slat, npts), std::span(slon, npts), *elat, *elon,
                  std::span(out[0], npts), std::span(out[1], npts), std::span(out[2], npts),
                  std::span(out[3], npts), count);
}
