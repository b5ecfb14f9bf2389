#include "app_fixture.h"
#include "link/bytes.h"
#include "link/commands.h"
#include "maintenance/upgrade.h"
#include "maintenance/upgrade_dialog.h"

#include <QDialog>
#include <QLabel>
#include <QProgressBar>
#include <QTimer>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fstream>

namespace {

class UpgradeTest : public AppTest {
protected:
    void open(sim_mode mode) {
        sim_device_config c;
        c.firmware.mode = mode;
        dev = sim_bus_add(c);
        ASSERT_EQ(link_open(dev->path().c_str(), LINK_TIMEOUT_SERVICE_MS), 0);
    }
    std::string image(size_t size) {
        std::vector<uint8_t> bytes(size);
        for (size_t i = 0; i < size; ++i) bytes[i] = uint8_t(i * 7 + 3);
        content = bytes;
        const std::string path = dir.filePath(QStringLiteral("image.bin")).toStdString();
        std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(size));
        chosen = QString::fromStdString(path);
        ui_set_file_hook([this](QWidget*, const ui_file_request& r) { return asked = r, chosen; });
        return path;
    }
    std::vector<command_frame> blocks() {
        std::vector<command_frame> out;
        for (const auto& f : dev->requests())
            if (frame_code(f) == CMD_WRITE_IMAGE_BLOCK) out.push_back(f);
        return out;
    }
    static uint32_t index_of(const command_frame& f) { return get_u32le(frame_payload(f) + 1); }
    static uint32_t count_of(const command_frame& f) { return get_u32le(frame_payload(f) + 5); }
    static uint32_t base_of(const command_frame& f) { return get_u32le(frame_payload(f) + 73); }
    void TearDown() override {
        ui_set_file_hook({});
        AppTest::TearDown();
    }

    std::shared_ptr<sim_device> dev;
    QTemporaryDir dir;
    QString chosen;
    ui_file_request asked;
    std::vector<uint8_t> content;
};

TEST_F(UpgradeTest, A130ByteImageGoesAs64And64And2ThenTheEndBlock) {
    open(sim_mode::bootloader);
    const std::string path = image(130);
    std::atomic<int> stop{0};
    std::vector<uint32_t> progress;
    upgrade_outcome out = upgrade_run(path, IMAGE_BASE_FIRMWARE, stop, [&](uint32_t n) { progress.push_back(n); });
    EXPECT_EQ(out.failed, 0);
    EXPECT_EQ(out.bytes_written, 130u);
    EXPECT_EQ(progress, (std::vector<uint32_t>{64, 128, 130}));
    auto sent = blocks();
    ASSERT_EQ(sent.size(), 4u);
    const uint32_t counts[] = {64, 64, 2, 0};
    for (uint32_t i = 0; i < 4; ++i) {
        const uint8_t* p = frame_payload(sent[i]);
        EXPECT_EQ(sent[i].bytes[FRAME_LENGTH], 77);
        EXPECT_EQ(p[0], 1);
        EXPECT_EQ(index_of(sent[i]), i);
        EXPECT_EQ(count_of(sent[i]), counts[i]);
        EXPECT_EQ(base_of(sent[i]), IMAGE_BASE_FIRMWARE);
    }
    // Data bytes: the file's, and past a short count what the previous block left.
    EXPECT_EQ(std::memcmp(frame_payload(sent[1]) + 9, content.data() + 64, 64), 0);
    EXPECT_EQ(std::memcmp(frame_payload(sent[2]) + 9, content.data() + 128, 2), 0);
    EXPECT_EQ(std::memcmp(frame_payload(sent[2]) + 11, content.data() + 66, 62), 0);
    dev->with_firmware([&](sim_firmware& fw) { EXPECT_EQ(fw.installed_firmware, content); });
}

TEST_F(UpgradeTest, WholeBlocksEndWithAnEndBlockAndAnEmptyImageSendsOnlyThat) {
    open(sim_mode::bootloader);
    std::atomic<int> stop{0};
    upgrade_outcome out = upgrade_run(image(128), IMAGE_BASE_FIRMWARE, stop, {});
    EXPECT_EQ(out.failed, 0);
    auto sent = blocks();
    ASSERT_EQ(sent.size(), 3u);
    EXPECT_EQ(index_of(sent[2]), 2u);
    EXPECT_EQ(count_of(sent[2]), 0u);

    dev->clear_requests();
    image(0);
    EXPECT_EQ(upgrade_dialog_run(nullptr, 1), 1);
    sent = blocks();
    ASSERT_EQ(sent.size(), 1u);
    EXPECT_EQ(index_of(sent[0]), 0u);
    EXPECT_EQ(count_of(sent[0]), 0u);
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_EQ(messages[0].caption, "Upgrade");
    EXPECT_EQ(messages[0].text, "Upgrade complete, 0 bytes written");
}

