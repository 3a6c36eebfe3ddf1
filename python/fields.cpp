// SPDX-License-Identifier: Apache-2.0
// The header's fields as Python values: the defined fields as a dict, and values given by
// name checked and stored in the current header.
#include "fields.h"

#include "bot/bot.h"
#include "errors.h"

#include <pybind11/numpy.h>

#include <limits>

namespace py = pybind11;
using namespace kivf;

namespace kivfpy {
namespace {

std::string stripped(std::string_view t) {
    t = used(t);
    while (!t.empty() && t.front() == ' ') t.remove_prefix(1);
    return std::string(t);
}

py::str latin1(const std::string& s) {
    return py::reinterpret_steal<py::str>(
        PyUnicode_DecodeLatin1(s.data(), static_cast<Py_ssize_t>(s.size()), nullptr));
}

const KmLhf& names() {
    return fieldcatalogue().names;
}

std::string name(const Text<8>& t) {
    return std::string(t.used());
}

// A number as messages show it: ints beyond 64 bits in six digits, which also keeps clear of
// the interpreter's limit on turning long ints into text.
std::string shown(const py::handle& number) {
    if (PyLong_Check(number.ptr())) {
        int overflow = 0;
        const long long n = PyLong_AsLongLongAndOverflow(number.ptr(), &overflow);
        if (overflow == 0) return std::to_string(n);
        const py::module_ decimal = py::module_::import("decimal");
        const py::object six = decimal.attr("Context")(py::arg("prec") = 6);
        const py::object d = six.attr("create_decimal")(number).attr("normalize")(six);
        return py::str("{:e}").format(d).cast<std::string>();
    }
    return py::repr(number).cast<std::string>();
}

bool isbool(const py::handle& value) {
    return PyBool_Check(value.ptr()) ||
           py::isinstance(value, py::module_::import("numpy").attr("bool_"));
}

// An integer (numpy's too, not a bool), exactly: no float is rounded into one.
std::int32_t int32of(const std::string& kname, const py::handle& value, const char* takes) {
    const auto index =
        py::reinterpret_steal<py::object>(isbool(value) ? nullptr : PyNumber_Index(value.ptr()));
    if (!index) {
        PyErr_Clear();
        throw py::type_error(kname + ": takes " + takes);
    }
    int overflow = 0;
    const long long n = PyLong_AsLongLongAndOverflow(index.ptr(), &overflow);
    if (overflow != 0 || n < std::numeric_limits<std::int32_t>::min() ||
        n > std::numeric_limits<std::int32_t>::max())
        raise_value(kname + ": " + shown(index) + " does not fit in 32 bits");
    return static_cast<std::int32_t>(n);
}

} // namespace

// The defined fields by catalogue name: floats as numpy.float32 (the stored bits, so times
// computed from DELTA agree with the C++ and Octave readers'), other numbers as int,
// enumerated values by name, logicals as bool, texts stripped (KEVNM whole, its two slots
// together).
py::dict header(const CmHdr& h, const KmHdr& k) {
    py::dict d;
    const py::array_t<float> floats(kNumFhdr, h.fhdr.data()); // indexing gives float32 scalars
    for (std::int32_t s = 1; s <= kNumFhdr; ++s)
        if (h.f(s) != kUndfFlt) d[py::str(name(names().kfhdr[s - 1]))] = floats[py::int_(s - 1)];
    for (std::int32_t s = 1; s <= kNumNhdr; ++s)
        if (h.n(s) != kUndfInt) d[py::str(name(names().knhdr[s - 1]))] = h.n(s);
    for (std::int32_t s = 1; s <= kNumIhdr; ++s) {
        const std::int32_t v = h.i(s);
        if (v == kUndfEnm) continue;
        const py::str key(name(names().kihdr[s - 1]));
        if (v >= 1 && v <= ienum::IXYZ) {
            d[key] = py::str(name(names().kienm[v - 1]));
        } else {
            d[key] = v;
        }
    }
    for (std::int32_t s = 1; s <= kNumLhdr; ++s)
        d[py::str(name(names().klhdr[s - 1]))] = h.l(s) != 0;
    for (std::int32_t s = 1; s <= kNumKhdr; ++s) {
        if (s == kslot::KEVNMC) continue;
        const std::string_view first = k.k(s);
        if (s == kslot::KEVNM) {
            const std::string_view second = k.k(kslot::KEVNMC);
            if (first == kUndfTxt && (second == kUndfTxt || used(second).empty())) continue;
            d[py::str(name(names().kkhdr[s - 1]))] =
                latin1(stripped(std::string(first) + std::string(second)));
        } else if (first != kUndfTxt) {
            d[py::str(name(names().kkhdr[s - 1]))] = latin1(stripped(first));
        }
    }
    return d;
}

// One field of the records by catalogue name, any letter case. Every value is checked here, so
// the setters' own leniency (names cut to 8 characters, texts cut to their field) never alters
// what was asked for.
void setfield(CmHdr& h, KmHdr& k, const std::string& kname, const py::handle& value) {
    std::int32_t slot;
    if ((slot = catslot(kname, names().kkhdr)) != 0) {
        if (!py::isinstance<py::str>(value))
            throw py::type_error(kname + ": a text field takes a str");
        const auto bytes = py::reinterpret_steal<py::object>(PyUnicode_AsLatin1String(value.ptr()));
        if (!bytes) {
            PyErr_Clear();
            raise_value(kname + ": " + shown(value) + " holds a character outside Latin-1");
        }
        const std::string text = py::bytes(bytes);
        const std::size_t width = slot == kslot::KEVNM ? 16 : 8;
        if (text.find('\0') != std::string::npos)
            raise_value(kname + ": " + shown(value) + " holds a NUL character");
        if (text.size() > width)
            raise_value(kname + ": " + shown(value) + " is longer than " + std::to_string(width) +
                        " characters");
        kivf::setfield(k, kname, text);
    } else if ((slot = catslot(kname, names().knhdr)) != 0) {
        const std::int32_t v = int32of(kname, value, "an int");
        // Readers know this one header version only: a file with another is no KIV file.
        if (slot == nslot::NVHDR && v != kCurHver)
            raise_value(kname + ": " + std::to_string(v) + " is not " + std::to_string(kCurHver) +
                        ", the header version written");
        kivf::setfield(h, kname, v);
    } else if ((slot = catslot(kname, names().kihdr)) != 0) {
        std::int32_t v;
        if (py::isinstance<py::str>(value)) {
            const std::string e = value.cast<std::string>();
            v = catslot(e, names().kienm);
            if (v < 1 || v > ienum::IXYZ)
                raise_value(kname + ": no enumerated value is named " + e);
        } else {
            v = int32of(kname, value, "a value name (str) or an int");
        }
        h.i(slot) = v;
    } else if ((slot = catslot(kname, names().klhdr)) != 0) {
        std::int32_t v;
        if (isbool(value)) {
            v = py::cast<bool>(value) ? 1 : 0;
        } else {
            const auto index = py::reinterpret_steal<py::object>(PyNumber_Index(value.ptr()));
            if (!index) {
                PyErr_Clear();
                throw py::type_error(kname + ": takes a bool");
            }
            if (index.not_equal(py::int_(0)) && index.not_equal(py::int_(1)))
                raise_value(kname + ": " + shown(index) + " is neither 0 nor 1");
            v = index.equal(py::int_(1)) ? 1 : 0;
        }
        h.l(slot) = v;
    } else if (catslot(kname, names().kfhdr) != 0) {
        // Any real number (numpy scalars too), but not a text that spells one, nor a bool.
        const bool wrong = py::isinstance<py::str>(value) || isbool(value);
        const auto number =
            py::reinterpret_steal<py::object>(wrong ? nullptr : PyNumber_Float(value.ptr()));
        if (!number) {
            // An int too large for a double is a value out of range, not a wrong type.
            const bool range = !wrong && PyErr_ExceptionMatches(PyExc_OverflowError);
            PyErr_Clear();
            if (!range) throw py::type_error(kname + ": a floating field takes a real number");
            raise_value(kname + ": " + shown(value) + " is beyond float32's range");
        }
        const double d = number.cast<double>();
        const auto f = static_cast<float>(d);
        if (std::isinf(f) && std::isfinite(d))
            raise_value(kname + ": " + shown(value) + " is beyond float32's range");
        kivf::setfield(h, kname, f);
    } else {
        raise_value("no header field named " + kname);
    }
}

// The description of an enumerated value by name ("IVEL": "VELOCITY (NM/SEC)").
std::string describe(const std::string& value) {
    const std::int32_t v = catslot(value, names().kienm);
    if (v < 1 || v > ienum::IXYZ) return {};
    return stripped(names().kdienm[v - 1]);
}

} // namespace kivfpy
