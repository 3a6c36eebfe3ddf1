// SPDX-License-Identifier: Apache-2.0
// The sample times the package shows are the library's, so that the lister and the package
// agree to the microsecond; the offsets of a long trace are stepped without the interpreter
// lock.
#include "times.h"

#include "dff/kiv.h"

#include <pybind11/numpy.h>

#include <cstdint>
#include <span>

namespace py = pybind11;

namespace kivfpy {

namespace {

py::object nominal(float delta) {
    kivf::Nominal n;
    if (!kivf::nominal(delta, n)) return py::none();
    return py::make_tuple(n.hz(), n.seconds(), n.rate);
}

py::object offsets(float delta, std::int64_t first, std::int64_t count) {
    kivf::Nominal n;
    if (count < 0) throw py::value_error("offsets: count below 0");
    if (!kivf::nominal(delta, n)) return py::none();
    py::array_t<std::int64_t> out(static_cast<py::ssize_t>(count));
    const std::span<std::int64_t> s(out.mutable_data(), static_cast<std::size_t>(count));
    bool ok;
    {
        const py::gil_scoped_release unlocked;
        ok = kivf::sampleoffsets(n, first, s);
    }
    return ok ? py::object(out) : py::object(py::none());
}

py::tuple split(std::int64_t us) {
    const kivf::Instant t = kivf::splitmicros(us);
    return py::make_tuple(t.year, t.jday, t.hour, t.minute, t.second, t.msec, t.usec);
}

} // namespace

void addtimes(py::module_& m) {
    m.def("nominal", &nominal, py::arg("delta"),
          "(rate in Hz, interval in s, whether a rate) of the simplest decimal the float32 DELTA "
          "stands for; None when DELTA is not a finite number above 0.");
    m.def("offsets", &offsets, py::arg("delta"), py::arg("first"), py::arg("count"),
          "Microseconds (int64) from the first sample to samples first .. first+count-1 at the "
          "nominal interval of DELTA, exact, rounded halves to even; None when DELTA has no "
          "nominal value or an offset is beyond 2**62.");
    m.def("split", &split, py::arg("us"),
          "(year, day of year, hour, minute, second, millisecond, microsecond) of microseconds "
          "since 1970, proleptic Gregorian.");
}

} // namespace kivfpy
