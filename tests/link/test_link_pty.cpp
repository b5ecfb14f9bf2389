// The Linux transport on a pseudo-terminal: the link drives a byte-stream node exactly as it
// drives a hidraw node, and a firmware model answers at the other end.
#include "instrument/firmware.h"
#include "link/commands.h"
#include "link/link.h"
#include "platform/hid_bus.h"
#include "platform/hid_linux.h"
#include "pty_instrument.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <termios.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

using namespace std::chrono_literals;

namespace {

class PtyLinkTest : public ::testing::Test {
protected:
    // The Linux backend is registered only while a test needs it: left behind, it would show the
    // machine's own hidraw devices to every later test of this program.
    void SetUp() override { hid_bus_register(hid_linux_backend()); }
    void TearDown() override {
        link_close();
        hid_bus_unregister(hid_linux_backend());
    }
};

command_frame request(uint16_t code) {
    command_frame f;
    frame_prepare(f, code, 0);
    return f;
}

TEST_F(PtyLinkTest, ExchangesSequenceNumbersAndRecoversFromFaults) {
    PtyInstrument dev;
    ASSERT_TRUE(dev.ok());
    ASSERT_EQ(link_open(dev.path().c_str(), 150), 0);
    for (int i = 0; i < 256; ++i) {
        command_frame f = request(CMD_GET_FIRMWARE_INFO);
        ASSERT_EQ(link_transact(f), LINK_OK) << i;
        ASSERT_EQ(f.bytes[FRAME_SEQUENCE], uint8_t(i + 2));
    }
    auto sent = dev.requests();
    ASSERT_EQ(sent.size(), 256u);
    EXPECT_EQ(sent[0].bytes[FRAME_SEQUENCE], 2);
    EXPECT_EQ(sent[254].bytes[FRAME_SEQUENCE], 0);
    EXPECT_EQ(sent[255].bytes[FRAME_SEQUENCE], 1);

    dev.drop_next();
    command_frame f = request(CMD_GET_DEVICE_INFO);
    command_frame before = f;
    EXPECT_EQ(link_transact(f), LINK_ERR_TIMEOUT);
    EXPECT_EQ(std::memcmp(f.bytes, before.bytes, FRAME_SIZE), 0);
    EXPECT_EQ(link_transact(f), LINK_OK);

    // A late answer arrives while the next request waits: that caller still gets its own.
    link_close();
    ASSERT_EQ(link_open(dev.path().c_str(), 300), 0);
    dev.delay_next(400);
    f = request(CMD_GET_DEVICE_INFO);
    EXPECT_EQ(link_transact(f), LINK_ERR_TIMEOUT);
    dev.delay_next(200);
    f = request(CMD_GET_VERSION_TEXT);
    ASSERT_EQ(link_transact(f), LINK_OK);
    EXPECT_EQ(frame_code(f), CMD_GET_VERSION_TEXT);
}

TEST_F(PtyLinkTest, WhatAnAbandonedExchangeLeftQueuedIsFlushedBeforeTheNextRequest) {
    PtyInstrument dev;
    ASSERT_TRUE(dev.ok());
    ASSERT_EQ(link_open(dev.path().c_str(), 150), 0);
    // The exchange times out, and afterwards half of its answer arrives. Read together with
    // the next answer, those bytes would shift every later report out of line.
    dev.cut_next(60);
    dev.delay_next(250);
    command_frame f = request(CMD_GET_DEVICE_INFO);
    EXPECT_EQ(link_transact(f), LINK_ERR_TIMEOUT);
    std::this_thread::sleep_for(200ms);
    for (int i = 0; i < 3; ++i) {
        f = request(CMD_GET_FIRMWARE_INFO);
        ASSERT_EQ(link_transact(f), LINK_OK) << i;
        EXPECT_EQ(frame_code(f), CMD_GET_FIRMWARE_INFO);
    }
}

TEST_F(PtyLinkTest, ANodeThatIsNotHidKeepsThePreviousReportId) {
    PtyInstrument dev;
    ASSERT_TRUE(dev.ok());
    uint8_t before = link_report_id();
    ASSERT_EQ(link_open(dev.path().c_str(), 150), 0);
    EXPECT_EQ(link_report_id(), before);
}

TEST_F(PtyLinkTest, OpenIsExclusive) {
    PtyInstrument dev;
    ASSERT_TRUE(dev.ok());
    hid_port* a = hid_port_open(dev.path().c_str());
    ASSERT_NE(a, nullptr);
    EXPECT_EQ(hid_port_open(dev.path().c_str()), nullptr);
    hid_port_close(a);
    hid_port* b = hid_port_open(dev.path().c_str());
    EXPECT_NE(b, nullptr);
    hid_port_close(b);
}

TEST_F(PtyLinkTest, OnlyADeviceNodeIsOpenedAndAFileIsLeftAlone) {
    char path[] = "/tmp/veltranic-notes-XXXXXX";
    const int fd = ::mkstemp(path);
    ASSERT_GE(fd, 0);
    const std::string text(300, 'n');
    ASSERT_EQ(::write(fd, text.data(), text.size()), ssize_t(text.size()));
    ::close(fd);
    EXPECT_EQ(hid_port_open(path), nullptr);
    EXPECT_NE(link_open(path, 100), 0);
    EXPECT_EQ(hid_port_open("/tmp"), nullptr);
    char back[400] = {};
    const int again = ::open(path, O_RDONLY);
    ASSERT_GE(again, 0);
    EXPECT_EQ(::read(again, back, sizeof back), ssize_t(text.size()));
    ::close(again);
    ::unlink(path);
    EXPECT_EQ(std::string(back), text);
}

TEST_F(PtyLinkTest, CancelWakesABlockedReadAndIsNotLostBeforeIt) {
    PtyInstrument dev;
    ASSERT_TRUE(dev.ok());
    hid_port* port = hid_port_open(dev.path().c_str());
    ASSERT_NE(port, nullptr);
    uint8_t buf[FRAME_SIZE];
    std::atomic<int> result{-1};
    std::thread reader([&] { result = hid_port_read(port, buf, FRAME_SIZE); });
    std::this_thread::sleep_for(20ms);
    hid_port_cancel(port);
    reader.join();
    EXPECT_EQ(result.load(), HID_ERR_CANCELLED);
    // Still in force for a read that starts after the cancel, until rearmed.
    EXPECT_EQ(hid_port_read(port, buf, FRAME_SIZE), HID_ERR_CANCELLED);
    hid_port_rearm(port);
    command_frame f = request(CMD_GET_FIRMWARE_INFO);
    f.bytes[FRAME_SEQUENCE] = 9;
    ASSERT_EQ(hid_port_write(port, f.bytes, FRAME_SIZE), HID_OK);
    ASSERT_EQ(hid_port_read(port, buf, FRAME_SIZE), HID_OK);
    EXPECT_EQ(buf[FRAME_SEQUENCE], 9);
    hid_port_close(port);
}

TEST_F(PtyLinkTest, HangUpFailsTheReadInsteadOfSpinning) {
    PtyInstrument dev;
    ASSERT_TRUE(dev.ok());
    hid_port* port = hid_port_open(dev.path().c_str());
    ASSERT_NE(port, nullptr);
    dev.hang_up();
    uint8_t buf[FRAME_SIZE];
    EXPECT_EQ(hid_port_read(port, buf, FRAME_SIZE), HID_ERR_IO);
    hid_port_close(port);
}

}  // namespace
