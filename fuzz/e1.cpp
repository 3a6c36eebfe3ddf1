// SPDX-License-Identifier: Apache-2.0
// e1 blocks from any bytes: the first bytes choose the record's sample
// count, how often the rest is repeated (so that a file spans several read
// pieces) and how many bytes lead it; the rest are the blocks. Walked block
// by block in memory with e1decode (from a buffer of exactly their size, so
// that a read past them is caught), every block decodes with its invariants
// or is refused with a reason; read from a file through reade1 in the
// smallest pieces it takes, the record is the walk's samples, or is refused
// at the walk's block for the walk's reason.
#include "common.h"

#include "wfdxlate/e1.h"

#include <sys/mman.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <string>
#include <vector>

using namespace kivf::wfdx;

namespace {

// A file of these bytes that no other process sees; -1 when none can be made.
int memfile(const std::vector<std::byte>& b) {
    const int fd = ::memfd_create("e1", MFD_CLOEXEC);
    if (fd < 0) return -1;
    std::size_t done = 0;
    while (done < b.size()) {
        const ssize_t w = ::write(fd, b.data() + done, b.size() - done);
        if (w <= 0) break;
        done += static_cast<std::size_t>(w);
    }
    if (done == b.size()) return fd;
    ::close(fd);
    return -1;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    kivf::fuzz::Input in(data, size);
    const std::size_t n = in.u16();
    const std::size_t reps = 1 + in.u8() % 16, lead = in.u8() % 8;
    const std::string_view rest = in.rest();
    std::vector<std::byte> file(lead + reps * rest.size(), std::byte{'z'});
    for (std::size_t r = 0; r < reps; ++r)
        std::transform(rest.begin(), rest.end(), file.begin() + lead + r * rest.size(),
                       [](char c) { return static_cast<std::byte>(c); });

    static E1Samples s;
    std::vector<float> want;
    std::string why;
    std::size_t pos = lead;
    while (want.size() < n) {
        const std::span<const std::byte> left(file.data() + pos, file.size() - pos);
        const E1Block b = e1decode(left, s);
        if (b.fault != E1Fault::none) {
            why = b.fault == E1Fault::cut && b.there == 0
                      ? "the file ends there, after " + std::to_string(want.size()) + " of " +
                            std::to_string(n) + " samples"
                      : e1reason(b);
            FUZZ_CHECK(!e1reason(b).empty());
            FUZZ_CHECK(b.fault != E1Fault::cut || b.there == left.size());
            break;
        }
        FUZZ_CHECK(e1reason(b).empty());
        FUZZ_CHECK(b.length >= kE1Header && b.length % 4 == 0 && b.length <= left.size());
        FUZZ_CHECK(b.count <= kE1MaxSamples && b.differences <= kE1MaxDifferences);
        FUZZ_CHECK(!b.plain || kE1Header + 4 * b.count <= b.length);
        if (b.count > 0) FUZZ_CHECK(((s[b.count - 1] ^ b.check) & 0xFFFFFF) == 0);
        FUZZ_CHECK(b.count > 0 || b.length == kE1Header); // an empty block is its header alone
        const std::size_t take = std::min(b.count, n - want.size());
        want.insert(want.end(), s.begin(), s.begin() + static_cast<std::ptrdiff_t>(take));
        pos += b.length;
    }

    const int fd = memfile(file);
    if (fd < 0) return 0;
    static std::array<std::byte, kE1MinPiece> piece;
    std::vector<float> out;
    E1Read r;
    const bool whole = reade1(fd, static_cast<std::int64_t>(lead), n, out, r, piece);
    ::close(fd);
    FUZZ_CHECK(whole == why.empty());
    FUZZ_CHECK(r.err == 0);
    FUZZ_CHECK(out == want); // when refused, the samples of the blocks before
    if (whole) {
        FUZZ_CHECK(r.used == static_cast<std::int64_t>(pos - lead));
    } else {
        FUZZ_CHECK(r.reason == why);
        FUZZ_CHECK(r.at == static_cast<std::int64_t>(pos));
    }
    return 0;
}
