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

} // namespace

void rkiv(std::string_view kname, CmHdr& hdr, KmHdr& khdr, std::span<float> yarray,
          std::span<float> xarray, bool& swapped, std::int32_t& nerr) {
    swapped = false;
    static Raw raw; // scratch, as the header reader's
    std::int32_t handle = 0;
    bool swap = false;
    if (!rkivopen(kname, raw, handle, swap, nerr)) return;
    // The header's size check has passed, so NPTS is 0 or more and the file
    // holds exactly the samples it announces.
    const auto word = [&](std::int32_t w) {
        std::int32_t v = 0;
        std::memcpy(&v, &raw[static_cast<std::size_t>(w)], 4);
        return v;
    };
    const auto npts = static_cast<std::size_t>(word(kNumFhdr + nslot::NPTS - 1));
    const bool leven = word(kNumFhdr + kNumNhdr + kNumIhdr + lslot::LEVEN - 1) != 0;
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
    const std::size_t bytes = 4 * npts;
    const off_t start = off_t{4} * kHdrWords;
    const bool ok = zpreadn(-handle, reinterpret_cast<std::byte*>(yarray.data()), bytes, start) &&
                    (leven || zpreadn(-handle, reinterpret_cast<std::byte*>(xarray.data()), bytes,
                                      start + static_cast<off_t>(bytes)));
    zclosec(handle);
    if (!ok) {
        fail(kErrKivData, kname, nerr);
        return;
    }
    if (swap) {
        reverse(yarray.first(npts));
        if (!leven) reverse(xarray.first(npts));
    }
    rkivstore(raw, hdr, khdr);
    swapped = swap;
}

void rkiv(std::string_view kname, std::span<float> yarray, std::span<float> xarray, bool& swapped,
          std::int32_t& nerr) {
    rkiv(kname, cmhdr, kmhdr, yarray, xarray, swapped, nerr);
}

} // namespace kivf
