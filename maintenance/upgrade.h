// Writing a firmware or bootloader image into the instrument, 64 bytes per command.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdio>
#include <cstdint>
#include <functional>
#include <string>

constexpr uint32_t IMAGE_BASE_FIRMWARE = 40960;  // 0xA000
constexpr uint32_t IMAGE_BASE_BOOTLOADER = 0;
constexpr size_t IMAGE_BLOCK_SIZE = 77;
constexpr size_t IMAGE_BLOCK_DATA = 64;

// bytes: 0 operation (1), 1-4 block index, 5-8 byte count (0 ends the image), 9-72 data,
// 73-76 image base. Data past the count keep what the previous block left there.
struct image_block {
    uint8_t bytes[IMAGE_BLOCK_SIZE];
};

// Why an upgrade failed, besides ERR_LINK_FAILED and the instrument's own result codes.
constexpr int UPGRADE_ERR_FILE = -1;       // the image could not be opened or read
constexpr int UPGRADE_STOPPED = -2;        // stopped by its owner before the next block
constexpr int UPGRADE_ERR_NOT_FILE = -3;   // not a regular file: a device, a FIFO, a folder
constexpr int UPGRADE_ERR_TOO_LARGE = -4;  // more than upgrade_image_max bytes
constexpr int UPGRADE_ERR_CHANGED = -5;    // the file's size changed while it was being sent

// The largest image the instrument can take at image_base: the bytes written are counted in 32
// bits, and so is the address of the image's last byte.
uint64_t upgrade_image_max(uint32_t image_base);

// An image file opened for sending, and its size when it was opened: the size announced to the
// operator is the size sent. Closes its file when it goes.
struct upgrade_image {
    FILE* file = nullptr;
    uint64_t size = 0;

    upgrade_image() = default;
    upgrade_image(const upgrade_image&) = delete;
    upgrade_image& operator=(const upgrade_image&) = delete;
    ~upgrade_image();
};

// Opens path for sending at image_base: 0, UPGRADE_ERR_FILE (errno says why), or, before a
// block could go out, UPGRADE_ERR_NOT_FILE or UPGRADE_ERR_TOO_LARGE. Never waits: a FIFO that
// nobody writes to is refused at once, like any file that is not a regular one.
int upgrade_image_open(const char* path, uint32_t image_base, upgrade_image& out);

struct upgrade_outcome {
    int failed;              // 0 success, 1 failure
    uint32_t bytes_written;  // as last reported as progress
    int error = 0;           // 0, ERR_LINK_FAILED, the instrument's result, or UPGRADE_ERR_*
};

// Sends the image's size in bytes block by block, then the end block. progress is called with
// the bytes written after each accepted block. The loop checks stop before every block. A read
// that fails, a file that ends early or holds more than its size by the time it has been sent
// (UPGRADE_ERR_CHANGED) fails the upgrade without the end block.
upgrade_outcome upgrade_run_image(upgrade_image& image, uint32_t image_base, const std::atomic<int>& stop,
                                  const std::function<void(uint32_t)>& progress);
// The same on the file at path (upgrade_image_open).
upgrade_outcome upgrade_run(const std::string& path, uint32_t image_base, const std::atomic<int>& stop,
                            const std::function<void(uint32_t)>& progress);
// The same on a file the caller has opened for binary reading (and closes), from where it
// stands to the end it had when the upgrade began; refused as upgrade_image_open refuses.
upgrade_outcome upgrade_run_file(FILE* file, uint32_t image_base, const std::atomic<int>& stop,
                                 const std::function<void(uint32_t)>& progress);
