#include "platform/file_replace.h"

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <memory>
#include <string>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

int write_all(int fd, const char* data, size_t size) {
    size_t done = 0;
    while (done < size) {
        const ssize_t n = ::write(fd, data + done, size - done);
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

// Opening a FIFO that nobody reads would wait for a reader for ever: without one it fails at
// once (ENXIO). Once open, writes wait as usual.
int open_in_place(const char* path, int* fd) {
    *fd = ::open(path, O_WRONLY | O_TRUNC | O_CLOEXEC | O_NONBLOCK);
    if (*fd < 0) return errno;
    const int flags = ::fcntl(*fd, F_GETFL);
    if (flags < 0 || ::fcntl(*fd, F_SETFL, flags & ~O_NONBLOCK) != 0) {
        const int error = errno;
        ::close(*fd);
        return error;
    }
    return 0;
}

}  // namespace

struct file_replace_job {
    int fd = -1;
    std::string tmp;   // the temporary file; empty when written in place
    std::string name;  // what it replaces
};

int file_replace_begin(const char* path, file_replace_job** out) {
    *out = nullptr;
    if (!path || !*path) return EINVAL;
    auto job = std::make_unique<file_replace_job>();
    // A symbolic link stays a link: the file it points to is the one replaced.
    if (const int error = follow_links(path, job->name); error != 0) return error;
    struct stat target {};
    const bool exists = ::stat(job->name.c_str(), &target) == 0;
    if (exists && !S_ISREG(target.st_mode)) {
        if (const int error = open_in_place(job->name.c_str(), &job->fd); error != 0) return error;
        *out = job.release();
        return 0;
    }

    // A hidden name of this writer's own beside the target: the rename stays within one file
    // system, and two writers never share a temporary file.
    const size_t slash = job->name.rfind('/');
    const std::string dir = slash == std::string::npos ? "" : job->name.substr(0, slash + 1);
    const std::string base = slash == std::string::npos ? job->name : job->name.substr(slash + 1);
    static std::atomic<unsigned> counter{0};
    for (int attempt = 0; job->fd < 0 && attempt < 100; ++attempt) {
        job->tmp = dir + "." + base + "." + std::to_string(::getpid()) + "." + std::to_string(counter++) + ".tmp";
        // A new file gets the permissions any new file of this user would (0666 less the umask).
        job->fd = ::open(job->tmp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (job->fd < 0 && errno != EEXIST) return errno;
    }
    if (job->fd < 0) return EEXIST;
    // A replaced file keeps its permissions.
    if (exists && ::fchmod(job->fd, target.st_mode & 07777) != 0) return file_replace_end(job.release(), errno);
    *out = job.release();
    return 0;
}

int file_replace_write(file_replace_job* job, const char* data, size_t size) {
    return job ? write_all(job->fd, data, size) : EBADF;
}

int file_replace_end(file_replace_job* job, int error) {
    if (!job) return error ? error : EBADF;
    const std::unique_ptr<file_replace_job> owned(job);
    if (error == 0 && !job->tmp.empty() && ::fsync(job->fd) != 0) error = errno;
    error = finish(job->fd, error);
    if (job->tmp.empty()) return error;
    if (error == 0 && ::rename(job->tmp.c_str(), job->name.c_str()) != 0) error = errno;
    if (error != 0) ::unlink(job->tmp.c_str());
    return error;
}

int file_replace(const char* path, const std::string& content) {
    file_replace_job* job = nullptr;
    if (const int error = file_replace_begin(path, &job); error != 0) return error;
    return file_replace_end(job, file_replace_write(job, content.data(), content.size()));
}
