// SPDX-License-Identifier: Apache-2.0
// The station tables of a CSS 3.0 archive that lie beside its wfdisc table:
// site (where a station stands) and sitechan (how a channel is emplaced),
// and what they give a record's header.
#pragma once

#include "xlate/xlate.h"

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace kivf::wfdx {

// One row of either table: its station (and channel), its days (jdates,
// YYYYDDD; offdate -1 while open), what it gives and its line.
struct SiteRow {
    std::string sta, chan; // chan empty in the site table
    std::int32_t ondate = 0, offdate = -1;
    xlate::ChannelMeta meta;
    std::int64_t line = 0;
};

// One line of the site table (sta ondate offdate lat lon elev staname ...)
// or of the sitechan table (sta chan ondate chanid offdate ctype edepth hang
// vang descrip ...); false with why ("(...)") when malformed. A blank line
// is none: skip is set.
bool siteline(std::string_view line, SiteRow& row, bool& skip, std::string& why);
bool sitechanline(std::string_view line, SiteRow& row, bool& skip, std::string& why);

// One table, read whole: its file and its rows; refused (failed) when a line
// is malformed, its message printed.
struct SiteTable {
    std::string file;   // empty: no table
    bool chans = false; // a sitechan table
    std::vector<SiteRow> rows;
    bool failed = false;
    // Read file; false when it cannot be read or a line is malformed (the
    // message printed, the rows dropped).
    bool load();
};

// The tables a run uses: each one named by --site or --sitechan, else the
// one beside each wfdisc file (its name with .site or .sitechan for its
// extension), and the notes given (one per station or channel).
struct Sites {
    std::string site, sitechan; // --site, --sitechan
    SiteTable sitetab, chantab{.file = {}, .chans = true, .rows = {}, .failed = false};
    xlate::Notes notes;
    bool failed = false; // a table was refused: the run ends with status 2

    // The tables for a wfdisc file, read when they change.
    void open(std::string_view wfdisc);
    // Set in h and k what the tables give station sta, channel chan on day
    // jdate; a record without a match, or whose rows disagree, keeps those
    // fields and gets one note for its station or channel, naming at.
    void lookup(std::string_view sta, std::string_view chan, std::int32_t jdate,
                std::string_view at, CmHdr& h, KmHdr& k);
};

// --site FILE and --sitechan FILE, as an OwnOption takes them.
int siteoption(Sites& s, std::string_view arg, int argc, char** argv, int& a);

} // namespace kivf::wfdx
