// SPDX-License-Identifier: Apache-2.0
// The compiled half of the Python package kivf: KIV files read and written by the library,
// miniSEED files read and written through its reading and packing libraries (mseed.h),
// headers shown as the header lister shows them, and the plug-in's distance and azimuth.
//
// Only the library's modern face is used: headers and samples in records of each call's own,
// failures returned as values that become the exceptions. So every file read and write, every
// pass over the samples and the distance computation run without the interpreter lock, and
// any number of threads may call at once (miniSEED files are read one at a time: the
// reader's buffers are the process's).
#include "co/co.h"
#include "dff/dff.h"
#include "errors.h"
#include "fields.h"
#include "mseed.h"
#include "msg/msg.h"
#include "show/show.h"
#include "sphgeo/sphgeo.h"
#include "times.h"
#include "ucf/ucf.h"

#include <pybind11/numpy.h>
#include <pybind11/pybind11.h>
#include <pybind11/stl.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace py = pybind11;
using namespace kivf;
using namespace kivfpy;

namespace {

// The file layer drops trailing blanks and stops at a NUL: a path it would not use as given
// is refused, never turned into another file's name.
void exactpath(const std::string& path) {
    const std::string_view why = zinexact(path);
    if (why.empty()) return;
    const auto shown = py::reinterpret_steal<py::object>(
        PyUnicode_DecodeFSDefaultAndSize(path.data(), static_cast<Py_ssize_t>(path.size())));
    raise_value("file name " + py::repr(shown).cast<std::string>() + " " + std::string(why));
}

// A header as the bytes of a file, words in this machine's order (to pickle it).
py::bytes rawof(const Header& x) {
    HdrBytes raw{};
    packhdr(x.h, x.k, raw);
    return {reinterpret_cast<const char*>(raw.data()), raw.size()};
}

Header unraw(const std::string& raw) {
    HdrBytes bytes{};
    if (raw.size() != bytes.size())
        raise_value("a KIV header is " + std::to_string(bytes.size()) + " bytes");
    std::memcpy(bytes.data(), raw.data(), bytes.size());
    Header x;
    unpackhdr(bytes, false, x.h, x.k);
    return x;
}

using F32 = py::array_t<float, py::array::c_style | py::array::forcecast>;

std::span<const float> span1d(const F32& a) {
    if (a.ndim() != 1) raise_value("samples must be a 1-D array");
    return {a.data(), static_cast<std::size_t>(a.shape(0))};
}

struct Samples {
    std::span<const float> y, x;
};

// The arrays checked, and NPTS and LEVEN of h set from them.
Samples complete(CmHdr& h, const F32& y, const std::optional<F32>& x) {
    const std::span<const float> ys = span1d(y);
    const std::span<const float> xs = x ? span1d(*x) : std::span<const float>{};
    if (x && xs.size() != ys.size()) raise_value("x and the samples differ in length");
    if (ys.size() > static_cast<std::size_t>(std::numeric_limits<std::int32_t>::max()))
        raise_value("too many samples for one KIV file");
    h.n(nslot::NPTS) = static_cast<std::int32_t>(ys.size());
    h.l(lslot::LEVEN) = x ? 0 : 1;
    return {ys, xs};
}

// Floating fields named among fields, by slot.
using Given = std::array<bool, kNumFhdr + 1>;

Given setfields(CmHdr& h, KmHdr& k, const py::dict& fields) {
    Given given{};
    for (const auto& [key, value] : fields) {
        const auto kname = py::cast<std::string>(key);
        setfield(h, k, kname, value);
        given[static_cast<std::size_t>(catslot(kname, fieldcatalogue().names.kfhdr))] = true;
    }
    return given;
}

// E, DEPMIN, DEPMAX and DEPMEN of h from the samples, bit for bit as the batch converter sets
// them (the library's derivefields), in a pass without the interpreter lock; given fields
// stay as set.
void fill(CmHdr& h, const Samples& s, const Given& given) {
    const CmHdr before = h;
    {
        const py::gil_scoped_release unlocked;
        derivefields(h, s.y, s.x);
    }
    for (const std::int32_t slot : {fslot::E, fslot::DEPMIN, fslot::DEPMAX, fslot::DEPMEN})
        if (given[static_cast<std::size_t>(slot)]) h.f(slot) = before.f(slot);
}

void save(const std::string& path, const CmHdr& h, const KmHdr& k, const Samples& s) {
    Failure failed;
    {
        const py::gil_scoped_release unlocked;
        failed = savekiv(path, h, k, s.y, s.x);
    }
    if (failed) raise(failed);
}

void write_kiv(const std::string& path, const F32& y, const std::optional<F32>& x,
               const py::dict& fields) {
    exactpath(path);
    Header w;
    const Given given = setfields(w.h, w.k, fields);
    // A new header's distance and azimuths follow from its positions when LCALDA is set (a
    // few microseconds: not worth letting go of the interpreter lock); derive (slices,
    // merges) leaves those of the header it starts from as they are.
    distances(w.h);
    const Samples s = complete(w.h, y, x);
    fill(w.h, s, given);
    save(path, w.h, w.k, s);
}

// A header for samples taken from another trace's (a slice, a merge): the fields set on it,
// NPTS and LEVEN from the arrays, E and the extremes and mean computed anew.
Header derive(const Header& from, const F32& y, const std::optional<F32>& x,
              const py::dict& fields) {
    Header d = from;
    setfields(d.h, d.k, fields);
    const Samples s = complete(d.h, y, x);
    fill(d.h, s, Given{});
    return d;
}

void write_header(const std::string& path, const Header& from, const F32& y,
                  const std::optional<F32>& x) {
    exactpath(path);
    Header w = from;
    save(path, w.h, w.k, complete(w.h, y, x));
}

// Samples read without the interpreter lock into storage that numpy then owns: no copy, and
// no zero-filling of what the file fills anyway.
struct Floats {
    std::unique_ptr<float[]> data;
    std::size_t size = 0;

