// SPDX-License-Identifier: Apache-2.0
// Message composing: random sequences of the composing, lookup, output and
// destination routines with random texts (NULs, blanks, very long texts),
// autoprint on and off. A small model of the message buffer written here
// predicts every line, count and column after each call, and every record
// that reaches a destination file; the catalogue and type names around the
// buffer must stay as they were.
#include "common.h"

#include "co/co.h"

#include <array>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <unistd.h>
#include <vector>

using namespace kivf;
using namespace kivf::fuzz;

namespace {

constexpr std::int32_t kFileUnit = 20;    // a real file, read back at the end
constexpr std::int32_t kNullUnit = 21;    // /dev/null
constexpr std::int32_t kScratchUnit = 22; // a nameless scratch file
constexpr std::int32_t kIdleUnit = 23;    // never connected
constexpr std::array<std::int32_t, 4> kUnits = {kFileUnit, kNullUnit, kScratchUnit, kIdleUnit};

std::string outfile;

// Catalogue loaded once: duplicates, a full-width text, a NUL inside a text,
// a blank one.
const std::vector<std::pair<std::int32_t, std::string>> kCatalogue = {
    {kMsgCatalogueLine, "Catalogue line could not be read"},
    {kMsgFileMissing, "File does not exist:"},
    {kMsgFileMissing, "second text of 108, never found"},
    {kMsgDlgFewTokens, std::string(160, 'L')},
    {5, "five"},
    {0, ""},
    {-3, std::string("ab\0cd", 5)},
    {kMsgNoSuchField, std::string(149, 'w')},
    {kMsgCatalogueFull, std::string(150, 'x')},
};

CmMsg cmsaved;
KmMsg kmsaved;

// -------------------------------------------------------------- model ----

struct Model {
    std::array<std::string, kMsgLines> lines;
    std::int32_t nmsgline = 1, msgtype = 0, msgnum = 0;
    std::int64_t msgcol = 0;
    bool autoprint = false;
    std::vector<std::pair<std::int32_t, std::array<bool, kMsgTypes>>> dests;
    std::map<std::int32_t, std::string> written; // per unit, what reached it

    Model() { clr(); }

