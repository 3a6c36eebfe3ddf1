// SPDX-License-Identifier: Apache-2.0
// miniSEED for the package: files told from KIV files by their first bytes, read through the
// reading library as msxlate reads them, and traces packed into records by the packing
// library. Both libraries need libmseed; a module built without it still tells miniSEED
// files apart, and refuses them with a message naming the missing library.
#pragma once

#include "fields.h"

#include <pybind11/pybind11.h>

#include <span>
#include <string>

namespace kivfpy {

// Whether the module was built with libmseed (kivf._kivf.mseed).
extern const bool kMseed;

// Sets up what miniSEED needs once, with the module: libmseed's own log lines are taken
// into the messages, never printed.
void initmseed();

// The file at path opened for reading when it is a regular file whose first bytes are a
// miniSEED 2 fixed header (see looksmseed in mseedread.cpp); -1 otherwise, including when it
// cannot be opened (the KIV reader then says why, as it always has). Needs no interpreter lock.
int openmseed(const std::string& path);

// The miniSEED file open as fd, named path, read whole and closed: (traces, notes), traces
// a list of (Header, float32 samples, None, False), one for each continuous segment of each
// channel as msxlate converts it; notes the texts of the notes reading gave ("NOTE 2065:
// ..."). A refusal raises its KivError. The file is read without the interpreter lock.
pybind11::tuple readmseed(int fd, const std::string& path);

// A trace to pack: its header, NPTS and LEVEN set from its arrays, its samples, and its name
// in messages.
struct ToPack {
    Header header;
    std::span<const float> y;
    std::string name;
};

// How write_mseed packs, as the package's caller gave it; an empty encoding chooses, empty
// codes take each trace's own.
struct PackOptions {
    long long reclen = 512;
    std::string encoding, quality = "D", network, station, location, channel;
};

// The traces packed in order into the one file path, which appears whole or not at all
// (nothing is left of it when anything is refused). Options the packer cannot take raise
// ValueError; refusals of the packer or the file raise their KivError. Packed and written
// without the interpreter lock.
void writemseed(const std::string& path, std::span<const ToPack> traces,
                const PackOptions& options);

} // namespace kivfpy
