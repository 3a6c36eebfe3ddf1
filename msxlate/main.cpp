// SPDX-License-Identifier: Apache-2.0
// msxlate: miniSEED files into KIV files.
#include "msxlate/msxlate.h"

#include "co/co.h"

int main(int argc, char** argv) {
    kivf::zstdfd(); // before any file is opened: none takes a closed standard stream's place
    return kivf::msx::run(argc, argv);
}
