#include "maintenance/upgrade.h"

#include "link/bytes.h"
#include "link/command_frame.h"
#include "link/commands.h"

#include <cstdio>
#include <cstring>

namespace {

bool send_block(const image_block& block) {
    command_frame f;
    frame_prepare(f, CMD_WRITE_IMAGE_BLOCK, IMAGE_BLOCK_SIZE);
    std::memcpy(frame_payload(f), block.bytes, IMAGE_BLOCK_SIZE);
    return command_exchange(f) == 0;
}

}  // namespace

upgrade_outcome upgrade_run(const std::string& path, uint32_t image_base, const std::atomic<int>& stop,
                            const std::function<void(uint32_t)>& progress) {
    image_block block{};
    block.bytes[0] = 1;
    put_u32le(block.bytes + 73, image_base);
    uint32_t written = 0;

    FILE* file = std::fopen(path.c_str(), "rb");
    if (!file) return {1, 0};
    uint32_t index = 0;
    size_t count = std::fread(block.bytes + 9, 1, IMAGE_BLOCK_DATA, file);
    bool at_end = false;
    for (;;) {
        if (count == 0) {
            at_end = true;
            break;
        }
        if (stop.load()) break;
        put_u32le(block.bytes + 1, index);
        put_u32le(block.bytes + 5, uint32_t(count));
        if (!send_block(block)) break;
        written = index * uint32_t(IMAGE_BLOCK_DATA) + uint32_t(count);
        if (progress) progress(written);
        ++index;
        count = std::fread(block.bytes + 9, 1, IMAGE_BLOCK_DATA, file);
    }
    bool ok = false;
    if (at_end) {
        // Every data block was accepted: the end block carries the number of blocks sent.
        put_u32le(block.bytes + 1, index);
        put_u32le(block.bytes + 5, 0);
        ok = send_block(block);
    }
    std::fclose(file);
    return {ok ? 0 : 1, written};
}