    void clr() {
        msgnum = 0;
        msgtype = 0;
        for (auto& l : lines) l.assign(kMsgLineLen, ' ');
        nmsgline = 1;
        msgcol = 0;
    }
    void typ(std::string_view t) {
        msgtype = 3;
        if (t.empty()) return;
        char c = t[0];
        if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 32);
        const std::string_view first = "EWOCMP";
        const std::size_t k = first.find(c);
        if (c != '\0' && k != std::string_view::npos) msgtype = static_cast<std::int32_t>(k) + 1;
    }
    static std::string lookup(std::int32_t num) {
        for (const auto& [n, t] : kCatalogue)
            if (n == num) return t;
        return "Number" + field(num, 5);
    }
    std::string text(std::size_t i, std::size_t minlen) const {
        return lines[i].substr(0, std::max(usedlen(lines[i]), minlen));
    }
    void write(std::int32_t unit, const std::string& rec) {
        if (unit == kFileUnit) written[unit] += rec + "\n";
    }
    // A message line as printed: control characters show as '?'.
    static std::string shown(std::string t) {
        for (char& c : t)
            if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F) c = '?';
        return t;
    }
    void out() {
        if (msgtype < 1 || msgtype > kMsgTypes) return;
        const auto t = static_cast<std::size_t>(msgtype - 1);
        std::string first;
        switch (msgtype) {
        case 1:
            first = std::string(" \aERROR ") +
                    (msgnum >= 1000 ? field(msgnum, 4) : " " + field(msgnum, 3)) + ": ";
            break;
        case 2:
            first = " WARNING: ";
            break;
        case 6:
            first = " ==> ";
            break;
        default:
            first = " ";
            break;
        }
        first += shown(text(0, 1));
        for (const auto& [u, act] : dests)
            if (act[t]) write(u, first);
        for (std::int32_t i = 1; i < nmsgline; ++i)
            for (const auto& [u, act] : dests)
                if (act[t]) write(u, " " + shown(text(static_cast<std::size_t>(i), 1)));
    }
    void wrt(std::int32_t unit) {
        std::string first = msgtype == 1 ? "\aERROR: " : msgtype == 2 ? "WARNING: " : "";
        write(unit, first + shown(text(0, 0)));
        for (std::int32_t i = 1; i < nmsgline; ++i)
            write(unit, shown(text(static_cast<std::size_t>(i), 0)));
    }
    void flush() {
        out();
        const std::int32_t t = msgtype;
        clr();
        msgtype = t;
    }
    void apc(std::string_view s) {
        const auto n = static_cast<std::int64_t>(usedlen(s));
        const std::int64_t room = nmsgline == 1 ? kMsgFirstLineRoom : kMsgLineLen;
        if (msgcol + n + 1 > room) {
            if (nmsgline < kMsgLines) {
                ++nmsgline;
            } else if (autoprint) {
                flush();
            } else {
                lines[kMsgLines - 1].assign(kMsgLineLen, ' ');
            }
            msgcol = 0;
        }
        if (n > 0 && msgcol < kMsgLineLen) {
            const auto len =
                static_cast<std::size_t>(std::min<std::int64_t>(n, kMsgLineLen - msgcol));
            lines[static_cast<std::size_t>(nmsgline - 1)].replace(static_cast<std::size_t>(msgcol),
                                                                  len, s.substr(0, len));
        }
        msgcol += n + 1;
    }
    void set(std::string_view type, std::int32_t num) {
        clr();
        typ(type);
        if (num >= kFirstCatalogued) apc(padded(lookup(num), kMsgLineLen));
        msgnum = num;
    }
    void api(std::int32_t v) {
        const std::string f = field(v, 8);
        const std::size_t b = f.find_first_not_of(' ');
        apc(padded(b == std::string::npos ? "" : f.substr(b), 8));
    }
    void apl(std::string_view s) {
        if (nmsgline == kMsgLines && autoprint) {
            flush();
        } else if (nmsgline < kMsgLines) {
            ++nmsgline;
        }
        const std::size_t n = usedlen(s);
        lines[static_cast<std::size_t>(nmsgline - 1)] =
            padded(s.substr(0, std::max<std::size_t>(n, 1)), kMsgLineLen);
        msgcol = static_cast<std::int64_t>(n) + 1;
    }
    void send(std::int32_t unit, bool on, const std::array<bool, kMsgTypes>& act) {
        for (std::size_t d = 0; d < dests.size(); ++d) {
            if (dests[d].first != unit) continue;
            if (on) {
                dests[d].second = act;
            } else {
                dests.erase(dests.begin() + static_cast<std::ptrdiff_t>(d));
            }
            return;
        }
        if (on && dests.size() < kMsgDests) dests.push_back({unit, act});
    }
};

// The library's state agrees with the model, and nothing around the
// message lines moved.
void agree(const Model& m) {
    FUZZ_CHECK(cmmsg.nmsgline >= 1 && cmmsg.nmsgline <= kMsgLines);
    FUZZ_CHECK(cmmsg.msgtype >= 0 && cmmsg.msgtype <= kMsgTypes);
    FUZZ_CHECK(cmmsg.nmsgline == m.nmsgline);
    FUZZ_CHECK(cmmsg.msgtype == m.msgtype);
    FUZZ_CHECK(cmmsg.msgnum == m.msgnum);
    FUZZ_CHECK(cmmsg.msgcol == std::min<std::int64_t>(m.msgcol, 1 << 30));
    FUZZ_CHECK(cmmsg.autoprint == m.autoprint);
    for (std::size_t i = 0; i < kMsgLines; ++i) {
        FUZZ_CHECK(indexb(kmmsg.msgline[i]) <= kMsgLineLen);
        FUZZ_CHECK(std::string_view(kmmsg.msgline[i]) == m.lines[i]);
    }
    FUZZ_CHECK(cmmsg.ndest == static_cast<std::int32_t>(m.dests.size()));
    for (std::size_t d = 0; d < m.dests.size(); ++d) {
        FUZZ_CHECK(cmmsg.destunit[d] == m.dests[d].first);
        FUZZ_CHECK(cmmsg.destact[d] == m.dests[d].second);
    }
    FUZZ_CHECK(cmmsg.ncatmsg == cmsaved.ncatmsg);
    FUZZ_CHECK(cmmsg.catnum == cmsaved.catnum);
    FUZZ_CHECK(kmmsg.typname == kmsaved.typname);
    FUZZ_CHECK(kmmsg.cattext == kmsaved.cattext);
}

// A text of the input: mostly short and literal, sometimes long (up to
// 64 KiB) by repeating what the input gives.
std::string text(Input& in) {
    const std::uint8_t how = in.u8();
    std::size_t len = how & 0x3F;
    if (how & 0x40) len = in.u16();
    std::string s(in.bytes(len));
    if ((how & 0x80) && !s.empty()) {
        while (s.size() < len) s += s.substr(0, std::min(s.size(), len - s.size()));
    }
    return s;
}

