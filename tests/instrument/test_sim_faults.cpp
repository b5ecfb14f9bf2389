// The virtual instrument's faults aimed at one command, their list, and the odd stored values a
// technician meets in the field, as the tool receives them over the link.
#include "instrument/sim_bus.h"
#include "link/bytes.h"
#include "link/commands.h"
#include "link/link.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <cstring>
#include <limits>
#include <string>
#include <thread>
#include <vector>

using namespace std::chrono_literals;

namespace {

constexpr uint32_t TIMEOUT_MS = 300;

class SimFaultTest : public ::testing::Test {
protected:
    void SetUp() override {
        sim_bus_install();
        sim_bus_reset();
        const sim_device_config config;
        dev = sim_bus_add(config);
        ASSERT_EQ(link_open(dev->path().c_str(), TIMEOUT_MS), 0);
    }
    void TearDown() override {
        link_close();
        sim_bus_reset();
    }

    // One exchange as a command wrapper makes it: 14 when the link fails, else the result byte.
    int exchange(uint16_t code, const std::vector<uint8_t>& payload = {}) {
        frame_prepare(answer, code, uint8_t(payload.size()));
        std::copy(payload.begin(), payload.end(), frame_payload(answer));
        return command_exchange(answer);
    }
    std::vector<uint8_t> answer_bytes(size_t from, size_t to) const {  // payload bytes [from, to)
        return {frame_payload(answer) + from, frame_payload(answer) + to};
    }
    std::vector<uint8_t> stored_rs232() {
        std::vector<uint8_t> r;
        dev->with_firmware([&](sim_firmware& fw) { r.assign(fw.settings.rs232.begin(), fw.settings.rs232.end()); });
        return r;
    }
    const sim_fault* find(const std::vector<sim_fault>& list, sim_fault_kind kind, uint16_t command) {
        for (const sim_fault& f : list)
            if (f.kind == kind && f.command == command) return &f;
        return nullptr;
    }

    std::shared_ptr<sim_device> dev;
    command_frame answer{};
};

std::vector<uint8_t> bytes_of(const std::string& s) { return {s.begin(), s.end()}; }

std::vector<std::string> texts(const std::vector<sim_fault>& faults) {
    std::vector<std::string> out;
    for (const sim_fault& f : faults) {
        char text[200];
        sim_fault_text(f, text, sizeof text);
        out.push_back(text);
    }
    return out;
}

std::vector<uint8_t> rs232_record(uint32_t baud) {
    std::vector<uint8_t> r(12, 0);
    put_u32le(r.data() + 1, baud);
    r[5] = 4;
    r[6] = 8;
    r[7] = 1;
    return r;
}

TEST_F(SimFaultTest, AimedFaultsWaitForTheirCommandWhileAnotherIsPolledInBetween) {
    const std::vector<uint8_t> before = stored_rs232();
    dev->drop_next_of(CMD_GET_RS232_CONFIG);
    dev->fail_next(CMD_SET_RS232_CONFIG, 1, 3);
    dev->drop_next_of(CMD_SET_CLEANING_CONFIG);
    dev->delay_next_of(CMD_GET_CLEANING_CONFIG, TIMEOUT_MS + 100);

    // A poller's commands go by first, and other commands too: none of them is spoilt.
    for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(exchange(CMD_GET_STATUS), 0) << i;
        EXPECT_EQ(answer.bytes[FRAME_LENGTH], 36);
    }
    EXPECT_EQ(exchange(CMD_GET_CLOCK), 0);
    EXPECT_EQ(dev->faults().size(), 4u);

    // Drop: the named command's answer is lost, once.
    EXPECT_EQ(exchange(CMD_GET_RS232_CONFIG), ERR_LINK_FAILED);
    EXPECT_EQ(exchange(CMD_GET_STATUS), 0);
    ASSERT_EQ(exchange(CMD_GET_RS232_CONFIG), 0);
    EXPECT_EQ(answer_bytes(0, 12), before);

    // Refuse: answered with the result, without effect; the next one takes effect.
    EXPECT_EQ(exchange(CMD_SET_RS232_CONFIG, rs232_record(19200)), 3);
    EXPECT_EQ(stored_rs232(), before);
    EXPECT_EQ(exchange(CMD_GET_STATUS), 0);
    EXPECT_EQ(exchange(CMD_SET_RS232_CONFIG, rs232_record(19200)), 0);
    EXPECT_EQ(stored_rs232(), rs232_record(19200));

    // A dropped answer to a write: the write took effect although the tool saw a failure.
    std::vector<uint8_t> cleaning(12, 0);
    put_u16le(cleaning.data() + 2, 99);
    EXPECT_EQ(exchange(CMD_SET_CLEANING_CONFIG, cleaning), ERR_LINK_FAILED);
    dev->with_firmware([&](sim_firmware& fw) { EXPECT_EQ(get_u16le(fw.settings.cleaning.data() + 2), 99); });

