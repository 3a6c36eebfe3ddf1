// SPDX-License-Identifier: Apache-2.0
// The package's exceptions: kivf.KivError and its kinds, and how a failure of the library
// becomes one.
#pragma once

#include "msg/msg.h"

#include <pybind11/pybind11.h>

#include <string>

namespace kivfpy {

// Makes the exception classes and sets them on the module: once, with it.
void adderrors(pybind11::module_& m);

// The library's failure, its message the text: a kivf.KivError that is also the built-in
// exception it always was (FileNotFoundError, OSError, ValueError), chosen by its kind.
[[noreturn]] void raise(const kivf::Failure& failed);
[[noreturn]] void raise_value(const std::string& text);
// A kivf.KivValueError of the package's own, its number None: contents this build cannot take.
[[noreturn]] void raise_refused(const std::string& text);

} // namespace kivfpy
