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

// The file that path names: symbolic links followed, a chain of them too, to the name they end
// at, which need not exist yet (a link to a file still to be made). A relative link target
// counts from the folder that holds the link, as the system reads it.
int follow_links(const std::string& path, std::string& out) {
    std::string current = path;
    for (int hops = 0; hops < 40; ++hops) {
        struct stat st {};
        if (::lstat(current.c_str(), &st) != 0) {
            if (errno != ENOENT) return errno;
            out = current;
            return 0;
        }
        if (!S_ISLNK(st.st_mode)) {
            out = current;
            return 0;
        }
        std::string target(4096, '\0');
        for (;;) {
            const ssize_t n = ::readlink(current.c_str(), target.data(), target.size());
            if (n < 0) return errno;
            if (size_t(n) < target.size()) {
                target.resize(size_t(n));
                break;
            }
            target.resize(target.size() * 2);
        }
        if (target.empty()) return ENOENT;
        const size_t slash = current.rfind('/');
        if (target.front() != '/' && slash != std::string::npos) target = current.substr(0, slash + 1) + target;
        current = target;
    }
    return ELOOP;  // as many links as the system itself would follow, and still no file
}

int write_in_place(const char* path, const std::string& content) {
    // Opening a FIFO that nobody reads would wait for a reader for ever: without one it fails at
    // once (ENXIO). Once open, writes wait as usual.
    const int fd = ::open(path, O_WRONLY | O_TRUNC | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0) return errno;
    const int flags = ::fcntl(fd, F_GETFL);
    if (flags < 0 || ::fcntl(fd, F_SETFL, flags & ~O_NONBLOCK) != 0) return finish(fd, errno);
    return finish(fd, write_all(fd, content));
}

}  // namespace

int file_replace(const char* path, const std::string& content) {
    if (!path || !*path) return EINVAL;
    // A symbolic link stays a link: the file it points to is the one replaced.
    std::string name;
    if (const int error = follow_links(path, name); error != 0) return error;
    struct stat target {};
    const bool exists = ::stat(name.c_str(), &target) == 0;
    if (exists && !S_ISREG(target.st_mode)) return write_in_place(name.c_str(), content);

    // A hidden name of this writer's own beside the target: the rename stays within one file
    // system, and two writers never share a temporary file.
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
    if (error == 0 && ::rename(tmp.c_str(), name.c_str()) != 0) error = errno;
    if (error != 0) ::unlink(tmp.c_str());
    return error;
}
