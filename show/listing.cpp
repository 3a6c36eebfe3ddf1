// SPDX-License-Identifier: Apache-2.0
// How each list member is shown: numbers exactly, texts trimmed, enumerated
// values by name and description, auxiliary names as values derived from the
// fields (dates and times in dates.cpp).
#include "show/show.h"

#include "bot/bot.h"
#include "co/co.h"
#include "msg/msg.h"

#include <algorithm>
#include <charconv>

namespace kivf::show {

namespace {

// Auxiliary names by position in the catalogue.
enum : std::int32_t {
    KZDATE = 1,
    KZTIME,
    KSTCMP,
    FILENAME,
    AMARKER,
    OMARKER,
    FMARKER,
    T0MARKER = 10,
    T9MARKER = 19,
};

bool undefined(std::string_view text8) {
    return text8 == kUndfTxt;
}

// Control characters become '?', so that a damaged text or an odd file name
// cannot upset the terminal or break a line of the listing.
std::string printable(std::string_view t) {
    std::string s(t);
    maskcontrols(s);
    return s;
}

// Trimmed at both ends.
std::string showtext(std::string_view t) {
    t = used(t);
    while (!t.empty() && t.front() == ' ') t.remove_prefix(1);
    return printable(t);
}

std::string shownum(std::int32_t v) {
    std::array<char, 16> buf{};
    const auto r = std::to_chars(buf.data(), buf.data() + buf.size(), v);
    return {buf.data(), r.ptr};
}

// A time with its label, when the time is set.
bool marker(const CmHdr& h, const KmHdr& k, std::int32_t fs, std::int32_t ks, std::string& out) {
    if (h.f(fs) == kUndfFlt) return false;
    out = showfloat(h.f(fs));
    const std::string_view label = k.k(ks);
    if (!undefined(label) && !showtext(label).empty()) out += " (" + showtext(label) + ")";
    return true;
}

bool auxvalue(std::int32_t aux, const CmHdr& h, const KmHdr& k, std::string_view file,
              std::string& out) {
    switch (aux) {
    case KZDATE:
        if (h.n(nslot::NZYEAR) == kUndfInt || h.n(nslot::NZJDAY) == kUndfInt) return false;
        out = showdate(h.n(nslot::NZYEAR), h.n(nslot::NZJDAY));
        return true;
    case KZTIME:
        for (std::int32_t s = nslot::NZHOUR; s <= nslot::NZMSEC; ++s)
            if (h.n(s) == kUndfInt) return false;
        out =
            showtime(h.n(nslot::NZHOUR), h.n(nslot::NZMIN), h.n(nslot::NZSEC), h.n(nslot::NZMSEC));
        return true;
    case KSTCMP: {
        const std::string_view sta = k.k(kslot::KSTNM), cmp = k.k(kslot::KCMPNM);
        if (undefined(sta) && undefined(cmp)) return false;
        // One of them undefined is shown as any undefined field is, never as its marker text.
        out = (undefined(sta) ? "undefined" : showtext(sta)) + " " +
              (undefined(cmp) ? "undefined" : showtext(cmp));
        return true;
    }
    case FILENAME:
        out = printable(file);
        return true;
    case AMARKER:
        return marker(h, k, fslot::A, kslot::KA, out);
    case OMARKER:
        return marker(h, k, fslot::O, kslot::KO, out);
    case FMARKER:
        return marker(h, k, fslot::F, kslot::KF, out);
    default:
        if (aux >= T0MARKER && aux <= T9MARKER)
            return marker(h, k, fslot::T0 + aux - T0MARKER, kslot::KT0 + aux - T0MARKER, out);
        return false; // positions without a value of their own
    }
}

} // namespace

bool exactname(std::string_view file, Failure& failed) {
    if (file.empty() || zexact(file)) return true;
    std::string shown(file); // a NUL would end the message line
    std::replace(shown.begin(), shown.end(), '\0', '?');
    Draft why(kMsgKivOpen);
    why << shown << "(The name " + std::string(zinexact(file)) + ".)";
    failed = why.failure();
    return false;
}

std::string showfloat(float v) {
    std::array<char, 32> buf{};
    const auto r = std::to_chars(buf.data(), buf.data() + buf.size(), v);
    return {buf.data(), r.ptr};
}

std::string showenum(std::int32_t v) {
    if (v < 1 || v > kNumEnum) return shownum(v) + "  (not an enumerated value)";
    const auto n = static_cast<std::size_t>(v - 1);
    std::string name(kmlhf.kienm[n].used());
    name.resize(6, ' '); // the longest enumeration name: descriptions line up
    return name + "  " + showtext(kmlhf.kdienm[n]);
}

std::string showname(std::string_view file) {
    return printable(file);
}

std::int32_t findlist(std::string_view name) {
    if (name.empty() || name.size() > 8) return 0;
    Text<8> key;
    blank(key);
    modcase(true, name, static_cast<std::int32_t>(name.size()), key);
    return nequal(key, kmlhf.klistnm, cmlhf.nlists);
}

bool value(std::string_view name, const CmHdr& h, const KmHdr& k, std::string_view file,
           std::string& out) {
    out.clear();
    std::int64_t us;
    if (name == kTimeNames[0]) return starttime(h, us) && showmicros(us, out);
    if (name == kTimeNames[1]) return endtime(h, us) && showmicros(us, out);
    Text<8> key;
    key.set(name);
    if (const std::int32_t s = nequal(key, kmlhf.kahdr)) return auxvalue(s, h, k, file, out);
    if (const std::int32_t s = nequal(key, kmlhf.kfhdr)) {
        if (h.f(s) == kUndfFlt) return false;
        out = showfloat(h.f(s));
    } else if (const std::int32_t s = nequal(key, kmlhf.knhdr)) {
        if (h.n(s) == kUndfInt) return false;
        out = shownum(h.n(s));
    } else if (const std::int32_t s = nequal(key, kmlhf.kihdr)) {
        if (h.i(s) == kUndfEnm) return false;
        out = showenum(h.i(s));
    } else if (const std::int32_t s = nequal(key, kmlhf.klhdr)) {
        out = h.l(s) != 0 ? "true" : "false"; // logicals are never undefined
    } else if (const std::int32_t s = nequal(key, kmlhf.kkhdr)) {
        const std::string_view first = k.k(s);
        if (s != kslot::KEVNM) {
            if (undefined(first)) return false;
            out = showtext(first);
        } else {
            // The event name is 16 characters: its second half is the next slot.
            const std::string_view second = k.k(kslot::KEVNMC);
            if (undefined(first) && (undefined(second) || used(second).empty())) return false;
            std::string both(first);
            both += second;
            out = showtext(both);
        }
    } else {
        return false;
    }
    return true;
}

void listing(std::int32_t list, const CmHdr& h, const KmHdr& k, std::string_view file, bool all,
             std::string& out) {
    auto line = [&out](std::string_view name, std::string_view val) {
        std::string n(name);
        n.resize(kNameWidth, ' ');
        out += n + "  ";
        out += val;
        out += '\n';
    };
    line("FILENAME", printable(file));
    // Station and component name every block, whatever the list: no list of
    // the catalogue holds the component.
    std::string val;
    if (auxvalue(KSTCMP, h, k, file, val)) line("KSTCMP", val);
    if (list < 1 || list > kNumLists) return;
    const auto l = static_cast<std::size_t>(list - 1);
    const std::int32_t first = kListStart[l];
    const std::int32_t count = std::min(cmlhf.nlistmem[l], kListSlots - first + 1);
    for (std::int32_t m = 0; m < count; ++m) {
        const std::string_view name = kmlhf.klist[static_cast<std::size_t>(first + m - 1)].used();
        if (value(name, h, k, file, val)) {
            line(name, val);
        } else if (all) {
            line(name, "undefined");
        }
    }
}

} // namespace kivf::show
