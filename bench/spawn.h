// SPDX-License-Identifier: Apache-2.0
// A benchmark's child process: argv run in dir with standard output thrown
// away, standard input from the file input (in dir) when one is named, and
// KIVAUX set, timed from fork to its end, with its CPU time and peak
// memory; a failing child ends the benchmark. KIVAUX_DIR comes from the build.
#pragma once

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <string>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

namespace bench {

using Clock = std::chrono::steady_clock;

struct Ran {
    double seconds; // wall
    double cpu;     // user + system
    long maxrss_kb;
};

inline Ran spawn(const std::filesystem::path& dir, const std::vector<std::string>& argv,
                 const char* input = nullptr) {
    const auto t0 = Clock::now();
    const pid_t pid = ::fork();
    if (pid == 0) {
        if (::chdir(dir.c_str()) != 0) ::_exit(126);
        if (input != nullptr) ::dup2(::open(input, O_RDONLY), 0);
        const int null = ::open("/dev/null", O_WRONLY);
        ::dup2(null, 1);
        ::setenv("KIVAUX", KIVAUX_DIR, 1);
        std::vector<char*> a;
        for (const auto& s : argv) a.push_back(const_cast<char*>(s.c_str()));
        a.push_back(nullptr);
        ::execv(a[0], a.data());
        ::_exit(127);
    }
    int st = 0;
    rusage ru{};
    ::wait4(pid, &st, 0, &ru);
    const double s = std::chrono::duration<double>(Clock::now() - t0).count();
    if (!WIFEXITED(st) || WEXITSTATUS(st) != 0) {
        std::fprintf(stderr, "%s %s failed (status %d)\n", argv[0].c_str(),
                     argv.size() > 1 ? argv[1].c_str() : "", st);
        std::exit(1);
    }
    const double cpu = static_cast<double>(ru.ru_utime.tv_sec + ru.ru_stime.tv_sec) +
                       static_cast<double>(ru.ru_utime.tv_usec + ru.ru_stime.tv_usec) * 1e-6;
    return {s, cpu, ru.ru_maxrss};
}

// The medians of runs: any values, their wall and CPU times; and the
// largest peak memory among them.
// A run whose output goes into out, a directory relative to dir made first: an argument
// beginning with "OUT" has it in out's place; the disk is synced first, so that the runs
// before are not paid for here.
inline Ran spawninto(const std::filesystem::path& dir, std::vector<std::string> argv,
                     const std::string& out) {
    for (std::string& a : argv)
        if (a.rfind("OUT", 0) == 0) a = out + a.substr(3);
    std::filesystem::create_directories(dir / out);
    ::sync();
    return spawn(dir, argv);
}

inline double median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}
inline double wall(const std::vector<Ran>& v) {
    std::vector<double> s;
    for (const Ran& x : v) s.push_back(x.seconds);
    return median(s);
}
inline double cpu(const std::vector<Ran>& v) {
    std::vector<double> s;
    for (const Ran& x : v) s.push_back(x.cpu);
    return median(s);
}
inline long peak(const std::vector<Ran>& v) {
    long k = 0;
    for (const Ran& x : v) k = std::max(k, x.maxrss_kb);
    return k;
}

} // namespace bench
