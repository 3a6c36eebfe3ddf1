// SPDX-License-Identifier: Apache-2.0
// Any bytes as a miniSEED file through msxlate's reading path: records are
// joined, skipped or refused, never read past; every byte is accounted for;
// each segment's samples become floats and make a header whose NPTS, B and
// extremes agree with them.
#include "common.h"

#include "msread/msread.h"
#include "msxlate/kivout.h"

#include <sys/mman.h>
#include <unistd.h>

using namespace kivf;
using namespace kivf::msx;
using namespace kivf::msread;

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    newhdr();
    capturelog();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const int fd = ::memfd_create("mseed", MFD_CLOEXEC);
    if (fd < 0) return 0;
    for (std::size_t done = 0; done < size;) {
        const ssize_t put = ::write(fd, data + done, size - done);
        if (put <= 0) {
            ::close(fd);
            return 0;
        }
        done += static_cast<std::size_t>(put);
    }
    ::lseek(fd, 0, SEEK_SET);
    MSTraceList* list = mstl_init(nullptr);
    const FileRead got = readfile(fd, "fuzz", list, {.budget = 256 << 20, .notes = false});
    ::close(fd);
    FUZZ_CHECK(got.whole || got.bytes == static_cast<std::int64_t>(size));
    FUZZ_CHECK(got.records >= 0 && got.skipped >= 0 && got.refused >= 0);
    if (!got.whole) {
        std::int64_t segs = 0;
        for (const Segment& s : segments(list)) {
            ++segs;
            FUZZ_CHECK(s.seg->numsamples > 0 && s.seg->samprate > 0 && s.seg->sampletype == 'f');
            static CmHdr hdr;
            static KmHdr khdr;
            const Instant start = splittime(s.seg->starttime);
            FUZZ_CHECK(start.msec >= 0 && start.msec < 1000 && start.usec >= 0 && start.usec < 1000);
            fillheader(s, start, hdr, khdr);
            FUZZ_CHECK(hdr.n(nslot::NPTS) == s.seg->numsamples);
            const float b = hdr.f(fslot::B);
            FUZZ_CHECK(b >= 0.0F && b < 0.001F);
            const auto y = floats(s.seg);
            const float lo = hdr.f(fslot::DEPMIN), hi = hdr.f(fslot::DEPMAX);
            for (const float v : y) FUZZ_CHECK(std::isnan(v) || (v >= lo && v <= hi));
        }
        FUZZ_CHECK((segs > 0) == (got.records > 0));
    }
    mstl_free(&list, 0);
    return 0;
}
