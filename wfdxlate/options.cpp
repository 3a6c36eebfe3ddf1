// The converters' shared command line.
#include "wfdxlate/options.h"
#include "wfdxlate/report.h"

#include <array>
#include <cstdio>
#include <string>

#ifndef KIVF_VERSION
#define KIVF_VERSION "unknown"
#endif

namespace kivf::wfdx {

int readoptions(int argc, char** argv, Options& o, void (*help)(), const OwnOption& own) {
    static std::array<char*, 1> none{};
    int first = argc; // first file name
    bool options = true;
    for (int a = 1; a < argc; ++a) {
        const std::string_view arg = argv[a];
        if (!options || arg.size() < 2 || arg[0] != '-') {
            if (first == argc) first = a;
            argv[first + o.nfiles++] = argv[a];
        } else if (arg == "--") {
            options = false;
        } else if (arg == "--help") {
            help();
            return 0;
        } else if (arg == "--version") {
            std::printf("%s %s\n", program().c_str(), KIVF_VERSION);
            return 0;
        } else if (arg == "-n") {
            o.dry = true;
        } else if (arg == "-q") {
            o.quiet = true;
        } else if (arg == "-o") {
            if (++a == argc) return usage("option -o needs a value");
            o.outdir = argv[a];
            if (o.outdir.empty()) return usage("option -o needs a directory name, not ''");
        } else if (const int status = own ? own(arg, argc, argv, a) : -2;
                   status != -1) {
            return status >= 0 ? status : usage("unknown option " + std::string(arg));
        }
    }
    o.files = first < argc ? argv + first : none.data();
    return -1;
}

} // namespace kivf::wfdx
