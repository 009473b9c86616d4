#include "common/PrivateFiles.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <system_error>
#include <vector>

#include <fcntl.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

std::string Quoted(const std::string& path) { return "\"" + path + "\""; }

std::string ModeText(mode_t mode)
{
    char text[8];
    std::snprintf(text, sizeof text, "%04o", static_cast<unsigned>(mode & 07777));
    return text;
}

}  // namespace

std::string DescribeOwner(uid_t uid)
{
    std::vector<char> buffer(16384);
    struct passwd entry {};
    struct passwd* found = nullptr;
    if (::getpwuid_r(uid, &entry, buffer.data(), buffer.size(), &found) == 0 && found != nullptr &&
        found->pw_name != nullptr && found->pw_name[0] != '\0')
        return std::string(found->pw_name) + " (uid " + std::to_string(uid) + ")";
    return "uid " + std::to_string(uid);
}

bool CheckOwnFolder(const std::string& folder, uid_t uid, std::string& why)
{
    struct stat info {};
    if (::lstat(folder.c_str(), &info) != 0) {
        why = "the folder " + Quoted(folder) + " cannot be used: " + std::strerror(errno);
        return false;
    }
    if (S_ISLNK(info.st_mode)) {
        why = "the folder " + Quoted(folder) + " is a symbolic link that belongs to " + DescribeOwner(info.st_uid) +
              "; refused";
        return false;
    }
    if (!S_ISDIR(info.st_mode)) {
        why = Quoted(folder) + " is not a folder (it belongs to " + DescribeOwner(info.st_uid) + "); refused";
        return false;
    }
    if (info.st_uid != uid) {
        why = "the folder " + Quoted(folder) + " belongs to " + DescribeOwner(info.st_uid) + ", not to " +
              DescribeOwner(uid) + " (mode " + ModeText(info.st_mode) + "); refused";
        return false;
    }
    return true;
}

bool PrepareOwnFolder(const std::string& folder, uid_t uid, std::string& why)
{
    const std::filesystem::path path(folder);
    std::error_code ignored;
    if (path.has_parent_path()) std::filesystem::create_directories(path.parent_path(), ignored);
    if (::mkdir(folder.c_str(), 0700) != 0 && errno != EEXIST) {
        why = "cannot make the folder " + Quoted(folder) + ": " + std::strerror(errno);
        return false;
    }
    // Checked through a descriptor that cannot have followed a link, so the
    // folder tightened below is the one checked.
    const int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0) {
        const int error = errno;
        why.clear();
        if (CheckOwnFolder(folder, uid, why) || why.empty())
            why = "cannot open the folder " + Quoted(folder) + ": " + std::strerror(error);
        return false;
    }
    struct stat info {};
    bool ok = ::fstat(fd, &info) == 0;
    if (ok && info.st_uid != uid) {
        why = "the folder " + Quoted(folder) + " belongs to " + DescribeOwner(info.st_uid) + ", not to " +
              DescribeOwner(uid) + " (mode " + ModeText(info.st_mode) + "); refused";
        ok = false;
    } else if (ok && (info.st_mode & 077) != 0 && ::fchmod(fd, 0700) != 0) {
        why = "cannot close the folder " + Quoted(folder) + " (mode " + ModeText(info.st_mode) +
              ") to other users: " + std::strerror(errno);
        ok = false;
    } else if (!ok) {
        why = "cannot check the folder " + Quoted(folder) + ": " + std::strerror(errno);
    }
    ::close(fd);
    return ok;
}

int CreatePrivateFile(const std::string& path, std::string& why)
{
    // Only a link or a file left under this name is removed: never a
    // device, a FIFO or a folder (as root, unlinking /dev/full would take the
    // device away). Whatever stays is refused by O_EXCL below, with its
    // own reason.
    struct stat old {};
    if (::lstat(path.c_str(), &old) == 0 && (S_ISLNK(old.st_mode) || S_ISREG(old.st_mode))) ::unlink(path.c_str());
    int fd = -1;
    do fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
    while (fd < 0 && errno == EINTR);
    if (fd < 0) {
        const int error = errno;
        struct stat info {};
        if (error == EEXIST && ::lstat(path.c_str(), &info) == 0)
            why = std::string(S_ISDIR(info.st_mode)   ? "a folder"
                              : S_ISREG(info.st_mode) ? "a file"
                                                      : "something that is not a file") +
                  " of that name, which belongs to " + DescribeOwner(info.st_uid) + ", is in the way";
        else
            why = std::strerror(error);
        return -1;
    }
    // The mode asked for above is narrowed by the umask only; make it exact.
    ::fchmod(fd, 0600);
    return fd;
}

int CreatePrivateTemporary(const std::string& path, std::string& temporary, std::string& why)
{
    std::vector<char> name(path.begin(), path.end());
    for (char c : std::string(".XXXXXX")) name.push_back(c);
    name.push_back('\0');
    // mkostemp makes the file with O_CREAT|O_EXCL, mode 0600.
    const int fd = ::mkostemp(name.data(), O_CLOEXEC);
    if (fd < 0) {
        why = std::strerror(errno);
        return -1;
    }
    ::fchmod(fd, 0600);
    temporary = name.data();
    return fd;
}

bool WriteFully(int fd, const std::string& text)
{
    std::size_t done = 0;
    while (done < text.size()) {
        const ssize_t wrote = ::write(fd, text.data() + done, text.size() - done);
        if (wrote < 0 && errno == EINTR) continue;
        if (wrote < 0) return false;
        if (wrote == 0) {
            errno = EIO;
            return false;
        }
        done += static_cast<std::size_t>(wrote);
    }
    return true;
}
