// SPDX-License-Identifier: Apache-2.0
// Name handling: crname on random paths, delimiters and names inside guard
// bytes, and zopenc on random names from inside a fresh temporary
// directory. crname either builds exactly used(path) + delimiter +
// used(name), blank-filled, or refuses with 916 and leaves the path as it
// was; zopenc refuses names of 1024 used characters or more, reports
// failures with handle 1, creates only the file it was named and nothing
// outside the directory. A crash inside zopenc leaves the process in that
// directory: give -artifact_prefix an absolute path (fuzz/run.sh does).
#include "common.h"

#include "co/co.h"

#include <fcntl.h>
#include <filesystem>
#include <set>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

using namespace kivf;
using namespace kivf::fuzz;
namespace fs = std::filesystem;

namespace {

fs::path base; // holds only the working directory "w"
fs::path home; // the directory the run started in

std::set<std::string> entries(const fs::path& dir) {
    std::set<std::string> s;
    for (const auto& e : fs::directory_iterator(dir)) s.insert(e.path().filename().string());
    return s;
}

void fuzzcrname(Input& in) {
    const std::size_t plen = in.u8();
    const std::string delim(in.bytes(in.u8() % 3));
    const std::string path = padded(in.bytes(plen), plen);
    const std::string name(in.rest());

    constexpr std::size_t kPad = 16;
    constexpr char kGuard = '\x5A';
    std::vector<char> buf(kPad + plen + kPad, kGuard);
    std::copy(path.begin(), path.end(), buf.begin() + kPad);
    std::int32_t nerr = -1;
    crname(std::span<char>(buf.data() + kPad, plen), delim, name, nerr);

    for (std::size_t i = 0; i < kPad; ++i) {
        FUZZ_CHECK(buf[i] == kGuard);
        FUZZ_CHECK(buf[kPad + plen + i] == kGuard);
    }
    const std::string got(buf.begin() + kPad,
                          buf.begin() + static_cast<std::ptrdiff_t>(kPad + plen));
    const std::size_t a = usedlen(path), b = usedlen(name);
    if (a + 1 + b <= plen) {
        FUZZ_CHECK(nerr == 0);
        const char d = delim.empty() ? ' ' : delim[0];
        FUZZ_CHECK(got == padded(path.substr(0, a) + d + name.substr(0, b), plen));
    } else {
        FUZZ_CHECK(nerr == kMsgPathTooLong);
        FUZZ_CHECK(got == path);
        FUZZ_CHECK(cmmsg.msgnum == kMsgPathTooLong);
    }
}

void fuzzzopenc(Input& in) {
    const std::uint8_t flags = in.u8();
    const std::int32_t create = flags & 2 ? 1 : 0;
    const std::int32_t rdonly = flags & 4 ? 1 : 0;
    const bool precreate = flags & 8;
    std::string name(in.rest());
    if (flags & 16) { // long names around the 1024-byte limit
        const std::size_t len = 1000 + flags % 64;
        if (name.empty()) name = "n";
        while (name.size() < len) name += name;
        name.resize(len);
    }
    // Keep every name inside the working directory: no absolute path, no
    // parent step. Nothing but what we created is in there to follow.
    if (!name.empty() && name[0] == '/') name[0] = '_';
    for (std::size_t i = 0; i + 1 < name.size(); ++i)
        if (name[i] == '.' && name[i + 1] == '.') name[i + 1] = '_';

    // The name as opened: trailing blanks dropped (one blank kept), cut at a NUL.
    std::size_t n = name.size();
    while (n > 1 && name[n - 1] == ' ') --n;
    const bool toolong = n >= 1024;
    const std::string eff = name.substr(0, std::min(n, name.find('\0')));

    bool made = false;
    if (precreate && !toolong && eff.find('/') == std::string::npos && eff != "." && !eff.empty()) {
        const int fd = ::open(eff.c_str(), O_CREAT | O_WRONLY | O_CLOEXEC, 0644);
        if (fd >= 0) {
            made = true;
            if (::write(fd, "x", 1) != 1) std::abort();
            ::close(fd);
        }
    }
    const fs::path work = fs::current_path();
    const auto before = entries(work);
    struct stat pre {};
    const bool existed = ::stat(eff.c_str(), &pre) == 0;

    std::int32_t handle = 12345, kind = -1;
    zopenc(handle, name, create, rdonly, 0, kind);

    FUZZ_CHECK(kind == 0 || kind == 1 || kind == 2);
    FUZZ_CHECK((kind == 0) == (handle < 0));
    if (kind != 0) FUZZ_CHECK(handle == 1);
    if (toolong) FUZZ_CHECK(kind == 2);
    if (!create && !existed) FUZZ_CHECK(kind == 2);
    if (made) FUZZ_CHECK(kind == 0); // our own plain file opens either way
    // Nothing outside the working directory.
    FUZZ_CHECK(entries(base) == std::set<std::string>{"w"});
    const auto after = entries(work);
    if (kind == 0) {
        const int fd = -handle;
        const int fdflags = ::fcntl(fd, F_GETFD);
        FUZZ_CHECK(fdflags != -1 && (fdflags & FD_CLOEXEC));
        struct stat st {
        }, byname{};
        FUZZ_CHECK(::fstat(fd, &st) == 0);
        FUZZ_CHECK(::stat(eff.c_str(), &byname) == 0);
        FUZZ_CHECK(st.st_ino == byname.st_ino && st.st_dev == byname.st_dev);
        if (create) FUZZ_CHECK(S_ISREG(st.st_mode) && st.st_size == 0);
        if (made && !create) FUZZ_CHECK(st.st_size == 1); // opened, not emptied
        // At most the named file is new.
        for (const std::string& e : after) {
            if (before.count(e)) continue;
            struct stat ne {};
            FUZZ_CHECK(::stat((work / e).c_str(), &ne) == 0 && ne.st_ino == st.st_ino);
        }
        zclosec(handle);
        FUZZ_CHECK(::fcntl(fd, F_GETFD) == -1);
    } else {
        FUZZ_CHECK(after == before); // a failed open creates nothing
    }
    for (const auto& e : fs::directory_iterator(work)) fs::remove_all(e.path());
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    freshmessages();
    std::string tmpl = (fs::temp_directory_path() / "kivf-fuzz-XXXXXX").string();
    if (::mkdtemp(tmpl.data()) == nullptr) std::abort();
    base = tmpl;
    fs::create_directory(base / "w");
    home = fs::current_path();
    std::atexit([] {
        std::error_code ec;
        fs::remove_all(base, ec);
    });
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    Input in(data, size);
    if (in.u8() & 1) {
        fuzzcrname(in);
    } else {
        // Only while the name is opened: libFuzzer reads and writes its own
        // files relative to where the run started.
        fs::current_path(base / "w");
        fuzzzopenc(in);
        fs::current_path(home);
    }
    return 0;
}
