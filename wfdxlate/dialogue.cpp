// SPDX-License-Identifier: Apache-2.0
// The dialogue: asks for a wfdisc file and turns each of its records into a
// KIV file named after the record's sample file.
#include "wfdxlate/dialogue.h"

#include "co/co.h"
#include "dff/dff.h"
#include "msg/msg.h"
#include "xlate/xlate.h"

#include <cstdio>
#include <cstdlib>

namespace kivf::wfdx {

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
        printline("ERROR: Environmental variable KIVAUX not defined.");
        std::exit(1);
    }
    if (!started) {
        // The catalogue's own failure goes to standard output, as a bare
        // number; this says in words what is wrong.
        const std::string missing = xlate::nocatalogue();
        newhdr();
        if (!missing.empty()) xlate::warnnocatalogue(missing, "messages show their numbers only");
    }
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

// Messages that could not be written make a run that would have ended well a
// failure, said on standard error.
int finish(int status) {
    uflushall();
    if (std::ferror(stdout) == 0) return status;
    startup();
    printline(Draft(kMsgDlgLost).failure().text);
    return status == 0 ? 2 : status;
}

} // namespace

int dialogue() {
    uwrite(kStdout, "Enter wfdisc filename: ", false);
    Text<256> answer;
    std::size_t length;
    if (uread(kStdin, answer, &length) != ReadStatus::ok) {
        uwrite(kStdout, "");
        return finish(stop(kMsgDlgNoName, {}, 1));
    }
    const std::string_view name = answer.used();
    const std::string_view tail = answer.view().substr(name.size());
    if (name.size() > kNameLen || length > answer.size() || // never cut to another name
        tail.find_first_not_of(std::string_view(" \0", 2)) != std::string_view::npos) {
        return finish(stop(kMsgDlgLongName, name, 1));
    }
    Text<kNameLen> datfile;
    datfile.set(name);

    uclose(kWfdisc);
    if (uopen(kWfdisc, datfile, "old", "SEQUENTIAL", "FORMATTED", 0, true) != 0) {
        uwrite(kStdout, "Error opening wfdisc file..");
        uclose(kWfdisc);
        return finish(1);
    }
    Path wfdisc{};
    if (zpath(datfile.used(), wfdisc)) guard(wfdisc.data());

    bool failed = false;
    Text<kLineLen + 1> line; // one more: does a path run on past the last column?
    for (std::int32_t lineno = 1;; ++lineno) {
        const ReadStatus rs = uread(kWfdisc, line);
        if (rs == ReadStatus::eof) break;
        if (rs == ReadStatus::fail) {
            uclose(kWfdisc);
            return finish(stop(kMsgDlgReadFail, {}, 2));
        }
        if (indexa(line.view().substr(0, kLineLen), ' ', false, false) == 0) {
            uwrite(kStdout, " Error reading file information");
            return finish(failed ? 2 : 0);
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
    return finish(failed ? 2 : 0);
}

} // namespace kivf::wfdx
