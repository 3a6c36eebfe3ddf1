// The command line the converters share: -o DIR, -n, -q, --help, --version
// and --, with the input files among the options in any order.
#pragma once

#include <functional>
#include <string_view>

namespace kivf::wfdx {

struct Options {
    std::string_view outdir; // empty: the working directory
    bool dry = false, quiet = false;
    char** files = nullptr; // the file names, in their order
    int nfiles = 0;
};

// A program's own option, as the argument arg at argv[a]; it may take its
// value from argv[a + 1] and move a on. Returns -1 when taken, else the exit
// status (a usage error).
using OwnOption = std::function<int(std::string_view arg, int argc, char** argv, int& a)>;

// Read the command line into o; the file names are moved to the front of
// argv's rest. Returns -1 when the run goes on, else the exit status: 0 after
// --help (help() prints it) or --version, 1 for a usage error.
int readoptions(int argc, char** argv, Options& o, void (*help)(), const OwnOption& own = {});

} // namespace kivf::wfdx
