// SPDX-License-Identifier: Apache-2.0
// Running a program as a user would: standard input from a text, output and
// error captured, in a working directory of the test's own, for a bounded time.
#pragma once

#include <algorithm>
#include <csignal>
#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <optional>
#include <string>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

namespace e2e {

struct Result {
    std::string out, err;
    int status = -1; // exit status, or minus the signal that ended it
    bool timedout = false;
};

inline std::string readfile(const std::string& p) {
    std::ifstream in(p, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

struct Options {
    std::optional<std::string> kivaux; // unset when empty optional
    int closed = -1;                   // a standard descriptor closed at start
    std::string outfile;               // standard output to this file instead
    int uid = -1;                      // run as this user when the test runs as root
    long fsize = -1;                   // no file it writes may grow beyond this (RLIMIT_FSIZE)
    int seconds = 60;
};

inline Result run(const std::vector<std::string>& argv, const std::string& dir,
                  const std::string& input, const Options& o = {}) {
    static int counter = 0;
    const std::string base = (std::filesystem::temp_directory_path() / "kivf-run-").string() +
                             std::to_string(::getpid()) + "-" + std::to_string(++counter);
    std::ofstream(base + ".in", std::ios::binary) << input;
    const pid_t pid = ::fork();
    if (pid == 0) {
        const int fds[3] = {::open((base + ".in").c_str(), O_RDONLY),
                            ::open((o.outfile.empty() ? base + ".out" : o.outfile).c_str(),
                                   O_WRONLY | O_CREAT | O_TRUNC, 0644),
                            ::open((base + ".err").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644)};
        for (int fd = 0; fd < 3; ++fd) ::dup2(fds[fd], fd), ::close(fds[fd]);
        if (o.closed >= 0) ::close(o.closed);
        if (o.fsize >= 0) { // a write beyond it fails, rather than raise a signal
            const rlimit lim{static_cast<rlim_t>(o.fsize), static_cast<rlim_t>(o.fsize)};
            ::signal(SIGXFSZ, SIG_IGN), ::setrlimit(RLIMIT_FSIZE, &lim);
        }
        if (::chdir(dir.c_str()) != 0) ::_exit(126);
        o.kivaux ? ::setenv("KIVAUX", o.kivaux->c_str(), 1) : ::unsetenv("KIVAUX");
        if (o.uid >= 0 && ::getuid() == 0 && (::setgid(o.uid) != 0 || ::setuid(o.uid) != 0))
            ::_exit(125);
        std::vector<char*> args;
        for (const auto& a : argv) args.push_back(const_cast<char*>(a.c_str()));
        args.push_back(nullptr);
        ::execv(args[0], args.data());
        ::_exit(127);
    }
    Result r;
    int st = 0;
    for (int ms = 0; ::waitpid(pid, &st, WNOHANG) != pid; ms += 2) { // at least o.seconds
        if ((r.timedout = ms > o.seconds * 1000)) {
            ::kill(pid, SIGKILL), ::waitpid(pid, &st, 0);
            break;
        }
        ::usleep(2000);
    }
    r.status = WIFEXITED(st) ? WEXITSTATUS(st) : -WTERMSIG(st);
    r.out = readfile(base + ".out"), r.err = readfile(base + ".err");
    for (const char* ext : {".in", ".out", ".err"}) std::filesystem::remove(base + ext);
    return r;
}

// A directory of the test's own, removed at the end. Given a message catalogue, files go in work/
// and KIVAUX (env) names aux/ with a copy of it, all open to any user a run may be made as.
struct Scratch {
    std::filesystem::path root, work;
    Options env;
    explicit Scratch(const std::string& catalogue = "") {
        std::string t = (std::filesystem::temp_directory_path() / "kivf-test-XXXXXX").string();
        root = work = ::mkdtemp(t.data());
        if (catalogue.empty()) return;
        work = root / "work", env.kivaux = (root / "aux").string();
        for (const auto& d : {work, root / "aux"}) std::filesystem::create_directories(d);
        std::filesystem::copy_file(catalogue, root / "aux/messages");
        for (const auto& d : {root, work, root / "aux"}) std::filesystem::permissions(d, std::filesystem::perms::all);
    }
    Scratch(const Scratch&) = delete;
    ~Scratch() { std::error_code ec; std::filesystem::remove_all(root, ec); }
    std::string p(const std::string& name) const { return (work / name).string(); }
    void file(const std::string& name, const std::string& bytes) const {
        std::filesystem::create_directories((work / name).parent_path());
        std::ofstream(work / name, std::ios::binary) << bytes;
    }
    std::vector<std::string> listing(const std::string& dir) const { // sorted
        std::vector<std::string> v;
        for (const auto& e : std::filesystem::directory_iterator(work / dir)) v.push_back(e.path().filename());
        std::sort(v.begin(), v.end());
        return v;
    }
};

} // namespace e2e
