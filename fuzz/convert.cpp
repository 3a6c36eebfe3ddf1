// SPDX-License-Identifier: Apache-2.0
// Field conversions: rdint, wrint and the three rdfree targets on random
// texts and values, each checked against a reading written here: accepted
// exactly when the text is such a number, the value the C library gives for
// the same normalised text, the value untouched on failure; wrint output
// right-justified over exactly its field or all asterisks, and read back by
// rdint when it fits.
#include "common.h"

#include "co/co.h"

#include <string>
#include <vector>

using namespace kivf;
using namespace kivf::fuzz;

namespace {

// Texts longer than this (blanks around them aside) are refused by every
// rdfree target, even when they are numbers.
constexpr std::size_t kFreeMax = 511;

std::size_t trimmedlen(std::string_view t) {
    const std::size_t b = t.find_first_not_of(' ');
    return b == std::string_view::npos ? 0 : t.find_last_not_of(' ') - b + 1;
}

template <class T> bool same(T a, T b) {
    return std::memcmp(&a, &b, sizeof(T)) == 0;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    Input in(data, size);
    const std::uint8_t op = in.u8();
    const std::int32_t seed = in.i32();
    // The text on the heap at exactly its length: a read past it is caught.
    const std::string_view rest = in.rest();
    const std::vector<char> heap(rest.begin(), rest.end());
    const std::string_view t(heap.data(), heap.size());

    switch (op % 5) {
    case 0: { // integer field
        std::int32_t v = seed;
        const bool ok = rdint(t, v);
        const auto want = integer(t, true);
        FUZZ_CHECK(ok == want.has_value());
        FUZZ_CHECK(v == (ok ? *want : seed));
        break;
    }
    case 1: { // integer written over a field of 0 to 15 columns
        const std::size_t w = (op >> 3) % 16;
        std::vector<char> buf(w, '#');
        wrint(seed, std::span<char>(buf.data(), w));
        const std::string got(buf.begin(), buf.end());
        FUZZ_CHECK(got == field(seed, w));
        if (std::to_string(seed).size() <= w) {
            std::int32_t back = seed ^ 1;
            FUZZ_CHECK(rdint(got, back));
            FUZZ_CHECK(back == seed);
        } else {
            FUZZ_CHECK(got == std::string(w, '*'));
        }
        break;
    }
    case 2: { // free-form integer
        std::int32_t v = seed;
        const bool ok = rdfree(t, v);
        auto want = integer(t, false);
        if (trimmedlen(t) > kFreeMax) want.reset(); // the length limit of every target
        FUZZ_CHECK(ok == want.has_value());
        FUZZ_CHECK(v == (ok ? *want : seed));
        break;
    }
    case 3: { // free-form double
        double v = 0;
        std::memcpy(&v, &seed, sizeof seed);
        const double before = v;
        const bool ok = rdfree(t, v);
        const auto norm = freeform(t);
        if (ok) {
            FUZZ_CHECK(norm.has_value());
            const double want = std::strtod(norm->c_str(), nullptr);
            FUZZ_CHECK(std::isfinite(want));
            FUZZ_CHECK(same(v, want));
        } else {
            FUZZ_CHECK(same(v, before));
            FUZZ_CHECK(!norm || std::isinf(std::strtod(norm->c_str(), nullptr)) ||
                       trimmedlen(t) > kFreeMax);
        }
        break;
    }
    default: { // free-form float
        float v = 0;
        std::memcpy(&v, &seed, sizeof seed);
        const float before = v;
        const bool ok = rdfree(t, v);
        const auto norm = freeform(t);
        if (ok) {
            FUZZ_CHECK(norm.has_value());
            const float want = std::strtof(norm->c_str(), nullptr);
            FUZZ_CHECK(std::isfinite(want));
            FUZZ_CHECK(same(v, want));
        } else {
            FUZZ_CHECK(same(v, before));
            FUZZ_CHECK(!norm || std::isinf(std::strtof(norm->c_str(), nullptr)) ||
                       trimmedlen(t) > kFreeMax);
        }
        break;
    }
    }
    return 0;
}
