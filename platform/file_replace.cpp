#include "platform/file_replace.h"

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <string>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

int write_all(int fd, const std::string& content) {
    size_t done = 0;
    while (done < content.size()) {
        const ssize_t n = ::write(fd, content.data() + done, content.size() - done);
        if (n < 0) {
            if (errno == EINTR) continue;
            return errno;
        }
        if (n == 0) return EIO;
        done += size_t(n);
    }
    return 0;
}

// Closes fd and reports the first error: a close can be the first to hear of a failed write.
int finish(int fd, int error) {
    if (::close(fd) != 0 && error == 0) error = errno;
    return error;
}

int write_in_place(const char* path, const std::string& content) {
    const int fd = ::open(path, O_WRONLY | O_TRUNC | O_CLOEXEC);
    if (fd < 0) return errno;
    return finish(fd, write_all(fd, content));
}

}  // namespace

int file_replace(const char* path, const std::string& content) {
    if (!path || !*path) return EINVAL;
    struct stat target {};
    const bool exists = ::stat(path, &target) == 0;
    if (exists && !S_ISREG(target.st_mode)) return write_in_place(path, content);

    // A hidden name of this writer's own beside the target: the rename stays within one file
    // system, and two writers never share a temporary file.
    const std::string name = path;
    const size_t slash = name.rfind('/');
    const std::string dir = slash == std::string::npos ? "" : name.substr(0, slash + 1);
    const std::string base = slash == std::string::npos ? name : name.substr(slash + 1);
    static std::atomic<unsigned> counter{0};
    std::string tmp;
    int fd = -1;
    for (int attempt = 0; fd < 0 && attempt < 100; ++attempt) {
        tmp = dir + "." + base + "." + std::to_string(::getpid()) + "." + std::to_string(counter++) + ".tmp";
        // A new file gets the permissions any new file of this user would (0666 less the umask).
        fd = ::open(tmp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (fd < 0 && errno != EEXIST) return errno;
    }
    if (fd < 0) return EEXIST;
    // A replaced file keeps its permissions.
    int error = exists && ::fchmod(fd, target.st_mode & 07777) != 0 ? errno : 0;
    if (error == 0) error = write_all(fd, content);
    if (error == 0 && ::fsync(fd) != 0) error = errno;
    error = finish(fd, error);
    if (error == 0 && ::rename(tmp.c_str(), path) != 0) error = errno;
    if (error != 0) ::unlink(tmp.c_str());
    return error;
}