    // Delay: later than the link waits, so the read fails; the late answer is never taken for
    // the next command's.
    ASSERT_EQ(dev->faults().size(), 1u);
    EXPECT_EQ(dev->faults()[0].kind, sim_fault_kind::delay);
    EXPECT_EQ(exchange(CMD_GET_CLEANING_CONFIG), ERR_LINK_FAILED);
    EXPECT_EQ(exchange(CMD_GET_STATUS), 0);
    EXPECT_EQ(frame_code(answer), CMD_GET_STATUS);
    EXPECT_EQ(answer.bytes[FRAME_LENGTH], 36);
    ASSERT_EQ(exchange(CMD_GET_CLEANING_CONFIG), 0);
    EXPECT_EQ(get_u16le(frame_payload(answer) + 2), 99);
    EXPECT_TRUE(dev->faults().empty());
}

TEST_F(SimFaultTest, APollerOnAnotherThreadNeverTakesAnAimedFault) {
    // As the run view's poller does while a dialog works: the faults meant for the dialog's
    // commands must reach them, not the status reads in between.
    std::atomic<bool> stop{false};
    std::atomic<int> answered{0}, timed_out{0};
    std::thread poller([&] {
        while (!stop) {
            command_frame f;
            frame_prepare(f, CMD_GET_STATUS, 0);
            const int r = link_transact(f);  // busy while the dialog's exchange waits is fine
            if (r == LINK_OK) ++answered;
            if (r == LINK_ERR_TIMEOUT) ++timed_out;
            std::this_thread::sleep_for(1ms);
        }
    });
    for (int i = 0; i < 2000 && answered < 5; ++i) std::this_thread::sleep_for(1ms);
    dev->drop_next_of(CMD_GET_DEVICE_INFO);
    dev->fail_next(CMD_GET_VERSION_TEXT, 2, 7);
    for (int i = 0; i < 2000 && answered < 15; ++i) {
        std::this_thread::sleep_for(1ms);
        EXPECT_EQ(dev->faults().size(), 2u);  // read while the poller works the device
    }
    EXPECT_EQ(exchange(CMD_GET_DEVICE_INFO), ERR_LINK_FAILED);
    EXPECT_EQ(exchange(CMD_GET_VERSION_TEXT), 7);
    EXPECT_EQ(exchange(CMD_GET_VERSION_TEXT), 7);
    EXPECT_EQ(exchange(CMD_GET_VERSION_TEXT), 0);
    EXPECT_EQ(exchange(CMD_GET_DEVICE_INFO), 0);
    stop = true;
    poller.join();
    EXPECT_GE(answered.load(), 15);
    EXPECT_EQ(timed_out.load(), 0);
    EXPECT_TRUE(dev->faults().empty());
}

