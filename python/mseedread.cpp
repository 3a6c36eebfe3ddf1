// SPDX-License-Identifier: Apache-2.0
// miniSEED files told apart by their first bytes and read whole as msxlate reads them: one
// trace for each continuous segment of each channel, its header filled by the reading
// library, its samples the library's own array, handed to numpy without a copy.
#include "mseed.h"

#include "errors.h"

#ifdef KIVF_MSEED
#include "msread/msread.h"
#endif

#include <pybind11/numpy.h>

#include <array>
#include <cstdlib>
#include <fcntl.h>
#include <mutex>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace py = pybind11;
using namespace kivf;

namespace kivfpy {

const bool kMseed =
#ifdef KIVF_MSEED
    true;
#else
    false;
#endif

namespace {

// Whether the first 8 bytes of a file begin a miniSEED 2 record: a sequence number of six
// digits, blanks or NULs, a quality indicator (D, R, Q or M), then a blank or a NUL. A KIV
// file begins with the floats DELTA and DEPMIN, which never look so in practice; libmseed's
// own checks of the rest come when the file is read.
bool looksmseed(const std::array<unsigned char, 8>& b) {
    for (std::size_t i = 0; i < 6; ++i)
        if (!((b[i] >= '0' && b[i] <= '9') || b[i] == ' ' || b[i] == '\0')) return false;
    const unsigned char q = b[6];
    return (q == 'D' || q == 'R' || q == 'Q' || q == 'M') && (b[7] == ' ' || b[7] == '\0');
}

} // namespace

int openmseed(const std::string& path) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return -1;
    // Only a regular file: the bytes looked at in a pipe could not be read again.
    struct stat st {};
    std::array<unsigned char, 8> head{};
    if (::fstat(fd, &st) == 0 && S_ISREG(st.st_mode) &&
        ::pread(fd, head.data(), head.size(), 0) == static_cast<ssize_t>(head.size()) &&
        looksmseed(head))
        return fd;
    ::close(fd);
    return -1;
}

#ifdef KIVF_MSEED

void initmseed() {
    msread::capturelog();
}

namespace {

// The reader's buffers are the process's: one file at a time is read, other threads still
// running (the interpreter lock is let go first).
std::mutex& readlock() {
    static std::mutex lock;
    return lock;
}

// A message the reader told, composed as the library composes its own: the catalogue text
// for the number, then the particulars.
Failure composed(const msread::Told& told) {
    return (Draft(told.number) << told.text).failure();
}

// A note's text: the message as composed, on one line as a warning is shown, "NOTE" where a
// failure says "ERROR".
std::string notetext(const msread::Told& told) {
    std::string text = oneline(composed(told));
    constexpr std::string_view kError = "ERROR";
    if (text.starts_with(kError)) text.replace(0, kError.size(), "NOTE");
    return text;
}

// The reader's array, owned by numpy from here on and freed as the reader allocated it.
py::array_t<float> owned(msread::SegmentTrace& t) {
    if (t.n == 0) return py::array_t<float>(0);
    float* p = t.y.release();
    const py::capsule owner(p, [](void* q) { std::free(q); });
    return py::array_t<float>({static_cast<py::ssize_t>(t.n)}, {sizeof(float)}, p, owner);
}

} // namespace

py::tuple readmseed(int fd, const std::string& path) {
    std::vector<msread::SegmentTrace> traces;
    std::vector<msread::Told> told;
    {
        const py::gil_scoped_release unlocked;
        const std::lock_guard<std::mutex> one(readlock());
        const msread::ReadAs as{.budget = msread::memorybudget(),
                                .notes = true,
                                .tell = [&told](const msread::Told& t) { told.push_back(t); }};
        msread::readtraces(fd, path, traces, as);
        ::close(fd);
    }
    py::list notes;
    for (const msread::Told& t : told) {
        if (!t.note) raise(composed(t)); // the first refusal: a file is taken whole or not at all
        notes.append(notetext(t));
    }
    py::list got;
    for (msread::SegmentTrace& t : traces)
        got.append(py::make_tuple(Header(t.hdr, t.khdr), owned(t), py::none(), false));
    return py::make_tuple(got, notes);
}

#else

void initmseed() {}

py::tuple readmseed(int fd, const std::string& path) {
    ::close(fd);
    raise_refused("kivf was built without libmseed: miniSEED files cannot be read: " + path);
}

#endif

} // namespace kivfpy
