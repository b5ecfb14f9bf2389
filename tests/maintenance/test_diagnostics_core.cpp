// The diagnostic log records, readings and saved file, without a window.
#include "decimal_comma.h"
#include "link/bytes.h"
#include "maintenance/diagnostics.h"

#include <gtest/gtest.h>

#include <array>
#include <cerrno>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <limits>
#include <memory>
#include <random>
#include <sstream>


namespace {

// A record on the heap, exactly its own size, so a read past it is caught under AddressSanitizer.
std::unique_ptr<log_record> record(int32_t counter, uint8_t task, uint8_t severity, const char* function, int32_t line,
                                   const char* message) {
    auto r = std::make_unique<log_record>();
    std::memset(r->bytes, 0, LOG_RECORD_SIZE);
    put_u32le(r->bytes + 1, uint32_t(counter));
    std::memcpy(r->bytes + LOG_FUNCTION_OFFSET, function, std::min(std::strlen(function), LOG_FUNCTION_WIDTH));
    put_u32le(r->bytes + 37, uint32_t(line));
    r->bytes[41] = task;
    r->bytes[42] = severity;
    std::memcpy(r->bytes + LOG_MESSAGE_OFFSET, message, std::min(std::strlen(message), LOG_MESSAGE_WIDTH));
    return r;
}

diag_status_cache status(uint8_t state, float volts, float celsius, float humidity) {
    diag_status_cache s{};
    s.bytes[1] = state;
    put_f32le(s.bytes + 4, volts);
    put_f32le(s.bytes + 8, celsius);
    put_f32le(s.bytes + 12, humidity);
    return s;
}

TEST(DiagLogRecord, RowTextsAsTheListShowsThem) {
    auto r = record(42, 3, LOG_SEVERITY_INFO, "main", 120, "Restarted after reset");
    const diag_row row = diag_row_from_record(*r);
    EXPECT_EQ(row.counter, 42);
    const std::string expected[] = {"00000042", "03", "I", "main", "120", "Restarted after reset"};
    for (int c = 0; c < DIAG_LOG_COLUMN_COUNT; ++c) EXPECT_EQ(row.cells[c], expected[c]) << c;

    auto negative = record(-7, 255, 0, "", -1, "");
    const diag_row odd = diag_row_from_record(*negative);
    EXPECT_EQ(odd.cells[0], "-0000007");
    EXPECT_EQ(odd.cells[1], "255");
    EXPECT_EQ(odd.cells[4], "-1");

    const std::pair<uint8_t, const char*> letters[] = {{1, "E"}, {2, "I"}, {4, "D"}, {0, "?"}, {3, "?"}, {8, "?"}, {255, "?"}};
    for (auto [severity, letter] : letters) EXPECT_STREQ(diag_severity_text(severity), letter) << int(severity);
}

TEST(DiagLogRecord, FieldsWithoutTerminatorAreReadToTheirWidthAndNoFurther) {
    const std::string function(LOG_FUNCTION_WIDTH, 'f');
    const std::string message(LOG_MESSAGE_WIDTH, 'm');
    auto r = record(1, 1, 2, function.c_str(), 0x41414141, message.c_str());  // the line's bytes are "AAAA"
    EXPECT_EQ(log_record_function(*r), function);
    // The message field runs to the last byte of the record: a read past it would leave the
    // allocation.
    EXPECT_EQ(log_record_message(*r), message);
    const diag_row row = diag_row_from_record(*r);
    EXPECT_EQ(row.cells[3], function);
    EXPECT_EQ(row.cells[5], message);

    // A NUL inside a field ends it there.
    std::memcpy(r->bytes + LOG_MESSAGE_OFFSET, "short\0tail", 10);
    EXPECT_EQ(log_record_message(*r), "short");
}

TEST(DiagLogRecord, ColoursAreWindowsColourValuesBlueInTheHighByte) {
    EXPECT_EQ(diag_row_colour(*record(1, 1, LOG_SEVERITY_ERROR, "f", 1, "Sensor timeout")), DIAG_COLOUR_ERROR);
    // A restart is blue even when written as an error.
    EXPECT_EQ(diag_row_colour(*record(1, 1, LOG_SEVERITY_ERROR, "main", 1, "Watchdog: Restarted after reset")), DIAG_COLOUR_RESET);
    EXPECT_EQ(diag_row_colour(*record(1, 1, LOG_SEVERITY_INFO, "f", 1, "Phase")), DIAG_COLOUR_PLAIN);
    EXPECT_EQ(diag_row_colour(*record(1, 1, LOG_SEVERITY_DEBUG, "f", 1, "restarted after reset")), DIAG_COLOUR_PLAIN);

    const diag_rgb blue = diag_colour_rgb(DIAG_COLOUR_RESET);
    EXPECT_EQ((std::array<int, 3>{blue.red, blue.green, blue.blue}), (std::array<int, 3>{0, 0, 255}));
    const diag_rgb red = diag_colour_rgb(DIAG_COLOUR_ERROR);
    EXPECT_EQ((std::array<int, 3>{red.red, red.green, red.blue}), (std::array<int, 3>{255, 0, 0}));
    const diag_rgb mixed = diag_colour_rgb(0x00123456);
    EXPECT_EQ((std::array<int, 3>{mixed.red, mixed.green, mixed.blue}), (std::array<int, 3>{0x56, 0x34, 0x12}));
}

// Every saved line ends as a text file's lines end on the system it was saved on.
#ifdef _WIN32
const std::string EOL = "\r\n";
#else
const std::string EOL = "\n";
#endif

TEST(DiagLogFile, FieldsAreQuotedOnlyWhenTheyWouldSplitTheLine) {
    EXPECT_EQ(diag_log_file_text({}), "Counter,Task ID,Severity,Function,Line,Message" + EOL);
    std::vector<diag_row> rows = {diag_row_from_record(*record(42, 3, 2, "main", 120, "Restarted after reset")),
                                  diag_row_from_record(*record(43, 12, 1, "pump", 7, "Pump stalled, retrying 2 of 3")),
                                  diag_row_from_record(*record(44, 1, 2, "valve,b", 9, "Valve \"B\" stuck")),
                                  diag_row_from_record(*record(45, 1, 4, "f", 1, "one\ntwo\rthree 'q'"))};
    EXPECT_EQ(diag_log_file_text(rows),
              "Counter,Task ID,Severity,Function,Line,Message" + EOL +  // today's lines, byte for byte
              "00000042,03,I,main,120,Restarted after reset" + EOL +
              "00000043,12,E,pump,7,\"Pump stalled, retrying 2 of 3\"" + EOL +
              "00000044,01,I,\"valve,b\",9,\"Valve \"\"B\"\" stuck\"" + EOL +
              "00000045,01,D,f,1,\"one\ntwo\rthree 'q'\"" + EOL);
}

TEST(DiagLogFile, RecordsTheInstrumentDroppedShowAsARowOfTheirOwn) {
    std::vector<log_record> records;
    for (int32_t counter : {5, 6, 13, 15, 2, 3}) records.push_back(*record(counter, 1, 2, "f", 1, "m"));
    const std::vector<diag_row> rows = diag_rows_from_records(records);
    std::vector<std::string> lines;
    for (const diag_row& row : rows) {
        std::string line;
        for (int c = 0; c < DIAG_LOG_COLUMN_COUNT; ++c) line += (c ? "|" : "") + row.cells[c];
        lines.push_back(line);
    }
    // A counter that goes back is numbered afresh, not a loss.
    EXPECT_EQ(lines, (std::vector<std::string>{"00000005|01|I|f|1|m", "00000006|01|I|f|1|m",
                                               "|||||6 records lost between 00000006 and 00000013", "00000013|01|I|f|1|m",
                                               "|||||1 record lost between 00000013 and 00000015", "00000015|01|I|f|1|m",
                                               "00000002|01|I|f|1|m", "00000003|01|I|f|1|m"}));
    EXPECT_EQ(rows[2].colour, DIAG_COLOUR_ERROR);
    EXPECT_EQ(rows[1].colour, DIAG_COLOUR_PLAIN);
    // The saved file has it as one more line of six fields.
    EXPECT_NE(diag_log_file_text(rows).find(EOL + ",,,,,6 records lost between 00000006 and 00000013" + EOL),
              std::string::npos);

    // The widest jump a signed counter allows is still counted right.
    diag_row gap;
    ASSERT_TRUE(diag_gap_row(INT32_MIN, INT32_MAX, gap));
    EXPECT_EQ(gap.cells[5], "4294967294 records lost between -2147483648 and 2147483647");
    EXPECT_FALSE(diag_gap_row(7, 8, gap));
    EXPECT_FALSE(diag_gap_row(8, 8, gap));
    EXPECT_FALSE(diag_gap_row(INT32_MAX, INT32_MIN, gap));
}

TEST(DiagLogFile, SaveReportsEveryFailure) {
    std::vector<diag_row> rows = {diag_row_from_record(*record(1, 1, 2, "f", 1, "m"))};
#ifndef _WIN32
    EXPECT_EQ(diag_log_save("/dev/full", rows), ENOSPC);
#endif
    const auto dir = std::filesystem::temp_directory_path() / ("diag-save-" + std::to_string(std::random_device{}()));
    EXPECT_NE(diag_log_save((dir / "no-such-folder" / "diag.log").string().c_str(), rows), 0);
    std::filesystem::create_directories(dir);
    const std::string path = (dir / "diag.log").string();
    ASSERT_EQ(diag_log_save(path.c_str(), rows), 0);
    std::ifstream in(path, std::ios::binary);
    std::stringstream all;
    all << in.rdbuf();
    in.close();
    EXPECT_EQ(all.str(), diag_log_file_text(rows));
    std::error_code ignored;
    std::filesystem::remove_all(dir, ignored);
}

TEST(DiagReadings, FieldsChangeOnlyWithTheirValues) {
    const diag_status_cache zero{};
    // A fresh view: a state of 0 and readings of exactly 0.0 change nothing.
    diag_readings_update u = diag_readings_compare(zero, status(0, 0.0f, 0.0f, 0.0f));
    EXPECT_FALSE(u.state || u.voltage || u.temperature || u.humidity);

    u = diag_readings_compare(zero, status(2, 12.2f, 17.5f, 45.0f));
    EXPECT_TRUE(u.state && u.voltage && u.temperature && u.humidity);
    EXPECT_EQ(u.state_text, "IDLE");
    EXPECT_EQ(u.voltage_text, "12.20 V");
    EXPECT_EQ(u.temperature_text, "17.50");
    EXPECT_EQ(u.humidity_text, "45.00%");

    // Only the humidity moved; the state 0 comes back as "RUNNING" once another was seen.
    u = diag_readings_compare(status(2, 12.2f, 17.5f, 45.0f), status(0, 12.2f, 17.5f, 0.0f));
    EXPECT_TRUE(u.state && u.humidity);
    EXPECT_FALSE(u.voltage || u.temperature);
    EXPECT_EQ(u.state_text, "RUNNING");
    EXPECT_EQ(u.humidity_text, "0.00%");

    EXPECT_STREQ(diag_run_state_text(1), "UNPOWERED");
    EXPECT_STREQ(diag_run_state_text(2), "IDLE");
    for (uint8_t s : {0, 3, 10, 99, 255}) EXPECT_STREQ(diag_run_state_text(s), "RUNNING") << int(s);
    for (uint8_t s : {0, 1, 2}) EXPECT_EQ(diag_running_flag(status(s, 0, 0, 0)), 0) << int(s);
    for (uint8_t s : {3, 10, 255}) EXPECT_EQ(diag_running_flag(status(s, 0, 0, 0)), 1) << int(s);
}

TEST(DiagReadings, CorruptValuesShowDashesNeverDigits) {
    const float nan = std::numeric_limits<float>::quiet_NaN();
    const float inf = std::numeric_limits<float>::infinity();
    EXPECT_EQ(diag_reading_text(diag_reading::voltage, 3.4e38f), "----");
    EXPECT_EQ(diag_reading_text(diag_reading::temperature, -inf), "----");
    EXPECT_EQ(diag_reading_text(diag_reading::humidity, nan), "----");
    // The widest text that fits: 19 characters.
    EXPECT_EQ(diag_reading_text(diag_reading::temperature, 1e16f), "----");  // 20 characters
    EXPECT_EQ(diag_reading_text(diag_reading::temperature, -1e15f), "-999999986991104.00");
    EXPECT_EQ(diag_reading_text(diag_reading::voltage, 1e15f), "----");
    EXPECT_EQ(diag_reading_text(diag_reading::voltage, -40.0f), "-40.00 V");

    // A NaN is never equal to what was cached, so it is written every time.
    const diag_status_cache with_nan = status(2, nan, 17.5f, 45.0f);
    const diag_readings_update u = diag_readings_compare(with_nan, with_nan);
    EXPECT_TRUE(u.voltage);
    EXPECT_EQ(u.voltage_text, "----");
    EXPECT_FALSE(u.temperature || u.humidity || u.state);
}

TEST(DiagReadings, DecimalPointOnADecimalCommaDesktop) {
    decimal_comma_locale comma;
    ASSERT_DECIMAL_COMMA(comma);
    EXPECT_EQ(diag_reading_text(diag_reading::voltage, 12.25f), "12.25 V");
    EXPECT_EQ(diag_reading_text(diag_reading::humidity, 45.5f), "45.50%");
}

}  // namespace
