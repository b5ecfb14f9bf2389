#include "link/link.h"
#include "link/link_testing.h"
#include "sim_fixture.h"

#include <atomic>
#include <chrono>
#include <set>
#include <thread>
#include <vector>

using namespace std::chrono_literals;

namespace {

bool same(const command_frame& a, const command_frame& b) { return std::memcmp(a.bytes, b.bytes, FRAME_SIZE) == 0; }

using LinkTest = SimLinkTest;

TEST_F(LinkTest, SequenceNumbersStartAtTwoAndWrapThroughZero) {
    auto dev = plug();
    ASSERT_EQ(link_open(dev->path().c_str(), 1000), 0);
    for (int i = 0; i < 256; ++i) {
        command_frame f = request(CMD_GET_FIRMWARE_INFO);
        ASSERT_EQ(link_transact(f), LINK_OK) << "request " << i + 1;
        // On success the caller's frame holds the response's report id and sequence number.
        EXPECT_EQ(f.bytes[FRAME_REPORT_ID], 1);
        EXPECT_EQ(f.bytes[FRAME_SEQUENCE], uint8_t(i + 2));
        EXPECT_EQ(f.bytes[FRAME_LENGTH], 5);
    }
    auto sent = dev->requests();
    ASSERT_EQ(sent.size(), 256u);
    EXPECT_EQ(sent[0].bytes[FRAME_SEQUENCE], 2);
    EXPECT_EQ(sent[253].bytes[FRAME_SEQUENCE], 255);
    EXPECT_EQ(sent[254].bytes[FRAME_SEQUENCE], 0);
    EXPECT_EQ(sent[255].bytes[FRAME_SEQUENCE], 1);
    for (const auto& r : sent) EXPECT_EQ(r.bytes[FRAME_REPORT_ID], 1);
}

TEST_F(LinkTest, ClosedLinkAnswersNotOpenAndLeavesFrame) {
    command_frame f = request(CMD_GET_STATUS, 7, 0x40);
    command_frame before = f;
    EXPECT_FALSE(link_is_open());
    EXPECT_EQ(link_transact(f), LINK_ERR_NOT_OPEN);
    EXPECT_TRUE(same(f, before));
    link_close();  // closing a closed link does nothing
    link_close();
    EXPECT_EQ(link_transact(f), LINK_ERR_NOT_OPEN);
}

TEST_F(LinkTest, MutexTimeoutReturnsBusyWithoutAdvancingSequence) {
    auto dev = plug();
    ASSERT_EQ(link_open(dev->path().c_str(), 50), 0);
    ASSERT_TRUE(link_test_hold_transactions());
    command_frame f = request(CMD_GET_DEVICE_INFO, 3, 9);
    command_frame before = f;
    int result = -1;
    std::thread([&] { result = link_transact(f); }).join();
    link_test_release_transactions();
    EXPECT_EQ(result, LINK_ERR_BUSY);
    EXPECT_TRUE(same(f, before));
    EXPECT_EQ(dev->request_count(), 0u);  // nothing was sent

    ASSERT_EQ(link_transact(f), LINK_OK);
    ASSERT_EQ(dev->requests().size(), 1u);
    EXPECT_EQ(dev->requests()[0].bytes[FRAME_SEQUENCE], 2);
}

TEST_F(LinkTest, DroppedResponseTimesOutAndTheNextExchangeSucceeds) {
    auto dev = plug();
    ASSERT_EQ(link_open(dev->path().c_str(), 100), 0);
    dev->drop_next_responses(1);
    command_frame f = request(CMD_GET_DEVICE_INFO, 4, 1);
    command_frame before = f;
    EXPECT_EQ(link_transact(f), LINK_ERR_TIMEOUT);
    EXPECT_TRUE(same(f, before));
    EXPECT_EQ(link_transact(f), LINK_OK);
    EXPECT_EQ(f.bytes[FRAME_SEQUENCE], 3);
    EXPECT_EQ(frame_code(f), CMD_GET_DEVICE_INFO);
}

TEST_F(LinkTest, WrongSequenceIsNeverAcceptedAndTheLinkRecovers) {
    auto dev = plug();
    ASSERT_EQ(link_open(dev->path().c_str(), 100), 0);
    dev->wrong_sequence_next(1);
    command_frame f = request(CMD_GET_FIRMWARE_INFO);
    command_frame before = f;
    EXPECT_EQ(link_transact(f), LINK_ERR_TIMEOUT);
    EXPECT_TRUE(same(f, before));
    EXPECT_EQ(link_transact(f), LINK_OK);
}

TEST_F(LinkTest, LateResponseNeverReachesALaterCaller) {
    auto dev = plug();
    ASSERT_EQ(link_open(dev->path().c_str(), 300), 0);
    // The answer to the first request comes after its caller gave up, while the second request
    // is waiting for its own answer.
    dev->delay_next_response(400);
    command_frame first = request(CMD_GET_DEVICE_INFO);
    EXPECT_EQ(link_transact(first), LINK_ERR_TIMEOUT);
    dev->delay_next_response(200);
    command_frame second = request(CMD_GET_FIRMWARE_INFO);
    ASSERT_EQ(link_transact(second), LINK_OK);
    EXPECT_EQ(frame_code(second), CMD_GET_FIRMWARE_INFO);
    EXPECT_EQ(second.bytes[FRAME_SEQUENCE], 3);
    EXPECT_EQ(second.bytes[FRAME_LENGTH], 5);
    // No cascade: every later caller gets its own answer too.
    for (int i = 0; i < 5; ++i) {
        command_frame f = request(i % 2 ? CMD_GET_VERSION_TEXT : CMD_GET_DEVICE_INFO);
        ASSERT_EQ(link_transact(f), LINK_OK) << i;
        EXPECT_EQ(frame_code(f), i % 2 ? CMD_GET_VERSION_TEXT : CMD_GET_DEVICE_INFO);
        EXPECT_EQ(f.bytes[FRAME_SEQUENCE], uint8_t(4 + i));
    }
}

TEST_F(LinkTest, LateResponseQueuedBeforeTheNextRequestIsDiscarded) {
    auto dev = plug();
    ASSERT_EQ(link_open(dev->path().c_str(), 100), 0);
    dev->delay_next_response(150);
    command_frame first = request(CMD_GET_DEVICE_INFO);
    EXPECT_EQ(link_transact(first), LINK_ERR_TIMEOUT);
    std::this_thread::sleep_for(150ms);  // the stale answer is now queued at the device
    command_frame second = request(CMD_GET_FIRMWARE_INFO);
    ASSERT_EQ(link_transact(second), LINK_OK);
    EXPECT_EQ(frame_code(second), CMD_GET_FIRMWARE_INFO);
}

TEST_F(LinkTest, DeviceWithoutInputReportOneGetsReportIdZero) {
    sim_device_config config;
    config.input_report_id1 = false;
    auto dev = plug(config);
    ASSERT_EQ(link_open(dev->path().c_str(), 500), 0);
    EXPECT_EQ(link_report_id(), 0);
    command_frame f = request(CMD_GET_FIRMWARE_INFO);
    f.bytes[FRAME_REPORT_ID] = 0x77;  // whatever the caller left there is overwritten
    ASSERT_EQ(link_transact(f), LINK_OK);
    EXPECT_EQ(dev->requests().at(0).bytes[FRAME_REPORT_ID], 0);
    link_close();

    auto numbered = plug();
    ASSERT_EQ(link_open(numbered->path().c_str(), 500), 0);
    EXPECT_EQ(link_report_id(), 1);
}

TEST_F(LinkTest, OpenIsExclusiveAndFailsForAbsentDevices) {
    auto dev = plug();
    EXPECT_EQ(link_open("sim:99", 500), 1);
    EXPECT_EQ(link_open("", 500), 1);
    ASSERT_EQ(link_open(dev->path().c_str(), 500), 0);
    EXPECT_EQ(link_open(dev->path().c_str(), 500), 1);  // the open link stays as it was
    command_frame f = request(CMD_GET_FIRMWARE_INFO);
    EXPECT_EQ(link_transact(f), LINK_OK);
}

TEST_F(LinkTest, ReopenAfterCloseStartsAFreshSequence) {
    auto dev = plug();
    for (int round = 0; round < 3; ++round) {
        ASSERT_EQ(link_open(dev->path().c_str(), 500), 0);
        command_frame f = request(CMD_GET_FIRMWARE_INFO);
        ASSERT_EQ(link_transact(f), LINK_OK);
        EXPECT_EQ(f.bytes[FRAME_SEQUENCE], 2);
        link_close();
        EXPECT_EQ(link_transact(f), LINK_ERR_NOT_OPEN);
    }
}

TEST_F(LinkTest, UnplugInTheMiddleOfAnExchangeFailsWithoutHanging) {
    auto dev = plug();
    ASSERT_EQ(link_open(dev->path().c_str(), 100), 0);
    dev->unplug_on_next_request();
    command_frame f = request(CMD_GET_STATUS);
    command_frame before = f;
    EXPECT_EQ(link_transact(f), LINK_ERR_TIMEOUT);
    EXPECT_TRUE(same(f, before));
    EXPECT_FALSE(dev->plugged());
    EXPECT_EQ(link_transact(f), LINK_ERR_TIMEOUT);  // writes fail now; still bounded
    link_close();
    dev->plug();
    ASSERT_EQ(link_open(dev->path().c_str(), 100), 0);
    EXPECT_EQ(link_transact(f), LINK_OK);
}

TEST_F(LinkTest, CloseEndsATransactionWaitingOnAnotherThread) {
    auto dev = plug();
    dev->set_never_answer(true);
    ASSERT_EQ(link_open(dev->path().c_str(), 3000), 0);
    std::atomic<int> result{-1};
    std::thread t([&] {
        command_frame f = request(CMD_GET_STATUS);
        result = link_transact(f);
    });
    while (dev->request_count() == 0) std::this_thread::sleep_for(1ms);
    link_close();
    t.join();
    EXPECT_EQ(result.load(), LINK_ERR_NOT_OPEN);
}

TEST_F(LinkTest, CloseGivesUpOnAWedgedWorkerWhichReleasesTheDeviceLater) {
    auto dev = plug();
    ASSERT_EQ(link_open(dev->path().c_str(), 100), 0);
    dev->stall_writes(true);
    command_frame f = request(CMD_GET_STATUS);
    EXPECT_EQ(link_transact(f), LINK_ERR_TIMEOUT);
    link_close();  // gives up after its bounded wait; the worker is still inside the write
    EXPECT_FALSE(link_is_open());
    EXPECT_EQ(link_open(dev->path().c_str(), 100), 1);  // still held by the wedged worker
    dev->stall_writes(false);
    int opened = 1;
    for (int i = 0; i < 200 && opened != 0; ++i) {
        std::this_thread::sleep_for(10ms);
        opened = link_open(dev->path().c_str(), 100);
    }
    ASSERT_EQ(opened, 0);
    EXPECT_EQ(link_transact(f), LINK_OK);
}

TEST_F(LinkTest, ConcurrentCallersWhileTheLinkClosesAndReopens) {
    auto dev = plug();
    ASSERT_EQ(link_open(dev->path().c_str(), 50), 0);
    std::atomic<bool> done{false};
    std::atomic<int> bad{0}, ok{0};
    std::vector<std::thread> callers;
    for (int t = 0; t < 4; ++t) {
        callers.emplace_back([&, t] {
            while (!done) {
                command_frame f = request(t % 2 ? CMD_GET_FIRMWARE_INFO : CMD_GET_DEVICE_INFO);
                command_frame before = f;
                int r = link_transact(f);
                if (r == LINK_OK) {
                    ++ok;
                    if (frame_code(f) != frame_code(before)) ++bad;  // someone else's answer
                } else if (r == LINK_ERR_BUSY || r == LINK_ERR_TIMEOUT || r == LINK_ERR_NOT_OPEN) {
                    if (!same(f, before)) ++bad;
                } else {
                    ++bad;
                }
            }
        });
    }
    for (int i = 0; i < 40; ++i) {
        std::this_thread::sleep_for(3ms);
        link_close();
        std::this_thread::sleep_for(1ms);
        ASSERT_EQ(link_open(dev->path().c_str(), 50), 0);
    }
    done = true;
    for (auto& c : callers) c.join();
    EXPECT_EQ(bad.load(), 0);
    EXPECT_GT(ok.load(), 0);
}

TEST_F(LinkTest, CommandWrapperConventionReportsLinkFailureAs14) {
    command_frame f = request(CMD_GET_STATUS);
    EXPECT_EQ(command_exchange(f), ERR_LINK_FAILED);
    auto dev = plug();
    ASSERT_EQ(link_open(dev->path().c_str(), 200), 0);
    dev->force_result(CMD_GET_STATUS, 6);
    f = request(CMD_GET_STATUS);
    EXPECT_EQ(command_exchange(f), 6);
    f = request(0x01FF);  // a command the instrument does not know
    EXPECT_EQ(command_exchange(f), RESULT_UNSUPPORTED);
}

}  // namespace
