// The batch mode's KIV files: a row's header, and the library's writer.
#include "wfdxlate/kivfile.h"
#include "wfdxlate/wfdx.h"

#include "dff/dff.h"

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <csignal>

namespace kivf::wfdx {

void fillheader(const Row& r, Trace& t, const DepAccum& stats) {
    const std::size_t n = t.y.size();
    newhdr(t.hdr, t.khdr);
    setfields(t.hdr, t.khdr,
              {.npts = static_cast<std::int32_t>(n),
               .interval = r.interval,
               .year = r.year,
               .jday = r.jday,
               .hour = r.hour,
               .minute = r.minute,
               .second = r.second,
               .msec = r.msec,
               .station = r.sta,
               .channel = r.chan,
               .user0 = r.user0,
               .user1 = r.user1});
    if (r.instype != "-") t.khdr.k(kslot::KINST).set(r.instype);
    if (r.calib > 0 && std::isfinite(r.calib)) t.hdr.f(fslot::SCALE) = static_cast<float>(r.calib);
    derive(t.hdr, r.usec, n, stats);
}

void derive(CmHdr& h, std::int32_t usec, std::size_t n, const DepAccum& stats) {
    // The reference time keeps the millisecond (the file name shows it); B
    // carries the rest, so that the first sample's time is exact to the
    // microsecond. One correctly rounded float division.
    h.f(fslot::B) = static_cast<float>(usec) / 1e6F;
    derivefields(h, n, {}, stats);
}

int writeout(const Outputs& out, const char* name, const CmHdr& hdr, const KmHdr& khdr,
             std::span<const float> y) {
    int err = 0;
    const KivPlace at{out.dirfd, out.dir.empty() ? "." : out.dir.c_str(), name};
    const std::int32_t nerr = writekiv(at, hdr, khdr, y, {}, err);
    return nerr != 0 && err == 0 ? EFBIG : err; // refused: only a file too large can be
}

Rate checkrate(double rate, std::int64_t nsamp, float& interval) {
    if (!std::isfinite(rate) || !(rate > 0)) return Rate::bad;
    interval = static_cast<float>(1.0 / rate);
    if (!std::isnormal(interval)) return Rate::bad;
    const auto span = static_cast<double>(std::max<std::int64_t>(nsamp - 1, 0));
    return std::isfinite(static_cast<float>(span * interval)) ? Rate::ok : Rate::overflows;
}

namespace {

extern "C" void interrupted(int sig) {
    wkivabort();
    std::signal(sig, SIG_DFL);
    std::raise(sig);
}

} // namespace

void cleanonsignals() {
    for (const int sig : {SIGINT, SIGTERM, SIGHUP}) // an ignored signal stays ignored (nohup)
        if (std::signal(sig, interrupted) == SIG_IGN) std::signal(sig, SIG_IGN);
}

} // namespace kivf::wfdx
