// SPDX-License-Identifier: Apache-2.0
// The installed library, KIVAUX unset: a message, a KIV file written and read back, a refusal
// with its built-in text.
#include "dff/dff.h"
#include "msg/msg.h"
#include <string>
#include <vector>

using namespace kivf;

int main() {
    setmsg("OUTPUT", 5);
    apcmsg("answer 42");
    wrtmsg(6);
    const std::vector<float> y = {1.5F, -2.0F, 3e-39F, 7.25F, -1e30F};
    std::vector<float> back(5);
    std::int32_t nerr = 0, number = 0;
    bool swapped = true;
    newhdr();
    setnhv("NPTS", 5, nerr);
    setkhv("KSTNM", "ANMO", nerr);
    setfhv("DELTA", 0.25F, nerr);
    wkiv0("even.kiv", {}, y, nerr);
    rkiv("even.kiv", back, {}, swapped, nerr);
    if (nerr != 0 || swapped || back != y) return 1;
    msgprint(false);
    rkiv("even.kiv", std::span(back).first(4), {}, swapped, nerr);
    std::string text(200, ' ');
    lastmsg(number, text);
    const std::string_view want = "ERROR 1417: An array is shorter than the KIV file's sample "
                                  "count NPTS: even.kiv (NPTS = 5, yarray holds 4)";
    return nerr == 1417 && number == 1417 && text.starts_with(want) ? 0 : 3;
}
