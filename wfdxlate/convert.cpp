// SPDX-License-Identifier: Apache-2.0
// The dialogue's conversion of a decoded record.
#include "wfdxlate/dialogue.h"

#include "xlate/xlate.h"

#include "co/co.h"
#include "dff/dff.h"
#include "msg/msg.h"

#include <span>
#include <sys/stat.h>

namespace kivf::wfdx {

namespace {

// Sample storage: fixed, reused for every record.
std::array<std::int32_t, kMaxPts> iray;
std::array<float, kMaxPts> yray;
std::array<float, 1> xray; // never read: the samples are evenly spaced

// Device and inode of the wfdisc file, once known.
bool guarded = false;
struct stat wfdiscid {};

// Whether a name is the wfdisc file itself (or a link to it).
bool iswfdisc(std::string_view name) {
    Path path{};
    struct stat st {};
    return guarded && zpath(name, path) && ::stat(path.data(), &st) == 0 &&
           st.st_dev == wfdiscid.st_dev && st.st_ino == wfdiscid.st_ino;
}

// The message of a record whose samples cannot be read: line number, sample
// file, and the file layer's own reason, which is still in the buffer.
void samplesfailed(const Record& r, std::int32_t lineno) {
    const MsgLine reason = kmmsg.msgline[0];
    setmsg("ERROR", kMsgDlgSamples);
    apimsg(lineno);
    apcmsg(r.infile);
    apcmsg(reason);
    report();
}

} // namespace

void guard(const char* wfdisc) {
    guarded = ::stat(wfdisc, &wfdiscid) == 0;
}

void report() {
    outmsg();
}

bool convert(Record& r, std::int32_t lineno) {
    // Time of day: whole seconds of the day (exact in a float) advance
    // midnight, the milliseconds ride along in the start array.
    const DateTime tray1{1970, 0, 0, 0, 0, r.startms};
    DateTime tray2{};
    idttm(tray1, static_cast<float>(r.startsec), tray2);

    // Output name: the sample path and ".kiv", never the sample file itself.
    Text<kTokenLen + 4> outfile;
    const std::size_t ii = static_cast<std::size_t>(indexb(r.infile));
    fill(outfile, r.infile.view().substr(0, ii));
    fill(std::span<char>(outfile.data() + ii, 4), ".kiv");

    const float interval = 1.0f / r.rate;

    if (iswfdisc(outfile.view().substr(0, ii + 4))) { // never replace what is being read
        setmsg("ERROR", kMsgDlgSelf);
        apimsg(lineno);
        apcmsg(outfile);
        report();
        return false;
    }

    // Samples: read-only, so archives that may not be written still convert.
    std::int32_t ifd = 7, ierr = 0;
    zopen(ifd, r.infile, "RODATA", 0, ierr);
    if (ierr != 0) {
        samplesfailed(r, lineno);
        return false;
    }
    zrabs(ifd, std::span<std::int32_t>(iray), r.npts, 0, ierr);
    std::int32_t cerr;
    zclose(ifd, cerr);
    if (ierr != 0) {
        samplesfailed(r, lineno);
        return false;
    }
    const auto npts = static_cast<std::size_t>(r.npts);
    for (std::size_t i = 0; i < npts; ++i) yray[i] = static_cast<float>(iray[i]);

    newhdr();
    // The time of day is idttm's, in 32-bit float arithmetic (the batch mode
    // takes it from whole seconds).
    xlate::setfields(cmhdr, kmhdr,
                     {.npts = r.npts,
                      .interval = interval,
                      .start = {.year = r.nzyear,
                                .jday = r.nzjday,
                                .hour = tray2[2],
                                .minute = tray2[3],
                                .second = tray2[4],
                                .msec = tray2[5],
                                .usec = 0},
                      .station = r.kstnm,
                      .channel = r.kcmpnm,
                      .user0 = r.ntok >= 20 ? r.var[19].view().substr(0, 8) : std::string_view{},
                      .user1 = r.ntok >= 21 ? r.var[20].view().substr(0, 8) : std::string_view{}});

    std::int32_t nerr;
    wkiv0(outfile.view().substr(0, ii + 4), std::span<const float>(xray),
          std::span<const float>(yray.data(), npts), nerr);
    if (nerr != 0) { // the writer has printed its reason
        setmsg("ERROR", kMsgDlgNotWritten);
        apimsg(lineno);
        apcmsg(outfile);
        report();
        return false;
    }
    return true;
}

} // namespace kivf::wfdx
