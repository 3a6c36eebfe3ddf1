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

// Read n bytes at off; a transfer may come back short (signals, very large
// counts), so go on until all are in, the file ends or it fails.
bool readall(int fd, std::byte* p, std::size_t n, off_t off) {
    while (n > 0) {
        const ssize_t r = ::pread(fd, p, n, off);
        if (r < 0 && errno == EINTR) continue;
        if (r <= 0) return false;
        p += r;
        n -= static_cast<std::size_t>(r);
        off += r;
    }
    return true;
}

void reverse(std::span<float> words) {
    for (float& f : words) {
        std::uint32_t w = 0;
        std::memcpy(&w, &f, 4);
        w = __builtin_bswap32(w);
        std::memcpy(&f, &w, 4);
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
    const bool ok = readall(-handle, reinterpret_cast<std::byte*>(yarray.data()), bytes, start) &&
                    (leven || readall(-handle, reinterpret_cast<std::byte*>(xarray.data()), bytes,
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