std::int32_t number(Input& in) {
    // clang-format off
    static constexpr std::array<std::int32_t, 16> some = {
        0, 5, 99, kFirstCatalogued, kMsgFileMissing, kMsgCatalogueFull, 999, 1000, kMsgNoSuchField,
        kMsgDlgFewTokens, 99999, 100000, -3, -100, -2147483647 - 1, 2147483647};
    // clang-format on
    const std::uint8_t how = in.u8();
    return how & 1 ? in.i32() : some[(how >> 1) % some.size()];
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    freshmessages();
    for (std::size_t k = 0; k < kCatalogue.size(); ++k) {
        cmmsg.catnum[k] = kCatalogue[k].first;
        kmmsg.cattext[k].set(kCatalogue[k].second);
    }
    cmmsg.ncatmsg = static_cast<std::int32_t>(kCatalogue.size());
    cmsaved = cmmsg;
    kmsaved = kmmsg;
    std::string tmpl = (std::filesystem::temp_directory_path() / "kivf-fuzz-XXXXXX").string();
    const int fd = ::mkstemp(tmpl.data());
    if (fd < 0) std::abort();
    ::close(fd);
    outfile = tmpl;
    std::atexit([] { ::unlink(outfile.c_str()); });
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    Input in(data, size);
    // Fresh message state over the fixed catalogue, and fresh units.
    cmmsg = cmsaved;
    kmmsg = kmsaved;
    ::unlink(outfile.c_str());
    FUZZ_CHECK(uopen(kFileUnit, outfile, "NEW") == kUnitOk);
    FUZZ_CHECK(uopen(kNullUnit, "/dev/null", "OLD") == kUnitOk);
    FUZZ_CHECK(uopen(kScratchUnit, "", "SCRATCH") == kUnitOk);
    Model m;
    agree(m);

    for (int steps = 0; !in.empty() && steps < 200; ++steps) {
        const std::uint8_t op = in.u8();
        switch (op % 12) {
        case 0: {
            const std::string t = text(in);
            const std::int32_t n = number(in);
            setmsg(t, n);
            m.set(t, n);
            break;
        }
        case 1: {
            const std::string t = text(in);
            typmsg(t);
            m.typ(t);
            break;
        }
        case 2:
            clrmsg();
            m.clr();
            break;
        case 3: {
            const std::string t = text(in);
            apcmsg(t);
            m.apc(t);
            break;
        }
        case 4: {
            const std::int32_t n = number(in);
            apimsg(n);
            m.api(n);
            break;
        }
        case 5: {
            const std::string t = text(in);
            aplmsg(t);
            m.apl(t);
            break;
        }
        case 6: {
            const std::int32_t n = number(in);
            apcmsgnum(n);
            m.apc(padded(Model::lookup(n), kMsgLineLen));
            break;
        }
        case 7: {
            // Exactly the requested length on the heap: a write past it is
            // caught by the address sanitizer.
            const std::int32_t n = number(in);
            const std::size_t len = in.u8();
            std::vector<char> buf(len, '#');
            getmsg(n, std::span<char>(buf.data(), len));
            FUZZ_CHECK(std::string_view(buf.data(), len) == padded(Model::lookup(n), len));
            break;
        }
        case 8:
            outmsg();
            m.out();
            break;
        case 9: {
            const std::int32_t u = kUnits[in.u8() % kUnits.size()];
            wrtmsg(u);
            m.wrt(u);
            break;
        }
        case 10:
            cmmsg.autoprint = !cmmsg.autoprint; // as a caller that owns the state would
            m.autoprint = !m.autoprint;
            break;
        default: {
            const std::int32_t u = kUnits[in.u8() % kUnits.size()];
            const std::uint8_t f = in.u8();
            std::array<bool, kMsgTypes> act{};
            for (std::size_t t = 0; t < kMsgTypes; ++t) act[t] = (f >> t) & 1;
            const bool on = (f & 0x80) == 0;
            sendmsg(u, on, act);
            m.send(u, on, act);
            break;
        }
        }
        agree(m);
    }

    for (std::int32_t u : kUnits) uclose(u);
    std::ifstream f(outfile, std::ios::binary);
    const std::string got{std::istreambuf_iterator<char>(f), std::istreambuf_iterator<char>()};
    FUZZ_CHECK(got == m.written[kFileUnit]);
    return 0;
}
