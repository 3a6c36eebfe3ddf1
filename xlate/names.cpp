// SPDX-License-Identifier: Apache-2.0
// Output names and what they may not replace. Files are compared by device
// and inode, so a link or another spelling of a path is seen through.
#include "xlate/xlate.h"

#include <algorithm>
#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace kivf::xlate {

std::string_view charcut(std::string_view s) {
    std::size_t k = std::min<std::size_t>(s.size(), 8);
    const auto continuation = [&](std::size_t i) {
        return (static_cast<unsigned char>(s[i]) & 0xC0U) == 0x80U;
    };
    while (k < s.size() && k > 5 && continuation(k)) --k; // a character is at most 4 bytes
    return s.substr(0, k);
}

bool fitname(std::string_view s) {
    if (s.empty()) return false;
    for (const char c : s)
        if (c == '/' || static_cast<unsigned char>(c) < 0x21 || c == 0x7F) return false;
    return true;
}

int openoutdir(Outputs& out, bool make) {
    const auto open = [&out] {
        out.dirfd = ::open(out.dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        return out.dirfd >= 0 ? 0 : errno;
    };
    if (const int err = open(); err != ENOENT || !make) return err == ENOENT ? 0 : err;
    // Each leading part in turn, as far as the whole name; parts already
    // there are passed over, and anything else they are is found by the next.
    for (std::size_t end = 0; end != std::string::npos;) {
        end = out.dir.find('/', end + 1);
        if (::mkdir(out.dir.substr(0, end).c_str(), 0777) != 0 && errno != EEXIST) return errno;
    }
    return open();
}

bool knowinputs(Outputs& out, int n) {
    bool regular = true;
    for (int f = 0; f < n; ++f) {
        struct stat st {};
        if (::stat(out.files[f], &st) != 0) continue;
        out.inputs.push_back(FileId{st.st_dev, st.st_ino});
        regular = regular && (S_ISREG(st.st_mode) || S_ISDIR(st.st_mode));
    }
    return regular;
}

std::string outpath(const Outputs& out, const char* name) {
    if (out.dir.empty()) return name;
    return out.dir + (out.dir.back() == '/' ? "" : "/") + name;
}

std::int32_t clobbers(const Outputs& out, const char* name, FileId samplefile) {
    struct stat st {};
    if (::fstatat(out.dirfd, name, &st, 0) != 0) return 0;
    const FileId target{st.st_dev, st.st_ino};
    for (const FileId& input : out.inputs)
        if (target == input) return kMsgBatchClobber;
    if (target == samplefile) return kMsgBatchOwn;
    return out.keep ? kMsgKept : 0;
}

const char* devicewhy(int fd) {
    struct stat st {};
    if (::fstat(fd, &st) != 0 || ::isatty(fd) == 1) return nullptr;
    return S_ISCHR(st.st_mode)   ? "(a character device)"
           : S_ISBLK(st.st_mode) ? "(a block device)"
                                 : nullptr;
}

} // namespace kivf::xlate
