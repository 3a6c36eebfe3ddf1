// SPDX-License-Identifier: Apache-2.0
// Helpers shared by the unit tests: fresh state, temporary directories, runs in a child.
#pragma once

#include "co/co.h"
#include "co/co_testing.h"
#include "dff/dff.h"
#include "msg/msg.h"

#include <array>
#include <bit>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <sys/wait.h>
#include <tuple>
#include <unistd.h>

namespace kivf::test {

// Message state as at program start, every unit but 5 and 6 released.
inline void resetstate() {
    cmmsg = CmMsg{};
    kmmsg = KmMsg{};
    for (std::int32_t u = 0; u <= kMaxUnit; ++u)
        if (u != kStdin && u != kStdout) uclose(u);
}

// Every process-wide record as at program start.
inline void resetall() {
    resetstate();
    std::tie(cmhdr, kmhdr, cmlhf, kmlhf) = std::tuple{CmHdr{}, KmHdr{}, CmLhf{}, KmLhf{}};
}

// A fresh temporary directory, removed with its contents at destruction.
struct TempDir {
    std::string tmpl = (std::filesystem::temp_directory_path() / "kivf-test-XXXXXX").string();
    std::filesystem::path path{::mkdtemp(tmpl.data())};
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
    return std::string(kmmsg.msgline[std::size_t(i)].used());
}

// A failure of the modern face as "number|text|errno"; posted: the same of the message buffer,
// with the errno given.
inline std::string shown(const Failure& f) {
    return std::to_string(f.number) + "|" + f.text + "|" + std::to_string(f.err);
}
inline std::string posted(int err) {
    return shown({cmmsg.msgnum, lastmsg(), err});
}

// Floats bit for bit; depbits: a header's DEPMIN, DEPMAX and DEPMEN so.
inline std::array<std::uint32_t, 3> bits(std::array<float, 3> f) {
    return std::bit_cast<std::array<std::uint32_t, 3>>(f);
}
inline std::array<std::uint32_t, 3> depbits(const CmHdr& h) {
    return bits({h.f(fslot::DEPMIN), h.f(fslot::DEPMAX), h.f(fslot::DEPMEN)});
}

// The lowest free descriptor: a routine that leaks one moves it.
inline int lowestfd() {
    const int fd = ::dup(0);
    return ::close(fd), fd;
}

// What f prints on standard output (unit 6), which is a file meanwhile.
template <class F> std::string printed(F f) {
    char name[] = "/tmp/kivf-out-XXXXXX";
    const int fd = ::mkstemp(name);
    std::fflush(nullptr); // every unit and stdout
    const int saved = ::dup(1);
    ::dup2(fd, 1);
    f();
    std::fflush(nullptr);
    ::dup2(saved, 1);
    ::close(saved);
    ::close(fd);
    const std::string s = slurp(name);
    return ::unlink(name), s;
}

// Runs body in a child (as user 65534 when asked and running as root), its standard output
// captured; status: the child's exit status (body's result), -1 when it did not exit normally.
struct Child {
    int status;
    std::string out;
};
template <class Body> Child inchild(Body body, bool ordinary = false) {
    char name[] = "/tmp/kivf-child-XXXXXX";
    const int fd = ::mkstemp(name);
    std::fflush(stdout);
    const pid_t pid = ::fork();
    if (pid == 0) {
        ::dup2(fd, 1);
        if (ordinary && ::geteuid() == 0 && (::setgid(65534) != 0 || ::setuid(65534) != 0))
            ::_exit(99);
        const int code = body();
        std::fflush(nullptr);
        ::_exit(code);
    }
    int st = 0;
    ::waitpid(pid, &st, 0);
    ::close(fd);
    Child c{WIFEXITED(st) ? WEXITSTATUS(st) : -1, slurp(name)};
    return ::unlink(name), c;
}

} // namespace kivf::test
