#include "platform/file_replace.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <memory>
#include <string>

#include <windows.h>

namespace {

// The error numbers the rest of the tool knows, from the Windows error of the call that failed.
int errno_from(DWORD error) {
    switch (error) {
        case ERROR_FILE_NOT_FOUND:
        case ERROR_PATH_NOT_FOUND:
        case ERROR_INVALID_DRIVE:
        case ERROR_BAD_NETPATH:
            return ENOENT;
        case ERROR_ACCESS_DENIED:
        case ERROR_SHARING_VIOLATION:
        case ERROR_LOCK_VIOLATION:
        case ERROR_WRITE_PROTECT:
            return EACCES;
        case ERROR_DISK_FULL:
        case ERROR_HANDLE_DISK_FULL:
            return ENOSPC;
        case ERROR_FILE_EXISTS:
        case ERROR_ALREADY_EXISTS:
            return EEXIST;
        case ERROR_INVALID_NAME:
        case ERROR_BAD_PATHNAME:
        case ERROR_FILENAME_EXCED_RANGE:
            return EINVAL;
        default:
            return EIO;
    }
}

int write_all(HANDLE file, const char* data, size_t size) {
    size_t done = 0;
    while (done < size) {
        const DWORD chunk = DWORD(std::min<size_t>(size - done, 1u << 20));
        DWORD written = 0;
        if (!WriteFile(file, data + done, chunk, &written, nullptr)) return errno_from(GetLastError());
        if (written == 0) return EIO;
        done += written;
    }
    return 0;
}

// The file that path names, with symbolic links (a chain of them too) followed to where they
// end; path itself when it is no link. *dangling is set for a link that leads to no file.
int follow_links(const char* path, std::string& out, bool* dangling) {
    *dangling = false;
    out = path;
    // Asked of every path that exists, not only of those marked as reparse points: a link
    // that the file system shows as a plain file is followed all the same.
    if (GetFileAttributesA(path) == INVALID_FILE_ATTRIBUTES) return 0;
    HANDLE h = CreateFileA(path, 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                           FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (h == INVALID_HANDLE_VALUE) {
        const DWORD error = GetLastError();
        if (error != ERROR_FILE_NOT_FOUND && error != ERROR_PATH_NOT_FOUND) return errno_from(error);
        *dangling = true;
        return 0;
    }
    char final_path[4096];
    const DWORD n = GetFinalPathNameByHandleA(h, final_path, sizeof final_path, FILE_NAME_NORMALIZED | VOLUME_NAME_DOS);
    const DWORD error = GetLastError();
    CloseHandle(h);
    if (n == 0) return errno_from(error);
    if (n >= sizeof final_path) return ENAMETOOLONG;
    out.assign(final_path, n);
    // The answer comes as \\?\C:\... or \\?\UNC\server\...: back to the names every call takes.
    if (out.rfind("\\\\?\\UNC\\", 0) == 0) out = "\\\\" + out.substr(8);
    else if (out.rfind("\\\\?\\", 0) == 0) out = out.substr(4);
    return 0;
}

}  // namespace

struct file_replace_job {
    HANDLE file = INVALID_HANDLE_VALUE;
    std::string tmp;   // the temporary file; empty when written in place
    std::string name;  // what it replaces
};

int file_replace_begin(const char* path, file_replace_job** out) {
    *out = nullptr;
    if (!path || !*path) return EINVAL;
    auto job = std::make_unique<file_replace_job>();
    // A symbolic link stays a link: the file it points to is the one replaced.
    bool dangling = false;
    if (const int error = follow_links(path, job->name, &dangling); error != 0) return error;
    if (dangling) {
        // Written straight through the link, which makes its file where it points.
        job->file = CreateFileA(path, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
        if (job->file == INVALID_HANDLE_VALUE) return errno_from(GetLastError());
        *out = job.release();
        return 0;
    }
    const DWORD attributes = GetFileAttributesA(job->name.c_str());
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY)) return EISDIR;

    // A hidden name of this writer's own beside the target: the move stays within one volume,
    // and two writers never share a temporary file.
    const size_t slash = job->name.find_last_of("/\\");
    const std::string dir = slash == std::string::npos ? "" : job->name.substr(0, slash + 1);
    const std::string base = slash == std::string::npos ? job->name : job->name.substr(slash + 1);
    static std::atomic<unsigned> counter{0};
    for (int attempt = 0; job->file == INVALID_HANDLE_VALUE && attempt < 100; ++attempt) {
        job->tmp = dir + "." + base + "." + std::to_string(GetCurrentProcessId()) + "." + std::to_string(counter++) + ".tmp";
        job->file = CreateFileA(job->tmp.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
        if (job->file == INVALID_HANDLE_VALUE && GetLastError() != ERROR_FILE_EXISTS) return errno_from(GetLastError());
    }
    if (job->file == INVALID_HANDLE_VALUE) return EEXIST;
    *out = job.release();
    return 0;
}

int file_replace_write(file_replace_job* job, const char* data, size_t size) {
    return job ? write_all(job->file, data, size) : EBADF;
}

int file_replace_end(file_replace_job* job, int error) {
    if (!job) return error ? error : EBADF;
    const std::unique_ptr<file_replace_job> owned(job);
    if (error == 0 && !FlushFileBuffers(job->file)) error = errno_from(GetLastError());
    // A close can be the first to hear of a failed write.
    if (!CloseHandle(job->file) && error == 0) error = errno_from(GetLastError());
    if (job->tmp.empty()) return error;
    if (error == 0 && !MoveFileExA(job->tmp.c_str(), job->name.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH))
        error = errno_from(GetLastError());
    if (error != 0) DeleteFileA(job->tmp.c_str());
    return error;
}

int file_replace(const char* path, const std::string& content) {
    file_replace_job* job = nullptr;
    if (const int error = file_replace_begin(path, &job); error != 0) return error;
    return file_replace_end(job, file_replace_write(job, content.data(), content.size()));
}