    std::span<float> allocate(std::size_t n) {
        data.reset(new float[std::max<std::size_t>(n, 1)]);
        size = n;
        return {data.get(), n};
    }
    py::array_t<float> release() {
        float* p = data.release();
        const py::capsule owner(p, [](void* q) { delete[] static_cast<float*>(q); });
        return py::array_t<float>({static_cast<py::ssize_t>(size)}, {sizeof(float)}, p, owner);
    }
};

// (traces, notes, miniSEED or not): a miniSEED file's segments (see readmseed), or a KIV
// file's one (header, samples, x or None, swapped) and no notes. What is read of a file comes
// from one opening of it, so a file replaced meanwhile (the writer renames new files into
// place) is never mixed; a file that is not miniSEED is read as KIV files always were, and
// refused as they were.
py::tuple read_file(const std::string& path) {
    exactpath(path);
    Header r;
    bool swapped = false;
    Floats y, x;
    Failure failed;
    int mseed;
    {
        const py::gil_scoped_release unlocked;
        mseed = openmseed(path);
        if (mseed < 0)
            failed =
                loadkiv(path, r.h, r.k, swapped,
                        [&](std::size_t n, bool leven, std::span<float>& ys, std::span<float>& xs) {
                            ys = y.allocate(n);
                            if (!leven) xs = x.allocate(n);
                        });
    }
    if (mseed >= 0) {
        const py::tuple got = readmseed(mseed, path);
        return py::make_tuple(got[0], got[1], true);
    }
    if (failed) raise(failed);
    const bool leven = r.h.l(lslot::LEVEN) != 0;
    py::list one;
    one.append(py::make_tuple(r, y.release(),
                              leven ? py::object(py::none()) : py::object(x.release()), swapped));
    return py::make_tuple(one, py::list(), false);
}

// A KIV file's samples in pieces (the plot goes through long records so): the header read
// at opening, then runs of samples read without the interpreter lock.
struct Pieces {
    KivSamples file;
    Header header;
    bool swapped = false;

