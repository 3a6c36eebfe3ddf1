// SPDX-License-Identifier: Apache-2.0
// miniSEED records framed from a byte stream. The bytes are read here, not by
// libmseed's file reader: so a FIFO or pipe works, every byte's offset is
// known, and what that reader passes over without a word (a partial record at
// the end, bytes that are not records) is said.
//
// Memory: a read buffer of a few MB and the file's samples in the trace list.
#include "msread/msread.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <memory>
#include <sys/resource.h>
#include <unistd.h>
#include <vector>

namespace kivf::msread {

namespace {

// Tell the caller a message, its particulars the pieces joined by blanks (an
// empty piece adds nothing, not even its blank).
void tell(const ReadAs& as, std::int32_t number, bool note,
          std::initializer_list<std::string_view> pieces) {
    if (!as.tell) return;
    Told told{number, note, {}};
    for (const std::string_view piece : pieces) {
        if (piece.empty()) continue;
        if (!told.text.empty()) told.text += ' ';
        told.text += piece;
    }
    as.tell(told);
}

// The bytes of a file, read a large piece at a time; a record and the look
// ahead that finding its length may need are always whole in it when the file
// holds them.
class Feed {
  public:
    static constexpr std::size_t kLook = MAXRECLEN + 64, kSize = 4 * kLook;

    // The buffer is made once, and not zeroed: only what is read is looked at.
    explicit Feed(int fd) : fd_(fd) {
        // kBeyond more: libmseed's record detection reads past what it is given.
        static const std::unique_ptr<char[]> buffer(new char[kSize + kBeyond]);
        buf_ = buffer.get();
    }
    // At least kLook bytes from here, or all that is left. False on a read error (err()).
    bool fill() {
        if (end_ - pos_ >= kLook || eof_) return true;
        std::memmove(buf_, buf_ + pos_, end_ - pos_);
        base_ += static_cast<std::int64_t>(pos_);
        end_ -= pos_;
        pos_ = 0;
        while (end_ < kLook && !eof_) {
            const ssize_t got = ::read(fd_, buf_ + end_, kSize - end_);
            if (got < 0 && errno == EINTR) continue;
            if (got < 0) {
                err_ = errno;
                return false;
            }
            eof_ = got == 0;
            end_ += static_cast<std::size_t>(got);
        }
        return true;
    }
    char* at() { return buf_ + pos_; }
    std::size_t avail() const { return end_ - pos_; }
    std::int64_t offset() const { return base_ + static_cast<std::int64_t>(pos_); }
    void skip(std::size_t n) { pos_ += n; }
    bool eof() const { return eof_; }
    int err() const { return err_; }

  private:
    int fd_;
    char* buf_;
    std::size_t pos_ = 0, end_ = 0;
    std::int64_t base_ = 0;
    bool eof_ = false;
    int err_ = 0;
};

// The length of the record at the feed's place: above 0 when told; 0 when it
// is one whose length cannot be told; -1 when the bytes are not a record.
int recordlength(Feed& f) {
    const std::size_t avail = f.avail();
    if (avail < 48) return avail >= 27 && MS_ISVALIDHEADER(f.at()) && f.eof() ? 0 : -1;
    const int len = ms_detect(f.at(), static_cast<int>(std::min<std::size_t>(avail, Feed::kLook)));
    if (len != 0 || !f.eof()) return len;
    // The last record, without a length of its own and nothing after it to
    // measure it by: all that is left, when that is a record's length.
    const bool pow2 = (avail & (avail - 1)) == 0;
    return pow2 && avail >= MINRECLEN && avail <= MAXRECLEN ? static_cast<int>(avail) : 0;
}

// A run of bytes that are not records, said once the run ends.
struct Garbage {
    std::int64_t from = -1, bytes = 0;
};

// Another record's header at a power-of-two step inside the len bytes
// stated for the record at the feed's place: the step, or 0. A record's own
// data never holds one; a length stated too long (a damaged blockette 1000)
// would swallow the records it covers.
int nextinside(Feed& f, int len) {
    const auto avail = static_cast<std::int64_t>(f.avail());
    for (std::int64_t k = MINRECLEN; k < len && k + 48 <= avail; k *= 2)
        if (ms_detect(f.at() + k,
                      static_cast<int>(std::min<std::int64_t>(avail - k, Feed::kLook))) >= 0)
            return static_cast<int>(k);
    return 0;
}

// One reader's state over a file.
struct Reading {
    Feed feed;
    std::string_view file;
    MSTraceList* list;
    const ReadAs& as;
    FileRead got;
    Garbage garbage;
    std::uint64_t held = 0; // bytes of samples in the list
    std::uint64_t budget;   // bytes they may take
    bool remeasured = false, anyrecord = false;

