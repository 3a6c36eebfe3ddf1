// SPDX-License-Identifier: Apache-2.0
// The e1 tests' helpers, around the one packer (examples/e1pack.h); msx_test fences records too.
#pragma once

#include "../examples/e1pack.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <random>
#include <span>
#include <string>
#include <sys/mman.h>
#include <unistd.h>
#include <vector>

namespace e1enc {

inline std::string hexbytes(const std::string& hex) {
    std::string b;
    for (std::size_t i = 0; i + 1 < hex.size(); i += 2)
        b += static_cast<char>(std::stoi(hex.substr(i, 2), nullptr, 16));
    return b;
}

inline const std::string kExample =
    "003800280100019c90101441783a24b0ee979a24c51cc22d05f57d54200b5000c95e"
    "56bdc6533aa0777720d1cebfa6528160f04df0000006";
inline const std::vector<std::int32_t> kExampleSamples = {
    257, 262, 327, 295, 248, 323, 352, 261, 210, 246, 286, 273, 277, 322,
    345, 260, 217, 349, 351, 263, 263, 209, 202, 247, 308, 358, 306, 295,
    327, 292, 221, 234, 291, 210, 165, 247, 269, 329, 406, 412};

// Values spanning a width: its extremes and some between, n of them.
inline std::vector<std::int32_t> extremes(int width, std::size_t n, std::uint32_t seed) {
    const std::int32_t hi = static_cast<std::int32_t>((std::int64_t{1} << (width - 1)) - 1);
    std::vector<std::int32_t> v = {-hi - 1, hi, 0, -1, 1, hi - 1, -hi};
    std::mt19937 g(seed);
    std::uniform_int_distribution<std::int32_t> any(-hi - 1, hi);
    while (v.size() < n) v.push_back(any(g));
    v.resize(n);
    return v;
}

// Room of n bytes right before an unreadable page: a read or write past it stops the test, or
// makes the system refuse a read into it (EFAULT).
struct Guarded {
    const std::size_t page = static_cast<std::size_t>(::sysconf(_SC_PAGESIZE)), n, size;
    std::byte* base;
    std::span<std::byte> room;
    explicit Guarded(std::size_t bytes)
        : n(bytes), size((bytes + page - 1) / page * page + page),
          base(static_cast<std::byte*>(
              ::mmap(nullptr, size, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0))),
          room(base + size - page - n, n) {
        if (base == MAP_FAILED || ::mprotect(base + size - page, page, PROT_NONE) != 0)
            std::abort();
    }
    // Those bytes, ending right before the unreadable page: a reader past them stops the test.
    explicit Guarded(const std::string& bytes) : Guarded(bytes.size()) {
        bytes.copy(reinterpret_cast<char*>(room.data()), bytes.size());
    }
    char* at() const { return reinterpret_cast<char*>(room.data()); }
    ~Guarded() { ::munmap(base, size); }
};

} // namespace e1enc
