// SPDX-License-Identifier: Apache-2.0
// The KIV file writer: header records and samples to a file that appears
// whole or not at all (see tempfile.cpp). Every writer of the library goes
// through here; they differ only in how the bytes are handed to the system.
#include "dff/dff.h"
#include "dff/dff_internal.h"
#include "dff/dff_testing.h"

#include "co/co.h"
#include "msg/msg.h"

#include <algorithm>
#include <array>
#include <cerrno>
#include <charconv>
#include <cstring>
#include <fcntl.h>
#include <limits>
#include <sys/uio.h>
#include <unistd.h>

namespace kivf {

namespace {

// How the bytes go out: in the file layer's word transfers (wkiv0), or
// gathered into as few system calls as the system takes.
enum class Transfer { words, gather };

WritevCall g_writev = nullptr;

ssize_t syswritev(int fd, const iovec* iov, int n) {
    return g_writev ? g_writev(fd, iov, n) : ::writev(fd, iov, n);
}

// Refuse what would make a wrong or unreadable file; nothing is touched.
// Returns the refusal, or no failure.
Draft refused(std::string_view kname, std::int64_t npts, bool leven, std::span<const float> yarray,
              std::span<const float> xarray) {
    const auto need = static_cast<std::size_t>(npts < 0 ? 0 : npts);
    const std::int64_t words = std::int64_t{kHdrWords} + npts * (leven ? 1 : 2);
    std::int32_t nerr;
    if (npts < 0) {
        nerr = kMsgNptsUndefined;
    } else if (words > std::numeric_limits<std::int32_t>::max()) {
        nerr = kMsgNptsTooLarge; // word offsets of the file layer are 32-bit
    } else if (yarray.size() < need) {
        nerr = kMsgShortYarray;
    } else if (!leven && xarray.size() < need) {
        nerr = kMsgShortXarray;
    } else {
        return {};
    }
    Draft why(nerr);
    why << kname << "(NPTS =" << npts;
    if (nerr == kMsgShortYarray || nerr == kMsgShortXarray) {
        why << "array length ="
            << static_cast<std::int64_t>(nerr == kMsgShortYarray ? yarray.size() : xarray.size());
    }
    why << ")";
    return why;
}

// The header and the samples through the file layer, word by word.
std::int32_t putwords(int fd, const HdrBytes& head, std::span<const float> y,
                      std::span<const float> x) {
    const auto npts = static_cast<std::int32_t>(y.size());
    const std::span<const std::byte> bytes(head);
    std::int32_t nerr;
    zwabs(-fd, bytes.first(std::size_t{4} * kHdrNumWords), kHdrNumWords, 0, nerr);
    if (nerr == 0)
        zwabs(-fd, bytes.subspan(std::size_t{4} * kHdrNumWords), kHdrTextBytes / 4, kHdrNumWords,
              nerr);
    if (nerr == 0) zwabs(-fd, y, npts, kHdrWords, nerr);
    if (nerr == 0 && !x.empty()) zwabs(-fd, x, npts, kHdrWords + npts, nerr);
    return nerr;
}

// Writes in a row that move nothing before the file is taken as full.
constexpr int kZeroWrites = 3;

// The header and the samples gathered into as few writes as the system
// takes. Returns 0 or errno.
int putgathered(int fd, const HdrBytes& head, std::span<const float> y, std::span<const float> x) {
    std::array<iovec, 3> iov{iovec{const_cast<std::byte*>(head.data()), head.size()},
                             iovec{const_cast<float*>(y.data()), y.size_bytes()},
                             iovec{const_cast<float*>(x.data()), x.size_bytes()}};
    std::size_t first = 0;
    int zeros = 0;
    while (first < iov.size()) {
        const ssize_t put = syswritev(fd, &iov[first], static_cast<int>(iov.size() - first));
        if (put < 0) {
            if (errno != EINTR) return errno;
            continue;
        }
        // Bytes are always asked for here, so nothing moved means no room:
        // a passing zero is retried, a run of them would loop for ever.
        if (put == 0) {
            if (++zeros == kZeroWrites) return ENOSPC;
            continue;
        }
        zeros = 0;
        auto left = static_cast<std::size_t>(put);
        while (first < iov.size() && left >= iov[first].iov_len) left -= iov[first++].iov_len;
        if (first < iov.size()) {
            iov[first].iov_base = static_cast<char*>(iov[first].iov_base) + left;
            iov[first].iov_len -= left;
        }
    }
    return 0;
}

// Records and samples to name in the directory of at, through a temporary
// file. Returns no failure, or kMsgCreate or kMsgWriteFailed with the errno.
Draft put(const KivPlace& at, std::string_view kname, const CmHdr& hdr, const KmHdr& khdr,
          std::span<const float> y, std::span<const float> x, Transfer how) {
    TempFile tmp;
    const int fd = wkivtemp(at.dirfd, at.dir, at.dirfd, at.name, tmp);
    if (fd < 0) return cannotcreate(kname, errno);
    HdrBytes head{};
    packhdr(hdr, khdr, head);
    const auto npts = static_cast<std::size_t>(hdr.n(nslot::NPTS));
    y = y.first(npts);
    x = hdr.l(lslot::LEVEN) == 0 ? x.first(npts) : std::span<const float>{};
    int err = 0;
    if (how == Transfer::words) {
        if (putwords(fd, head, y, x) != 0) err = errno != 0 ? errno : EIO;
    } else {
        err = putgathered(fd, head, y, x);
    }
    // A failed close loses data on some file systems and counts as a failed
    // write.
    if (::close(fd) != 0 && err == 0) err = errno;
    const int placed = wkivdone(tmp, at.dirfd, at.name, err == 0, at.keep);
    if (err != 0) return Draft(kMsgWriteFailed, err);
    if (placed != 0) return cannotcreate(kname, placed);
    return {};
}

// Records and samples to the file kname, its directory held open meanwhile
// so that the temporary file and the rename stay in it.
Draft putnamed(std::string_view kname, const CmHdr& hdr, const KmHdr& khdr,
               std::span<const float> y, std::span<const float> x, Transfer how) {
    Path dir{}, path{};
    KivPlace at{};
    if (const int err = openplace(kname, path, dir, at); err != 0) return cannotcreate(kname, err);
    Draft why = put(at, kname, hdr, khdr, y, x, how);
    closeplace(at);
    return why;
}

// The trace's records with NPTS and LEVEN from its arrays into hdr; the
// refusal of arrays that cannot make a file.
Draft traced(std::string_view kname, const Trace& t, CmHdr& hdr) {
    const bool leven = t.x.empty() && t.hdr.l(lslot::LEVEN) != 0;
    const std::size_t n = leven ? t.y.size() : std::max(t.y.size(), t.x.size());
    const auto npts = static_cast<std::int64_t>(n);
    Draft why = refused(kname, npts, leven, t.y, t.x);
    if (why.number() != 0) return why;
    hdr = t.hdr;
    hdr.n(nslot::NPTS) = static_cast<std::int32_t>(npts);
    hdr.l(lslot::LEVEN) = leven ? 1 : 0;
    return why;
}

Draft savenamed(std::string_view kname, const CmHdr& hdr, const KmHdr& khdr,
                std::span<const float> y, std::span<const float> x) {
    Draft why = refused(kname, hdr.n(nslot::NPTS), hdr.l(lslot::LEVEN) != 0, y, x);
    return why.number() != 0 ? why : putnamed(kname, hdr, khdr, y, x, Transfer::gather);
}

Draft saveat(const KivPlace& at, const CmHdr& hdr, const KmHdr& khdr, std::span<const float> y,
             std::span<const float> x) {
    Draft why = refused(at.name, hdr.n(nslot::NPTS), hdr.l(lslot::LEVEN) != 0, y, x);
    return why.number() != 0 ? why : put(at, at.name, hdr, khdr, y, x, Transfer::gather);
}

Draft tracenamed(std::string_view path, const Trace& trace) {
    CmHdr hdr;
    Draft why = traced(path, trace, hdr);
    return why.number() != 0 ? why
                             : putnamed(path, hdr, trace.khdr, trace.y, trace.x, Transfer::gather);
}

Draft traceat(const KivPlace& at, const Trace& trace) {
    CmHdr hdr;
    Draft why = traced(at.name, trace, hdr);
    return why.number() != 0
               ? why
               : put(at, at.name, hdr, trace.khdr, trace.y, trace.x, Transfer::gather);
}

// The number of a failure posted for the specified routines, and its errno.
std::int32_t posted(const Draft& why, int& err) {
    err = why.err();
    return posted(why);
}

} // namespace

void wkivsetwritev(WritevCall w) {
    g_writev = w;
}

std::int32_t writekiv(std::string_view kname, const CmHdr& hdr, const KmHdr& khdr,
                      std::span<const float> yarray, std::span<const float> xarray) {
    return posted(savenamed(kname, hdr, khdr, yarray, xarray));
}

void wkiv0(std::string_view kname, std::span<const float> xarray, std::span<const float> yarray,
           std::int32_t& nerr) {
    Draft why = refused(kname, cmhdr.n(nslot::NPTS), cmhdr.l(lslot::LEVEN) != 0, yarray, xarray);
    nerr = posted(why);
    // A free unit is still asked for, so that running out of units fails the
    // same way as before, with nothing touched.
    if (nerr == 0) {
        std::int32_t unit;
        zgtfun(unit, nerr);
    }
    if (nerr == 0) nerr = posted(putnamed(kname, cmhdr, kmhdr, yarray, xarray, Transfer::words));
    if (nerr != 0) wrtmsg(kStdout);
}

std::int32_t writetrace(std::string_view path, const Trace& trace) {
    return posted(tracenamed(path, trace));
}

std::int32_t writekiv(const KivPlace& at, const CmHdr& hdr, const KmHdr& khdr,
                      std::span<const float> yarray, std::span<const float> xarray, int& err) {
    return posted(saveat(at, hdr, khdr, yarray, xarray), err);
}

std::int32_t writetrace(const KivPlace& at, const Trace& trace, int& err) {
    return posted(traceat(at, trace), err);
}

Failure savekiv(std::string_view path, const CmHdr& hdr, const KmHdr& khdr,
                std::span<const float> y, std::span<const float> x) {
    return savenamed(path, hdr, khdr, y, x).failure();
}

Failure savekiv(const KivPlace& at, const CmHdr& hdr, const KmHdr& khdr, std::span<const float> y,
                std::span<const float> x) {
    return saveat(at, hdr, khdr, y, x).failure();
}

Failure savetrace(std::string_view path, const Trace& trace) {
    return tracenamed(path, trace).failure();
}

Failure savetrace(const KivPlace& at, const Trace& trace) {
    return traceat(at, trace).failure();
}

} // namespace kivf
