#include "operator/TokenFile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

bool ReadTokenFile(const std::string& path, std::string& token, std::string& error, std::string& warning)
{
    const std::string name = "token file \"" + path + "\"";
    // Non-blocking, so a FIFO in its place fails below instead of waiting for a writer.
    int fd = open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
    if (fd < 0) {
        error = name + ": " + std::strerror(errno);
        return false;
    }
    struct stat info {};
    std::string text;
    bool ok = fstat(fd, &info) == 0;
    if (!ok) {
        error = name + ": " + std::strerror(errno);
    } else if (!S_ISREG(info.st_mode)) {
        error = name + ": not a regular file";
        ok = false;
    } else if (static_cast<std::size_t>(info.st_size) > kMaxTokenFileBytes) {
        error = name + ": larger than " + std::to_string(kMaxTokenFileBytes) + " bytes";
        ok = false;
    } else {
        char buffer[kMaxTokenFileBytes + 1];
        ssize_t got = 0;
        // One byte more than allowed tells a file that grew since fstat.
        while (text.size() <= kMaxTokenFileBytes &&
               (got = read(fd, buffer, sizeof buffer - text.size())) > 0)
            text.append(buffer, static_cast<std::size_t>(got));
        if (got < 0) {
            error = name + ": " + std::strerror(errno);
            ok = false;
        } else if (text.size() > kMaxTokenFileBytes) {
            error = name + ": larger than " + std::to_string(kMaxTokenFileBytes) + " bytes";
            ok = false;
        }
    }
    close(fd);
    if (!ok) return false;

    text = text.substr(0, text.find_first_of("\r\n"));
    const std::size_t first = text.find_first_not_of(" \t");
    const std::size_t last = text.find_last_not_of(" \t");
    token = first == std::string::npos ? "" : text.substr(first, last - first + 1);
    if (token.empty()) {
        error = name + ": holds no token on its first line";
        return false;
    }
    if ((info.st_mode & (S_IRWXG | S_IRWXO)) != 0)
        warning = name + " can be read by other users; chmod 600 it";
    return true;
}
