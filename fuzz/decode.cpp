// SPDX-License-Identifier: Apache-2.0
// Record decoding: each line of the input is decoded in turn into one reused
// record, as the converter does. An independent reading of the line predicts
// the outcome (blank, which refusal, or the decoded values) and the target
// checks the record, the message buffer and guard bytes around the record.
#include "common.h"

#include "co/co.h"
#include "wfdxlate/dialogue.h"

#include <fstream>
#include <map>
#include <vector>

using namespace kivf;
using namespace kivf::fuzz;
using wfdx::Decoded;

namespace {

// The record between guard bytes: a write past it lands in a guard.
struct Guarded {
    std::array<unsigned char, 64> pre;
    wfdx::Record r;
    std::array<unsigned char, 64> post;
};
Guarded g;
constexpr unsigned char kGuard = 0xA5;

std::map<std::int32_t, std::string> catalogue; // first text of each number, read here

struct Token {
    std::size_t pos, len;
};

struct Expect {
    Decoded result = Decoded::ok;
    std::int32_t msg = 0;
};

// The outcome an independent reading of the line predicts.
Expect predict(std::string_view in, std::string_view line, const std::vector<Token>& toks) {
    if (in.find_first_not_of(' ') == std::string_view::npos) return {Decoded::blank, 0};
    if (in.find('\0') != std::string_view::npos) return {Decoded::refused, kMsgDlgNul};
    if (toks.size() < 16) return {Decoded::refused, kMsgDlgFewTokens};
    auto tok = [&](std::size_t j) { return in.substr(toks[j - 1].pos, toks[j - 1].len); };
    // Token 1: digits only, year and day by position, the day 1 to 366.
    const std::string t1 = padded(tok(1), 7);
    const auto day = integer(std::string_view(t1).substr(4, 3), true);
    if (tok(1).find_first_not_of("0123456789") != std::string_view::npos ||
        !integer(std::string_view(t1).substr(0, 4), true) || !day || *day < 1 || *day > 366)
        return {Decoded::refused, kMsgDlgNotNumber};
    const auto start = freeform(tok(2));
    if (!start || std::isinf(std::strtod(start->c_str(), nullptr)))
        return {Decoded::refused, kMsgDlgNotNumber};
    if (!(std::fabs(std::strtod(start->c_str(), nullptr)) < 9007199254.0))
        return {Decoded::refused, kMsgDlgTime};
    const auto npts = integer(tok(5), false);
    if (!npts) return {Decoded::refused, kMsgDlgNotNumber};
    if (*npts < 0 || *npts > wfdx::kMaxPts) return {Decoded::refused, kMsgDlgCount};
    const auto rate = freeform(tok(6));
    if (!rate || std::isinf(std::strtof(rate->c_str(), nullptr)))
        return {Decoded::refused, kMsgDlgNotNumber};
    if (toks[15].pos + toks[15].len == wfdx::kLineLen && line.size() > wfdx::kLineLen &&
        line[wfdx::kLineLen] != ' ')
        return {Decoded::refused, kMsgDlgCutPath};
    if (toks[15].len > wfdx::kTokenLen) return {Decoded::refused, kMsgDlgLongPath};
    return {Decoded::ok, 0};
}

void one(std::string_view line, std::int32_t lineno) {
    wfdx::Record& r = g.r;
    // The record as the decoding sees it: 210 characters, blank-padded.
    const std::string in = padded(line, wfdx::kLineLen);
    std::vector<Token> toks;
    for (std::size_t i = 0; i < in.size();) {
        while (i < in.size() && in[i] == ' ') ++i;
        const std::size_t b = i;
        while (i < in.size() && in[i] != ' ') ++i;
        if (i > b) toks.push_back({b, i - b});
    }
    const Expect want = predict(in, line, toks);
    const auto before = r.var;
    clrmsg();

    const Decoded got = wfdx::decode(r, line, lineno);

    for (unsigned char c : g.pre) FUZZ_CHECK(c == kGuard);
    for (unsigned char c : g.post) FUZZ_CHECK(c == kGuard);
    FUZZ_CHECK(got == want.result);
    FUZZ_CHECK(std::string_view(r.inline_) == in);

    // Slots of this record hold its tokens, cut or padded; later slots are
    // untouched (blank and NUL records stop before the slots).
    const std::size_t filled = want.result == Decoded::blank || want.msg == kMsgDlgNul
                                   ? 0
                                   : std::min<std::size_t>(toks.size(), 30);
    for (std::size_t k = 0; k < wfdx::kTokens; ++k) {
        if (k < filled) {
            FUZZ_CHECK(std::string_view(r.var[k]) ==
                       padded(std::string_view(in).substr(toks[k].pos, toks[k].len), 30));
        } else {
            FUZZ_CHECK(r.var[k] == before[k]);
        }
    }
    if (filled > 0) FUZZ_CHECK(r.ntok == static_cast<std::int32_t>(filled));

    if (got == Decoded::refused) {
        FUZZ_CHECK(cmmsg.msgnum == want.msg);
        FUZZ_CHECK(cmmsg.msgnum >= kMsgDlgFewTokens && cmmsg.msgnum <= kMsgDlgCutPath);
        FUZZ_CHECK(cmmsg.msgtype == 1);
        const std::string& text = catalogue.at(want.msg);
        const std::string_view l1 = kmmsg.msgline[0].used();
        FUZZ_CHECK(l1.substr(0, text.size()) == text);
    } else {
        FUZZ_CHECK(cmmsg.msgnum == 0); // nothing was reported
    }
    if (got != Decoded::ok) return;

    auto tok = [&](std::size_t j) {
        return std::string_view(in).substr(toks[j - 1].pos, toks[j - 1].len);
    };
    FUZZ_CHECK(r.ntok >= 16 && r.ntok <= 30);
    FUZZ_CHECK(r.npts >= 0 && r.npts <= wfdx::kMaxPts);
    FUZZ_CHECK(r.npts == *integer(tok(5), false));
    FUZZ_CHECK(r.startsec >= 0 && r.startsec <= 86399);
    FUZZ_CHECK(r.startms >= 0 && r.startms <= 999);
    const double start = std::strtod(freeform(tok(2))->c_str(), nullptr);
    FUZZ_CHECK(r.start == start);
    // Milliseconds of the day agree with the start time (truncated, within
    // rounding to the microsecond).
    double day = std::fmod(start, 86400.0);
    if (day < 0) day += 86400.0;
    double diff = (r.startsec * 1000.0 + r.startms) - day * 1000.0;
    if (diff > 43200000.0) diff -= 86400000.0;
    if (diff < -43200000.0) diff += 86400000.0;
    FUZZ_CHECK(diff > -1.01 && diff < 0.01);
    FUZZ_CHECK(r.rate == std::strtof(freeform(tok(6))->c_str(), nullptr));
    const std::string t1 = padded(tok(1), 7);
    FUZZ_CHECK(r.nzyear == *integer(std::string_view(t1).substr(0, 4), true));
    FUZZ_CHECK(r.nzjday == *integer(std::string_view(t1).substr(4, 3), true));
    FUZZ_CHECK(std::string_view(r.kstnm) == padded(tok(3), 8));
    FUZZ_CHECK(std::string_view(r.kcmpnm) == padded(tok(4), 8));
    FUZZ_CHECK(std::string_view(r.infile) == padded(tok(16), 30));
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    // The catalogue of the repository, through the library's start-up, so
    // refusals carry their texts; read here too, to know what to expect.
    setenv("KIVAUX", KIVF_SOURCE_DIR "/kivaux", 1);
    inimsg();
    sendmsg(kStdout, false, {}); // nothing is printed while fuzzing
    std::ifstream f(KIVF_SOURCE_DIR "/kivaux/messages");
    for (std::string l; std::getline(f, l);) {
        l.resize(std::max<std::size_t>(l.size(), 5), ' ');
        const auto n = integer(std::string_view(l).substr(0, 4), true);
        if (n && !catalogue.count(*n))
            catalogue[*n] = std::string(l.substr(5, usedlen(l.substr(5))));
    }
    for (std::int32_t m = kMsgDlgFewTokens; m <= kMsgDlgNotWritten; ++m)
        if (!catalogue.count(m) || cmmsg.ncatmsg == 0) std::abort(); // catalogue not found
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    g.pre.fill(kGuard);
    g.post.fill(kGuard);
    g.r = wfdx::Record{}; // as at program start; then reused line after line
    const std::string_view all(reinterpret_cast<const char*>(data), size);
    std::int32_t lineno = 1;
    for (std::size_t b = 0; b <= all.size() && lineno <= 16; ++lineno) {
        std::size_t e = all.find('\n', b);
        if (e == std::string_view::npos) e = all.size();
        one(all.substr(b, e - b), lineno);
        b = e + 1;
    }
    return 0;
}