TEST_F(UpgradeTest, FirmwareDialogChoosesAFileAndInstallsIt) {
    open(sim_mode::bootloader);
    image(1000);
    EXPECT_EQ(upgrade_dialog_run(nullptr, 1), 1);
    EXPECT_EQ(asked.title, QStringLiteral("Firmware Binary File"));
    EXPECT_EQ(asked.filter, QStringLiteral("Firmware Binary Files (*.bin)"));
    EXPECT_EQ(asked.default_suffix, QStringLiteral("bin"));
    EXPECT_FALSE(asked.save);
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_EQ(messages[0].text, "Upgrade complete, 1000 bytes written");
    dev->with_firmware([&](sim_firmware& fw) { EXPECT_EQ(fw.installed_firmware, content); });
    for (const auto& b : blocks()) EXPECT_EQ(base_of(b), IMAGE_BASE_FIRMWARE);

    // The same file is offered again; cancelling the choice ends the dialog quietly.
    ui_set_file_hook([this](QWidget*, const ui_file_request& r) { return asked = r, QString(); });
    EXPECT_EQ(upgrade_dialog_run(nullptr, 1), 2);
    EXPECT_EQ(asked.start_path, chosen);
    EXPECT_EQ(messages.size(), 1u);
    EXPECT_EQ(upgrade_dialog_run(nullptr, 0), 2);  // not a mode that upgrades
    EXPECT_EQ(upgrade_dialog_run(nullptr, 3), 2);
}

TEST_F(UpgradeTest, BootloaderUpgradeAsksFirstAndUsesBaseZero) {
    open(sim_mode::firmware_bootloader_upgrade);
    image(200);
    answer = UI_IDNO;
    EXPECT_EQ(upgrade_dialog_run(nullptr, 2), 2);
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_EQ(messages[0].caption, "Upgrade Bootloader");
    EXPECT_EQ(messages[0].text,
              "A bootloader upgrade must be allowed to complete or the sensor will need to be returned to "
              "Calderwyn for repair. Are you sure you want to do this?");
    EXPECT_TRUE(blocks().empty());

    answer = UI_IDYES;
    EXPECT_EQ(upgrade_dialog_run(nullptr, 0x102), 1);  // only the low byte is the mode
    EXPECT_EQ(asked.title, QStringLiteral("Bootloader Binary File"));
    EXPECT_EQ(asked.filter, QStringLiteral("Bootloader Binary Files (*.bin)"));
    for (const auto& b : blocks()) EXPECT_EQ(base_of(b), IMAGE_BASE_BOOTLOADER);
    dev->with_firmware([&](sim_firmware& fw) { EXPECT_EQ(fw.installed_bootloader, content); });
}

TEST_F(UpgradeTest, RefusedBlocksAndMissingFilesFail) {
    open(sim_mode::bootloader);
    image(130);
    dev->with_firmware([](sim_firmware& fw) { fw.refuse_block = 2; });
    EXPECT_EQ(upgrade_dialog_run(nullptr, 1), 2);
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_EQ(messages[0].text, "Upgrade failed after 128 bytes (1)");
    auto sent = blocks();
    ASSERT_EQ(sent.size(), 3u);  // the refused block was the last one sent: no end block
    EXPECT_EQ(count_of(sent.back()), 2u);

    dev->clear_requests();
    dev->with_firmware([](sim_firmware& fw) { fw.refuse_block = 3; });  // the end block
    EXPECT_EQ(upgrade_dialog_run(nullptr, 1), 2);
    EXPECT_EQ(messages.back().text, "Upgrade failed after 130 bytes (1)");

    chosen = dir.filePath(QStringLiteral("missing.bin"));
    EXPECT_EQ(upgrade_dialog_run(nullptr, 1), 2);
    EXPECT_EQ(messages.back().text, "Upgrade failed after 0 bytes (1)");
}

// A file that gives `good` bytes and then fails to read, like a stick pulled mid-copy.
struct failing_file {
    std::vector<uint8_t> bytes;
    size_t at = 0;
    size_t good;
};

FILE* open_failing(failing_file& state) {
    cookie_io_functions_t io{};
    io.read = [](void* c, char* buf, size_t size) -> ssize_t {
        auto* f = static_cast<failing_file*>(c);
        if (f->at >= f->good) {
            errno = EIO;
            return -1;
        }
        const size_t n = std::min(size, f->good - f->at);
        std::memcpy(buf, f->bytes.data() + f->at, n);
        f->at += n;
        return ssize_t(n);
    };
    return fopencookie(&state, "rb", io);
}

TEST_F(UpgradeTest, AFileThatFailsToReadIsNeverInstalled) {
    open(sim_mode::bootloader);
    // Part-way: 200 good bytes of a longer image, then a read error. No end block is sent, so
    // the bootloader never installs the truncated image.
    failing_file state{std::vector<uint8_t>(1000, 0x5A), 0, 200};
    FILE* file = open_failing(state);
    ASSERT_NE(file, nullptr);
    std::atomic<int> stop{0};
    upgrade_outcome out = upgrade_run_file(file, IMAGE_BASE_FIRMWARE, stop, {});
    std::fclose(file);
    EXPECT_EQ(out.failed, 1);
    for (const auto& b : blocks()) EXPECT_NE(count_of(b), 0u) << "an end block was sent";
    dev->with_firmware([](sim_firmware& fw) { EXPECT_TRUE(fw.installed_firmware.empty()); });

    // At the first read: a folder chosen as the image opens but cannot be read. That is not an
    // empty image.
    dev->clear_requests();
    image(10);
    chosen = dir.path();
    EXPECT_EQ(upgrade_dialog_run(nullptr, 1), 2);
    ASSERT_FALSE(messages.empty());
    EXPECT_EQ(messages.back().text, "Upgrade failed after 0 bytes (1)");
    EXPECT_TRUE(blocks().empty());
}

