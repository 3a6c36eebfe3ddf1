// SPDX-License-Identifier: Apache-2.0
// A row's output name and header.
#include "wfdxlate/rowfile.h"

#include <cmath>
#include <cstdio>
#include <sys/stat.h>

namespace kivf::wfdx {

using xlate::charcut;
using xlate::fitname;

bool nameable(Row& r) {
    if (fitname(charcut(r.sta)) && fitname(charcut(r.chan))) return true;
    return r.why.set(kMsgBatchName, r.sta.substr(0, 8), r.chan.substr(0, 8));
}

void outname(const Row& r, xlate::OutName& name) {
    const std::string_view sta = charcut(r.sta), chan = charcut(r.chan);
    std::snprintf(name.data(), name.size(), "%.*s.%.*s.%04d.%03d.%02d.%02d.%02d.%03d.kiv",
                  static_cast<int>(sta.size()), sta.data(), static_cast<int>(chan.size()),
                  chan.data(), r.at.year, r.at.jday, r.at.hour, r.at.minute, r.at.second,
                  r.at.msec);
}

std::uint64_t rewritten(const xlate::Outputs& out, const std::string& path, FileId samplefile) {
    const std::string_view p(path);
    const std::string base(p.substr(p.rfind('/') + 1)); // all of it when no '/'
    if (!base.ends_with(".kiv")) return 0;
    const std::uint64_t first = out.written.find(base);
    struct stat st {};
    if (first == 0 || ::fstatat(out.dirfd, base.c_str(), &st, 0) != 0) return 0;
    return FileId{st.st_dev, st.st_ino} == samplefile ? first : 0;
}

void fillheader(const Row& r, Trace& t, const DepAccum& stats) {
    const std::size_t n = t.y.size();
    newhdr(t.hdr, t.khdr);
    xlate::setfields(t.hdr, t.khdr,
                     {.npts = static_cast<std::int32_t>(n),
                      .interval = r.interval,
                      .start = r.at,
                      .station = r.sta,
                      .channel = r.chan,
                      .user0 = r.user0,
                      .user1 = r.user1});
    if (r.instype != "-") t.khdr.k(kslot::KINST).set(r.instype);
    if (r.calib > 0 && std::isfinite(r.calib)) t.hdr.f(fslot::SCALE) = static_cast<float>(r.calib);
    xlate::derive(t.hdr, r.at.usec, n, stats);
}

} // namespace kivf::wfdx
