#include "decimal_comma.h"
#include "link/bytes.h"
#include "sampler/run_settings.h"
#include "sampler/run_status.h"
#include "sampler/sample_log.h"

#include <gtest/gtest.h>

#include <cstring>

namespace {

constexpr uint32_t DEC7_0905 = 1796634300;  // 07/12/2026 09:05:00

status_record status(uint8_t state, uint8_t control = 0, uint16_t id = 10) {
    status_record s{};
    s.bytes[1] = state;
    s.bytes[2] = control;
    put_f32le(s.bytes + 16, 2.5f);
    put_f32le(s.bytes + 20, 1.25f);
    put_u32le(s.bytes + 24, DEC7_0905 + 59);
    put_u16le(s.bytes + 34, id);
    return s;
}

TEST(RunStatusTexts, UnpoweredShowsBareCaptionsButTheClock) {
    run_status_texts t = run_status_format(status(STATE_UNPOWERED));
    EXPECT_EQ(t.cartridge, "unpowered");
    EXPECT_EQ(t.clock, "Sampler Clock Time Now: 07/12/2026 09:05");
    EXPECT_EQ(t.control, "Control:");
    EXPECT_EQ(t.waypoint, "Current Schedule Waypoint:");
    EXPECT_EQ(t.state, "Sampler State:");
    EXPECT_EQ(t.run_status, "Run Status:");
    EXPECT_EQ(t.flow, "Flow volume:");
    EXPECT_EQ(t.pressure, "Max pressure:");
}

TEST(RunStatusTexts, EveryStateLine) {
    const char* expected[] = {
        "Sampler State: Unknown",
        nullptr,  // unpowered: bare caption, see above
        "Sampler State: Idle",
        "Sampler State: Loading Cartridge",
        "Sampler State: Engaging Sample ID=10",
        "Sampler State: Disengaging Sample ID=10",
        "Sampler State: Engaging Stabilizer ID=9",
        "Sampler State: Disengaging Stabilizer ID=9",
        "Sampler State: Pumping Sample ID=10",
        "Sampler State: Pumping Stabilizer ID=9",
        "Sampler State: Cleaning",
        "Sampler State: Unknown",
    };
    for (uint8_t state = 0; state <= 11; ++state) {
        if (!expected[state]) continue;
        EXPECT_EQ(run_status_format(status(state)).state, expected[state]) << int(state);
    }
    EXPECT_EQ(run_status_format(status(255)).state, "Sampler State: Unknown");
    EXPECT_EQ(run_status_format(status(2)).cartridge, "Top Cartridge: 10");
}

TEST(RunStatusTexts, ManualAndScheduleControl) {
    run_status_texts manual = run_status_format(status(STATE_PUMPING_SAMPLE));
    EXPECT_EQ(manual.control, "Control: Manual (GUI or vehicle)");
    EXPECT_EQ(manual.waypoint, "Current Schedule Waypoint: not running schedule");
    EXPECT_EQ(manual.run_status, "Run Status: OK");
    EXPECT_EQ(manual.flow, "Flow volume: 2.500 litre");
    EXPECT_EQ(manual.pressure, "Max pressure: 1.250 bar");

    status_record idle = status(STATE_IDLE, SCHEDULE_CONTROL);
    idle.bytes[32] = 4;
    idle.bytes[3] = 1;
    run_status_texts t = run_status_format(idle);
    EXPECT_EQ(t.control, "Control: Schedule (next event: none)");
    EXPECT_EQ(t.waypoint, "Next Schedule Waypoint: 5");
    EXPECT_EQ(t.run_status, "Run Status: Errors in previous cartridge: see View/Diagnostics");

    status_record busy = idle;
    busy.bytes[1] = STATE_PUMPING_SAMPLE;
    put_u32le(busy.bytes + 28, DEC7_0905 + 3600 + 42);
    t = run_status_format(busy);
    EXPECT_EQ(t.control, "Control: Schedule (next event: 07/12/2026 10:05)");
    EXPECT_EQ(t.waypoint, "Current Schedule Waypoint: 4");
}

TEST(RunStatusTexts, UnconvertibleClockShowsSixteenCharacters) {
    status_record s = status(STATE_IDLE);
    put_u32le(s.bytes + 24, 0x80000000u);
    EXPECT_EQ(run_status_format(s).clock, "Sampler Clock Time Now: invalid (2147483");
}

TEST(RunEnableRules, FollowTheInstrumentAndTheMode) {
    auto rules = [](uint8_t state, uint8_t control, uint8_t mode) { return run_enable_rules(status(state, control), mode); };
    run_enables none = rules(0, 0, 1);  // before the first status
    EXPECT_FALSE(none.mode_box || none.start || none.stop || none.clear_log || none.cartridges || none.volume);
    EXPECT_EQ(none.running, 0);

    run_enables unpowered = rules(STATE_UNPOWERED, 0, 1);
    EXPECT_TRUE(unpowered.mode_box && unpowered.clear_log && unpowered.cartridges && unpowered.volume &&
                unpowered.timeout && unpowered.clean);
    EXPECT_FALSE(unpowered.start || unpowered.mode_label || unpowered.stop);

    run_enables sample = rules(STATE_IDLE, 0, 1);
    EXPECT_TRUE(sample.start && sample.mode_label && sample.cartridges && sample.volume && sample.timeout && sample.clean);
    EXPECT_FALSE(sample.stop);
    for (uint8_t mode : {uint8_t(0), uint8_t(2)}) {  // Load/Unload, Prime: only the cartridge count
        run_enables e = rules(STATE_IDLE, 0, mode);
        EXPECT_TRUE(e.cartridges);
        EXPECT_FALSE(e.volume || e.timeout || e.clean);
    }
    run_enables schedule = rules(STATE_IDLE, 0, SCHEDULE_CONTROL);
    EXPECT_FALSE(schedule.cartridges || schedule.volume || schedule.timeout || schedule.clean);
    EXPECT_TRUE(schedule.start);

    run_enables under_schedule = rules(STATE_IDLE, SCHEDULE_CONTROL, 1);
    EXPECT_TRUE(under_schedule.stop);
    EXPECT_FALSE(under_schedule.start || under_schedule.mode_box || under_schedule.clear_log);
    EXPECT_EQ(under_schedule.running, 1);

    run_enables running = rules(STATE_CLEANING, 0, 1);
    EXPECT_TRUE(running.stop);
    EXPECT_FALSE(running.start || running.mode_box || running.cartridges);
    EXPECT_EQ(running.running, 1);
}

TEST(RunForm, ConversionsRoundAndClamp) {
    run_form f;
    f.mode_row = 1;
    f.cartridges = "300";
    f.volume = "2.5";
    f.timeout = "abc";
    f.clean = true;
    run_settings s = run_settings_parse_form(f);
    const uint8_t expected[RUN_SETTINGS_SIZE] = {0, 1, 255, 25, 0, 1, 0, 0, 0, 0};
    EXPECT_EQ(std::memcmp(s.bytes, expected, RUN_SETTINGS_SIZE), 0);

    f.volume = "30";
    EXPECT_EQ(run_settings_parse_form(f).bytes[3], 255);
    f.volume = "-4";
    EXPECT_EQ(run_settings_parse_form(f).bytes[3], 0);
    f.volume = "0.1";
    EXPECT_EQ(run_settings_parse_form(f).bytes[3], 1);
    f.volume = "litres";
    EXPECT_EQ(run_settings_parse_form(f).bytes[3], 0);
    EXPECT_EQ(form_byte(" 12 "), 12);
    EXPECT_EQ(form_byte("12abc"), 0);
    EXPECT_EQ(form_byte("255"), 255);
    EXPECT_EQ(form_byte("99999999999999999999"), 255);
    f.mode_row = -1;
    EXPECT_EQ(run_settings_parse_form(f).bytes[1], 0);
    f.mode_row = 3;
    EXPECT_EQ(run_settings_parse_form(f).bytes[1], SCHEDULE_CONTROL);

    run_settings stored{};
    stored.bytes[1] = 255;
    stored.bytes[3] = 25;
    stored.bytes[5] = 3;
    run_form shown = run_settings_form_texts(stored);
    EXPECT_EQ(shown.mode_row, 3);
    EXPECT_EQ(shown.volume, "2.5");
    EXPECT_TRUE(shown.clean);
    stored.bytes[1] = 7;  // no such mode
    EXPECT_EQ(run_settings_form_texts(stored).mode_row, 0);
    char key[80];
    settings_key_path(key);
    EXPECT_STREQ(key, "SOFTWARE\\Calderwyn\\Pellmark\\\\VELTRANIC");
}

TEST(SampleLogTexts, CodesAndCells) {
    EXPECT_STREQ(treatment_text(6), "stabilized incomplete sample");
    EXPECT_STREQ(treatment_text(9), "unknown");
    EXPECT_STREQ(stop_reason_text(3), "none");
    EXPECT_STREQ(stop_reason_text(7), "didn't start");
    EXPECT_STREQ(stop_reason_text(200), "none");

    sample_log_record r{};
    put_u16le(r.bytes + 4, 12);
    r.bytes[14] = 3;
    r.bytes[15] = 6;
    put_u32le(r.bytes + 16, 1710410700);  // 14/03/2024 10:05:00
    put_u32le(r.bytes + 20, 3600);
    put_f32le(r.bytes + 24, 2.5f);
    put_f32le(r.bytes + 28, 1.25f);
    sample_log_row row = sample_log_cells(r);
    std::string line;
    for (const std::string& c : row.cells) line += (line.empty() ? "" : ",") + c;
    EXPECT_EQ(line, "14/03/2024 10:05:00,12,3600,stabilized full sample,complete,2.500,1.250");
}

TEST(DecimalCommaDesktop, RecordsFormsAndTextsKeepTheDecimalPoint) {
    decimal_comma_locale comma;
    ASSERT_DECIMAL_COMMA(comma);
    sample_log_record r{};
    put_f32le(r.bytes + 24, 2.5f);
    put_f32le(r.bytes + 28, 1.25f);
    const sample_log_row row = sample_log_cells(r);
    EXPECT_EQ(row.cells[5], "2.500");
    EXPECT_EQ(row.cells[6], "1.250");  // seven fields per exported line, not nine

    status_record st{};
    st.bytes[1] = STATE_IDLE;
    put_f32le(st.bytes + 16, 0.75f);
    put_f32le(st.bytes + 20, 1.5f);
    const run_status_texts t = run_status_format(st);
    EXPECT_EQ(t.flow, "Flow volume: 0.750 litre");
    EXPECT_EQ(t.pressure, "Max pressure: 1.500 bar");

    run_form f;
    f.mode_row = 1;
    f.volume = "2.5";  // an operator who types 2.5 starts a 2.5 litre run
    EXPECT_EQ(run_settings_parse_form(f).bytes[3], 25);
    run_settings stored{};
    stored.bytes[3] = 25;
    EXPECT_EQ(run_settings_form_texts(stored).volume, "2.5");
}

TEST(RunForm, VolumesThatAreNoNumberStopAtTheEndsOfTheField) {
    EXPECT_EQ(volume_tenths("nan"), 0);
    EXPECT_EQ(volume_tenths("inf"), 255);
    EXPECT_EQ(volume_tenths("-inf"), 0);
    EXPECT_EQ(volume_tenths("1e30"), 255);
    EXPECT_EQ(volume_tenths("1e999"), 255);
    EXPECT_EQ(volume_tenths("2.5"), 25);
    EXPECT_EQ(volume_tenths("25.5"), 255);
}

}  // namespace
