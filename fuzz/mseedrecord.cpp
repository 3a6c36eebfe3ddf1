// SPDX-License-Identifier: Apache-2.0
// Real records of every encoding, length and byte order, their sample count,
// blockette 1000 length, data offset and any other bytes changed as the input
// says, each decoded alone in a buffer of exactly the length it is framed
// with and fenced by a page no one may read: no byte outside a record can
// become a sample, whatever its header claims.
#include "common.h"

#include "examples/mspack.h"
#include "msread/msread.h"

#include "dff/dff.h"

#include <sys/mman.h>
#include <unistd.h>
#include <vector>

using namespace kivf;
using namespace kivf::msread;

namespace {

std::vector<std::string> records;

} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    newhdr();
    capturelog();
    std::vector<std::int32_t> ints(3000);
    for (std::size_t i = 0; i < ints.size(); ++i)
        ints[i] = static_cast<std::int32_t>(i * i % 9973) - 5000;
    for (const int enc :
         {DE_INT16, DE_INT32, DE_FLOAT32, DE_FLOAT64, DE_STEIM1, DE_STEIM2, DE_ASCII})
        for (const int reclen : {256, 512, 4096})
            for (const int order : {0, 1}) {
                const std::string packed =
                    mspack::pack({.encoding = enc,
                                  .reclen = reclen,
                                  .byteorder = order,
                                  .ints = ints,
                                  .floats = std::vector<float>(ints.begin(), ints.end()),
                                  .doubles = std::vector<double>(ints.begin(), ints.end()),
                                  .text = std::string(3000, 't')});
                records.push_back(packed.substr(0, static_cast<std::size_t>(reclen)));
            }
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    fuzz::Input in(data, size);
    std::string rec = records[in.u8() % records.size()];
    const bool big = rec[20] == 7; // the year 1970's high byte first: big-endian
    const auto put16 = [&](std::size_t at, std::uint16_t v) {
        rec[at + (big ? 0 : 1)] = static_cast<char>(v >> 8);
        rec[at + (big ? 1 : 0)] = static_cast<char>(v);
    };
    const std::uint8_t which = in.u8();
    if (which & 1) put16(30, in.u16());                       // sample count
    if (which & 2) rec[54] = static_cast<char>(in.u8() % 32); // blockette 1000 length exponent
    if (which & 4) put16(44, in.u16());                       // data offset
    if (which & 8) rec[52] = static_cast<char>(in.u8());      // encoding
    const std::size_t len = which & 16 ? 48 + in.u16() % (rec.size() - 47) : rec.size();
    while (!in.empty()) { // any other bytes
        const std::size_t at = in.u16() % rec.size();
        rec[at] = static_cast<char>(in.u8());
    }
    // The record's len bytes end where an unreadable page begins.
    const auto page = static_cast<std::size_t>(::sysconf(_SC_PAGESIZE));
    const std::size_t mapped = (len + 2 * page - 1) / page * page;
    auto* base = static_cast<char*>(
        ::mmap(nullptr, mapped, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0));
    FUZZ_CHECK(base != MAP_FAILED && ::mprotect(base + mapped - page, page, PROT_NONE) == 0);
    char* at = base + mapped - page - len;
    std::memcpy(at, rec.data(), len);
    static MSRecord* msr = nullptr;
    const Decoded d = decoderecord(at, static_cast<int>(len), msr);
    if (d.kind == Decoded::samples) {
        const int encoding = msr->encoding < 0 ? DE_STEIM1 : msr->encoding;
        const std::int64_t room = static_cast<std::int64_t>(len) - msr->fsdh->data_offset;
        FUZZ_CHECK(msr->numsamples == msr->samplecnt && msr->sampletype == 'f');
        FUZZ_CHECK(msr->numsamples <= capacity(encoding, room) && d.rounded >= 0);
        FUZZ_CHECK(msr->samprate > 0 && std::isnormal(static_cast<float>(1 / msr->samprate)));
    } else {
        FUZZ_CHECK(d.number >= kMsgBatchRate && !d.why.empty() && d.why.front() == '(' &&
                   d.why.back() == ')');
    }
    ::munmap(base, mapped);
    return 0;
}
