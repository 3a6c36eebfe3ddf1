// Helpers shared by the unit tests: fresh process-wide state, temporary
// directories, whole-file reads.
#pragma once

#include "co/co.h"
#include "co/co_testing.h"
#include "dff/dff.h"
#include "msg/msg.h"

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <unistd.h>

namespace kivf::test {

// Message state as at program start, every unit but 5 and 6 released.
inline void resetstate() {
    cmmsg = CmMsg{};
    kmmsg = KmMsg{};
    for (std::int32_t u = 0; u <= kMaxUnit; ++u)
        if (u != kStdin && u != kStdout) uclose(u);
}

// Every process-wide record as at program start: messages, units, the header
// and its catalogue.
inline void resetall() {
    resetstate();
    cmhdr = CmHdr{};
    kmhdr = KmHdr{};
    cmlhf = CmLhf{};
    kmlhf = KmLhf{};
}

// A fresh temporary directory, removed with its contents at destruction.
struct TempDir {
    std::filesystem::path path;
    TempDir() {
        std::string tmpl = (std::filesystem::temp_directory_path() / "kivf-test-XXXXXX").string();
        path = ::mkdtemp(tmpl.data());
    }
    ~TempDir() {
        std::error_code ec;
        std::filesystem::permissions(path, std::filesystem::perms::owner_all,
                                     std::filesystem::perm_options::add, ec);
        std::filesystem::remove_all(path, ec);
    }
    std::string operator/(const std::string& name) const { return (path / name).string(); }
};

inline std::string slurp(const std::string& file) {
    std::ifstream in(file, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

inline void spit(const std::string& file, const std::string& bytes) {
    std::ofstream(file, std::ios::binary) << bytes;
}

// The used part of message line i (0-based).
inline std::string msgline(int i) {
    return std::string(kmmsg.msgline[static_cast<std::size_t>(i)].used());
}

} // namespace kivf::test
