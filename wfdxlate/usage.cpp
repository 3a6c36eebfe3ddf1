// SPDX-License-Identifier: Apache-2.0
// What batch mode says of itself: its help text and its closing summary.
#include "wfdxlate/batch.h"

#include <array>
#include <cstdio>

namespace kivf::wfdx {

namespace {

constexpr std::string_view kUsage =
    "Usage: wfdxlate [OPTION]... WFDISC...\n"
    "       wfdxlate            (no arguments: asks for one wfdisc file)\n"
    "Convert every record of each wfdisc file into a KIV file named\n"
    "STA.CHAN.YYYY.DDD.HH.MM.SS.mmm.kiv after its station, channel and start.\n"
    "\n"
    "  -o DIR             write the KIV files into DIR, made with its parents when\n"
    "                     missing (default: the working directory)\n"
    "  --schema LAYOUT    column layout of the wfdisc files: auto (the default,\n"
    "                     decided per file from its first line), css3.0 or css2.8\n"
    "  --root DIR         relative dir columns start at DIR, not at the wfdisc\n"
    "                     file's own directory\n"
    "  --dir-map FROM=TO  a dir column that is FROM or begins with FROM/ has FROM\n"
    "                     replaced by TO (repeatable; the first that matches)\n"
    "  --site FILE        the CSS site table (station positions); default: the\n"
    "                     wfdisc file's name with .site for its extension\n"
    "  --sitechan FILE    the CSS sitechan table (depth and orientation); default:\n"
    "                     the wfdisc file's name with .sitechan\n"
    "  --stations FILE    channel metadata in the station text format of data\n"
    "                     centres (Network|Station|Location|Channel|...)\n"
    "  --event LAT,LON,DEPTH_KM,TIME\n"
    "                     the event: its position and ISO 8601 UTC origin time;\n"
    "                     distance and azimuths are computed for each record\n"
    "  -n                 dry run: check every record and list what would be\n"
    "                     written, write nothing\n"
    "  -q                 quiet: show refused records only\n"
    "  -k, --no-clobber   keep every existing output: refuse its record instead\n"
    "  --help             show this help and stop\n"
    "  --version          show the version and stop\n"
    "  --                 what follows are file names, even if they begin with '-'\n"
    "\n"
    "Sample files are found from dir and dfile, relative to the wfdisc file's\n"
    "own directory (or --root), nsamp samples from byte foff; datatypes s4 i4 s2 i2 s3 i3\n"
    "t4 f4 t8 f8 and e1 (compressed blocks). A start time's microseconds after\n"
    "its millisecond go into B. KIVAUX is not needed (message texts are built\n"
    "in; when set, they come from its catalogue).\n"
    "Exit status: 0 every record converted, 1 bad usage, 2 some record or file\n"
    "not converted or a station table refused.\n";

} // namespace

void summary(const Tally& t, bool dry, xlate::Clock::time_point start) {
    std::array<char, 200> b{};
    std::snprintf(b.data(), b.size(),
                  "wfdxlate: %s%lld records %sconverted, %lld refused, %lld samples, %d wfdisc "
                  "files, %.3f s",
                  dry ? "dry run: " : "", static_cast<long long>(t.converted),
                  dry ? "would be " : "", static_cast<long long>(t.refused),
                  static_cast<long long>(t.samples), t.filesread,
                  std::chrono::duration<double>(xlate::Clock::now() - start).count());
    xlate::complain(b.data());
}

void help() {
    std::fwrite(kUsage.data(), 1, kUsage.size(), stdout);
}

} // namespace kivf::wfdx
