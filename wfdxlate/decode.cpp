// SPDX-License-Identifier: Apache-2.0
#include "wfdxlate/dialogue.h"
#include "wfdxlate/wfdisc.h"

#include "co/co.h"
#include "msg/msg.h"

namespace kivf::wfdx {

namespace {

// A token whole, as the record holds it: numbers are read from all their
// digits, and messages show what was written.
std::string_view token(const Record& r, std::size_t j) {
    return r.inline_.view().substr(r.varpos[j - 1], r.varlen[j - 1]);
}

void notnumber(std::int32_t lineno, std::size_t j, std::string_view tok) {
    setmsg("ERROR", kMsgDlgNotNumber);
    apimsg(lineno);
    apcmsg("token");
    apimsg(static_cast<std::int32_t>(j));
    apcmsg(tok);
}

} // namespace

Decoded decode(Record& r, std::string_view line, std::int32_t lineno) {
    r.inline_.set(line);
    const std::string_view in = r.inline_.view();
    const auto n = static_cast<std::size_t>(indexa(in, ' ', false, false));
    if (n == 0) return Decoded::blank;
    // A NUL would end a name early and open another file than the record says.
    if (in.substr(0, n).find('\0') != std::string_view::npos) {
        setmsg("ERROR", kMsgDlgNul);
        apimsg(lineno);
        return Decoded::refused;
    }

    // Tokens: runs of non-blanks. Only the first 30 are kept.
    std::array<std::string_view, kTokens> tokens;
    r.ntok = static_cast<std::int32_t>(split(in.substr(0, n), " ", tokens));
    for (std::size_t k = 0; k < static_cast<std::size_t>(r.ntok); ++k) {
        r.var[k].set(tokens[k]);
        r.varpos[k] = static_cast<std::size_t>(tokens[k].data() - in.data());
        r.varlen[k] = tokens[k].size();
    }
    if (r.ntok < 16) {
        setmsg("ERROR", kMsgDlgFewTokens);
        apimsg(lineno);
        apcmsg("has");
        apimsg(r.ntok);
        return Decoded::refused;
    }

    // Year and day of year by position within token 1, which holds digits only.
    const std::string_view t1 = r.var[0].view();
    if (token(r, 1).find_first_not_of("0123456789") != std::string_view::npos ||
        !rdint(t1.substr(0, 4), r.nzyear) || !rdint(t1.substr(4, 3), r.nzjday) || r.nzjday < 1 ||
        r.nzjday > 366) {
        notnumber(lineno, 1, token(r, 1));
        return Decoded::refused;
    }
    if (!rdfree(token(r, 2), r.start)) {
        notnumber(lineno, 2, token(r, 2));
        return Decoded::refused;
    }
    if (!dayseconds(r.start, r.startsec, r.startms)) {
        setmsg("ERROR", kMsgDlgTime);
        apimsg(lineno);
        apcmsg(token(r, 2));
        return Decoded::refused;
    }
    r.kstnm.set(token(r, 3));
    r.kcmpnm.set(token(r, 4));
    if (!rdfree(token(r, 5), r.npts)) {
        notnumber(lineno, 5, token(r, 5));
        return Decoded::refused;
    }
    if (r.npts < 0 || r.npts > kMaxPts) {
        setmsg("ERROR", kMsgDlgCount);
        apimsg(lineno);
        apimsg(r.npts);
        return Decoded::refused;
    }
    if (!rdfree(token(r, 6), r.rate)) {
        notnumber(lineno, 6, token(r, 6));
        return Decoded::refused;
    }
    // A path that runs on past the last column that counts is another path.
    if (r.varpos[15] + r.varlen[15] == kLineLen && line.size() > kLineLen &&
        line[kLineLen] != ' ') {
        setmsg("ERROR", kMsgDlgCutPath);
        apimsg(lineno);
        return Decoded::refused;
    }
    if (r.varlen[15] > kTokenLen) { // never read a cut path
        setmsg("ERROR", kMsgDlgLongPath);
        apimsg(lineno);
        apcmsg(token(r, 16));
        return Decoded::refused;
    }
    r.infile = r.var[15];
    return Decoded::ok;
}

} // namespace kivf::wfdx
