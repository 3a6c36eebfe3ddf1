// Output names and what they may not replace. Files are compared by device
// and inode, so a link or another spelling of a path is seen through.
#include "wfdxlate/names.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace kivf::wfdx {

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

bool nameable(Row& r) {
    if (fitname(charcut(r.sta)) && fitname(charcut(r.chan))) return true;
    return r.why.set(kMsgBatchName, r.sta.substr(0, 8), r.chan.substr(0, 8));
}

void outname(const Row& r, OutName& name) {
    const std::string_view sta = charcut(r.sta), chan = charcut(r.chan);
    std::snprintf(name.data(), name.size(), "%.*s.%.*s.%04d.%03d.%02d.%02d.%02d.%03d.kiv",
                  static_cast<int>(sta.size()), sta.data(), static_cast<int>(chan.size()),
                  chan.data(), r.year, r.jday, r.hour, r.minute, r.second, r.msec);
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

std::string outpath(const Outputs& out, const char* name) {
    if (out.dir.empty()) return name;
    return out.dir + (out.dir.back() == '/' ? "" : "/") + name;
}

// The file is the last one that started before the place.
std::string lineof(const Outputs& out, std::uint64_t place) {
    if (place >= Written::kMaxPlace) return "an earlier line";
    const auto& before = out.linesbefore;
    const auto f = std::upper_bound(before.begin(), before.end(), place - 1) - 1;
    return fileline(out.files[f - before.begin()], static_cast<std::int64_t>(place - *f));
}

std::int32_t clobbers(const Outputs& out, const char* name, FileId samplefile) {
    struct stat st {};
    if (::fstatat(out.dirfd, name, &st, 0) != 0) return 0;
    const FileId target{st.st_dev, st.st_ino};
    for (const FileId& input : out.inputs)
        if (target == input) return kMsgBatchClobber;
    return target == samplefile ? kMsgBatchOwn : 0;
}

std::uint64_t rewritten(const Outputs& out, const std::string& path, FileId samplefile) {
    const std::string_view p(path);
    const std::string base(p.substr(p.rfind('/') + 1)); // all of it when no '/'
    if (!base.ends_with(".kiv")) return 0;
    const std::uint64_t first = out.written.find(base);
    struct stat st {};
    if (first == 0 || ::fstatat(out.dirfd, base.c_str(), &st, 0) != 0) return 0;
    return FileId{st.st_dev, st.st_ino} == samplefile ? first : 0;
}

const char* devicewhy(int fd) {
    struct stat st {};
    if (::fstat(fd, &st) != 0 || ::isatty(fd) == 1) return nullptr;
    return S_ISCHR(st.st_mode)   ? "(a character device)"
           : S_ISBLK(st.st_mode) ? "(a block device)"
                                 : nullptr;
}

} // namespace kivf::wfdx
