// The schedule, clock and cartridge cores: conversions on their own, the command wrappers and
// the clock poller's routine against the virtual instrument (also run under ThreadSanitizer).
#include "decimal_comma.h"
#include "instrument/sim_bus.h"
#include "link/bytes.h"
#include "link/commands.h"
#include "link/link.h"
#include "link/worker_thread.h"
#include "sampler/cartridge.h"
#include "sampler/clock.h"
#include "sampler/schedule.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <mutex>
#include <thread>
#include <vector>

namespace {

constexpr uint32_t DEC7_0905 = 1796634300;  // 07/12/2026 09:05:00

schedule_row_form row(const char* offset, const char* samples, const char* volume, const char* timeout, bool clean = false) {
    return {true, offset, samples, volume, timeout, clean};
}

TEST(ScheduleConversions, UsedRowsComeFirstInTimeOrderAndTheRestIsZero) {
    schedule_form form;
    form.autostart = true;
    form.rows[2] = row("120", "3", "2.5", "10", true);  // row 3
    form.rows[6] = row("30", "1", "0.5", "7");           // row 7
    form.rows[8] = row("120", "9", "1", "1");            // row 9: same offset as row 3, after it
    form.rows[10] = {false, "5", "5", "5", "5", true};   // unchecked: leaves no trace
    const schedule_record s = schedule_build(form, DEC7_0905);
    uint8_t expected[SCHEDULE_RECORD_SIZE] = {
        0x00, 0x01, 0x00, 0x00, 0xbc, 0x76, 0x16, 0x6b,  // reserved, autostart, reserved, start
        0x01, 1, 5, 7, 0x1e, 0x00,                         // entry 0: row 7
        0x03, 3, 25, 10, 0x78, 0x00,                       // entry 1: row 3 (clean)
        0x01, 9, 10, 1, 0x78, 0x00,                        // entry 2: row 9
    };
    EXPECT_EQ(std::memcmp(s.bytes, expected, SCHEDULE_RECORD_SIZE), 0);

    // Nothing checked: every entry zero; option 0 sends start 0.
    schedule_form none;
    none.rows[0] = {false, "10", "1", "1.0", "1", false};
    const schedule_record empty = schedule_build(none, 0);
    const uint8_t zeros[SCHEDULE_RECORD_SIZE] = {};
    EXPECT_EQ(std::memcmp(empty.bytes, zeros, SCHEDULE_RECORD_SIZE), 0);
}

TEST(ScheduleConversions, FieldsStopAtTheirWidthAndNeverWrap) {
    auto entry = [](const char* offset, const char* samples, const char* volume, const char* timeout) {
        return schedule_row_entry(row(offset, samples, volume, timeout));
    };
    EXPECT_EQ(waypoint_offset(entry("70000", "0", "0", "0")), 65535);
    EXPECT_EQ(waypoint_offset(entry("99999999999", "0", "0", "0")), 65535);
    EXPECT_EQ(waypoint_offset(entry("12x", "0", "0", "0")), 0);
    const schedule_waypoint w = entry("1", "300", "2.5", "256");
    EXPECT_EQ(w.bytes[1], 255);
    EXPECT_EQ(w.bytes[2], 25);
    EXPECT_EQ(w.bytes[3], 255);
    for (const char* huge : {"inf", "1e30", "30"}) EXPECT_EQ(entry("1", "1", huge, "1").bytes[2], 255) << huge;
    for (const char* none : {"nan", "-1", "abc", ""}) EXPECT_EQ(entry("1", "1", none, "1").bytes[2], 0) << none;
    // The volume's text is read up to 23 characters.
    EXPECT_EQ(entry("1", "1", "0000000000000000000002.5", "1").bytes[2], 20);

    decimal_comma_locale comma;
    ASSERT_DECIMAL_COMMA(comma);
    EXPECT_EQ(entry("1", "1", "2.5", "1").bytes[2], 25);
    schedule_record s{};
    schedule_set_entry(s, 0, w);
    EXPECT_EQ(schedule_form_texts(s).rows[0].volume, "2.5");
}

TEST(ScheduleConversions, StartIsKeptUntilChangedAndRefusedWhenItCannotBeHeld) {
    uint32_t start = 12345;
    // Left alone: the start goes back exactly as read, even one no picker can show.
    for (uint32_t as_read : {0u, DEC7_0905, 0x80000000u, 0xFFFFFFF0u}) {
        ASSERT_EQ(schedule_save_start(false, as_read, START_AT_OR_AFTER, 0xFFFFFFFFu, &start), 0);
        EXPECT_EQ(start, as_read);
    }
    ASSERT_EQ(schedule_save_start(true, DEC7_0905, START_NEXT_TIME, DEC7_0905, &start), 0);
    EXPECT_EQ(start, 0u);
    ASSERT_EQ(schedule_save_start(true, 0, START_AT_OR_AFTER, 0x7FFFFFFFu, &start), 0);
    EXPECT_EQ(start, 0x7FFFFFFFu);
    // 1970-01-01 00:00:00 would mean "next time"; all bits set is no moment at all.
    start = 42;
    EXPECT_EQ(schedule_save_start(true, DEC7_0905, START_AT_OR_AFTER, 0, &start), SCHEDULE_START_OUT_OF_RANGE);
    EXPECT_EQ(schedule_save_start(true, DEC7_0905, START_AT_OR_AFTER, 0xFFFFFFFFu, &start), SCHEDULE_START_OUT_OF_RANGE);
    EXPECT_EQ(start, 42u);
    EXPECT_EQ(schedule_start_range_text(),
              "The start time must lie between 01/01/1970 00:00:01 and 19/01/2038 03:14:07. The schedule was not saved.");
}

TEST(ClockTime, CalendarChecksAndTexts) {
    const clock_time leap = clock_time_make({2024, 2, 29, 10, 5, 7});
    const uint8_t bytes[CLOCK_TIME_SIZE] = {0, 0xe8, 0x07, 2, 29, 10, 5, 7};
    EXPECT_EQ(std::memcmp(leap.bytes, bytes, CLOCK_TIME_SIZE), 0);
    uint32_t t = 0;
    ASSERT_TRUE(clock_time_to_device(leap, &t));
    EXPECT_EQ(t, 1709201107u);
    EXPECT_EQ(clock_time_text(leap), "29/02/2024 10:05:07");
    EXPECT_EQ(clock_time_text(clock_time_make({2024, 3, 14, 10, 5, 7})), "14/03/2024 10:05:07");

    t = 99;
    for (calendar_fields bad : {calendar_fields{2023, 2, 29, 0, 0, 0}, calendar_fields{2024, 0, 1, 0, 0, 0},
                                calendar_fields{1900, 1, 1, 0, 0, 0}, calendar_fields{2024, 4, 31, 0, 0, 0},
                                calendar_fields{2024, 1, 1, 24, 0, 0}, calendar_fields{2038, 1, 19, 3, 14, 8}})
        EXPECT_FALSE(clock_time_to_device(clock_time_make(bad), &t)) << bad.year << "-" << bad.month << "-" << bad.day;
    EXPECT_EQ(t, 99u);
    EXPECT_TRUE(clock_fields_valid({2038, 1, 19, 3, 14, 7}));
    EXPECT_TRUE(clock_fields_valid({2000, 2, 29, 23, 59, 59}));
    // Shown as received, whatever they are.
    EXPECT_EQ(clock_time_text(clock_time_make({2024, 0, 0, 0, 0, 0})), "00/00/2024 00:00:00");
}

TEST(CartridgeId, SixteenBitsOrRefused) {
    uint16_t id = 1;
    ASSERT_TRUE(cartridge_id_parse("65535", &id));
    EXPECT_EQ(id, 65535);
    ASSERT_TRUE(cartridge_id_parse("", &id));  // an empty field writes 0
    EXPECT_EQ(id, 0);
    id = 7;
    EXPECT_FALSE(cartridge_id_parse("65536", &id));
    EXPECT_FALSE(cartridge_id_parse("99999999999999999999999", &id));
    EXPECT_EQ(id, 7);
}

// ---- against the virtual instrument -------------------------------------------------------

class SamplerCommandTest : public ::testing::Test {
protected:
    void SetUp() override {
        sim_bus_install();
        sim_bus_reset();
        const sim_device_config config;
        dev = sim_bus_add(config);
        dev->use_stepped_clock(true);
        ASSERT_EQ(link_open(dev->path().c_str(), 3000), 0);
    }
    void TearDown() override {
        link_close();
        sim_bus_reset();
    }
    std::vector<command_frame> sent(uint16_t code) const {
        std::vector<command_frame> out;
        for (const auto& f : dev->requests())
            if (frame_code(f) == code) out.push_back(f);
        return out;
    }
    int raw(uint16_t code, uint8_t length, const uint8_t* payload = nullptr) {
        command_frame f;
        frame_prepare(f, code, length);
        if (payload) std::memcpy(frame_payload(f), payload, length);
        return command_exchange(f);
    }
    std::shared_ptr<sim_device> dev;
};

TEST_F(SamplerCommandTest, WrappersSendTheRecordsAndTakeOnlyWholeAnswers) {
    schedule_form form;
    form.rows[0] = row("5", "2", "1.0", "3");
    const schedule_record s = schedule_build(form, DEC7_0905);
    ASSERT_EQ(schedule_write(s), 0);
    ASSERT_EQ(sent(CMD_SET_SCHEDULE).size(), 1u);
    EXPECT_EQ(sent(CMD_SET_SCHEDULE)[0].bytes[FRAME_LENGTH], 98);
    EXPECT_EQ(std::memcmp(frame_payload(sent(CMD_SET_SCHEDULE)[0]), s.bytes, 98), 0);
    schedule_record back;
    ASSERT_EQ(schedule_read(back), 0);
    EXPECT_EQ(std::memcmp(back.bytes, s.bytes, 98), 0);

    clock_time c = clock_time_make({2024, 2, 29, 23, 59, 58});
    c.bytes[0] = 0x55;  // the reserved byte goes out as 0 whatever it held
    ASSERT_EQ(clock_write(c), 0);
    const uint8_t clock_bytes[8] = {0, 0xe8, 0x07, 2, 29, 23, 59, 58};
    EXPECT_EQ(std::memcmp(frame_payload(sent(CMD_SET_CLOCK)[0]), clock_bytes, 8), 0);
    dev->advance_clock(3000);
    clock_time now;
    ASSERT_EQ(clock_read(now), 0);
    EXPECT_EQ(clock_time_text(now), "01/03/2024 00:00:01");  // the clock runs on from what it was set to

    // A success that carries less than the record is a failed read, and nothing is copied.
    schedule_record untouched{};
    untouched.bytes[0] = 0xAB;
    cartridge_record cart{};
    cart.bytes[0] = 0xAB;
    clock_time clk{};
    clk.bytes[0] = 0xAB;
    for (uint16_t code : {CMD_GET_SCHEDULE, CMD_GET_CARTRIDGE, CMD_GET_CLOCK}) dev->force_result(code, 0);
    EXPECT_EQ(schedule_read(untouched), ERR_SHORT_RESPONSE);
    EXPECT_EQ(cartridge_read(cart), ERR_SHORT_RESPONSE);
    EXPECT_EQ(clock_read(clk), ERR_SHORT_RESPONSE);
    EXPECT_EQ(untouched.bytes[0] | cart.bytes[0] | clk.bytes[0], 0xAB);
    EXPECT_EQ(cartridge_reset_id(5), ERR_SHORT_RESPONSE);
    EXPECT_TRUE(sent(CMD_SET_CARTRIDGE).empty());  // never zeros over the instrument's bytes
}

TEST_F(SamplerCommandTest, CartridgeResetTakesTheRecordAsItIsNow) {
    cartridge_record first;
    ASSERT_EQ(cartridge_read(first), 0);
    EXPECT_EQ(cartridge_id(first), 1);
    // Another cartridge has come into the slot since: its own bytes go back, with the new ID.
    dev->with_firmware([](sim_firmware& fw) {
        fw.sampler.top_cartridge = 9;
        fw.schedule.cartridge[4] = 'X';
        fw.schedule.cartridge[16] = 0x42;
    });
    ASSERT_EQ(cartridge_reset_id(700), 0);
    const uint8_t expected[17] = {0xC3, 0x5A, 0xBC, 0x02, 'X', 'O', 'T', '-', '7', 'Q', '2', 0x00, 0xA5, 0x5A, 0x01, 0x80, 0x42};
    ASSERT_EQ(sent(CMD_SET_CARTRIDGE).size(), 1u);
    EXPECT_EQ(sent(CMD_SET_CARTRIDGE)[0].bytes[FRAME_LENGTH], 17);
    EXPECT_EQ(std::memcmp(frame_payload(sent(CMD_SET_CARTRIDGE)[0]), expected, 17), 0);
    cartridge_record now;
    ASSERT_EQ(cartridge_read(now), 0);
    EXPECT_EQ(std::memcmp(now.bytes, expected, 17), 0);
    dev->with_firmware([](sim_firmware& fw) { EXPECT_EQ(fw.sampler.top_cartridge, 700); });
}

TEST_F(SamplerCommandTest, InstrumentChecksLengthsCalendarsAndBootloaderMode) {
    const uint8_t zeros[98] = {};
    EXPECT_EQ(raw(CMD_SET_SCHEDULE, 97, zeros), SIM_RESULT_BAD_LENGTH);
    EXPECT_EQ(raw(CMD_SET_CARTRIDGE, 18, zeros), SIM_RESULT_BAD_LENGTH);
    EXPECT_EQ(raw(CMD_SET_CLOCK, 7, zeros), SIM_RESULT_BAD_LENGTH);
    EXPECT_EQ(raw(CMD_GET_CLOCK, 1, zeros), SIM_RESULT_BAD_LENGTH);
    EXPECT_EQ(raw(CMD_GET_SCHEDULE, 2, zeros), SIM_RESULT_BAD_LENGTH);
    EXPECT_EQ(raw(CMD_GET_CARTRIDGE, 1, zeros), SIM_RESULT_BAD_LENGTH);
    // Refused requests change nothing.
    schedule_record s;
    ASSERT_EQ(schedule_read(s), 0);
    EXPECT_EQ(s.bytes[8], 1);

    for (calendar_fields bad : {calendar_fields{2023, 2, 29, 12, 0, 0}, calendar_fields{2024, 13, 1, 0, 0, 0},
                                calendar_fields{2024, 6, 1, 0, 60, 0}, calendar_fields{2040, 1, 1, 0, 0, 0}})
        EXPECT_EQ(clock_write(clock_time_make(bad)), SIM_RESULT_BAD_CLOCK) << bad.year << "-" << bad.month;
    EXPECT_EQ(clock_write(clock_time_make({2024, 2, 29, 12, 0, 0})), 0);

    link_close();
    dev->restart([](sim_firmware& fw) { fw.mode = sim_mode::bootloader; });
    ASSERT_EQ(link_open(dev->path().c_str(), 3000), 0);
    for (uint16_t code : {CMD_GET_CLOCK, CMD_GET_SCHEDULE, CMD_GET_CARTRIDGE})
        EXPECT_EQ(raw(code, 0), RESULT_UNSUPPORTED) << code;
    EXPECT_EQ(raw(CMD_SET_CLOCK, 8, zeros), RESULT_UNSUPPORTED);
    EXPECT_EQ(raw(CMD_SET_SCHEDULE, 98, zeros), RESULT_UNSUPPORTED);
    EXPECT_EQ(raw(CMD_SET_CARTRIDGE, 17, zeros), RESULT_UNSUPPORTED);
}

// Status fields: 1 state, 2 control, 28 next event, 32 waypoint.
struct status_view {
    uint8_t state, control, waypoint;
    uint32_t next;
};

TEST_F(SamplerCommandTest, StoredScheduleRunsFromItsBaseAndAutostartsAtPowerUp) {
    auto status = [&] {
        command_frame f;
        frame_prepare(f, CMD_GET_STATUS, 0);
        EXPECT_EQ(command_exchange(f), 0);
        const uint8_t* p = frame_payload(f);
        return status_view{p[1], p[2], p[32], get_u32le(p + 28)};
    };
    // Start "at or after" a moment ten minutes ahead: waypoints at +2 (two samples) and +5.
    uint32_t now = 0;
    clock_time c;
    ASSERT_EQ(clock_read(c), 0);
    ASSERT_TRUE(clock_time_to_device(c, &now));
    const uint32_t base = now + 600;
    schedule_form form;
    form.rows[4] = row("5", "1", "1.0", "0");
    form.rows[1] = row("2", "2", "0.4", "0", true);
    ASSERT_EQ(schedule_write(schedule_build(form, base)), 0);
    ASSERT_EQ(raw(CMD_START_SCHEDULE, 0), 0);
    status_view s = status();
    EXPECT_EQ(s.control, 0xFF);
    EXPECT_EQ(s.next, base + 120);
    EXPECT_EQ(s.waypoint, 0);

    dev->advance_clock((600 + 120 + 1) * 1000ull);
    s = status();
    EXPECT_GT(s.state, 2);  // the first waypoint runs
    EXPECT_EQ(s.waypoint, 1);
    EXPECT_EQ(s.next, base + 300);
    dev->advance_clock(600 * 1000ull);  // long past both
    s = status();
    EXPECT_EQ(s.state, 2);
    EXPECT_EQ(s.next, 0u);
    EXPECT_EQ(s.waypoint, 2);
    std::vector<uint32_t> starts;
    std::vector<float> volumes;
    dev->with_firmware([&](sim_firmware& fw) {
        for (const auto& r : fw.sampler.log) {
            starts.push_back(r.start_time);
            volumes.push_back(r.volume);
        }
    });
    ASSERT_EQ(starts.size(), 3u);
    EXPECT_EQ(starts[0], base + 120);
    EXPECT_GT(starts[1], base + 120);  // the second sample follows the first
    EXPECT_LT(starts[1], base + 300);
    EXPECT_EQ(starts[2], base + 300);
    EXPECT_FLOAT_EQ(volumes[0], 0.4f);
    EXPECT_FLOAT_EQ(volumes[2], 1.0f);

    // Autostart: the instrument takes up its schedule by itself when it powers up again.
    ASSERT_EQ(raw(CMD_STOP_SCHEDULE, 0), 0);
    form.autostart = true;
    ASSERT_EQ(schedule_write(schedule_build(form, 0)), 0);
    link_close();
    dev->restart({});
    ASSERT_EQ(link_open(dev->path().c_str(), 3000), 0);
    s = status();
    EXPECT_EQ(s.control, 0xFF);
    ASSERT_EQ(clock_read(c), 0);
    ASSERT_TRUE(clock_time_to_device(c, &now));
    EXPECT_EQ(s.next, now + 120);
}

// ---- the clock poller's routine -------------------------------------------------------------

struct poll_probe {
    std::mutex m;
    std::vector<std::string> shown;
    std::atomic<bool> freed{false};
    void add(const std::string& t) {
        std::lock_guard l(m);
        shown.push_back(t);
    }
    std::vector<std::string> texts() {
        std::lock_guard l(m);
        return shown;
    }
};

void probe_show(worker_thread* self, const std::string& text) { static_cast<poll_probe*>(worker_thread_user(self))->add(text); }
int probe_routine(worker_thread* self) { return clock_poll_run(self, probe_show); }

bool eventually(const std::function<bool()>& pred) {
    for (int i = 0; i < 1000 && !pred(); ++i) std::this_thread::sleep_for(std::chrono::milliseconds(5));
    return pred();
}

TEST_F(SamplerCommandTest, ClockPollerShowsErrorsRecoversAndStopsWhileAReadWaits) {
    auto probe = std::make_shared<poll_probe>();
    dev->force_result(CMD_GET_CLOCK, 4);
    worker_thread* w = worker_thread_start(probe_routine, probe.get(), [](void* p) { static_cast<poll_probe*>(p)->freed = true; });
    ASSERT_NE(w, nullptr);
    ASSERT_TRUE(eventually([&] { return !probe->texts().empty(); }));
    EXPECT_EQ(probe->texts()[0], "ERROR");
    dev->force_result(CMD_GET_CLOCK, -1);
    worker_thread_wake(w);
    ASSERT_TRUE(eventually([&] { return probe->texts().size() >= 2; }));
    EXPECT_EQ(probe->texts()[1], "07/12/2026 09:05:00");

    // The next read is answered late; the owner stops the poller meanwhile and goes on.
    const size_t asked = sent(CMD_GET_CLOCK).size();
    dev->delay_next_of(CMD_GET_CLOCK, 600);
    worker_thread_wake(w);
    ASSERT_TRUE(eventually([&] { return sent(CMD_GET_CLOCK).size() > asked; }));
    w = worker_thread_stop(w);
    EXPECT_EQ(w, nullptr);
    // The routine finishes its read on its own and only then lets its data go.
    ASSERT_TRUE(eventually([&] { return probe->freed.load(); }));
    ASSERT_GE(probe->texts().size(), 3u);
    EXPECT_EQ(probe->texts()[2], "07/12/2026 09:05:00");
    clock_time c;
    EXPECT_EQ(clock_read(c), 0);  // the link is free again
}

}  // namespace
