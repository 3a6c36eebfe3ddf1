// miniSEED bytes for the tests, packed by examples/mspack.h, and the cuts and
// splices that damaged or disordered files need.
#pragma once

#include "examples/mspack.h"

#include <stdexcept>
#include <string>
#include <vector>

namespace msgen {

using mspack::at;
using mspack::pack;
using mspack::Stream;

// The records of a packed stream, in order.
inline std::vector<std::string> split(const std::string& bytes) {
    std::vector<std::string> recs;
    for (std::size_t off = 0; off < bytes.size(); off += recs.back().size()) {
        const int len = ms_detect(bytes.data() + off, static_cast<int>(bytes.size() - off));
        if (len <= 0) throw std::runtime_error("not a record at byte " + std::to_string(off));
        recs.push_back(bytes.substr(off, static_cast<std::size_t>(len)));
    }
    return recs;
}

// The records picked by index, in the order given (an index may repeat).
inline std::string join(const std::vector<std::string>& recs,
                        const std::vector<std::size_t>& order) {
    std::string out;
    for (std::size_t i : order) out += recs.at(i);
    return out;
}

} // namespace msgen