    void note(std::int32_t number, std::int64_t at, std::string_view why) {
        ++got.skipped;
        if (as.notes) tell(as, number, true, {byteat(file, at), why});
    }
    void refuse(std::int32_t number, std::int64_t at, std::string_view why) {
        ++got.refused;
        tell(as, number, false, {byteat(file, at), why});
    }
    void endgarbage() {
        if (garbage.from >= 0 && anyrecord)
            refuse(kMsgMsGarbage, garbage.from, "(" + std::to_string(garbage.bytes) + " bytes)");
        if (anyrecord) garbage = {};
    }
    // The file refused as a whole: its caller lets go of what was read.
    void refusewhole() {
        got.whole = true;
        ++got.refused;
    }
    bool record(int len);
};

// Decode the record of len bytes at the feed's place and join it to the
// list. False when the file must be given up (no memory for its samples).
bool Reading::record(int len) {
    const std::int64_t at = feed.offset();
    static MSRecord* msr = nullptr;
    const Decoded d = decoderecord(feed.at(), len, msr);
    if (d.kind == Decoded::note) {
        note(d.number, at, d.why);
    } else if (d.kind == Decoded::refused) {
        refuse(d.number, at, d.why);
    } else if (heldalready(list, msr)) {
        note(kMsgMsRecordRepeat, at, "(" + std::to_string(msr->numsamples) + " samples)");
    } else {
        got.rounded += d.rounded;
        const std::uint64_t need = held + static_cast<std::uint64_t>(msr->numsamples) * 4;
        // The budget was taken before the run; before refusing, once more
        // now: what is available beyond what is held.
        if (need > budget && !remeasured) {
            remeasured = true;
            budget = std::max(budget, held + std::min(memorybudget(), UINT64_MAX - held));
        }
        MSTraceSeg* seg = need <= budget ? mstl_addmsr(list, msr, 0, 1, -1.0, -1.0) : nullptr;
        if (seg == nullptr) { // over the budget, or libmseed found no memory
            const std::string said = takelogged();
            const std::string why =
                need > budget ? "more than " + std::to_string(need >> 20) + " MB of samples; " +
                                    std::to_string(budget >> 20) + " MB available"
                              : (said.empty() ? "no memory" : said);
            tell(as, kMsgMsMemory, false, {file, "(" + why + ")"});
            return false;
        }
        held = need;
        ++got.records;
        if (as.gathered != nullptr) as.gathered->joined(seg, msr); // its floats still in the cache
    }
    if (std::string more = takelogged(); !more.empty() && as.notes)
        tell(as, kMsgMsLibrary, true, {byteat(file, at), more});
    return true;
}

} // namespace

std::string byteat(std::string_view file, std::int64_t offset) {
    return std::string(file) + " at byte " + std::to_string(offset);
}

FileRead readfile(int fd, std::string_view file, MSTraceList* list, const ReadAs& as) {
    Reading r{Feed(fd), file, list, as, {}, {}, 0, as.budget};
    while (r.feed.fill() && r.feed.avail() > 0) {
        const std::int64_t at = r.feed.offset();
        const int len = recordlength(r.feed);
        takelogged(); // finding records is ours to report
        const auto avail = static_cast<std::int64_t>(r.feed.avail());
        if (len < 0 || (len == 0 && !r.feed.eof())) { // not a record: look on from the next byte
            if (r.garbage.from < 0) r.garbage.from = at;
            ++r.garbage.bytes;
            r.feed.skip(1);
            continue;
        }
        r.anyrecord = true;
        r.endgarbage();
        if (const int next = nextinside(r.feed, len); next > 0) {
            r.refuse(kMsgMsLength, at,
                     "(" + std::to_string(len) + " bytes; the next begins at byte " +
                         std::to_string(at + next) + ")");
            r.feed.skip(static_cast<std::size_t>(next));
            continue;
        }
        if (len > MAXRECLEN) { // none of libmseed's; what follows is looked through
            r.refuse(kMsgMsLength, at, overlong(len));
            r.feed.skip(1);
            continue;
        }
        if (len == 0 || len > avail) { // only the end of the file can cut a record short
            r.refuse(kMsgMsCut, at,
                     "(" + std::to_string(avail) + " bytes" +
                         (len > 0 ? " of " + std::to_string(len) : "") + ")");
            r.feed.skip(static_cast<std::size_t>(avail));
            continue;
        }
        if (!r.record(len)) {
            r.refusewhole();
            return r.got;
        }
        r.feed.skip(static_cast<std::size_t>(len));
        if (as.joined) as.joined(len);
    }
    r.got.bytes = r.feed.offset() + static_cast<std::int64_t>(r.feed.avail());
    if (r.feed.err() != 0) {
        tell(as, kMsgMsUnread, false, {file, std::strerror(r.feed.err())});
        r.refusewhole();
    } else if (!r.anyrecord && r.garbage.from >= 0) {
        tell(as, kMsgMsNotMseed, false, {file});
        r.refusewhole();
    } else if (!r.anyrecord && as.notes) {
        tell(as, kMsgMsEmpty, true, {file});
    }
    r.endgarbage();
    return r.got;
}

std::uint64_t memorybudget() {
    std::uint64_t budget = UINT64_MAX;
    std::ifstream meminfo("/proc/meminfo");
    for (std::string key; meminfo >> key;) {
        std::uint64_t kb = 0;
        meminfo >> kb;
        if (key == "MemAvailable:") budget = kb << 10;
        meminfo.ignore(256, '\n');
    }
    // What the process's own limits leave over what it already has.
    std::ifstream status("/proc/self/status");
    std::uint64_t vmsize = 0, vmdata = 0;
    for (std::string key; status >> key;) {
        std::uint64_t kb = 0;
        if (key == "VmSize:" && status >> kb) vmsize = kb << 10;
        if (key == "VmData:" && status >> kb) vmdata = kb << 10;
        status.ignore(256, '\n');
    }
    for (const auto& [resource, used] :
         {std::pair{RLIMIT_AS, vmsize}, std::pair{RLIMIT_DATA, vmdata}}) {
        struct rlimit lim {};
        if (::getrlimit(resource, &lim) == 0 && lim.rlim_cur != RLIM_INFINITY)
            budget = std::min<std::uint64_t>(budget, lim.rlim_cur > used ? lim.rlim_cur - used : 0);
    }
    // Kept back for what else the run takes: the read buffer (perhaps not
    // made yet), a record's decoding, the writer, libmseed's own.
    constexpr std::uint64_t kKept = 16 << 20;
    return budget > kKept ? budget - kKept : 0;
}

} // namespace kivf::msread
