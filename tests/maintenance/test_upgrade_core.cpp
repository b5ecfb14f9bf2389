// The upgrade loop on images that are not what they seem: files that change while they are
// sent, files that never end, and sizes the instrument cannot count.
#include "link/bytes.h"
#include "maintenance/upgrade.h"
#include "tests/link/sim_fixture.h"

#include <chrono>
#include <filesystem>
#include <fstream>
#include <future>
#include <random>
#include <thread>

#ifndef _WIN32
#include <sys/stat.h>
#endif

namespace {

class UpgradeCoreTest : public SimLinkTest {
protected:
    void SetUp() override {
        SimLinkTest::SetUp();
        std::filesystem::create_directories(dir);
        sim_device_config c;
        c.firmware.mode = sim_mode::bootloader;
        dev = plug(c);
        ASSERT_EQ(link_open(dev->path().c_str(), 1000), 0);
    }
    void TearDown() override {
        SimLinkTest::TearDown();
        std::error_code ignored;
        std::filesystem::remove_all(dir, ignored);
    }
    std::string image(size_t size) {
        std::ofstream(path, std::ios::binary) << std::string(size, 'i');
        return path;
    }
    // Blocks sent, and whether one of them was the end block.
    std::pair<size_t, bool> blocks() {
        std::pair<size_t, bool> seen{0, false};
        for (const auto& f : dev->requests())
            if (frame_code(f) == CMD_WRITE_IMAGE_BLOCK) ++seen.first, seen.second |= get_u32le(frame_payload(f) + 5) == 0;
        return seen;
    }

    const std::filesystem::path dir =
        std::filesystem::temp_directory_path() / ("veltranic-image-" + std::to_string(std::random_device{}()));
    const std::string path = (dir / "image.bin").string();
    std::shared_ptr<sim_device> dev;
    std::atomic<int> stop{0};
};

TEST_F(UpgradeCoreTest, AnImageThatShrinksOrGrowsWhileItIsSentFailsWithoutTheEndBlock) {
    // Cut to 8000 bytes once the first block is out (what the reader buffered is still sent).
    upgrade_outcome out = upgrade_run(image(64 * 400), IMAGE_BASE_FIRMWARE, stop, [&](uint32_t written) {
        if (written == 64) std::filesystem::resize_file(path, 8000);
    });
    EXPECT_EQ(out.failed, 1);
    EXPECT_EQ(out.error, UPGRADE_ERR_CHANGED);
    EXPECT_LE(out.bytes_written, 8000u);
    EXPECT_FALSE(blocks().second);
    dev->with_firmware([](sim_firmware& fw) { EXPECT_TRUE(fw.installed_firmware.empty()); });

    dev->clear_requests();
    out = upgrade_run(image(640), IMAGE_BASE_FIRMWARE, stop, [&](uint32_t written) {
        if (written == 64) std::ofstream(path, std::ios::binary | std::ios::app).put('x');
    });
    EXPECT_EQ(out.error, UPGRADE_ERR_CHANGED);
    EXPECT_EQ(out.bytes_written, 640u);
    EXPECT_EQ(blocks(), std::make_pair(size_t(10), false));
}

TEST_F(UpgradeCoreTest, OnlyRegularFilesOfASizeTheInstrumentCanCountAreSent) {
    // Whatever the loop would do with a file that never ends, it stops after ten blocks.
    auto stop_at_640 = [&](uint32_t written) { stop = written >= 640 ? 1 : 0; };
#ifdef _WIN32
    EXPECT_EQ(upgrade_run("NUL", IMAGE_BASE_FIRMWARE, stop, stop_at_640).error, UPGRADE_ERR_NOT_FILE);
#else
    EXPECT_EQ(upgrade_run("/dev/zero", IMAGE_BASE_FIRMWARE, stop, stop_at_640).error, UPGRADE_ERR_NOT_FILE);
    EXPECT_EQ(upgrade_run(dir.string(), IMAGE_BASE_FIRMWARE, stop, stop_at_640).error, UPGRADE_ERR_NOT_FILE);
    // A FIFO nobody writes to: refused at once, not waited on with the link open.
    const std::string fifo = (dir / "fifo.bin").string();
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    auto result = std::make_shared<std::promise<int>>();
    std::future<int> done = result->get_future();
    std::thread([fifo, result] {
        std::atomic<int> never{0};
        result->set_value(upgrade_run(fifo, IMAGE_BASE_FIRMWARE, never, {}).error);
    }).detach();
    ASSERT_EQ(done.wait_for(std::chrono::seconds(10)), std::future_status::ready) << "the upgrade waits for a writer";
    EXPECT_EQ(done.get(), UPGRADE_ERR_NOT_FILE);
#endif

    // The byte counter is 32 bits, and so is the address of the image's last byte: one byte
    // more than that is refused before the first block. Sparse files, so they take no room.
    upgrade_image opened;
    for (uint32_t base : {IMAGE_BASE_FIRMWARE, IMAGE_BASE_BOOTLOADER}) {
        std::filesystem::resize_file(image(1), upgrade_image_max(base));
        EXPECT_EQ(upgrade_image_open(path.c_str(), base, opened), 0);
        EXPECT_EQ(opened.size, upgrade_image_max(base));
        std::filesystem::resize_file(path, upgrade_image_max(base) + 1);
        EXPECT_EQ(upgrade_image_open(path.c_str(), base, opened), UPGRADE_ERR_TOO_LARGE);
        EXPECT_EQ(upgrade_run(path, base, stop, stop_at_640).error, UPGRADE_ERR_TOO_LARGE);
    }
    EXPECT_EQ(upgrade_image_max(IMAGE_BASE_FIRMWARE), 0xFFFFFFFFull - 0xA000);
    EXPECT_EQ(blocks().first, 0u);
}

}  // namespace
