// Writing a whole file so that nothing half-written is ever left under its name.
#pragma once

#include <cstddef>
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

// The same, for a file written piece by piece (a recording that grows for as long as it runs):
// file_replace_begin opens where the pieces go (a temporary file beside the file a link leads
// to, or a path that cannot be replaced itself), file_replace_write adds one piece, and
// file_replace_end puts the file in place, flushed to disk, unless error is set or that fails;
// the temporary file is then removed and path keeps what it held. Each returns 0 or the error
// number of the first failure; file_replace_end frees the job in every case.
struct file_replace_job;
int file_replace_begin(const char* path, file_replace_job** out);
int file_replace_write(file_replace_job* job, const char* data, size_t size);
int file_replace_end(file_replace_job* job, int error);
