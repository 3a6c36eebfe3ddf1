// SPDX-License-Identifier: Apache-2.0
// The KIV header reader: files written on a machine of either byte order,
// checked against their size before anything is taken from them. Failures are
// composed as drafts, so that the reader runs on any thread; the specified
// routines post them into the message buffer.
#include "dff/dff.h"
#include "dff/dff_internal.h"

#include "co/co.h"
#include "msg/msg.h"

#include <cerrno>
#include <string>
#include <sys/stat.h>

namespace kivf {

namespace {

// Words that tell a KIV file from another: up to and including NVHDR.
constexpr auto kVersionWords = static_cast<std::int32_t>(kOrderBytes / 4);

Draft failed(std::int32_t number, std::string_view kname, int err = 0) {
    Draft why(number, err);
    why << kname;
    return why;
}

std::string bytes(std::int64_t size) {
    return "(" + std::to_string(size) + " bytes)";
}

// Open a plain file for reading; its handle and size, or the failure. Only
// plain files: a directory holds no words and a pipe could block forever.
bool openkiv(std::string_view kname, std::int32_t& handle, std::int64_t& size, Draft& why) {
    Path path{};
    struct stat st {};
    if (kname.empty() || !zpath(kname, path)) {
        why = failed(kMsgKivOpen, kname, kname.empty() ? ENOENT : ENAMETOOLONG);
        why << "(Empty or overlong name.)";
        return false;
    }
    if (::stat(path.data(), &st) != 0) {
        const int err = errno;
        if (err == ENOENT) {
            why = failed(kMsgKivMissing, kname, err);
        } else {
            why = failed(kMsgKivOpen, kname, err);
            why << (err == EACCES ? "(Insufficient access rights.)" : "(System error occurred.)");
        }
        return false;
    }
    if (!S_ISREG(st.st_mode)) {
        why = failed(kMsgKivOpen, kname);
        why << "(Not a plain file.)";
        return false;
    }
    std::int32_t kind;
    zopenc(handle, kname, 0, 1, 0, kind); // a plain file only: fstat is for its size
    if (kind != 0 || ::fstat(-handle, &st) != 0) {
        const int err = errno;
        if (kind == 0) zclosec(handle);
        why = failed(kMsgKivOpen, kname, err);
        why << (kind == 1 ? "(Insufficient access rights.)" : "(System error occurred.)");
        return false;
    }
    size = st.st_size;
    return true;
}

// Read, check and decode the header; false with the failure drafted. A file
// too short for NVHDR cannot be told from another file; one that holds NVHDR
// but not the whole header is cut short.
bool readhdr(std::string_view kname, std::int32_t handle, std::int64_t size, CmHdr& hdr,
             KmHdr& khdr, bool& swapped, Draft& why) {
    if (size < std::int64_t{4} * kVersionWords) {
        why = failed(kMsgKivShort, kname);
        why << bytes(size);
        return false;
    }
    const std::int32_t words = size >= std::int64_t{kHdrBytes} ? kHdrWords : kVersionWords;
    HdrBytes raw{};
    if (!zreadwords(handle, std::span<std::byte>(raw), words, 0)) {
        why = failed(kMsgKivRead, kname, errno);
        return false;
    }
    if (!hdrorder(raw, swapped)) {
        why = failed(kMsgKivNotKiv, kname);
        return false;
    }
    if (words < kHdrWords) {
        why = failed(kMsgKivShort, kname);
        why << bytes(size);
        return false;
    }
    unpackhdr(raw, swapped, hdr, khdr);
    const std::int32_t npts = hdr.n(nslot::NPTS);
    const bool leven = hdr.l(lslot::LEVEN) != 0;
    if (npts < 0) {
        why = failed(kMsgKivNpts, kname);
        why << "(NPTS = " + std::to_string(npts) + ")";
        return false;
    }
    const std::int64_t want = std::int64_t{kHdrBytes} + std::int64_t{npts} * (leven ? 4 : 8);
    if (size == want) return true;
    why = failed(kMsgKivSize, kname);
    why << "(" + std::to_string(size) + " bytes, expected " + std::to_string(want) +
               " for NPTS = " + std::to_string(npts) +
               (leven ? " and LEVEN true)" : " and LEVEN false)");
    return false;
}

// The header alone into the caller's records, changed only on success.
Draft headeronly(std::string_view kname, CmHdr& hdr, KmHdr& khdr, bool& swapped) {
    swapped = false;
    CmHdr read{}; // scratch: the caller's records change only on success
    KmHdr kread{};
    std::int32_t handle;
    bool swap;
    Draft why;
    if (!rkivopen(kname, read, kread, handle, swap, why)) return why;
    zclosec(handle);
    rkivstore(read, kread, hdr, khdr);
    swapped = swap;
    return why;
}

} // namespace

bool rkivopen(std::string_view kname, CmHdr& hdr, KmHdr& khdr, std::int32_t& handle, bool& swapped,
              Draft& why) {
    swapped = false;
    std::int64_t size;
    if (!openkiv(kname, handle, size, why)) return false;
    if (!readhdr(kname, handle, size, hdr, khdr, swapped, why)) {
        zclosec(handle);
        return false;
    }
    return true;
}

void rkivstore(const CmHdr& from, const KmHdr& kfrom, CmHdr& hdr, KmHdr& khdr) {
    hdr.fhdr = from.fhdr;
    hdr.nhdr = from.nhdr;
    hdr.ihdr = from.ihdr;
    hdr.lhdr = from.lhdr;
    khdr.khdr = kfrom.khdr;
}

std::int32_t posted(const Draft& why) {
    if (why.number() != 0) why.post();
    return why.number();
}

void rkivhdr(std::string_view kname, CmHdr& hdr, KmHdr& khdr, bool& swapped, std::int32_t& nerr) {
    nerr = posted(headeronly(kname, hdr, khdr, swapped));
}

void rkivhdr(std::string_view kname, bool& swapped, std::int32_t& nerr) {
    rkivhdr(kname, cmhdr, kmhdr, swapped, nerr);
}

Failure loadheader(std::string_view path, CmHdr& hdr, KmHdr& khdr, bool& swapped) {
    return headeronly(path, hdr, khdr, swapped).failure();
}

} // namespace kivf
