// SPDX-License-Identifier: Apache-2.0
// One miniSEED record decoded alone, and libmseed's log lines taken into
// our messages. libmseed trusts what a record says of itself: its decoders
// read as far as its stated length and count, its parsers follow blockette
// offsets; so a record is checked against the bytes it has before its samples
// are decoded, and decoded from a copy with zeros after it.
#include "msread/msread.h"

#include <algorithm>
#include <array>
#include <charconv>
#include <cstring>
#include <memory>
#include <mutex>

namespace kivf::msread {

namespace {

// What libmseed logged on this thread since it was last taken: its lines
// joined by "; ". libmseed logs from the thread that called it.
std::string& logged() {
    static thread_local std::string text;
    return text;
}

void takeline(char* line) {
    std::string_view s(line);
    while (!s.empty() && (s.back() == '\n' || s.back() == ' ')) s.remove_suffix(1);
    std::string& text = logged();
    if (!text.empty()) text += "; ";
    text += s;
}

} // namespace

void capturelog() {
    static std::once_flag once;
    std::call_once(once, [] { ms_loginit(takeline, "", takeline, ""); });
}

std::string takelogged() {
    std::string text;
    std::swap(text, logged());
    return text;
}

namespace {

// A rate as messages show it: the shortest decimal that reads back as it.
std::string ratetext(double rate) {
    std::array<char, 32> text{};
    const auto end = std::to_chars(text.data(), text.data() + text.size(), rate).ptr;
    return "(" + std::string(text.data(), end) + " Hz)";
}

// The record being decoded, then zeros: libmseed's parsers follow blockette
// offsets (16 bits) and lengths (16 bits more) past the bytes they are given,
// so a record is decoded from here, and what they read beyond it is zeros,
// never another record's or another file's bytes.
class Scratch {
  public:
    explicit Scratch(const char* rec, int len) : len_(static_cast<std::size_t>(len)) {
        static const std::unique_ptr<char[]> zeros(new char[MAXRECLEN + kBeyond]()); // kept zero
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

std::string overlong(int len) {
    return "(" + std::to_string(len) + " bytes, more than a record has)";
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

Decoded decoderecord(const char* bytes, int len, MSRecord*& msr) {
    Decoded d;
    if (len > MAXRECLEN) { // not one of libmseed's
        d.number = kMsgMsLength;
        d.why = overlong(len);
        return d;
    }
    const Scratch copy(bytes, len);
    char* rec = copy.data();
    const auto failed = [&](int rc) {
        // libmseed's own words say why; its error code when it said nothing.
        d.why = takelogged();
        if (rc == MS_NOERROR && d.why.empty()) return false;
        d.number = kMsgMsDecode;
        d.why = "(" + (d.why.empty() ? std::string(ms_errorstr(rc)) : d.why) + ")";
        return true;
    };
    // libmseed reads as far as the record's own length says, not the length
    // given: a record is taken only at the length it states, when it does.
    if (const int stated = ms_detect(rec, len); stated > 0 && stated != len) {
        d.number = kMsgMsLength;
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
        d.number = kMsgMsCount;
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
    if (none != nullptr) return {Decoded::note, kMsgMsSkipped, none};
    float interval;
    const Rate rate = checkrate(msr->samprate, msr->samplecnt, interval);
    if (msr->numsamples != msr->samplecnt) {
        d.number = kMsgMsDecode;
        d.why = "(decoded " + std::to_string(msr->numsamples) + " of " +
                std::to_string(msr->samplecnt) + " samples)";
    } else if (rate != Rate::ok) {
        d.number = kMsgBatchRate;
        d.why = ratetext(msr->samprate) +
                (rate == Rate::overflows ? " " + std::string(kOverflowWhy) : "");
    } else if (static_cast<double>(msr->samplecnt - 1) / msr->samprate * HPTMODULUS >= 0x1p61) {
        // Its end a time no 64-bit microsecond count can be sure to hold.
        d.number = kMsgBatchRate;
        d.why = ratetext(msr->samprate) + " (its samples would span over 70,000 years)";
    } else if (d.rounded = tofloats(msr->datasamples, msr->numsamples, msr->sampletype);
               d.rounded < 0) {
        d.number = kMsgMsRange;
        d.why = "(float64)";
    } else {
        d.kind = Decoded::samples;
    }
    return d;
}

} // namespace kivf::msread
