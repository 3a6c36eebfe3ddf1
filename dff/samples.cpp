// The whole-file KIV reader: the header as the header reader takes it, then
// the samples straight into the caller's arrays, one transfer per array.
#include "dff/dff.h"
#include "dff/dff_internal.h"

#include "co/co.h"
#include "msg/msg.h"

#include <cerrno>
#include <cstddef>
#include <cstring>
#include <string>
#include <unistd.h>
#include <utility>
#include <vector>

namespace kivf {

namespace {

// Byte by byte, a form the compiler turns into vector shuffles (g++ only at
// its higher optimisation level, asked for here).
#if defined(__GNUC__) && !defined(__clang__)
__attribute__((optimize("O3")))
#endif
void reverse(std::span<float> words) {
    auto* p = reinterpret_cast<unsigned char*>(words.data());
    for (std::size_t i = 0; i < words.size(); ++i, p += 4) {
        const unsigned char a = p[0], b = p[1];
        p[0] = p[3];
        p[1] = p[2];
        p[2] = b;
        p[3] = a;
    }
}

void fail(std::int32_t number, std::string_view kname, std::int32_t& nerr) {
    nerr = number;
    setmsg("ERROR", nerr);
    apcmsg(kname);
}

// The npts samples (and x values, when x is not null) of an open, checked
// file into y and x, in this machine's order. False with 1418 composed.
bool readwords(std::string_view kname, std::int32_t handle, std::size_t npts, bool swap, float* y,
               float* x, std::int32_t& nerr) {
    const std::size_t bytes = 4 * npts;
    const off_t start = off_t{4} * kHdrWords;
    const bool ok = zpreadn(-handle, reinterpret_cast<std::byte*>(y), bytes, start) &&
                    (x == nullptr || zpreadn(-handle, reinterpret_cast<std::byte*>(x), bytes,
                                             start + static_cast<off_t>(bytes)));
    zclosec(handle);
    if (!ok) {
        fail(kErrKivData, kname, nerr);
        return false;
    }
    if (swap) {
        reverse({y, npts});
        if (x != nullptr) reverse({x, npts});
    }
    return true;
}

// Scratch records of a read: a caller's change only when it succeeds.
CmHdr g_read;
KmHdr g_kread;

} // namespace

void rkiv(std::string_view kname, CmHdr& hdr, KmHdr& khdr, std::span<float> yarray,
          std::span<float> xarray, bool& swapped, std::int32_t& nerr) {
    swapped = false;
    std::int32_t handle = 0;
    bool swap = false;
    if (!rkivopen(kname, g_read, g_kread, handle, swap, nerr)) return;
    // The header's size check has passed, so NPTS is 0 or more and the file
    // holds exactly the samples it announces.
    const auto npts = static_cast<std::size_t>(g_read.n(nslot::NPTS));
    const bool leven = g_read.l(lslot::LEVEN) != 0;
    const char* shortname = nullptr;
    if (yarray.size() < npts)
        shortname = "yarray";
    else if (!leven && xarray.size() < npts)
        shortname = "xarray";
    if (shortname != nullptr) {
        zclosec(handle);
        fail(kErrKivSpan, kname, nerr);
        apcmsg("(NPTS = " + std::to_string(npts) + ", " + shortname + " holds " +
               std::to_string(shortname[0] == 'y' ? yarray.size() : xarray.size()) + ")");
        return;
    }
    if (!readwords(kname, handle, npts, swap, yarray.data(), leven ? nullptr : xarray.data(), nerr))
        return;
    rkivstore(g_read, g_kread, hdr, khdr);
    swapped = swap;
}

void rkiv(std::string_view kname, std::span<float> yarray, std::span<float> xarray, bool& swapped,
          std::int32_t& nerr) {
    rkiv(kname, cmhdr, kmhdr, yarray, xarray, swapped, nerr);
}

std::int32_t readtrace(std::string_view path, Trace& trace, bool& swapped) {
    swapped = false;
    std::int32_t handle = 0;
    std::int32_t nerr = 0;
    bool swap = false;
    if (!rkivopen(path, g_read, g_kread, handle, swap, nerr)) return nerr;
    const auto npts = static_cast<std::size_t>(g_read.n(nslot::NPTS));
    const bool leven = g_read.l(lslot::LEVEN) != 0;
    // Read into arrays of its own: a failure leaves the trace as it was.
    std::vector<float> y(npts);
    std::vector<float> x(leven ? 0 : npts);
    if (!readwords(path, handle, npts, swap, y.data(), leven ? nullptr : x.data(), nerr))
        return nerr;
    rkivstore(g_read, g_kread, trace.hdr, trace.khdr);
    trace.y = std::move(y);
    trace.x = std::move(x);
    swapped = swap;
    return 0;
}

std::int32_t readtrace(std::string_view path, Trace& trace) {
    bool swapped = false;
    return readtrace(path, trace, swapped);
}

} // namespace kivf
