// SPDX-License-Identifier: Apache-2.0
// The package's exceptions, made with the module, and the library's failures raised as them.
#include "errors.h"

#include "bot/numbers.h"

#include <initializer_list>

namespace py = pybind11;
using namespace kivf;

namespace kivfpy {
namespace {

// The library's failures, each also the built-in exception it was before they had a class
// of their own, so that callers' except clauses keep working. Made once, with the module.
struct Errors {
    PyObject* any;     // KivError
    PyObject* os;      // KivOSError: the file layer's, the system's
    PyObject* missing; // KivFileNotFoundError
    PyObject* value;   // KivValueError: the contents
};
Errors errors{};

PyObject* newerror(const char* name, const char* doc, std::initializer_list<PyObject*> bases) {
    const py::tuple t(bases.size());
    std::size_t i = 0;
    for (PyObject* b : bases) t[i++] = py::reinterpret_borrow<py::object>(b);
    py::dict members;
    members["number"] = py::none(); // the library's message number; None for the package's own
    PyObject* e = PyErr_NewExceptionWithDoc(name, doc, t.ptr(), members.ptr());
    if (e == nullptr) throw py::error_already_set();
    return e;
}

} // namespace

void adderrors(py::module_& m) {
    errors.any =
        newerror("kivf.KivError", "A failure the library reported; .number is its message number.",
                 {PyExc_Exception});
    errors.os = newerror("kivf.KivOSError", "A file that could not be opened, read or written.",
                         {errors.any, PyExc_OSError});
    errors.missing = newerror("kivf.KivFileNotFoundError", "A file that does not exist.",
                              {errors.os, PyExc_FileNotFoundError});
    errors.value = newerror("kivf.KivValueError",
                            "Contents the library refused: no KIV file, a header it cannot write.",
                            {errors.any, PyExc_ValueError});
    m.attr("KivError") = py::handle(errors.any);
    m.attr("KivOSError") = py::handle(errors.os);
    m.attr("KivFileNotFoundError") = py::handle(errors.missing);
    m.attr("KivValueError") = py::handle(errors.value);
}

// The exception of a failure follows its kind: the system's (OSError; FileNotFoundError for a
// missing file) or the contents' (ValueError). A system failure's errno is kept.
[[noreturn]] void raise(const Failure& failed) {
    PyObject* type = errors.value;
    switch (msgkind(failed.number)) {
    case MsgKind::missing:
        type = errors.missing;
        break;
    case MsgKind::system:
        type = errors.os;
        break;
    case MsgKind::content:
        break;
    }
    const py::object e = py::reinterpret_borrow<py::object>(type)(py::str(failed.text));
    e.attr("number") = failed.number;
    if (type != errors.value && failed.err != 0) e.attr("errno") = failed.err;
    PyErr_SetObject(type, e.ptr());
    throw py::error_already_set();
}

[[noreturn]] void raise_value(const std::string& text) {
    throw py::value_error(text);
}

[[noreturn]] void raise_refused(const std::string& text) {
    PyErr_SetString(errors.value, text.c_str());
    throw py::error_already_set();
}

} // namespace kivfpy
