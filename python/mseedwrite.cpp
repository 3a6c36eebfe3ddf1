// SPDX-License-Identifier: Apache-2.0
// Traces written as one miniSEED file: each planned by the packing library (checked, its
// encoding chosen), then packed in order into records numbered on from one trace to the
// next, through the library's whole-file writer.
#include "mseed.h"

#include "errors.h"

#ifdef KIVF_MSEED
#include "mswrite/mswrite.h"
#endif

#include <vector>

namespace py = pybind11;
using namespace kivf;

namespace kivfpy {

#ifdef KIVF_MSEED

namespace {

// The options as the packer takes them; what it cannot take raises ValueError, naming it.
mswrite::PackAs packas(const PackOptions& o) {
    mswrite::PackAs as;
    if (!mswrite::reclenok(o.reclen))
        raise_value("reclen " + std::to_string(o.reclen) + " is not a power of two from " +
                    std::to_string(mswrite::kMinReclen) + " to " +
                    std::to_string(mswrite::kMaxReclen));
    as.reclen = static_cast<int>(o.reclen);
    if (!o.encoding.empty() && !mswrite::encodingnamed(o.encoding, as.encoding))
        raise_value("no encoding named '" + o.encoding +
                    "' (encodings: steim1, steim2, int16, int32, float32, float64, or None)");
    if (!mswrite::qualityok(o.quality))
        raise_value("quality '" + o.quality + "' is not one of D, R, Q, M");
    as.quality = o.quality[0];
    as.network = o.network;
    as.station = o.station;
    as.location = o.location;
    as.channel = o.channel;
    return as;
}

// Every trace planned before the file is made, so that a refusal leaves nothing behind;
// then packed in turn. A write that fails stops the packing, and commit says why.
Failure packall(const std::string& path, std::span<const ToPack> traces,
                const mswrite::PackAs& as) {
    std::vector<mswrite::Plan> plans(traces.size());
    for (std::size_t i = 0; i < traces.size(); ++i) {
        const ToPack& t = traces[i];
        if (Failure f = mswrite::plan(t.header.h, t.header.k, t.y, as, t.name, plans[i])) return f;
    }
    WholeFile file;
    if (Failure f = file.open(path)) return f;
    int unwritten = 0; // the errno of a failed write
    const mswrite::PutRecord put = [&](std::span<const char> record) {
        return unwritten = file.write(record);
    };
    std::int32_t sequence = 1;
    for (std::size_t i = 0; i < traces.size(); ++i) {
        std::int64_t records;
        Failure f = mswrite::pack(plans[i], traces[i].y, as, sequence, put, records);
        if (unwritten != 0) break; // commit says so, naming the file, and drops it
        if (f) return f;           // the file goes with its writer
    }
    return file.commit();
}

} // namespace

void writemseed(const std::string& path, std::span<const ToPack> traces,
                const PackOptions& options) {
    const mswrite::PackAs as = packas(options);
    if (traces.empty()) raise_value("write_mseed: no traces to write");
    Failure failed;
    {
        const py::gil_scoped_release unlocked;
        failed = packall(path, traces, as);
    }
    if (failed) raise(failed);
}

#else

void writemseed(const std::string&, std::span<const ToPack>, const PackOptions&) {
    PyErr_SetString(PyExc_NotImplementedError,
                    "kivf was built without libmseed: miniSEED files cannot be written");
    throw py::error_already_set();
}

#endif

} // namespace kivfpy
