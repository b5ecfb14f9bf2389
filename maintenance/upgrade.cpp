#include "maintenance/upgrade.h"

#include "link/bytes.h"
#include "link/command_frame.h"
#include "link/commands.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>

#include <sys/stat.h>
#ifdef _WIN32
#include <io.h>
#else
#include <fcntl.h>
#include <unistd.h>
#endif

namespace {

int send_block(const image_block& block) {
    command_frame f;
    frame_prepare(f, CMD_WRITE_IMAGE_BLOCK, IMAGE_BLOCK_SIZE);
    std::memcpy(frame_payload(f), block.bytes, IMAGE_BLOCK_SIZE);
    return command_exchange(f);
}

// What a regular file holds from where it stands to its end: 0, or why it cannot be an image.
int size_from_here(FILE* file, uint64_t& size) {
#ifdef _WIN32
    struct _stat64 st {};
    if (_fstat64(_fileno(file), &st) != 0) return UPGRADE_ERR_FILE;
    if ((st.st_mode & _S_IFMT) != _S_IFREG) return UPGRADE_ERR_NOT_FILE;
    const long long at = _ftelli64(file);
#else
    struct stat st {};
    if (::fstat(::fileno(file), &st) != 0) return UPGRADE_ERR_FILE;
    if (!S_ISREG(st.st_mode)) return UPGRADE_ERR_NOT_FILE;
    const off_t at = ::ftello(file);
#endif
    if (at < 0 || st.st_size < 0) return UPGRADE_ERR_FILE;
    size = uint64_t(st.st_size) > uint64_t(at) ? uint64_t(st.st_size) - uint64_t(at) : 0;
    return 0;
}

// Sends exactly `size` bytes of file, then the end block.
upgrade_outcome send_image(FILE* file, uint64_t size, uint32_t image_base, const std::atomic<int>& stop,
                           const std::function<void(uint32_t)>& progress) {
    // Checked before the first block goes out: past this the byte counter would wrap and the
    // progress run backwards.
    if (size > upgrade_image_max(image_base)) return {1, 0, UPGRADE_ERR_TOO_LARGE};
    image_block block{};
    block.bytes[0] = 1;
    put_u32le(block.bytes + 73, image_base);
    uint32_t written = 0;
    uint32_t index = 0;
    for (uint64_t left = size; left > 0;) {
        const size_t want = size_t(std::min<uint64_t>(left, IMAGE_BLOCK_DATA));
        const size_t count = std::fread(block.bytes + 9, 1, want, file);
        // A read that fails part-way is not the end of the image: installing what came before
        // it would leave a truncated firmware. No end block, and the upgrade has failed.
        if (std::ferror(file)) return {1, written, UPGRADE_ERR_FILE};
        // The file ended before the size it had: it shrank while it was being sent.
        if (count < want) return {1, written, UPGRADE_ERR_CHANGED};
        if (stop.load()) return {1, written, UPGRADE_STOPPED};
        put_u32le(block.bytes + 1, index);
        put_u32le(block.bytes + 5, uint32_t(count));
        if (const int r = send_block(block); r != 0) return {1, written, r};
        written = index * uint32_t(IMAGE_BLOCK_DATA) + uint32_t(count);
        if (progress) progress(written);
        ++index;
        left -= count;
    }
    // Nothing may follow: a file that grew meanwhile is not the image that was announced.
    if (std::fgetc(file) != EOF) return {1, written, UPGRADE_ERR_CHANGED};
    if (std::ferror(file)) return {1, written, UPGRADE_ERR_FILE};
    // The whole image was read and every data block accepted: the end block carries the number
    // of blocks sent.
    put_u32le(block.bytes + 1, index);
    put_u32le(block.bytes + 5, 0);
    const int r = send_block(block);
    return {r == 0 ? 0 : 1, written, r};
}

}  // namespace

uint64_t upgrade_image_max(uint32_t image_base) { return uint64_t(UINT32_MAX) - image_base; }

upgrade_image::~upgrade_image() {
    if (file) std::fclose(file);
}

int upgrade_image_open(const char* path, uint32_t image_base, upgrade_image& out) {
    if (out.file) std::fclose(out.file);
    out.file = nullptr;
    out.size = 0;
#ifdef _WIN32
    FILE* file = std::fopen(path, "rb");
    if (!file) return UPGRADE_ERR_FILE;
#else
    // Without O_NONBLOCK, opening a FIFO waits until something writes to it, with the link open.
    const int fd = ::open(path, O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK);
    if (fd < 0) return UPGRADE_ERR_FILE;
    FILE* file = ::fdopen(fd, "rb");
    if (!file) {
        const int error = errno;
        ::close(fd);
        errno = error;
        return UPGRADE_ERR_FILE;
    }
#endif
    uint64_t size = 0;
    int r = size_from_here(file, size);
    if (r == 0 && size > upgrade_image_max(image_base)) r = UPGRADE_ERR_TOO_LARGE;
#ifndef _WIN32
    // A regular file's reads never wait anyway; they are left as any other file's.
    if (r == 0) {
        const int flags = ::fcntl(::fileno(file), F_GETFL);
        if (flags < 0 || ::fcntl(::fileno(file), F_SETFL, flags & ~O_NONBLOCK) != 0) r = UPGRADE_ERR_FILE;
    }
#endif
    if (r != 0) {
        const int error = errno;
        std::fclose(file);
        errno = error;
        return r;
    }
    out.file = file;
    out.size = size;
    return 0;
}

upgrade_outcome upgrade_run_image(upgrade_image& image, uint32_t image_base, const std::atomic<int>& stop,
                                  const std::function<void(uint32_t)>& progress) {
    if (!image.file) return {1, 0, UPGRADE_ERR_FILE};
    return send_image(image.file, image.size, image_base, stop, progress);
}

upgrade_outcome upgrade_run(const std::string& path, uint32_t image_base, const std::atomic<int>& stop,
                            const std::function<void(uint32_t)>& progress) {
    upgrade_image image;
    if (const int r = upgrade_image_open(path.c_str(), image_base, image); r != 0) return {1, 0, r};
    return upgrade_run_image(image, image_base, stop, progress);
}

upgrade_outcome upgrade_run_file(FILE* file, uint32_t image_base, const std::atomic<int>& stop,
                                 const std::function<void(uint32_t)>& progress) {
    uint64_t size = 0;
    if (const int r = size_from_here(file, size); r != 0) return {1, 0, r};
    return send_image(file, size, image_base, stop, progress);
}
