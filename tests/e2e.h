// Running a program as a user would: standard input from a text, standard
// output and error captured, in a working directory of the test's own, with
// a bounded run time.
#pragma once

#include <chrono>
#include <csignal>
#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <optional>
#include <string>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace e2e {

struct Result {
    std::string out, err;
    int status = -1; // exit status, or -1 when killed by a signal
    bool timedout = false;
};

inline std::string readfile(const std::string& p) {
    std::ifstream in(p, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

struct Options {
    std::optional<std::string> kivaux; // unset when empty optional
    bool closedstdin = false;          // standard input closed, not merely empty
    int uid = -1;                      // run as this user (tests running as root)
    int seconds = 60;
};

// Runs argv in dir with input on standard input.
inline Result run(const std::vector<std::string>& argv, const std::string& dir,
                  const std::string& input, const Options& o = {}) {
    static int counter = 0;
    const std::string base =
        (std::filesystem::temp_directory_path() /
         ("kivf-run-" + std::to_string(::getpid()) + "-" + std::to_string(++counter)))
            .string();
    std::ofstream(base + ".in", std::ios::binary) << input;
    const pid_t pid = ::fork();
    if (pid == 0) {
        ::close(0);
        if (!o.closedstdin) ::open((base + ".in").c_str(), O_RDONLY); // lands on 0
        ::dup2(::open((base + ".out").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644), 1);
        ::dup2(::open((base + ".err").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644), 2);
        if (::chdir(dir.c_str()) != 0) ::_exit(126);
        o.kivaux ? ::setenv("KIVAUX", o.kivaux->c_str(), 1) : ::unsetenv("KIVAUX");
        if (o.uid >= 0 && (::setgid(gid_t(o.uid)) != 0 || ::setuid(uid_t(o.uid)) != 0))
            ::_exit(125);
        std::vector<char*> args;
        for (const auto& a : argv) args.push_back(const_cast<char*>(a.c_str()));
        args.push_back(nullptr);
        ::execv(args[0], args.data());
        ::_exit(127);
    }
    Result r;
    int st = 0;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(o.seconds);
    while (::waitpid(pid, &st, WNOHANG) != pid) {
        if (std::chrono::steady_clock::now() > deadline) {
            ::kill(pid, SIGKILL);
            ::waitpid(pid, &st, 0);
            r.timedout = true;
            break;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    r.status = WIFEXITED(st) ? WEXITSTATUS(st) : -1;
    r.out = readfile(base + ".out");
    r.err = readfile(base + ".err");
    for (const char* ext : {".in", ".out", ".err"}) std::filesystem::remove(base + ext);
    return r;
}

} // namespace e2e
