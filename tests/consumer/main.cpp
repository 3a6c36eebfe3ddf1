// Uses the installed headers and library as a program of our users would,
// with KIVAUX unset: composes a message and prints it, writes KIV files and
// reads them back, and takes a refusal's message without anything printed.
#include "bot/bot.h"
#include "dff/dff.h"
#include "msg/msg.h"

#include <cstdio>
#include <cstring>
#include <string_view>
#include <vector>

using namespace kivf;

namespace {

// Writes one file (uneven: with x values) and reads it back; true when every
// sample bit and the header words written come back.
bool roundtrip(const char* name, bool even) {
    std::vector<float> y = {1.5F, -0.0F, 3e-39F, 7.25F, -1e30F}, x = {0, 1, 2, 4, 8};
    std::int32_t nerr = 0;
    newhdr();
    setnhv("NPTS", 5, nerr);
    setfhv("DELTA", 0.25F, nerr);
    setkhv("KSTNM", "ANMO", nerr);
    cmhdr.l(lslot::LEVEN) = even ? 1 : 0;
    wkiv0(name, x, y, nerr);
    const CmHdr wrote = cmhdr;
    newhdr();
    std::vector<float> y2(5), x2(even ? 0 : 5);
    bool swapped = true;
    rkiv(name, y2, x2, swapped, nerr);
    return nerr == 0 && !swapped && std::memcmp(&cmhdr, &wrote, 4 * kHdrNumWords) == 0 &&
           std::memcmp(y2.data(), y.data(), 20) == 0 &&
           (even || std::memcmp(x2.data(), x.data(), 20) == 0) &&
           kmhdr.k(kslot::KSTNM).view() == "ANMO    ";
}

} // namespace

int main() {
    kivf::Text<8> t;
    kivf::cnvita(42, t);
    kivf::ljust(t);
    kivf::setmsg("OUTPUT", 5);
    kivf::apcmsg("answer");
    kivf::apcmsg(t);
    kivf::wrtmsg(6);
    if (t.used() != "42") return 1;

    if (!roundtrip("even.kiv", true) || !roundtrip("uneven.kiv", false)) return 2;

    msgprint(false);
    std::int32_t nerr = 0;
    setnhv("NOFIELD", 1, nerr); // would be printed at once
    std::vector<float> y(1), x;
    bool swapped = false;
    rkiv("even.kiv", y, x, swapped, nerr); // 5 samples do not fit
    std::int32_t number = 0;
    std::vector<char> text(200);
    lastmsg(number, text);
    const std::string_view want =
        "ERROR 1417: An array is shorter than the KIV file's sample count NPTS: even.kiv "
        "(NPTS = 5, yarray holds 1)";
    if (nerr != 1417 || number != 1417 || std::string_view(text.data(), want.size()) != want)
        return 3;
    msgprint(true);
    std::puts("read back");
    return 0;
}