    explicit Pieces(const std::string& path) {
        exactpath(path);
        Failure failed;
        {
            const py::gil_scoped_release unlocked;
            failed = file.open(path, header.h, header.k, swapped);
        }
        if (failed) raise(failed);
    }

    py::array_t<float> read(std::size_t first, std::size_t count) const {
        if (first > file.size() || count > file.size() - first)
            raise_value("samples " + std::to_string(first) + " to " +
                        std::to_string(first + count) +
                        " are beyond NPTS = " + std::to_string(file.size()));
        Floats y;
        const std::span<float> into = y.allocate(count);
        Failure failed;
        {
            const py::gil_scoped_release unlocked;
            failed = file.read(first, into);
        }
        if (failed) raise(failed);
        return y.release();
    }
};

// Traces (header, samples, x or None, name in messages) written in order as one miniSEED
// file; the header's NPTS and LEVEN follow the arrays, so an uneven trace is refused by the
// packer.
void write_mseed(const std::string& path, const std::vector<py::tuple>& traces,
                 const PackOptions& options) {
    exactpath(path);
    std::vector<F32> arrays; // held while the samples are packed without the interpreter lock
    std::vector<ToPack> packs;
    arrays.reserve(traces.size());
    packs.reserve(traces.size());
    for (const py::tuple& t : traces) {
        if (t.size() != 4) raise_value("write_mseed: a trace is (header, data, x, name)");
        ToPack& p = packs.emplace_back(ToPack{t[0].cast<Header>(), {}, t[3].cast<std::string>()});
        const F32& y = arrays.emplace_back(t[1].cast<F32>());
        const std::optional<F32> x =
            t[2].is_none() ? std::nullopt : std::optional(t[2].cast<F32>());
        p.y = complete(p.header.h, y, x).y;
    }
    writemseed(path, packs, options);
}

py::bytes listing(const std::string& path, const std::string& list, bool all) {
    const std::int32_t l = show::findlist(list);
    if (l == 0) raise_value("no list named '" + list + "' (lists: DEFAULT, PICKS, SPECIAL, STD)");
    exactpath(path);
    Header r;
    bool swapped;
    Failure failed;
    {
        const py::gil_scoped_release unlocked;
        failed = loadheader(path, r.h, r.k, swapped);
    }
    if (failed) raise(failed);
    std::string out;
    show::listing(l, r.h, r.k, path, all, out);
    return py::bytes(out);
}

using F64 = py::array_t<double, py::array::c_style | py::array::forcecast>;

py::tuple sphgeo(const F64& slat, const F64& slon, double elat, double elon) {
    if (slat.size() != slon.size()) raise_value("slat and slon differ in size");
    std::vector<py::ssize_t> shape(slat.shape(), slat.shape() + slat.ndim());
    F64 delta(shape), dist(shape), azim(shape), bazim(shape);
    const auto n = static_cast<std::size_t>(slat.size());
    const double* la = slat.data();
    const double* lo = slon.data();
    double* r[4] = {delta.mutable_data(), dist.mutable_data(), azim.mutable_data(),
                    bazim.mutable_data()};
    {
        py::gil_scoped_release unlocked;
        // sphgeom counts stations in 32 bits: larger arrays go in pieces.
        constexpr std::size_t piece = std::numeric_limits<std::int32_t>::max();
        for (std::size_t first = 0; first < n; first += piece) {
            const std::size_t m = std::min(piece, n - first);
            sphgeom({la + first, m}, {lo + first, m}, elat, elon, {r[0] + first, m},
                    {r[1] + first, m}, {r[2] + first, m}, {r[3] + first, m},
                    static_cast<std::int32_t>(m));
        }
    }
    return py::make_tuple(delta, dist, azim, bazim);
}

} // namespace

