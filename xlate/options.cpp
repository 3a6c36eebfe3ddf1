// SPDX-License-Identifier: Apache-2.0
// The programs' command line.
#include "xlate/xlate.h"

#include <array>
#include <cstdio>
#include <string>

#ifndef KIVF_VERSION
#define KIVF_VERSION "unknown"
#endif

namespace kivf::xlate {

int readcommandline(int argc, char** argv, char**& files, int& nfiles,
                    const std::function<int()>& help, const std::function<int()>& version,
                    const OwnOption& own) {
    static std::array<char*, 1> none{};
    int first = argc; // first file name
    bool options = true;
    nfiles = 0;
    for (int a = 1; a < argc; ++a) {
        const std::string_view arg = argv[a];
        if (!options || arg.size() < 2 || arg[0] != '-') {
            if (first == argc) first = a;
            argv[first + nfiles++] = argv[a];
        } else if (arg == "--") {
            options = false;
        } else if (arg == "--help") {
            return help();
        } else if (arg == "--version") {
            return version();
        } else if (const int status = own(arg, argc, argv, a); status != -1) {
            return status >= 0 ? status : usage("unknown option " + std::string(arg));
        }
    }
    files = first < argc ? argv + first : none.data();
    return -1;
}

int readoptions(int argc, char** argv, Options& o, void (*help)(), const OwnOption& own) {
    const auto converters = [&o, &own](std::string_view arg, int n, char** args, int& a) {
        if (arg == "-n") {
            o.dry = true;
        } else if (arg == "-q") {
            o.quiet = true;
        } else if (arg == "-k" || arg == "--no-clobber") {
            o.keep = true;
        } else if (arg == "-o") {
            if (++a == n) return usage("option -o needs a value");
            o.outdir = args[a];
            if (o.outdir.empty()) return usage("option -o needs a directory name, not ''");
        } else {
            return own ? own(arg, n, args, a) : -2;
        }
        return -1;
    };
    return readcommandline(
        argc, argv, o.files, o.nfiles,
        [help] {
            help();
            return 0;
        },
        [] {
            std::printf("%s %s\n", program().c_str(), KIVF_VERSION);
            return 0;
        },
        converters);
}

} // namespace kivf::xlate
