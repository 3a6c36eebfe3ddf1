// SPDX-License-Identifier: Apache-2.0
// msxlate's pieces whose boundaries its runs do not reach: repeats within half a sample, sample
// counts, the memory budget measured once more, codes fit for names. (Gaps, overlaps, derived
// fields, libmseed's lines, start times and samples made floats are pinned by msxlate_e2e.)
#include "msread/msread.h"
#include "msxlate/kivout.h"

#include "e1encode.h"
#include "examples/mspack.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstring>
#include <fstream>
#include <sys/mman.h>
#include <sys/resource.h>
#include <unistd.h>

using namespace kivf::msx;
using namespace kivf::msread;
using e1enc::Guarded;

namespace {

// Every decoded sample the float 3.
bool floats3(const MSRecord* msr) {
    const auto* y = static_cast<const float*>(msr->datasamples);
    return std::all_of(y, y + msr->numsamples, [](float v) { return v == 3.0F; });
}

// A segment of 1 sample a second from 0 holds samples at the same times, within half a sample,
// bit for bit; not those past its end, another rate's, or other values.
TEST(MsxRepeats, ASegmentHoldsSamplesAtItsTimesWithinHalfASample) {
    std::vector<float> y = {0, 1, 2, 3, 4, 5, 6, 7, 8, 9};
    MSTraceSeg p{};
    p.samprate = 1, p.starttime = 0, p.endtime = 9 * HPTMODULUS, p.numsamples = 10;
    p.datasamples = y.data();
    struct Row {
        double start, rate;
        std::vector<float> have;
        bool held;
    };
    for (const Row& r :
         {Row{2.4, 1, {2, 3}, true}, Row{2.5, 1, {2, 3}, false}, Row{9, 1, {9, 10}, false},
          Row{2, 2, {2, 3}, false}, Row{2, 1, {2, -3}, false}, Row{0, 1, y, true}}) {
        const auto start = static_cast<hptime_t>(r.start * HPTMODULUS);
        const auto end = start + static_cast<hptime_t>((r.have.size() - 1) * HPTMODULUS / r.rate);
        EXPECT_EQ(holds(&p, start, end, r.rate, r.have), r.held) << r.start << " " << r.rate;
    }
}

// The first record of each encoding as libmseed's packer fills it: its count is what its data
// can hold; one more is refused before decoding, and the record decodes alone.
TEST(MsxDecode, ACountBeyondWhatTheDataHoldsIsRefusedAndNothingPastTheRecordIsRead) {
    const std::vector<std::int32_t> flat(5000, 3); // Steim packs 4 or 7 to a word
    for (const int enc :
         {DE_INT16, DE_INT32, DE_FLOAT32, DE_FLOAT64, DE_STEIM1, DE_STEIM2, DE_ASCII}) {
        SCOPED_TRACE(enc);
        std::string rec = mspack::pack({.encoding = enc,
                                        .ints = flat,
                                        .floats = std::vector<float>(5000, 3),
                                        .doubles = std::vector<double>(5000, 3),
                                        .text = std::string(5000, 'x')})
                              .substr(0, 512);
        const auto count =
            static_cast<std::uint16_t>(std::uint8_t(rec[30]) << 8 | std::uint8_t(rec[31]));
        const int offset = std::uint8_t(rec[44]) << 8 | std::uint8_t(rec[45]);
        EXPECT_EQ(capacity(enc, 512 - offset), count);
        MSRecord* msr = nullptr;
        for (const std::uint16_t n : {count, std::uint16_t(count + 1), std::uint16_t(65535)}) {
            rec[30] = char(n >> 8), rec[31] = char(n);
            const Guarded f(rec);
            const Decoded d = decoderecord(f.at(), 512, msr);
            EXPECT_EQ(std::pair(d.kind, d.number),
                      n > count ? std::pair(Decoded::refused, std::int32_t{kivf::kMsgMsCount})
                      : enc == DE_ASCII
                          ? std::pair(Decoded::note, std::int32_t{kivf::kMsgMsSkipped})
                          : std::pair(Decoded::samples, std::int32_t{0}))
                << n << d.why;
            if (d.kind == Decoded::samples) {
                EXPECT_EQ(std::pair(msr->numsamples, floats3(msr)),
                          std::pair(std::int64_t{count}, true));
            }
        }
        // Data starting at the record's end: no room for even one sample.
        rec[30] = 0, rec[31] = 1, rec[44] = 2, rec[45] = 0;
        EXPECT_EQ(decoderecord(Guarded(rec).at(), 512, msr).number, kivf::kMsgMsCount);
        // Framed shorter than its blockette 1000 says, or longer than any record: refused unread.
        for (const int len : {256, MAXRECLEN + 1}) {
            std::string framed = rec;
            framed.resize(static_cast<std::size_t>(len));
            EXPECT_EQ(decoderecord(Guarded(framed).at(), len, msr).number, kivf::kMsgMsLength)
                << len;
        }
        msr_free(&msr);
    }
    // No room; a byte; 3-byte samples; no whole frame; an encoding not known.
    const std::array<std::int64_t, 5> edges = {capacity(DE_INT32, -8), capacity(DE_ASCII, 1),
                                               capacity(DE_GEOSCOPE24, 11), capacity(DE_STEIM2, 63),
                                               capacity(99, 512)};
    EXPECT_EQ(edges, (std::array<std::int64_t, 5>{0, 1, 3, 0, -1}));
}

extern "C" __attribute__((weak)) void __asan_init(); // there when built with AddressSanitizer

std::uint64_t vmdata() {
    std::ifstream status("/proc/self/status");
    std::uint64_t kb = 0;
    for (std::string key; status >> key && !(key == "VmData:" && status >> kb);)
        status.ignore(256, '\n');
    return kb << 10;
}

// 40 records of 256 kB of samples: a budget they overrun is measured once more, as the memory
// is then: all of it read when that leaves room; else refused at the budget measured, though the
// limit is raised after the first record.
TEST(MsxMemory, AnOverrunBudgetIsMeasuredOnceMore) {
    if (&__asan_init != nullptr) GTEST_SKIP() << "the sanitizer's reservations pass any limit";
    const std::string bytes = mspack::pack({.encoding = DE_INT32,
                                            .reclen = 1 << 18,
                                            .ints = std::vector<std::int32_t>(40 * 65520, 3)});
    ASSERT_EQ(bytes.size(), 40U << 18);
    const auto read = [&](std::uint64_t budget, const std::function<void(int)>& joined) {
        const int fd = ::memfd_create("records", MFD_CLOEXEC);
        EXPECT_EQ(::write(fd, bytes.data(), bytes.size()), static_cast<ssize_t>(bytes.size()));
        ::lseek(fd, 0, SEEK_SET);
        MSTraceList* list = mstl_init(nullptr);
        std::string told;
        const FileRead got = readfile(
            fd, "f", list,
            {.budget = budget, .tell = [&](const Told& t) { told += t.text; }, .joined = joined});
        ::close(fd);
        mstl_free(&list, 0);
        return std::tuple(got.records, got.whole, told.substr(0, 13));
    };
    EXPECT_EQ(read(1 << 20, {}), std::tuple(40, false, ""));
    struct rlimit was {};
    ASSERT_EQ(::getrlimit(RLIMIT_DATA, &was), 0);
    struct rlimit tight = was; // 3 MB past what is kept back
    tight.rlim_cur = vmdata() + (19U << 20);
    ASSERT_EQ(::setrlimit(RLIMIT_DATA, &tight), 0);
    const auto [records, whole, told] = read(0, [&](int) { ::setrlimit(RLIMIT_DATA, &was); });
    ::setrlimit(RLIMIT_DATA, &was);
    EXPECT_TRUE(records > 1 && records < 40) << records;
    EXPECT_EQ(std::pair(whole, told), std::pair(true, std::string("f (more than ")));
}

TEST(MsxNames, StationAndChannelAreNeededAndNoCodeMayHoldASeparatorOrControl) {
    struct Row {
        const char *net, *sta, *loc, *chan;
        bool ok;
    };
    for (const Row& r : {Row{"", "ANMO", "", "BHZ", true}, Row{"IU", "", "00", "BHZ", false},
                         Row{"IU", "ANMO", "00", "", false}, Row{"I/", "ANMO", "", "BHZ", false}}) {
        MSTraceID id{};
        std::strcpy(id.network, r.net), std::strcpy(id.station, r.sta);
        std::strcpy(id.location, r.loc), std::strcpy(id.channel, r.chan);
        EXPECT_EQ(nameable(&id), r.ok) << r.net << "." << r.sta << "." << r.loc << "." << r.chan;
    }
}

} // namespace