PYBIND11_MODULE(_kivf, m) {
    m.doc() = "The compiled half of kivf; use the kivf package.";
    // The header lister's lists are the process's catalogue: set up once, here, printing
    // nothing (a catalogue that fails to load would be reported on standard output).
    msgprint(false);
    newhdr();
    m.attr("__version__") = KIVF_VERSION;
    adderrors(m);
    addtimes(m);
    py::class_<Header>(m, "Header", "A KIV header, decoded.")
        .def(
            "fields", [](const Header& x) { return header(x.h, x.k); },
            "The defined fields as a dict by catalogue name.")
        .def(py::pickle([](const Header& x) { return rawof(x); },
                        [](const py::bytes& raw) { return unraw(raw); }));
    initmseed();
    m.attr("mseed") = kMseed;
    m.def("read", &read_file, py::arg("path"),
          "([(header, samples, x or None, swapped)], notes, is_mseed) of the file at path "
          "(bytes): a KIV file in either byte order, one trace; a miniSEED file, a trace for "
          "each continuous segment of each channel, and the notes reading gave; raises a "
          "KivError with the library's message.");
    m.def(
        "write_mseed",
        [](const std::string& path, const std::vector<py::tuple>& traces, long long reclen,
           const std::string& encoding, const std::string& quality, const std::string& network,
           const std::string& station, const std::string& location, const std::string& channel) {
            write_mseed(path, traces,
                        {reclen, encoding, quality, network, station, location, channel});
        },
        py::arg("path"), py::arg("traces"), py::arg("reclen"), py::arg("encoding"),
        py::arg("quality"), py::arg("network"), py::arg("station"), py::arg("location"),
        py::arg("channel"),
        "Writes traces [(header, data, x or None, name)] in order as one miniSEED file; an empty "
        "encoding chooses one, empty codes take each trace's own.");
    py::class_<Pieces>(m, "Pieces",
                       "A KIV file opened for its samples in pieces: .header, .swapped, .npts, "
                       ".read(first, count).")
        .def(py::init<const std::string&>(), py::arg("path"))
        .def_readonly("header", &Pieces::header)
        .def_readonly("swapped", &Pieces::swapped)
        .def_property_readonly("npts", [](const Pieces& p) { return p.file.size(); })
        .def("read", &Pieces::read, py::arg("first"), py::arg("count"),
             "Samples first .. first + count - 1 as float32, in this machine's byte order.");
    m.def("write", &write_kiv, py::arg("path"), py::arg("data"), py::arg("x"), py::arg("fields"),
          "Writes a new header with fields (name: value) and the float32 samples (and x) as a "
          "KIV file; E, DEPMIN, DEPMAX, DEPMEN are computed unless among fields, and GCARC, "
          "DIST, AZ, BAZ when undefined, LCALDA is true and STLA, STLO, EVLA, EVLO are "
          "defined.");
    m.def("write_header", &write_header, py::arg("path"), py::arg("header"), py::arg("data"),
          py::arg("x"),
          "Writes the header as it is (NPTS and LEVEN from the arrays) and the samples.");
    m.def("derive", &derive, py::arg("header"), py::arg("data"), py::arg("x"), py::arg("fields"),
          "The header with fields set, NPTS and LEVEN from the arrays, and E, DEPMIN, DEPMAX, "
          "DEPMEN computed from them.");
    m.def("listing", &listing, py::arg("path"), py::arg("list"), py::arg("all"),
          "The header block kivhdr prints for the file with the named list, as bytes.");
    m.def("describe", &describe, py::arg("value"),
          "The description of an enumerated value by name ('' when there is none).");
    m.def("daysfromepoch", &daysfromepoch, py::arg("year"),
          "Days from 1970-01-01 to January 1 of year (a 32-bit int), proleptic Gregorian.");
    m.def("sphgeo", &sphgeo, py::arg("slat"), py::arg("slon"), py::arg("elat"), py::arg("elon"),
          "(delta, dist, azim, bazim) of the stations from one event, as the plug-in computes "
          "them.");
}
