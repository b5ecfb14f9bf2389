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
constexpr int UPGRADE_ERR_FILE = -1;  // the image could not be opened or read
constexpr int UPGRADE_STOPPED = -2;   // stopped by its owner before the next block

struct upgrade_outcome {
    int failed;              // 0 success, 1 failure
    uint32_t bytes_written;  // as last reported as progress
    int error = 0;           // 0, ERR_LINK_FAILED, the instrument's result, or UPGRADE_ERR_*
};

// Sends the file block by block, then the end block. progress is called with the bytes
// written after each accepted block. The loop checks stop before every block.
// A file that cannot be opened, or fails to read at any point, fails the upgrade without the end
// block.
upgrade_outcome upgrade_run(const std::string& path, uint32_t image_base, const std::atomic<int>& stop,
                            const std::function<void(uint32_t)>& progress);
// The same on a file the caller has opened for binary reading (and closes).
upgrade_outcome upgrade_run_file(FILE* file, uint32_t image_base, const std::atomic<int>& stop,
                                 const std::function<void(uint32_t)>& progress);
