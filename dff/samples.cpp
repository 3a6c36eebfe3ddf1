// SPDX-License-Identifier: Apache-2.0
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

// Closes a handle however the block is left (a caller's arrays may throw).
struct Closing {
    std::int32_t handle;
    ~Closing() { zclosec(handle); }
};

// The whole file into the arrays that arrays gives; the records change only
// on success.
Draft readwhole(std::string_view kname, CmHdr& hdr, KmHdr& khdr, bool& swapped,
                const KivArrays& arrays) {
    swapped = false;
    CmHdr read{}; // scratch: the caller's records change only on success
    KmHdr kread{};
    std::int32_t handle;
    bool swap;
    Draft why;
    if (!rkivopen(kname, read, kread, handle, swap, why)) return why;
    const Closing closing{handle};
    // The header's size check has passed, so NPTS is 0 or more and the file
    // holds exactly the samples it announces.
    const auto npts = static_cast<std::size_t>(read.n(nslot::NPTS));
    const bool leven = read.l(lslot::LEVEN) != 0;
    std::span<float> y, x;
    arrays(npts, leven, y, x);
    const char* shortname = nullptr;
    if (y.size() < npts)
        shortname = "yarray";
    else if (!leven && x.size() < npts)
        shortname = "xarray";
    if (shortname != nullptr) {
        why = Draft(kMsgKivSpan);
        why << kname
            << "(NPTS = " + std::to_string(npts) + ", " + shortname + " holds " +
                   std::to_string(shortname[0] == 'y' ? y.size() : x.size()) + ")";
        return why;
    }
    const std::size_t bytes = 4 * npts;
    const off_t start = off_t{4} * kHdrWords;
    const bool ok = zpreadn(-handle, reinterpret_cast<std::byte*>(y.data()), bytes, start) &&
                    (leven || zpreadn(-handle, reinterpret_cast<std::byte*>(x.data()), bytes,
                                      start + static_cast<off_t>(bytes)));
    if (!ok) {
        why = Draft(kMsgKivData, errno);
        why << kname;
        return why;
    }
    if (swap) {
        reverse(y.first(npts));
        if (!leven) reverse(x.first(npts));
    }
    rkivstore(read, kread, hdr, khdr);
    swapped = swap;
    return why;
}

// Into arrays of its own, so a failure leaves the trace as it was.
Draft intotrace(std::string_view path, Trace& trace, bool& swapped) {
    std::vector<float> y, x;
    Draft why =
        readwhole(path, trace.hdr, trace.khdr, swapped,
                  [&](std::size_t npts, bool leven, std::span<float>& ys, std::span<float>& xs) {
                      y.resize(npts);
                      x.resize(leven ? 0 : npts);
                      ys = y;
                      xs = x;
                  });
    if (why.number() != 0) return why;
    trace.y = std::move(y);
    trace.x = std::move(x);
    return why;
}

} // namespace

KivSamples::~KivSamples() {
    if (handle_ != 0) zclosec(handle_);
}

Failure KivSamples::open(std::string_view path, CmHdr& hdr, KmHdr& khdr, bool& swapped) {
    if (handle_ != 0) zclosec(handle_);
    handle_ = 0;
    npts_ = 0;
    swapped = false;
    CmHdr read{};
    KmHdr kread{};
    std::int32_t handle;
    bool swap;
    Draft why;
    if (!rkivopen(path, read, kread, handle, swap, why)) return why.failure();
    // The header's size check has passed: the file holds NPTS samples.
    handle_ = handle;
    npts_ = static_cast<std::size_t>(read.n(nslot::NPTS));
    swapped_ = swap;
    path_ = path;
    rkivstore(read, kread, hdr, khdr);
    swapped = swap;
    return why.failure();
}

Failure KivSamples::read(std::size_t first, std::span<float> out) const {
    if (handle_ == 0 || first > npts_ || out.size() > npts_ - first) {
        Draft why(kMsgKivSpan);
        why << path_
            << "(samples " + std::to_string(first) + " to " + std::to_string(first + out.size()) +
                   " of NPTS = " + std::to_string(npts_) + ")";
        return why.failure();
    }
    const off_t at = off_t{4} * kHdrWords + static_cast<off_t>(4 * first);
    if (!zpreadn(-handle_, reinterpret_cast<std::byte*>(out.data()), 4 * out.size(), at)) {
        Draft why(kMsgKivData, errno);
        why << path_;
        return why.failure();
    }
    if (swapped_) reverse(out);
    return {};
}

std::int32_t readkiv(std::string_view kname, CmHdr& hdr, KmHdr& khdr, bool& swapped,
                     const KivArrays& arrays) {
    return posted(readwhole(kname, hdr, khdr, swapped, arrays));
}

void rkiv(std::string_view kname, CmHdr& hdr, KmHdr& khdr, std::span<float> yarray,
          std::span<float> xarray, bool& swapped, std::int32_t& nerr) {
    nerr = readkiv(kname, hdr, khdr, swapped,
                   [&](std::size_t, bool, std::span<float>& y, std::span<float>& x) {
                       y = yarray;
                       x = xarray;
                   });
}

void rkiv(std::string_view kname, std::span<float> yarray, std::span<float> xarray, bool& swapped,
          std::int32_t& nerr) {
    rkiv(kname, cmhdr, kmhdr, yarray, xarray, swapped, nerr);
}

std::int32_t readtrace(std::string_view path, Trace& trace, bool& swapped) {
    return posted(intotrace(path, trace, swapped));
}

std::int32_t readtrace(std::string_view path, Trace& trace) {
    bool swapped;
    return readtrace(path, trace, swapped);
}

Failure loadkiv(std::string_view path, CmHdr& hdr, KmHdr& khdr, bool& swapped,
                const KivArrays& arrays) {
    return readwhole(path, hdr, khdr, swapped, arrays).failure();
}

Failure loadtrace(std::string_view path, Trace& trace, bool& swapped) {
    return intotrace(path, trace, swapped).failure();
}

Failure loadtrace(std::string_view path, Trace& trace) {
    bool swapped;
    return loadtrace(path, trace, swapped);
}

} // namespace kivf
