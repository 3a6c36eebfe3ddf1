// SPDX-License-Identifier: Apache-2.0
// Table files read line by line: every station table of the converters.
#include "xlate/xlate.h"

#include <array>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace kivf::xlate {

namespace {

// The file read whole (a pipe is read once); 0, or errno with why left
// empty, or why (a device, which could be read for ever).
int readwhole(const char* path, std::string& text, const char*& why) {
    const int fd = ::open(path, O_RDONLY | O_CLOEXEC);
    if (fd < 0) return errno;
    struct stat st {};
    const int bad = ::fstat(fd, &st) != 0 ? errno : S_ISDIR(st.st_mode) ? EISDIR : 0;
    why = bad == 0 ? devicewhy(fd) : nullptr;
    if (bad != 0 || why != nullptr) {
        ::close(fd);
        return bad;
    }
    std::array<char, 65536> buf{};
    for (;;) {
        const ssize_t got = ::read(fd, buf.data(), buf.size());
        if (got < 0 && errno == EINTR) continue;
        if (got <= 0) {
            const int err = got < 0 ? errno : 0;
            ::close(fd);
            return err;
        }
        text.append(buf.data(), static_cast<std::size_t>(got));
    }
}

} // namespace

bool loadtable(const std::string& file, const TableLine& read) {
    std::string text;
    const char* device = nullptr;
    if (const int err = readwhole(file.c_str(), text, device); err != 0 || device != nullptr) {
        Message(kMsgMetaUnread) << file << (device != nullptr ? device : std::strerror(err));
        return false;
    }
    std::string_view rest = text;
    for (std::int64_t lineno = 1; !rest.empty(); ++lineno) {
        const std::size_t end = rest.find('\n');
        const std::string_view line = rest.substr(0, end);
        std::string why = "(a NUL character)";
        if (line.find('\0') != std::string_view::npos || !read(line, lineno, why)) {
            Message(kMsgMetaLine) << fileline(file, lineno) << why;
            return false;
        }
        rest.remove_prefix(end == std::string_view::npos ? rest.size() : end + 1);
    }
    return true;
}

} // namespace kivf::xlate
