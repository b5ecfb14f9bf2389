// The upgrade loop on images that are not what they seem: files that change while they are
// sent, files that never end, and sizes the instrument cannot count.
#include "link/bytes.h"
#include "maintenance/upgrade.h"
#include "tests/link/sim_fixture.h"

#include <atomic>
#include <chrono>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <future>
#include <memory>
#include <random>
#include <string>
#include <thread>
#include <vector>

#ifndef _WIN32
#include <sys/stat.h>
#endif

namespace {

class UpgradeCoreTest : public SimLinkTest {
protected:
    void SetUp() override {
        SimLinkTest::SetUp();
        dir = std::filesystem::temp_directory_path() / ("veltranic-image-" + std::to_string(std::random_device{}()));
        std::filesystem::create_directories(dir);
        dev = plug(bootloader());
        ASSERT_EQ(link_open(dev->path().c_str(), 1000), 0);
    }
    void TearDown() override {
        SimLinkTest::TearDown();
        std::error_code ignored;
        std::filesystem::remove_all(dir, ignored);
    }
    static sim_device_config bootloader() {
        sim_device_config c;
        c.firmware.mode = sim_mode::bootloader;
        return c;
    }
    std::string image(size_t size) {
        std::vector<char> bytes(size);
        for (size_t i = 0; i < size; ++i) bytes[i] = char(i * 7 + 3);
        const std::string path = (dir / "image.bin").string();
        std::ofstream(path, std::ios::binary).write(bytes.data(), std::streamsize(size));
        return path;
    }
    std::vector<command_frame> blocks() {
        std::vector<command_frame> out;
        for (const auto& f : dev->requests())
            if (frame_code(f) == CMD_WRITE_IMAGE_BLOCK) out.push_back(f);
        return out;
    }
    bool end_block_sent() {
        for (const auto& b : blocks())
            if (get_u32le(frame_payload(b) + 5) == 0) return true;
        return false;
    }
    bool installed() {
        bool any = false;
        dev->with_firmware([&](sim_firmware& fw) { any = !fw.installed_firmware.empty(); });
        return any;
    }

    std::filesystem::path dir;
    std::shared_ptr<sim_device> dev;
};

TEST_F(UpgradeCoreTest, AnImageThatShrinksOrGrowsWhileItIsSentFailsWithoutTheEndBlock) {
    const std::string path = image(64 * 400);
    std::atomic<int> stop{0};
    // Cut to 8000 bytes once the first block is out (what the reader buffered is still sent).
    upgrade_outcome out = upgrade_run(path, IMAGE_BASE_FIRMWARE, stop, [&](uint32_t written) {
        if (written == 64) std::filesystem::resize_file(path, 8000);
    });
    EXPECT_EQ(out.failed, 1);
    EXPECT_EQ(out.error, UPGRADE_ERR_CHANGED);
    EXPECT_LE(out.bytes_written, 8000u);
    EXPECT_FALSE(end_block_sent());
    EXPECT_FALSE(installed());

    // Grown by a byte while it was sent: not the image that was opened either.
    dev->clear_requests();
    image(640);
    out = upgrade_run(path, IMAGE_BASE_FIRMWARE, stop, [&](uint32_t written) {
        if (written == 64) std::ofstream(path, std::ios::binary | std::ios::app).put('x');
    });
    EXPECT_EQ(out.failed, 1);
    EXPECT_EQ(out.error, UPGRADE_ERR_CHANGED);
    EXPECT_EQ(out.bytes_written, 640u);
    EXPECT_EQ(blocks().size(), 10u);
    EXPECT_FALSE(end_block_sent());

    // The same file left alone goes whole.
    dev->clear_requests();
    out = upgrade_run(image(640), IMAGE_BASE_FIRMWARE, stop, {});
    EXPECT_EQ(out.failed, 0);
    EXPECT_TRUE(end_block_sent());
    EXPECT_TRUE(installed());
}

TEST_F(UpgradeCoreTest, OnlyRegularFilesOfASizeTheInstrumentCanCountAreSent) {
    // Whatever the loop would do with a device, it stops after ten blocks.
    std::atomic<int> stop{0};
    auto stop_at_640 = [&](uint32_t written) {
        if (written >= 640) stop = 1;
    };
#ifdef _WIN32
    const std::string device = "NUL";
#else
    const std::string device = "/dev/zero";
#endif
    upgrade_outcome out = upgrade_run(device, IMAGE_BASE_FIRMWARE, stop, stop_at_640);
    EXPECT_EQ(out.error, UPGRADE_ERR_NOT_FILE);
    EXPECT_EQ(out.failed, 1);
    stop = 0;
    out = upgrade_run(dir.string(), IMAGE_BASE_FIRMWARE, stop, stop_at_640);
#ifdef _WIN32
    EXPECT_EQ(out.error, UPGRADE_ERR_FILE);  // a folder does not even open there
#else
    EXPECT_EQ(out.error, UPGRADE_ERR_NOT_FILE);
#endif
    EXPECT_TRUE(blocks().empty());

    // The byte counter is 32 bits, and so is the address of the image's last byte: one byte
    // past what the instrument can take is refused before the first block. The files are
    // sparse, so they take no room.
    const std::string big = (dir / "big.bin").string();
    std::ofstream(big, std::ios::binary).put('x');
    upgrade_image opened;
    for (uint32_t base : {IMAGE_BASE_FIRMWARE, IMAGE_BASE_BOOTLOADER}) {
        std::filesystem::resize_file(big, upgrade_image_max(base));
        EXPECT_EQ(upgrade_image_open(big.c_str(), base, opened), 0);
        EXPECT_EQ(opened.size, upgrade_image_max(base));
        std::filesystem::resize_file(big, upgrade_image_max(base) + 1);
        EXPECT_EQ(upgrade_image_open(big.c_str(), base, opened), UPGRADE_ERR_TOO_LARGE);
        EXPECT_EQ(opened.file, nullptr);
    }
    EXPECT_EQ(upgrade_image_max(IMAGE_BASE_FIRMWARE), 0xFFFFFFFFull - 0xA000);
    std::filesystem::resize_file(big, 0x100000000ull);  // 4 GiB
    stop = 0;
    out = upgrade_run(big, IMAGE_BASE_BOOTLOADER, stop, stop_at_640);
    EXPECT_EQ(out.error, UPGRADE_ERR_TOO_LARGE);
    FILE* file = std::fopen(big.c_str(), "rb");
    ASSERT_NE(file, nullptr);
    out = upgrade_run_file(file, IMAGE_BASE_BOOTLOADER, stop, stop_at_640);
    std::fclose(file);
    EXPECT_EQ(out.error, UPGRADE_ERR_TOO_LARGE);
    EXPECT_TRUE(blocks().empty());
}

#ifndef _WIN32
TEST_F(UpgradeCoreTest, AFifoNobodyWritesToIsRefusedAtOnce) {
    const std::string fifo = (dir / "image.bin").string();
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    auto result = std::make_shared<std::promise<int>>();
    std::future<int> done = result->get_future();
    std::thread([fifo, result] {
        std::atomic<int> stop{0};
        result->set_value(upgrade_run(fifo, IMAGE_BASE_FIRMWARE, stop, {}).error);
    }).detach();
    ASSERT_EQ(done.wait_for(std::chrono::seconds(10)), std::future_status::ready) << "the upgrade waits for a writer";
    EXPECT_EQ(done.get(), UPGRADE_ERR_NOT_FILE);
    EXPECT_TRUE(blocks().empty());
}
#endif

}  // namespace
