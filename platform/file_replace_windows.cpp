#include "platform/file_replace.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
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

int write_all(HANDLE file, const std::string& content) {
    size_t done = 0;
    while (done < content.size()) {
        const DWORD chunk = DWORD(std::min<size_t>(content.size() - done, 1u << 20));
        DWORD written = 0;
        if (!WriteFile(file, content.data() + done, chunk, &written, nullptr)) return errno_from(GetLastError());
        if (written == 0) return EIO;
        done += written;
    }
    return 0;
}

// Writes straight into path, making it: for a link whose file does not exist yet, which the
// system makes where the link points.
int write_through(const char* path, const std::string& content) {
    HANDLE file = CreateFileA(path, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return errno_from(GetLastError());
    int error = write_all(file, content);
    if (error == 0 && !FlushFileBuffers(file)) error = errno_from(GetLastError());
    if (!CloseHandle(file) && error == 0) error = errno_from(GetLastError());
    return error;
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

int file_replace(const char* path, const std::string& content) {
    if (!path || !*path) return EINVAL;
    // A symbolic link stays a link: the file it points to is the one replaced.
    std::string name;
    bool dangling = false;
    if (const int error = follow_links(path, name, &dangling); error != 0) return error;
    if (dangling) return write_through(path, content);
    const DWORD attributes = GetFileAttributesA(name.c_str());
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY)) return EISDIR;

    // A hidden name of this writer's own beside the target: the move stays within one volume,
    // and two writers never share a temporary file.
    const size_t slash = name.find_last_of("/\\");
    const std::string dir = slash == std::string::npos ? "" : name.substr(0, slash + 1);
    const std::string base = slash == std::string::npos ? name : name.substr(slash + 1);
    static std::atomic<unsigned> counter{0};
    std::string tmp;
    HANDLE file = INVALID_HANDLE_VALUE;
    for (int attempt = 0; file == INVALID_HANDLE_VALUE && attempt < 100; ++attempt) {
        tmp = dir + "." + base + "." + std::to_string(GetCurrentProcessId()) + "." + std::to_string(counter++) + ".tmp";
        file = CreateFileA(tmp.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
        if (file == INVALID_HANDLE_VALUE && GetLastError() != ERROR_FILE_EXISTS) return errno_from(GetLastError());
    }
    if (file == INVALID_HANDLE_VALUE) return EEXIST;

    int error = write_all(file, content);
    if (error == 0 && !FlushFileBuffers(file)) error = errno_from(GetLastError());
    // A close can be the first to hear of a failed write.
    if (!CloseHandle(file) && error == 0) error = errno_from(GetLastError());
    if (error == 0 && !MoveFileExA(tmp.c_str(), name.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH))
        error = errno_from(GetLastError());
    if (error != 0) DeleteFileA(tmp.c_str());
    return error;
}
