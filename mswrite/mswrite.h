// SPDX-License-Identifier: Apache-2.0
// KIV traces as miniSEED 2 records, packed by libmseed: a trace checked and
// its encoding chosen (never one that would change a sample), then packed
// record by record for the caller to put where it likes. Nothing here prints
// or holds process-wide state: any thread may pack.
#pragma once

#include "dff/kiv.h"
#include "msg/msg.h"

#include <array>
#include <cstdint>
#include <functional>
#include <span>
#include <string>
#include <string_view>

namespace kivf::mswrite {

// The encodings a trace may be packed in, as miniSEED numbers them; automatic
// chooses (see plan).
enum class Encoding : std::int8_t {
    automatic = -1,
    int16 = 1,
    int32 = 3,
    float32 = 4,
    float64 = 5,
    steim1 = 10,
    steim2 = 11,
};

// An encoding by its name ("steim1", "steim2", "int16", "int32", "float32",
// "float64"); false for any other name.
bool encodingnamed(std::string_view name, Encoding& e);
std::string_view encodingname(Encoding e);

// Whether quality is a data quality a record takes: D, R, Q or M.
bool qualityok(std::string_view quality);

// Record lengths: powers of two from 256 bytes to 1 MiB, as readers take them.
inline constexpr int kMinReclen = 256, kMaxReclen = 1048576;
bool reclenok(std::int64_t reclen);

// How traces are packed. The codes stand in for a trace's own where its
// field is undefined (a CSS archive's files have no network).
struct PackAs {
    int reclen = 512;
    char quality = 'D';
    Encoding encoding = Encoding::automatic;
    std::string network, station, location, channel;
};

// What a trace is packed as: its codes, its first sample's time in
// microseconds since 1970, the nominal rate of its DELTA, and the encoding.
struct Plan {
    std::string network, station, location, channel;
    std::int64_t start = 0, last = 0; // the first and last samples' times
    Nominal nominal;                  // DELTA's: the rate and every sample's exact offset
    double rate = 0;                  // nominal.hz()
    bool floatrate = false;           // no factor and multiplier hold the rate: a blockette 100 too
    Encoding encoding = Encoding::automatic;
};

// Check the trace (header h, k and samples y) and plan its packing. The
// encoding asked for, or when automatic: Steim-2 when every sample is a whole
// number of 32 bits whose successive differences fit Steim-2's 30 bits, int32
// for other whole numbers, float32 otherwise (NaN, infinities and -0.0
// included). Refusals, each naming what refuses it, in this order:
//   kMsgPackUneven   the trace is not evenly sampled
//   kMsgPackEmpty    no samples
//   kMsgPackCode     a code longer than miniSEED allows or not printable
//                    ASCII, or no station or channel
//   kMsgPackRate     DELTA has no rate a record can hold
//   kMsgPackStart    the start time is undefined
//   kMsgPackTime     a sample's time lies outside the years 1900 to 2100
//   kMsgPackNumber   NaN or an infinity for an integer encoding
//   kMsgPackChange   the encoding asked for would change a sample
// A refusal names the trace as name, before its particulars.
Failure plan(const CmHdr& h, const KmHdr& k, std::span<const float> y, const PackAs& as,
             std::string_view name, Plan& p);

// Whether a code given for traces that lack one fits the field: at most
// most characters (2 network, 5 station, 2 location, 3 channel), printable
// ASCII without blanks. Empty when it does, else why ("(...)").
inline constexpr std::size_t kNetworkMost = 2, kStationMost = 5, kLocationMost = 2,
                             kChannelMost = 3;
std::string codewhy(std::string_view code, std::size_t most);

// Why the encoding e would not give back every sample of y exactly:
// kMsgPackNumber or kMsgPackChange, naming the first sample (from 1) it
// cannot hold; no failure when it holds them all. Steim-1 and Steim-2 hold
// whole numbers of 32 bits whose differences fit 32 and 30 bits, int16 and
// int32 the whole numbers of their width, float32 and float64 everything.
Failure misfit(std::span<const float> y, Encoding e);

// Where records go: each record's bytes; 0, or the errno of a failed write,
// which stops the packing.
using PutRecord = std::function<int(std::span<const char> record)>;

// Pack y as planned into records of as.reclen bytes, numbered on from
// sequence (which is left at the next number), each given to put in turn.
// Records are big-endian, except those of a trace with samples on the days
// whose year and day read the same in both orders (2056-001, -256, -257),
// which are in this machine's order: readers guess the order from them.
// No record holds more samples than its 16-bit count.
// Returns no failure, kMsgPackLibrary (libmseed refused; its words after),
// or kMsgWriteFailed with the errno put returned.
Failure pack(const Plan& p, std::span<const float> y, const PackAs& as, std::int32_t& sequence,
             const PutRecord& put, std::int64_t& records);

} // namespace kivf::mswrite
