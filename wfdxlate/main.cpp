// wfdxlate: asks for a wfdisc file and turns each of its records into a KIV
// file named after the record's sample file.
//
// Exit status: 0 every record converted; 1 the run could not start; 2 the
// run finished but at least one record was not converted.
#include "wfdxlate/wfdx.h"

#include "co/co.h"
#include "dff/dff.h"
#include "msg/msg.h"

#include <cstdio>
#include <cstdlib>

using namespace kivf;
using namespace kivf::wfdx;

namespace {

constexpr std::int32_t kWfdisc = 9;

Record rec; // working storage of the whole run

// The header reset starts the message system (and loads its catalogue) on its
// first call; done before the first message of a record so that every
// message carries its text. The converter needs its auxiliary directory:
// without KIVAUX it stops here, whatever the library would fall back on.
void startup() {
    static bool started = false;
    if (!started && std::getenv("KIVAUX") == nullptr) {
        uflushall(); // what was written before keeps its place ahead of the stop
        std::fputs("ERROR: Environmental variable KIVAUX not defined.\n", stderr);
        std::exit(1);
    }
    if (!started) newhdr();
    started = true;
}

int stop(std::int32_t number, std::string_view particular, int status) {
    startup();
    setmsg("ERROR", number);
    if (!particular.empty()) apcmsg(particular);
    report();
    uflushall();
    return status;
}

} // namespace

int main() {
    uwrite(kStdout, "Enter wfdisc filename: ", false);
    Text<256> answer;
    if (uread(kStdin, answer) != ReadStatus::ok) {
        uwrite(kStdout, "");
        return stop(kMsgNoName, {}, 1);
    }
    const std::string_view name = answer.used();
    const std::string_view tail = answer.view().substr(name.size());
    if (name.size() > kNameLen ||
        tail.find_first_not_of(std::string_view(" \0", 2)) != std::string_view::npos) {
        return stop(kMsgLongName, name, 1);
    }
    Text<kNameLen> datfile;
    datfile.set(name);

    uclose(kWfdisc);
    if (uopen(kWfdisc, datfile, "old") != 0) {
        uwrite(kStdout, "Error opening wfdisc file..");
        uclose(kWfdisc);
        uflushall();
        return 1;
    }

    bool failed = false;
    Text<kLineLen> line;
    for (std::int32_t lineno = 1;; ++lineno) {
        const ReadStatus rs = uread(kWfdisc, line);
        if (rs == ReadStatus::eof) break;
        if (rs == ReadStatus::fail) {
            uclose(kWfdisc);
            return stop(kMsgReadFail, {}, 2);
        }
        if (indexa(line, ' ', false, false) == 0) {
            uwrite(kStdout, " Error reading file information");
            uflushall();
            return failed ? 2 : 0;
        }
        startup();
        const Decoded d = decode(rec, line, lineno);
        if (d == Decoded::refused) {
            report();
            failed = true;
            continue;
        }
        if (!convert(rec, lineno)) failed = true;
    }
    uclose(kWfdisc);
    uflushall();
    return failed ? 2 : 0;
}
