// The instrument's diagnostic log and system-board readings: the records as they come off the
// wire, the texts the diagnostics view shows for them, the saved file, and the commands. No Qt:
// the diagnostics view and the command line share all of it.
#pragma once

#include "link/text_tables.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

// ---- log records -----------------------------------------------------------------------------

constexpr size_t LOG_RECORD_SIZE = 114;
constexpr size_t LOG_FUNCTION_OFFSET = 5;
constexpr size_t LOG_FUNCTION_WIDTH = 32;
constexpr size_t LOG_MESSAGE_OFFSET = 43;
constexpr size_t LOG_MESSAGE_WIDTH = 71;

// bytes: 1 record counter (i32), 5 function name (32 bytes of text), 37 line (i32), 41 writer's
// task id, 42 severity (1 error, 2 info, 4 debug), 43 message (71 bytes of text). A text field
// ends at its first NUL or at the end of the field, whichever comes first.
struct log_record {
    uint8_t bytes[LOG_RECORD_SIZE];
};

constexpr uint8_t LOG_SEVERITY_ERROR = 1;
constexpr uint8_t LOG_SEVERITY_INFO = 2;
constexpr uint8_t LOG_SEVERITY_DEBUG = 4;

int32_t log_record_counter(const log_record& r);
int32_t log_record_line(const log_record& r);
uint8_t log_record_task(const log_record& r);
uint8_t log_record_severity(const log_record& r);
// The text fields, read up to their width and never further.
std::string log_record_function(const log_record& r);
std::string log_record_message(const log_record& r);

// "E", "I", "D"; "?" for any other severity.
const char* diag_severity_text(uint8_t severity);

// The view keeps at most this many rows (201, not 200), the newest last.
constexpr int DIAG_LOG_MAX_ROWS = 201;
constexpr int DIAG_LOG_COLUMN_COUNT = 6;
extern const list_column DIAG_LOG_COLUMNS[DIAG_LOG_COLUMN_COUNT];

// Row colours as the instrument's software has always stored them: Windows colour values,
// 0x00BBGGRR, so blue sits in the high byte and red in the low one.
constexpr uint32_t DIAG_COLOUR_RESET = 0x00FF0000;  // blue: the instrument restarted
constexpr uint32_t DIAG_COLOUR_ERROR = 0x000000FF;  // red: severity error
constexpr uint32_t DIAG_COLOUR_PLAIN = 0x00000000;  // black
struct diag_rgb {
    uint8_t red, green, blue;
};
diag_rgb diag_colour_rgb(uint32_t colour);
uint32_t diag_row_colour(const log_record& r);

// One list row: the six cell texts as shown, the row's colour and the record's counter.
struct diag_row {
    std::string cells[DIAG_LOG_COLUMN_COUNT];
    uint32_t colour = DIAG_COLOUR_PLAIN;
    int32_t counter = 0;
};
diag_row diag_row_from_record(const log_record& r);

// The row that says how many records the instrument's ring dropped between two records shown
// one after the other (counters `before` and then `after`): the six cells of any row, all empty
// but the message ("7 records lost between 00000042 and 00000050"), red. False, and no row,
// when no number is missing; a counter that goes back (numbered afresh) is no loss either.
bool diag_gap_row(int32_t before, int32_t after, diag_row& out);
// The rows of records read one after the other, with a gap row wherever numbers are missing.
std::vector<diag_row> diag_rows_from_records(const std::vector<log_record>& records);

// The saved log: the captions joined by commas, then one line per row, the cells as shown (a
// cell with a comma, a quote, CR or LF quoted, link/text_tables.h), each line ended by
// TEXT_LINE_END.
std::string diag_log_file_text(const std::vector<diag_row>& rows);
// Writes that text as path, all or nothing (platform/file_replace.h): 0, or the error number.
int diag_log_save(const char* path, const std::vector<diag_row>& rows);

// ---- commands (each returns 0, ERR_LINK_FAILED or the instrument's result byte) ---------------

// Asks the instrument to start handing out its log records (CMD_LOG_READ_START, 0xFFFF).
int diag_log_read_start();
// One waiting record; anything but 0 means none now. A short answer is a failed read.
int diag_log_read(log_record& out);
int diag_clear_log();
// The result is of no interest to the view; returned for the command line.
int diag_toggle_led();

// ---- readings --------------------------------------------------------------------------------

constexpr size_t DIAG_STATUS_SIZE = 36;
// The status record as the view last accepted it (bytes 1 sampler state, 4 supply voltage,
// 8 board temperature, 12 relative humidity; floats little-endian). All zero to begin with.
struct diag_status_cache {
    uint8_t bytes[DIAG_STATUS_SIZE];
};
int diag_get_status(diag_status_cache& out);

uint8_t diag_status_state(const diag_status_cache& s);
// 1 while the sampler runs (state 3 and above), else 0.
int diag_running_flag(const diag_status_cache& s);
// "UNPOWERED", "IDLE", and "RUNNING" for any other state.
const char* diag_run_state_text(uint8_t state);
// A reading as its field shows it ("12.20 V", "17.50", "45.00%"), formatted into 20 bytes;
// "----" when the value is not finite or its text would not fit (a corrupt 3.4e38 is not a
// voltage, and 19 of its 42 digits would look like one).
enum class diag_reading { voltage, temperature, humidity };
// A reading of the status record.
float diag_status_reading(const diag_status_cache& s, diag_reading kind);
std::string diag_reading_text(diag_reading kind, float value);

// Which fields change when a new status record arrives: a field is rewritten only when its value
// differs from the cached one (a NaN always differs).
struct diag_readings_update {
    bool state = false, voltage = false, temperature = false, humidity = false;
    std::string state_text, voltage_text, temperature_text, humidity_text;
};
diag_readings_update diag_readings_compare(const diag_status_cache& cached, const diag_status_cache& fresh);
