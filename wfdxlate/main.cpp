// SPDX-License-Identifier: Apache-2.0
// wfdxlate: with file names, converts every record of each wfdisc file
// (batch mode); without, asks for one wfdisc file and turns each of its
// records into a KIV file named after the record's sample file (the dialogue).
//
// Exit status: 0 every record converted; 1 the run could not start; 2 the
// run finished but at least one record was not converted.
#include "wfdxlate/batch.h"
#include "wfdxlate/dialogue.h"

#include "xlate/xlate.h"

#include "co/co.h"

int main(int argc, char** argv) {
    kivf::zstdfd();                // before any file is opened
    kivf::xlate::cleanonsignals(); // an interrupted run leaves no temporary file
    kivf::xlate::setprogram("wfdxlate");
    return argc > 1 ? kivf::wfdx::batch(argc, argv) // file names given: no dialogue
                    : kivf::wfdx::dialogue();
}
