// SPDX-License-Identifier: Apache-2.0
// The library's times for the package: nominal rates, sample offsets, instants split.
#pragma once

#include <pybind11/pybind11.h>

namespace kivfpy {

// Sets nominal, offsets and split on the module.
void addtimes(pybind11::module_& m);

} // namespace kivfpy
