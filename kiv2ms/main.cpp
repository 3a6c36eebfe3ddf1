// SPDX-License-Identifier: Apache-2.0
// kiv2ms: KIV files into miniSEED files.
#include "kiv2ms/kiv2ms.h"

#include "co/co.h"

int main(int argc, char** argv) {
    kivf::zstdfd(); // before any file is opened: none takes a closed standard stream's place
    return kivf::k2m::run(argc, argv);
}