TEST_F(UpgradeTest, UnplugInTheMiddleEndsWithTheFailureMessage) {
    open(sim_mode::bootloader);
    link_close();
    ASSERT_EQ(link_open(dev->path().c_str(), 200), 0);
    image(64 * 200);
    dev->set_latency(sim_latency::usb_full_speed);
    QTimer::singleShot(60, [this] { dev->unplug(); });
    EXPECT_EQ(upgrade_dialog_run(nullptr, 1), 2);
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_EQ(messages[0].text.rfind("Upgrade failed after ", 0), 0u) << messages[0].text;
}

// Clicks the running dialog's Cancel once it has written a few blocks.
void cancel_after_progress(std::function<void()> then) {
    QTimer::singleShot(100, [then] {
        auto* dialog = qobject_cast<QDialog*>(QApplication::activeModalWidget());
        if (!dialog) return cancel_after_progress(then);
        dialog->findChild<QPushButton*>(QStringLiteral("cancel_button"))->click();
        then();
    });
}

TEST_F(UpgradeTest, CancelNeverStopsABootloaderUpgrade) {
    open(sim_mode::firmware_bootloader_upgrade);
    image(64 * 150);
    dev->set_latency(sim_latency::usb_full_speed);
    bool clicked = false;
    cancel_after_progress([&] { clicked = true; });
    EXPECT_EQ(upgrade_dialog_run(nullptr, 2), 1);
    EXPECT_TRUE(clicked);
    ASSERT_EQ(messages.size(), 3u);
    EXPECT_EQ(messages[1].caption, "Cancel");
    EXPECT_EQ(messages[1].text,
              "You must let this operation complete or you will have to return the sensor to Calderwyn for repair.");
    EXPECT_EQ(messages[2].text, "Upgrade complete, 9600 bytes written");
}

TEST_F(UpgradeTest, CancelOfAFirmwareUpgradeStopsOnYesAndGoesOnOnNo) {
    open(sim_mode::bootloader);
    image(64 * 150);
    dev->set_latency(sim_latency::usb_full_speed);
    answer = UI_IDNO;
    cancel_after_progress([] {});
    EXPECT_EQ(upgrade_dialog_run(nullptr, 1), 1);
    ASSERT_EQ(messages.size(), 2u);
    EXPECT_EQ(messages[0].text,
              "If you interrupt the upgrade now you will need to re-do it later to be able to use the sensor "
              "again.\nStop the upgrade now?");
    EXPECT_EQ(messages[1].text, "Upgrade complete, 9600 bytes written");

    dev->clear_requests();
    answer = UI_IDYES;
    cancel_after_progress([] {});
    EXPECT_EQ(upgrade_dialog_run(nullptr, 1), 2);
    EXPECT_EQ(messages.size(), 3u);  // only the question: a stopped upgrade reports nothing more
    auto sent = blocks();
    ASSERT_FALSE(sent.empty());
    EXPECT_LT(sent.size(), 150u);
    for (const auto& b : sent) EXPECT_NE(count_of(b), 0u);  // no end block
}

}  // namespace

namespace {

TEST_F(UpgradeTest, TheBootloaderRefusesBlocksOutOfOrderOrOfTheWrongImage) {
    open(sim_mode::bootloader);
    auto send = [](uint32_t index, uint32_t count, uint32_t base) {
        command_frame f;
        frame_prepare(f, CMD_WRITE_IMAGE_BLOCK, IMAGE_BLOCK_SIZE);
        uint8_t* p = frame_payload(f);
        p[0] = 1;
        put_u32le(p + 1, index);
        put_u32le(p + 5, count);
        put_u32le(p + 73, base);
        return command_exchange(f);
    };
    EXPECT_EQ(send(0, 64, IMAGE_BASE_FIRMWARE), 0);
    EXPECT_NE(send(2, 64, IMAGE_BASE_FIRMWARE), 0);   // a gap
    EXPECT_NE(send(0, 64, IMAGE_BASE_BOOTLOADER), 0); // a bootloader image in the bootloader
    EXPECT_EQ(send(1, 10, IMAGE_BASE_FIRMWARE), 0);
    EXPECT_NE(send(1, 10, IMAGE_BASE_FIRMWARE), 0);   // the same block again
    EXPECT_EQ(send(2, 0, IMAGE_BASE_FIRMWARE), 0);
    dev->with_firmware([](sim_firmware& fw) { EXPECT_EQ(fw.installed_firmware.size(), 74u); });
}

}  // namespace
