// SPDX-License-Identifier: Apache-2.0
// Datatype e1: 32-bit integer samples compressed in blocks. A block is an
// 8-byte big-endian header (its length in bytes, its sample count, a flags
// byte whose high 4 bits say the samples are stored plain and whose low 4
// bits count the differences to undo, the last sample's low 24 bits as a
// check) and 32-bit big-endian words of packets of small two's-complement
// values, summed up once per difference into the samples.
#pragma once

#include "co/co.h"
#include "dff/dff.h"

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

namespace kivf::wfdx {

inline constexpr std::size_t kE1Header = 8;         // bytes of a block's header
inline constexpr std::size_t kE1MaxBlock = 65532;   // the largest length a block can say
inline constexpr std::size_t kE1MaxSamples = 65535; // the largest count a block can say
inline constexpr int kE1MaxDifferences = 4;

// The samples of one block, with room for the extra values of its last packet.
using E1Samples = std::array<std::int32_t, kE1MaxSamples + 7>;

// What is wrong with a block (none: it decoded).
enum class E1Fault {
    none,
    cut,         // the bytes end before the block does
    length,      // not a multiple of 4
    shortlength, // less than the header
    differences, // more than 4
    empty,       // no samples, yet longer than the header
    plain,       // plain samples beyond the block's end
    packets,     // the packets hold fewer values than the count
    overrun,     // a two-word packet starts in the block's last word
    check,       // the check value is not the last sample's
};

// One block as decoded, or as far as its fault.
struct E1Block {
    E1Fault fault = E1Fault::none;
    std::size_t length = 0, count = 0; // bytes (header included; 0 when cut in it), samples
    std::size_t there = 0;             // cut: the bytes there
    std::size_t packet = 0;            // overrun: the packet's byte in the block
    std::size_t values = 0;            // packets: the values they hold
    int differences = 0;               // as the header says
    bool plain = false;                // the samples are stored as they are
    std::int32_t check = 0;            // the check value, sign-extended from 24 bits
    std::int32_t last = 0;             // the block's last sample (check fault)
};

// Decode the block at the start of bytes (which may hold more after it) into
// samples. Only the bytes given are read; the header is checked before the
// block's bytes are looked for, so a fault in it is found however few follow.
E1Block e1decode(std::span<const std::byte> bytes, E1Samples& samples);

// Why a block was refused, for its user; empty when it was not.
std::string e1reason(const E1Block& b);

// What reading a record's blocks did: the bytes of its blocks, and when it
// failed, the failing block's byte in the file, why, and a read's errno.
struct E1Read {
    std::int64_t used = 0;
    std::int64_t at = -1;
    std::string reason;
    int err = 0;
};

inline constexpr std::size_t kE1MinPiece = 65536; // a read piece holds any block

// Read n samples from the blocks at byte off of fd and append them to out as
// floats; the last block may hold more, which are checked and dropped. The
// file is read in pieces into piece (at least kE1MinPiece bytes), each block
// decoded into one fixed scratch block; each block's floats go into stats,
// when given, as they are appended. False when a block is refused, the
// file ends first or a read fails, with read saying where and why; out may
// hold the samples of the blocks before.
bool reade1(int fd, std::int64_t off, std::size_t n, std::vector<float>& out, E1Read& read,
            std::span<std::byte> piece = zscratch(), DepAccum* stats = nullptr);

} // namespace kivf::wfdx
