// The batch mode's own KIV writer: one writev of header and samples, no copy
// of the samples.
#include "wfdxlate/kivfile.h"
#include "wfdxlate/wfdx.h"

#include "dff/dff.h"

#include <array>
#include <cerrno>
#include <cmath>
#include <cstring>
#include <sys/uio.h>
#include <unistd.h>

namespace kivf::wfdx {

void fillheader(const Row& r, const float* samples, std::size_t n) {
    newhdr();
    const auto interval = static_cast<float>(1.0 / r.rate);
    setfields(cmhdr, kmhdr,
              {.npts = static_cast<std::int32_t>(n),
               .interval = interval,
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
    cmhdr.i(islot::IFTYPE) = ienum::ITIME;
    cmhdr.l(lslot::LEVEN) = 1;
    if (r.instype != "-") kmhdr.k(kslot::KINST).set(r.instype);
    if (r.calib > 0 && std::isfinite(r.calib)) cmhdr.f(fslot::SCALE) = static_cast<float>(r.calib);
    if (n == 0) return;
    cmhdr.f(fslot::E) = static_cast<float>(static_cast<double>(n - 1) * interval);
    // Extremes and mean of the samples that are numbers.
    double lo = INFINITY, hi = -INFINITY, sum = 0;
    std::size_t count = 0;
    for (std::size_t i = 0; i < n; ++i) {
        const float v = samples[i];
        if (v != v) continue;
        lo = v < lo ? v : lo;
        hi = v > hi ? v : hi;
        sum += v;
        ++count;
    }
    if (count == 0) return;
    cmhdr.f(fslot::DEPMIN) = static_cast<float>(lo);
    cmhdr.f(fslot::DEPMAX) = static_cast<float>(hi);
    cmhdr.f(fslot::DEPMEN) = static_cast<float>(sum / static_cast<double>(count));
}

int writeout(const Outputs& out, const char* name, const float* samples, std::size_t n) {
    std::array<char, kHdrWords * 4> head{};
    std::memcpy(head.data(), &cmhdr, kHdrNumWords * 4);
    std::memcpy(head.data() + kHdrNumWords * 4, kmhdr.khdr.data(), kHdrTextBytes);
    const int fd = wkivtemp(out.dirfd, out.dir.empty() ? "." : out.dir.c_str(), out.dirfd, name);
    if (fd < 0) return errno;
    std::array<iovec, 2> iov{iovec{head.data(), head.size()},
                             iovec{const_cast<float*>(samples), n * sizeof(float)}};
    int err = 0;
    std::size_t first = 0;
    while (first < iov.size() && err == 0) {
        const ssize_t put = ::writev(fd, &iov[first], static_cast<int>(iov.size() - first));
        if (put < 0) {
            if (errno != EINTR) err = errno;
            continue;
        }
        auto left = static_cast<std::size_t>(put);
        while (first < iov.size() && left >= iov[first].iov_len) left -= iov[first++].iov_len;
        if (first < iov.size()) {
            iov[first].iov_base = static_cast<char*>(iov[first].iov_base) + left;
            iov[first].iov_len -= left;
        }
    }
    if (::close(fd) != 0 && err == 0) err = errno;
    const int placed = wkivdone(out.dirfd, name, err == 0);
    return err != 0 ? err : placed;
}

} // namespace kivf::wfdx
