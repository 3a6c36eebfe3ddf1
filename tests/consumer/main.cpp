// Uses the installed headers and library: composes a message and prints it.
// KIVAUX unset: writes and reads back KIV files, takes a refusal silently.
#include "bot/bot.h"
#include "dff/dff.h"
#include "msg/msg.h"
#include <cstring>
#include <vector>

using namespace kivf;

// One file written (uneven: with x values) and read back.
static bool roundtrip(const char* name, bool even) {
    std::vector<float> y = {1.5F, -0.0F, 3e-39F, 7.25F, -1e30F}, x = {0, 1, 2, 4, 8}, y2(5), x2(5);
    std::int32_t nerr = 0;
    newhdr();
    setnhv("NPTS", 5, nerr);
    setkhv("KSTNM", "ANMO", nerr);
    setfhv("DELTA", 0.25F, nerr);
    cmhdr.l(lslot::LEVEN) = even;
    wkiv0(name, x, y, nerr);
    const CmHdr wrote = cmhdr;
    newhdr();
    bool swapped = true;
    rkiv(name, y2, std::span(x2).first(even ? 0 : 5), swapped, nerr);
    return nerr == 0 && !swapped && !std::memcmp(&cmhdr, &wrote, 4 * kHdrNumWords) &&
           !std::memcmp(y2.data(), y.data(), 20) &&
           (even || !std::memcmp(x2.data(), x.data(), 20)) &&
           kmhdr.k(kslot::KSTNM).view() == "ANMO    ";
}

int main() {
    kivf::Text<8> t;
    kivf::cnvita(42, t);
    kivf::ljust(t);
    kivf::setmsg("OUTPUT", 5);
    kivf::apcmsg("answer");
    kivf::apcmsg(t);
    kivf::wrtmsg(6);
    if (t.used() != "42" || !roundtrip("even.kiv", true) || !roundtrip("uneven.kiv", false))
        return 1;
    msgprint(false);
    std::int32_t nerr = 0, number = 0;
    setnhv("NOFIELD", 1, nerr); // else printed at once
    std::vector<float> y(4);
    bool swapped = false;
    rkiv("even.kiv", y, {}, swapped, nerr);
    std::vector<char> text(200);
    lastmsg(number, text);
    const std::string_view want = "ERROR 1417: An array is shorter than the KIV file's sample "
                                  "count NPTS: even.kiv (NPTS = 5, yarray holds 4)";
    return nerr == 1417 && number == 1417 && std::string_view(text.data(), want.size()) == want ? 0
                                                                                                : 3;
}
