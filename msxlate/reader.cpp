// miniSEED records framed from a byte stream. The bytes are read here, not by
// libmseed's file reader: so a FIFO or pipe works, every byte's offset is
// known, and what that reader passes over without a word (a partial record at
// the end, bytes that are not records) is said.
//
// Memory: a read buffer of a few MB and the file's samples in the trace list.
#include "msxlate/reader.h"
#include "msxlate/segments.h"

#include "wfdxlate/kivfile.h"

#include <algorithm>
#include <array>
#include <cerrno>
#include <charconv>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <memory>
#include <sys/resource.h>
#include <unistd.h>
#include <vector>

namespace kivf::msx {

using wfdx::checkrate;
using wfdx::kMsgRate;
using wfdx::kOverflowWhy;
using wfdx::Message;
using wfdx::Rate;

namespace {

// What libmseed logged since it was last taken: its lines joined by "; ".
std::string& logged() {
    static std::string text;
    return text;
}

void takeline(char* line) {
    std::string_view s(line);
    while (!s.empty() && (s.back() == '\n' || s.back() == ' ')) s.remove_suffix(1);
    std::string& text = logged();
    if (!text.empty()) text += "; ";
    text += s;
}

std::string takelogged() {
    std::string text;
    std::swap(text, logged());
    return text;
}

// The bytes of a file, read a large piece at a time; a record and the look
// ahead that finding its length may need are always whole in it when the file
// holds them.
class Feed {
  public:
    static constexpr std::size_t kLook = MAXRECLEN + 64, kSize = 4 * kLook;
    // Beyond the bytes read: libmseed's record detection follows blockette
    // offsets and lengths (16 bits each) past the bytes it is given.
    static constexpr std::size_t kSlack = 2 * 65536 + 256;

    // The buffer is made once, and not zeroed: only what is read is looked at.
    explicit Feed(int fd) : fd_(fd) {
        static const std::unique_ptr<char[]> buffer(new char[kSize + kSlack]);
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

// Why a length no record has is refused.
std::string overlong(int len) {
    return "(" + std::to_string(len) + " bytes, more than a record has)";
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
        if (as.notes) Message(number, "NOTE") << byteat(file, at) << why;
    }
    void refuse(std::int32_t number, std::int64_t at, std::string_view why) {
        ++got.refused;
        Message(number) << byteat(file, at) << why;
    }
    void endgarbage() {
        if (garbage.from >= 0 && anyrecord)
            refuse(kMsgGarbage, garbage.from, "(" + std::to_string(garbage.bytes) + " bytes)");
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
        note(kMsgRecordRepeat, at, "(" + std::to_string(msr->numsamples) + " samples)");
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
            Message(kMsgMemory) << file << "(" + why + ")";
            return false;
        }
        held = need;
        ++got.records;
    }
    if (std::string more = takelogged(); !more.empty() && as.notes)
        Message(kMsgLibrary, "NOTE") << byteat(file, at) << more;
    return true;
}

// A rate as messages show it: the shortest decimal that reads back as it.
std::string ratetext(double rate) {
    std::array<char, 32> text{};
    const auto end = std::to_chars(text.data(), text.data() + text.size(), rate).ptr;
    return "(" + std::string(text.data(), end) + " Hz)";
}

} // namespace

void capturelog() {
    ms_loginit(takeline, "", takeline, "");
}

std::int64_t capacity(int encoding, std::int64_t room) {
    if (room <= 0) return 0;
    // Steim: 64-byte frames of a control word and 15 words of differences,
    // the first frame's first two of them the first and last sample.
    const std::int64_t words = room / 64 * 15 - 2;
    switch (encoding) {
    case DE_ASCII:
        return room;
    case DE_INT16:
    case DE_GEOSCOPE163:
    case DE_GEOSCOPE164:
    case DE_CDSN:
    case DE_SRO:
    case DE_DWWSSN:
        return room / 2;
    case DE_GEOSCOPE24:
        return room / 3;
    case DE_INT32:
    case DE_FLOAT32:
        return room / 4;
    case DE_FLOAT64:
        return room / 8;
    case DE_STEIM1:
        return std::max<std::int64_t>(words, 0) * 4;
    case DE_STEIM2:
        return std::max<std::int64_t>(words, 0) * 7;
    default:
        return -1;
    }
}

namespace {

// The record being decoded, then zeros: libmseed's parsers follow blockette
// offsets (16 bits) and lengths (16 bits more) past the bytes they are given,
// so a record is decoded from here, and what they read beyond it is zeros,
// never another record's or another file's bytes.
class Scratch {
  public:
    static constexpr std::size_t kSlack = Feed::kSlack;
    explicit Scratch(const char* rec, int len) : len_(static_cast<std::size_t>(len)) {
        static const std::unique_ptr<char[]> zeros(new char[MAXRECLEN + kSlack]()); // kept zero
        buf_ = zeros.get();
        std::memcpy(buf_, rec, len_);
    }
    ~Scratch() { std::memset(buf_, 0, len_); }
    Scratch(const Scratch&) = delete;
    Scratch& operator=(const Scratch&) = delete;
    char* data() const { return buf_; }

