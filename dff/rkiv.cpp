// The KIV header reader: files written on a machine of either byte order,
// checked against their size before anything is taken from them.
#include "dff/dff.h"
#include "dff/dff_internal.h"

#include "co/co.h"
#include "msg/msg.h"

#include <algorithm>
#include <array>
#include <cerrno>
#include <charconv>
#include <cstring>
#include <sys/stat.h>

namespace kivf {

namespace {

// Words that tell a KIV file from another: up to and including NVHDR.
constexpr auto kVersionWords = static_cast<std::int32_t>(kOrderBytes / 4);

// The particulars of a failure as one piece: "(" text and numbers ")".
class Note {
  public:
    Note& operator<<(std::string_view t) {
        const std::size_t k = std::min(t.size(), buf_.size() - n_);
        std::memcpy(buf_.data() + n_, t.data(), k);
        n_ += k;
        return *this;
    }
    Note& operator<<(std::int64_t v) {
        const auto r = std::to_chars(buf_.data() + n_, buf_.data() + buf_.size(), v);
        if (r.ec == std::errc()) n_ = static_cast<std::size_t>(r.ptr - buf_.data());
        return *this;
    }
    void append() const { apcmsg(std::string_view(buf_.data(), n_)); }

  private:
    std::array<char, 96> buf_{};
    std::size_t n_ = 0;
};

void fail(std::int32_t number, std::string_view kname, std::int32_t& nerr) {
    nerr = number;
    setmsg("ERROR", nerr);
    apcmsg(kname);
}

// Open a plain file for reading; its handle and size, or the failure. Only
// plain files: a directory holds no words and a pipe could block forever.
bool openkiv(std::string_view kname, std::int32_t& handle, std::int64_t& size, std::int32_t& nerr) {
    Path path{};
    struct stat st {};
    if (kname.empty() || !zpath(kname, path)) {
        fail(kMsgKivOpen, kname, nerr);
        apcmsg("(Empty or overlong name.)");
        return false;
    }
    if (::stat(path.data(), &st) != 0) {
        if (errno == ENOENT) {
            fail(kMsgKivMissing, kname, nerr);
        } else {
            fail(kMsgKivOpen, kname, nerr);
            apcmsg(errno == EACCES ? "(Insufficient access rights.)" : "(System error occurred.)");
        }
        return false;
    }
    if (!S_ISREG(st.st_mode)) {
        fail(kMsgKivOpen, kname, nerr);
        apcmsg("(Not a plain file.)");
        return false;
    }
    std::int32_t kind = 0;
    zopenc(handle, kname, 0, 1, 0, kind);
    if (kind != 0 || ::fstat(-handle, &st) != 0 || !S_ISREG(st.st_mode)) {
        if (kind == 0) zclosec(handle);
        fail(kMsgKivOpen, kname, nerr);
        apcmsg(kind == 1 ? "(Insufficient access rights.)" : "(System error occurred.)");
        return false;
    }
    size = st.st_size;
    return true;
}

// Read, check and decode the header; false with the failure composed. A file
// too short for NVHDR cannot be told from another file; one that holds NVHDR
// but not the whole header is cut short.
bool readhdr(std::string_view kname, std::int32_t handle, std::int64_t size, CmHdr& hdr,
             KmHdr& khdr, bool& swapped, std::int32_t& nerr) {
    if (size < std::int64_t{4} * kVersionWords) {
        fail(kMsgKivShort, kname, nerr);
        (Note() << "(" << size << " bytes)").append();
        return false;
    }
    const std::int32_t words = size >= std::int64_t{kHdrBytes} ? kHdrWords : kVersionWords;
    HdrBytes bytes{};
    zrabs(handle, std::span<std::byte>(bytes), words, 0, nerr);
    if (nerr != 0) {
        fail(kMsgKivRead, kname, nerr);
        return false;
    }
    if (!hdrorder(bytes, swapped)) {
        fail(kMsgKivNotKiv, kname, nerr);
        return false;
    }
    if (words < kHdrWords) {
        fail(kMsgKivShort, kname, nerr);
        (Note() << "(" << size << " bytes)").append();
        return false;
    }
    unpackhdr(bytes, swapped, hdr, khdr);
    const std::int32_t npts = hdr.n(nslot::NPTS);
    const bool leven = hdr.l(lslot::LEVEN) != 0;
    if (npts < 0) {
        fail(kMsgKivNpts, kname, nerr);
        (Note() << "(NPTS = " << npts << ")").append();
        return false;
    }
    const std::int64_t want = std::int64_t{kHdrBytes} + std::int64_t{npts} * (leven ? 4 : 8);
    if (size == want) return true;
    fail(kMsgKivSize, kname, nerr);
    (Note() << "(" << size << " bytes, expected " << want << " for NPTS = " << npts
            << (leven ? " and LEVEN true)" : " and LEVEN false)"))
        .append();
    return false;
}

} // namespace

bool rkivopen(std::string_view kname, CmHdr& hdr, KmHdr& khdr, std::int32_t& handle, bool& swapped,
              std::int32_t& nerr) {
    nerr = 0;
    swapped = false;
    std::int64_t size = 0;
    if (!openkiv(kname, handle, size, nerr)) return false;
    if (!readhdr(kname, handle, size, hdr, khdr, swapped, nerr)) {
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

void rkivhdr(std::string_view kname, CmHdr& hdr, KmHdr& khdr, bool& swapped, std::int32_t& nerr) {
    swapped = false;
    static CmHdr read; // scratch: the caller's records change only on success
    static KmHdr kread;
    std::int32_t handle = 0;
    bool swap = false;
    if (!rkivopen(kname, read, kread, handle, swap, nerr)) return;
    zclosec(handle);
    rkivstore(read, kread, hdr, khdr);
    swapped = swap;
}

void rkivhdr(std::string_view kname, bool& swapped, std::int32_t& nerr) {
    rkivhdr(kname, cmhdr, kmhdr, swapped, nerr);
}

} // namespace kivf