TEST_F(SimFaultTest, TheListShowsWhatIsPendingAndInForceAndClearsIt) {
    dev->drop_next_of(CMD_GET_CLOCK, 2);
    dev->delay_next_of(CMD_GET_SCHEDULE, 4000);
    dev->fail_next(CMD_GET_DEVICE_INFO, 1, 3, 2);
    dev->force_result(CMD_GET_STATUS, 4);
    dev->drop_next_responses(1);
    dev->wrong_sequence_next(2);
    dev->with_firmware([](sim_firmware& fw) {
        fw.silent_commands.insert(CMD_TOGGLE_LED);
        fw.refuse_block = 5;
        fw.diag.task_count_answers = {3, 9};
        fw.motors.ignore_config_writes = true;
        fw.sampler.forced_readings[SIM_READING_HUMIDITY] = std::numeric_limits<float>::quiet_NaN();
    });

    // Aimed faults first, in command order, then the link's, then the subsystems'.
    auto list = dev->faults();
    EXPECT_EQ(texts(list), (std::vector<std::string>{
                               "CMD_GET_DEVICE_INFO (0x0104): next request refused with result 3, after 2 answered normally",
                               "CMD_GET_CLOCK (0x0122): next 2 answers dropped",
                               "CMD_GET_STATUS (0x0127): every request refused with result 4",
                               "CMD_TOGGLE_LED (0x0128): never answered",
                               "CMD_GET_SCHEDULE (0x01B0): next answer 4000 ms late",
                               "Any command: next answer dropped",
                               "Any command: next 2 answers with a wrong sequence number",
                               "CMD_WRITE_IMAGE_BLOCK (0x0103): image block 5 refused",
                               "CMD_GET_TASK_COUNT (0x0136): next reads answer 3, 9",
                               "CMD_SET_MOTOR_CONFIG (0x0181): writes acknowledged and ignored",
                               "CMD_GET_STATUS (0x0127): humidity answered as NaN",
                           }));
    ASSERT_EQ(list.size(), 11u);

    // A forced result stays in force however often it answers; one cleared fault goes alone.
    dev->clear_fault(*find(list, sim_fault_kind::drop, 0));
    dev->clear_fault(*find(list, sim_fault_kind::wrong_sequence, 0));
    EXPECT_EQ(exchange(CMD_GET_STATUS), 4);
    EXPECT_EQ(exchange(CMD_GET_STATUS), 4);
    list = dev->faults();
    EXPECT_EQ(list.size(), 9u);
    ASSERT_NE(find(list, sim_fault_kind::force, CMD_GET_STATUS), nullptr);
    EXPECT_TRUE(find(list, sim_fault_kind::force, CMD_GET_STATUS)->in_force());
    EXPECT_FALSE(find(list, sim_fault_kind::drop, CMD_GET_CLOCK)->in_force());
    dev->clear_fault(*find(list, sim_fault_kind::force, CMD_GET_STATUS));
    EXPECT_EQ(exchange(CMD_GET_STATUS), 0);
    EXPECT_TRUE(std::isnan(get_f32le(frame_payload(answer) + 12)));  // the humidity is still forced
    EXPECT_EQ(dev->faults().size(), 8u);

    // Clearing all of them leaves an instrument that answers every command as it should.
    dev->set_never_answer(true);
    dev->stall_writes(true);
    dev->unplug_on_next_request();
    EXPECT_EQ(dev->faults().size(), 11u);
    dev->clear_faults();
    EXPECT_TRUE(dev->faults().empty());
    EXPECT_EQ(exchange(CMD_GET_CLOCK), 0);
    EXPECT_EQ(exchange(CMD_TOGGLE_LED, {1}), 0);
    EXPECT_EQ(exchange(CMD_GET_DEVICE_INFO), 0);
    EXPECT_EQ(exchange(CMD_GET_DEVICE_INFO), 0);
    EXPECT_EQ(exchange(CMD_GET_DEVICE_INFO), 0);
    EXPECT_EQ(exchange(CMD_GET_TASK_COUNT), 0);
    EXPECT_EQ(frame_payload(answer)[0], 7);
    EXPECT_EQ(exchange(CMD_GET_STATUS), 0);
    EXPECT_TRUE(std::isfinite(get_f32le(frame_payload(answer) + 12)));
    EXPECT_TRUE(dev->plugged());
    dev->with_firmware([](sim_firmware& fw) {
        EXPECT_EQ(fw.refuse_block, -1);
        EXPECT_FALSE(fw.motors.ignore_config_writes);
    });
}

TEST(SimCommandNames, EveryNameIsFoundByItsCode) {
    // The lookup relies on code order; a command added out of order would lose its name.
    ASSERT_GE(sim_command_names().size(), 40u);
    for (const sim_command_entry& c : sim_command_names()) EXPECT_STREQ(sim_command_name(c.code), c.name);
    EXPECT_STREQ(sim_command_name(CMD_GET_RS232_CONFIG), "CMD_GET_RS232_CONFIG");
    EXPECT_EQ(sim_command_name(0x0199), nullptr);
}

using OddValueTest = SimFaultTest;

TEST_F(OddValueTest, StoredNamesAreAnsweredByteForByte) {
    // Latin-1 bytes, as a program on a European Windows stores them.
    const std::string latin1 = "K\xDCSTE-\xD8" "3";
    dev->with_firmware([&](sim_firmware& fw) {
        fw.identity.name = latin1;
        fw.identity.info_record[23] = 0xA2;
    });
    std::vector<uint8_t> field = bytes_of(latin1);
    field.resize(21, 0);
    ASSERT_EQ(exchange(CMD_GET_DEVICE_INFO), 0);
    EXPECT_EQ(answer_bytes(2, 23), field);
    ASSERT_EQ(exchange(CMD_GET_INFO_LEGACY), 0);
    EXPECT_EQ(answer_bytes(2, 23), field);

    // Longer than its field: 21 bytes with no NUL, the bytes after the field left alone.
    const std::string long_name = "SAMPLER-01 NORTH BANK 2";
    dev->with_firmware([&](sim_firmware& fw) { fw.identity.name = long_name; });
    ASSERT_EQ(exchange(CMD_GET_DEVICE_INFO), 0);
    EXPECT_EQ(answer_bytes(2, 23), bytes_of(long_name.substr(0, 21)));
    EXPECT_EQ(frame_payload(answer)[23], 0xA2);
    EXPECT_EQ(get_u16le(frame_payload(answer) + 24), 1234);
    ASSERT_EQ(exchange(CMD_GET_INFO_LEGACY), 0);
    EXPECT_EQ(answer_bytes(2, 23), bytes_of(long_name.substr(0, 21)));
    EXPECT_EQ(frame_payload(answer)[23], 1);  // the device kind

    // A name the tool writes is answered back with its terminator.
    std::vector<uint8_t> info(29, 0);
    info[0] = 2;
    std::memcpy(info.data() + 2, "RIVER-7", 7);
    put_u16le(info.data() + 24, 77);
    ASSERT_EQ(exchange(CMD_SET_DEVICE_INFO, info), 0);
    ASSERT_EQ(exchange(CMD_GET_DEVICE_INFO), 0);
    EXPECT_EQ(answer_bytes(2, 23), std::vector<uint8_t>(info.begin() + 2, info.begin() + 23));
}

