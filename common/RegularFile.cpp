#include "common/RegularFile.h"

#include <cerrno>
#include <cstring>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

std::string KindOf(mode_t mode)
{
    if (S_ISDIR(mode)) return "a folder";
    if (S_ISFIFO(mode)) return "a FIFO";
    if (S_ISCHR(mode)) return "a character device";
    if (S_ISBLK(mode)) return "a block device";
    if (S_ISSOCK(mode)) return "a socket";
    return "not a plain file";
}

template <typename Bytes>
bool ReadInto(const std::string& path, std::uint64_t limit, Bytes& bytes, std::string& why)
{
    bytes.clear();
    std::uint64_t size = 0;
    const int fd = OpenRegularFile(path, limit, size, why);
    if (fd < 0) return false;
    // The size may change while we read (someone appends): never hold more
    // than the limit, and take what is there when it shrinks.
    bytes.resize(static_cast<std::size_t>(size));
    std::size_t have = 0;
    bool ok = true;
    while (have < bytes.size()) {
        const ssize_t got = ::read(fd, bytes.data() + have, bytes.size() - have);
        if (got < 0 && errno == EINTR) continue;
        if (got < 0) {
            why = std::string("cannot read the file: ") + std::strerror(errno);
            ok = false;
            break;
        }
        if (got == 0) break;
        have += static_cast<std::size_t>(got);
    }
    if (ok && have == bytes.size()) {
        char extra = 0;
        ssize_t more = 0;
        do more = ::read(fd, &extra, 1);
        while (more < 0 && errno == EINTR);
        if (more > 0 && size >= limit) {
            why = "the file grew past the " + DescribeSize(limit) + " it may hold";
            ok = false;
        }
    }
    ::close(fd);
    if (!ok) {
        bytes.clear();
        return false;
    }
    bytes.resize(have);
    return true;
}

}  // namespace

std::string DescribeSize(std::uint64_t bytes)
{
    constexpr std::uint64_t kKb = 1024, kMb = kKb * 1024, kGb = kMb * 1024;
    if (bytes >= kGb && bytes % kGb == 0) return std::to_string(bytes / kGb) + " GB";
    if (bytes >= kMb && bytes % kMb == 0) return std::to_string(bytes / kMb) + " MB";
    if (bytes >= kKb && bytes % kKb == 0) return std::to_string(bytes / kKb) + " KB";
    return std::to_string(bytes) + " bytes";
}

int OpenRegularFile(const std::string& path, std::uint64_t limit, std::uint64_t& size, std::string& why)
{
    size = 0;
    // NOTE: O_NONBLOCK so that a FIFO without a writer opens at once and is
    // refused below instead of holding the caller; it changes nothing for a
    // regular file's reads.
    int fd = -1;
    do fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
    while (fd < 0 && errno == EINTR);
    if (fd < 0) {
        why = errno == ENOENT ? "missing" : std::string("cannot open the file: ") + std::strerror(errno);
        return -1;
    }
    struct stat info {};
    if (::fstat(fd, &info) != 0) {
        why = std::string("cannot read the file: ") + std::strerror(errno);
        ::close(fd);
        return -1;
    }
    if (!S_ISREG(info.st_mode)) {
        why = "not a regular file (" + KindOf(info.st_mode) + ")";
        ::close(fd);
        return -1;
    }
    if (static_cast<std::uint64_t>(info.st_size) > limit) {
        why = "a file of " + std::to_string(info.st_size) + " bytes is larger than the " + DescribeSize(limit) +
              " it may hold";
        ::close(fd);
        return -1;
    }
    size = static_cast<std::uint64_t>(info.st_size);
    return fd;
}

bool ReadRegularFile(const std::string& path, std::uint64_t limit, std::string& bytes, std::string& why)
{
    return ReadInto(path, limit, bytes, why);
}

bool ReadRegularFile(const std::string& path, std::uint64_t limit, std::vector<std::uint8_t>& bytes, std::string& why)
{
    return ReadInto(path, limit, bytes, why);
}

bool ReadRegularFile(const std::string& path, std::uint64_t limit, std::vector<char>& bytes, std::string& why)
{
    return ReadInto(path, limit, bytes, why);
}