  private:
    std::size_t len_;
    char* buf_;
};

} // namespace

Decoded decoderecord(const char* bytes, int len, MSRecord*& msr) {
    Decoded d;
    if (len > MAXRECLEN) { // not one of libmseed's
        d.number = kMsgLength;
        d.why = overlong(len);
        return d;
    }
    const Scratch copy(bytes, len);
    char* rec = copy.data();
    const auto failed = [&](int rc) {
        // libmseed's own words say why; its error code when it said nothing.
        d.why = takelogged();
        if (rc == MS_NOERROR && d.why.empty()) return false;
        d.number = kMsgDecode;
        d.why = "(" + (d.why.empty() ? std::string(ms_errorstr(rc)) : d.why) + ")";
        return true;
    };
    // libmseed reads as far as the record's own length says, not the length
    // given: a record is taken only at the length it states, when it does.
    if (const int stated = ms_detect(rec, len); stated > 0 && stated != len) {
        d.number = kMsgLength;
        d.why = "(" + std::to_string(stated) + " bytes stated; " + std::to_string(len) + " there)";
        return d;
    }
    takelogged();
    // The header alone first: libmseed's decoders take the count as given and
    // read on past the record when it says more than the record can hold.
    if (failed(msr_parse(rec, len, &msr, len, 0, 0))) return d;
    const int encoding = msr->encoding < 0 ? DE_STEIM1 : msr->encoding; // libmseed's default
    const std::int64_t room = len - std::int64_t{msr->fsdh->data_offset},
                       fits = capacity(encoding, room);
    if (fits >= 0 && msr->samplecnt > fits) {
        d.number = kMsgCount;
        d.why = "(" + std::to_string(msr->samplecnt) + " samples; room for " +
                std::to_string(fits) + " in its " +
                std::to_string(std::max<std::int64_t>(room, 0)) + " bytes of data)";
        return d;
    }
    if (failed(msr_parse(rec, len, &msr, len, 1, 0))) return d;
    // Records without a time series are passed over with a note.
    const char* none = msr->sampletype == 'a' ? "(text)"
                       : msr->samplecnt == 0  ? "(no samples)"
                       : msr->samprate == 0.0 ? "(sampling rate 0)"
                                              : nullptr;
    if (none != nullptr) return {Decoded::note, kMsgSkipped, none};
    float interval = 0;
    const Rate rate = checkrate(msr->samprate, msr->samplecnt, interval);
    if (msr->numsamples != msr->samplecnt) {
        d.number = kMsgDecode;
        d.why = "(decoded " + std::to_string(msr->numsamples) + " of " +
                std::to_string(msr->samplecnt) + " samples)";
    } else if (rate != Rate::ok) {
        d.number = kMsgRate;
        d.why = ratetext(msr->samprate) +
                (rate == Rate::overflows ? " " + std::string(kOverflowWhy) : "");
    } else if (static_cast<double>(msr->samplecnt - 1) / msr->samprate * HPTMODULUS >= 0x1p61) {
        // Its end a time no 64-bit microsecond count can be sure to hold.
        d.number = kMsgRate;
        d.why = ratetext(msr->samprate) + " (its samples would span over 70,000 years)";
    } else if (d.rounded = tofloats(msr->datasamples, msr->numsamples, msr->sampletype);
               d.rounded < 0) {
        d.number = kMsgRange;
        d.why = "(float64)";
    } else {
        d.kind = Decoded::samples;
    }
    return d;
}

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
            r.refuse(kMsgLength, at,
                     "(" + std::to_string(len) + " bytes; the next begins at byte " +
                         std::to_string(at + next) + ")");
            r.feed.skip(static_cast<std::size_t>(next));
            continue;
        }
        if (len > MAXRECLEN) { // none of libmseed's; what follows is looked through
            r.refuse(kMsgLength, at, overlong(len));
            r.feed.skip(1);
            continue;
        }
        if (len == 0 || len > avail) { // only the end of the file can cut a record short
            r.refuse(kMsgCut, at,
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
        if (as.progress != nullptr) {
            ++as.progress->done;
            as.progress->bytes += len;
            wfdx::tick(*as.progress, false);
        }
    }
    r.got.bytes = r.feed.offset() + static_cast<std::int64_t>(r.feed.avail());
    if (r.feed.err() != 0) {
        Message(kMsgUnread) << file << std::strerror(r.feed.err());
        r.refusewhole();
    } else if (!r.anyrecord && r.garbage.from >= 0) {
        Message(kMsgNotMseed) << file;
        r.refusewhole();
    } else if (!r.anyrecord && as.notes) {
        Message(kMsgEmpty, "NOTE") << file;
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

} // namespace kivf::msx
