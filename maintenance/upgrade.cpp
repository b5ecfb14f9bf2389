#include "maintenance/upgrade.h"

#include "link/bytes.h"
#include "link/command_frame.h"
#include "link/commands.h"

#include <cstdio>
#include <cstring>

namespace {

int send_block(const image_block& block) {
    command_frame f;
    frame_prepare(f, CMD_WRITE_IMAGE_BLOCK, IMAGE_BLOCK_SIZE);
    std::memcpy(frame_payload(f), block.bytes, IMAGE_BLOCK_SIZE);
    return command_exchange(f);
}

}  // namespace

upgrade_outcome upgrade_run(const std::string& path, uint32_t image_base, const std::atomic<int>& stop,
                            const std::function<void(uint32_t)>& progress) {
    FILE* file = std::fopen(path.c_str(), "rb");
    if (!file) return {1, 0, UPGRADE_ERR_FILE};
    upgrade_outcome out = upgrade_run_file(file, image_base, stop, progress);
    std::fclose(file);
    return out;
}

upgrade_outcome upgrade_run_file(FILE* file, uint32_t image_base, const std::atomic<int>& stop,
                                 const std::function<void(uint32_t)>& progress) {
    image_block block{};
    block.bytes[0] = 1;
    put_u32le(block.bytes + 73, image_base);
    uint32_t written = 0;
    uint32_t index = 0;
    for (;;) {
        const size_t count = std::fread(block.bytes + 9, 1, IMAGE_BLOCK_DATA, file);
        // A read that fails part-way is not the end of the image: installing what came before
        // it would leave a truncated firmware. No end block, and the upgrade has failed.
        if (std::ferror(file)) return {1, written, UPGRADE_ERR_FILE};
        if (count == 0) break;
        if (stop.load()) return {1, written, UPGRADE_STOPPED};
        put_u32le(block.bytes + 1, index);
        put_u32le(block.bytes + 5, uint32_t(count));
        if (const int r = send_block(block); r != 0) return {1, written, r};
        written = index * uint32_t(IMAGE_BLOCK_DATA) + uint32_t(count);
        if (progress) progress(written);
        ++index;
    }
    // The whole file was read and every data block accepted: the end block carries the number
    // of blocks sent.
    put_u32le(block.bytes + 1, index);
    put_u32le(block.bytes + 5, 0);
    const int r = send_block(block);
    return {r == 0 ? 0 : 1, written, r};
}
