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

}  // namespace

int file_replace(const char* path, const std::string& content) {
    if (!path || !*path) return EINVAL;
    const DWORD attributes = GetFileAttributesA(path);
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY)) return EISDIR;

    // A hidden name of this writer's own beside the target: the move stays within one volume,
    // and two writers never share a temporary file.
    const std::string name = path;
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
    if (error == 0 && !MoveFileExA(tmp.c_str(), path, MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH))
        error = errno_from(GetLastError());
    if (error != 0) DeleteFileA(tmp.c_str());
    return error;
}
