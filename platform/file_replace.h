// Writing a whole file so that nothing half-written is ever left under its name.
#pragma once

#include <string>

// Writes content to path. A regular file (or a new one) is written to a temporary file beside
// it, flushed to disk and renamed over path only when every write and the close succeeded; on
// any failure the temporary file is removed and path keeps what it held. A replaced file keeps its
// permissions. A symbolic link (or a chain of them) is followed: the file it points to is
// replaced (made, if it does not exist yet), and the link stays as it was. A path that exists and
// is not a regular file (a device such as /dev/full, a FIFO) cannot be replaced and is written
// directly; on Windows a folder is refused (EISDIR). Returns 0 on success, otherwise the error
// number (errno values, also on Windows) of the first failure.
int file_replace(const char* path, const std::string& content);
