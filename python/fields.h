// SPDX-License-Identifier: Apache-2.0
// The header's fields as Python values, both ways: the binding's conversions.
#pragma once

#include "dff/dff.h"

#include <pybind11/pybind11.h>

#include <cstdint>
#include <string>

namespace kivfpy {

// A header as the package holds it: decoded once, when read or derived; its fields become a
// dict only when asked for, and it is written from the records themselves.
struct Header {
    kivf::CmHdr h{};
    kivf::KmHdr k{};
    Header() { kivf::defaults(h, k); }
    Header(const kivf::CmHdr& cm, const kivf::KmHdr& km) : h(cm), k(km) {}
};

// The defined fields of a header as a dict by catalogue name.
pybind11::dict header(const kivf::CmHdr& h, const kivf::KmHdr& k);

// One field of the records by catalogue name, any letter case, checked whole: a value it would
// alter or cut is refused (ValueError, TypeError), never stored.
void setfield(kivf::CmHdr& h, kivf::KmHdr& k, const std::string& kname,
              const pybind11::handle& value);

// The description of an enumerated value by name ("IVEL": "VELOCITY (NM/SEC)"); "" when none.
std::string describe(const std::string& value);

} // namespace kivfpy