TEST_F(OddValueTest, OddLineCodesAndReadingsAreAnsweredByteForByte) {
    dev->with_firmware([](sim_firmware& fw) {
        fw.settings.rs232[5] = 7;  // no such parity
        fw.settings.rs232[6] = 9;
        fw.settings.rs232[7] = 0;
    });
    std::vector<uint8_t> rs232 = stored_rs232();
    ASSERT_EQ(exchange(CMD_GET_RS232_CONFIG), 0);
    EXPECT_EQ(answer_bytes(0, 12), rs232);
    EXPECT_EQ(answer_bytes(5, 8), (std::vector<uint8_t>{7, 9, 0}));

    dev->with_firmware([](sim_firmware& fw) {
        fw.sampler.forced_readings[SIM_READING_VOLTAGE] = 0.0f;
        fw.sampler.forced_readings[SIM_READING_HUMIDITY] = std::numeric_limits<float>::quiet_NaN();
        fw.sampler.forced_readings[SIM_READING_MAX_PRESSURE] = -0.0f;
    });
    ASSERT_EQ(exchange(CMD_GET_STATUS), 0);
    EXPECT_EQ(answer_bytes(4, 8), (std::vector<uint8_t>{0, 0, 0, 0}));
    EXPECT_EQ(answer_bytes(12, 16), (std::vector<uint8_t>{0x00, 0x00, 0xC0, 0x7F}));
    EXPECT_EQ(answer_bytes(20, 24), (std::vector<uint8_t>{0, 0, 0, 0x80}));
    const float temperature = get_f32le(frame_payload(answer) + 8);  // measured, as before
    EXPECT_GT(temperature, 17.0f);
    EXPECT_LT(temperature, 18.0f);
    EXPECT_EQ(frame_payload(answer)[1], 2);  // the rest of the record is untouched: idle

    dev->clear_faults();
    ASSERT_EQ(exchange(CMD_GET_STATUS), 0);
    EXPECT_GT(get_f32le(frame_payload(answer) + 4), 12.0f);
    EXPECT_FALSE(std::isnan(get_f32le(frame_payload(answer) + 12)));
}

TEST_F(OddValueTest, OddLogRecordsAndAChangingTaskCountAreAnsweredByteForByte) {
    const std::string function(40, 'f'), message = std::string(70, 'm') + "XYZ";
    dev->with_firmware([&](sim_firmware& fw) {
        sim_diag_keep(fw.diag, 5, 8, function, 733, message);  // severity 8 passes no filter
        sim_diag_keep(fw.diag, 2, 0, "main", 1, "no severity");
    });
    ASSERT_EQ(exchange(CMD_LOG_READ_START, {0xFF, 0xFF}), 0);
    std::vector<command_frame> records;
    while (exchange(CMD_READ_LOG_RECORD) == 0) records.push_back(answer);
    ASSERT_GE(records.size(), 2u);
    const uint8_t* odd = frame_payload(records[records.size() - 2]);
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(odd + 5), 32), function.substr(0, 32));  // no NUL
    EXPECT_EQ(get_i32le(odd + 37), 733);
    EXPECT_EQ(odd[41], 5);
    EXPECT_EQ(odd[42], 8);
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(odd + 43), 71), message.substr(0, 71));
    EXPECT_EQ(frame_payload(records.back())[42], 0);
    EXPECT_STREQ(reinterpret_cast<const char*>(frame_payload(records.back()) + 43), "no severity");

    // The count changes between the Tasks dialog's two reads, then the table's own comes back.
    dev->with_firmware([](sim_firmware& fw) { fw.diag.task_count_answers = {3, 9}; });
    std::vector<uint8_t> counts;
    for (int i = 0; i < 3; ++i) {
        ASSERT_EQ(exchange(CMD_GET_TASK_COUNT), 0);
        counts.push_back(frame_payload(answer)[0]);
    }
    EXPECT_EQ(counts, (std::vector<uint8_t>{3, 9, 7}));
}

}  // namespace
