// SPDX-License-Identifier: Apache-2.0
// The installed library, KIVAUX unset: a message, KIV files written and read back (arrays and
// traces), the nominal rate and a sample's time, a refusal.
#include "dff/dff.h"
#include "msg/msg.h"
#include <cstring>
#include <string>
#include <vector>

using namespace kivf;

int main() {
    setmsg("OUTPUT", 5);
    apcmsg("answer 42");
    wrtmsg(6);
    const std::vector<float> y = {1.5F, -0.0F, 3e-39F, 7.25F, -1e30F}, x = {0, 1, 2, 4, 8};
    std::vector<float> y2(5), x2(5); // x2 stays 0 while the even file is read
    std::int32_t nerr = 0, number = 0;
    bool swapped = true;
    for (const char* name : {"even.kiv", "uneven.kiv"}) {
        const bool even = name[0] == 'e';
        newhdr();
        setnhv("NPTS", 5, nerr);
        setkhv("KSTNM", "ANMO", nerr);
        setfhv("DELTA", 0.25F, nerr);
        cmhdr.l(lslot::LEVEN) = even;
        wkiv0(name, x, y, nerr);
        const CmHdr wrote = cmhdr;
        newhdr();
        rkiv(name, y2, std::span(x2).first(even ? 0 : 5), swapped, nerr);
        if (nerr != 0 || swapped || std::memcmp(&cmhdr, &wrote, 4 * kHdrNumWords) ||
            std::memcmp(y2.data(), y.data(), 20) || x2 != (even ? std::vector<float>(5) : x))
            return 1;
    }
    // The same through traces, as the README shows them.
    Trace t, back;
    if (readtrace("uneven.kiv", t) != 0 || t.x != x) return 4;
    for (float& v : t.y) v *= 2;
    t.khdr.k(kslot::KSTNM).set("ANMO2");
    if (writetrace("twice.kiv", t) != 0 || readtrace("twice.kiv", back) != 0 || back.y != t.y ||
        back.x != x || back.khdr.k(kslot::KSTNM).used() != "ANMO2")
        return 5;
    // Times as the README shows them: a day of samples at 100 Hz is 86,400 s exactly.
    Nominal n;
    std::int64_t off = 0;
    if (!nominal(0.01F, n) || n.hz() != 100 || !sampleoffset(n, 8'640'000, off) ||
        off != 86'400'000'000 || splitmicros(off).jday != 2)
        return 6;
    msgprint(false);
    setnhv("NOFIELD", 1, nerr); // else printed at once
    rkiv("even.kiv", std::span(y2).first(4), {}, swapped, nerr);
    std::string text(200, ' ');
    lastmsg(number, text);
    const std::string_view want = "ERROR 1417: An array is shorter than the KIV file's sample "
                                  "count NPTS: even.kiv (NPTS = 5, yarray holds 4)";
    return nerr == 1417 && number == 1417 && text.starts_with(want) ? 0 : 3;
}
