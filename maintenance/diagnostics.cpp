#include "maintenance/diagnostics.h"

#include "link/bytes.h"
#include "link/command_frame.h"
#include "link/commands.h"
#include "link/field_text.h"
#include "platform/file_replace.h"

#include <cmath>
#include <cstdarg>
#include <cstring>

const list_column DIAG_LOG_COLUMNS[DIAG_LOG_COLUMN_COUNT] = {
    {"Counter", 10}, {"Task ID", 7}, {"Severity", 7}, {"Function", 25}, {"Line", 10}, {"Message", 80},
};

namespace {

// A text field: up to its first NUL or its last byte, never past it.
std::string field_text(const uint8_t* field, size_t width) {
    char text[LOG_MESSAGE_WIDTH + 1];
    get_text_field(field, width, text, sizeof text);
    return text;
}

// A cell text as the list shows it: at most 255 characters, else nothing.
std::string cell(const char* fmt, ...) TEXT_PRINTF(1);
std::string cell(const char* fmt, ...) {
    char buf[256];
    va_list args;
    va_start(args, fmt);
    const int n = text_vformat(buf, sizeof buf, fmt, args);
    va_end(args);
    return n >= 0 && size_t(n) < sizeof buf ? std::string(buf, size_t(n)) : std::string();
}

bool has_text(const std::string& haystack, const char* needle) { return haystack.find(needle) != std::string::npos; }

// Whether a reading counts as changed: any difference, and a NaN always.
bool differs(float cached, float fresh) { return !(cached == fresh); }

}  // namespace

int32_t log_record_counter(const log_record& r) { return get_i32le(r.bytes + 1); }
int32_t log_record_line(const log_record& r) { return get_i32le(r.bytes + 37); }
uint8_t log_record_task(const log_record& r) { return r.bytes[41]; }
uint8_t log_record_severity(const log_record& r) { return r.bytes[42]; }

std::string log_record_function(const log_record& r) {
    return field_text(r.bytes + LOG_FUNCTION_OFFSET, LOG_FUNCTION_WIDTH);
}

std::string log_record_message(const log_record& r) { return field_text(r.bytes + LOG_MESSAGE_OFFSET, LOG_MESSAGE_WIDTH); }

const char* diag_severity_text(uint8_t severity) {
    switch (severity) {
        case LOG_SEVERITY_ERROR: return "E";
        case LOG_SEVERITY_INFO: return "I";
        case LOG_SEVERITY_DEBUG: return "D";
        default: return "?";
    }
}

diag_rgb diag_colour_rgb(uint32_t colour) {
    return {uint8_t(colour & 0xFF), uint8_t((colour >> 8) & 0xFF), uint8_t((colour >> 16) & 0xFF)};
}

uint32_t diag_row_colour(const log_record& r) {
    // A restart matters more than its severity: it is blue even when written as an error.
    if (has_text(log_record_message(r), "Restarted after reset")) return DIAG_COLOUR_RESET;
    if (log_record_severity(r) == LOG_SEVERITY_ERROR) return DIAG_COLOUR_ERROR;
    return DIAG_COLOUR_PLAIN;
}

diag_row diag_row_from_record(const log_record& r) {
    diag_row row;
    row.counter = log_record_counter(r);
    row.colour = diag_row_colour(r);
    row.cells[0] = cell("%08d", int(row.counter));
    row.cells[1] = cell("%02d", int(log_record_task(r)));
    row.cells[2] = std::string(diag_severity_text(log_record_severity(r)));
    row.cells[3] = log_record_function(r);
    row.cells[4] = cell("%d", int(log_record_line(r)));
    row.cells[5] = log_record_message(r);
    return row;
}

bool diag_gap_row(int32_t before, int32_t after, diag_row& out) {
    const int64_t lost = int64_t(after) - int64_t(before) - 1;
    if (lost <= 0) return false;
    out = diag_row{};
    out.counter = after - 1;  // the last number lost
    out.colour = DIAG_COLOUR_ERROR;
    out.cells[5] = cell("%u record%s lost between %08d and %08d", unsigned(lost), lost == 1 ? "" : "s",
                        int(before), int(after));
    return true;
}

std::vector<diag_row> diag_rows_from_records(const std::vector<log_record>& records) {
    std::vector<diag_row> rows;
    for (size_t i = 0; i < records.size(); ++i) {
        diag_row gap;
        if (i > 0 && diag_gap_row(log_record_counter(records[i - 1]), log_record_counter(records[i]), gap))
            rows.push_back(std::move(gap));
        rows.push_back(diag_row_from_record(records[i]));
    }
    return rows;
}

std::string diag_log_file_text(const std::vector<diag_row>& rows) {
    std::vector<std::string> cells;
    for (const list_column& c : DIAG_LOG_COLUMNS) cells.emplace_back(c.caption);
    std::string text = text_table_line(cells);
    for (const diag_row& row : rows) text += text_table_line(std::vector<std::string>(std::begin(row.cells), std::end(row.cells)));
    return text;
}

int diag_log_save(const char* path, const std::vector<diag_row>& rows) { return file_replace(path, diag_log_file_text(rows)); }

int diag_log_read_start() {
    command_frame f;
    frame_prepare(f, CMD_LOG_READ_START, 2);
    put_u16le(frame_payload(f), 0xFFFF);
    return command_exchange(f);
}

int diag_log_read(log_record& out) {
    command_frame f;
    frame_prepare(f, CMD_READ_LOG_RECORD, 0);
    const int r = command_read(f, LOG_RECORD_SIZE);
    if (r == 0) std::memcpy(out.bytes, frame_payload(f), LOG_RECORD_SIZE);
    return r;
}

int diag_clear_log() {
    command_frame f;
    frame_prepare(f, CMD_CLEAR_LOG, 0);
    return command_exchange(f);
}

int diag_toggle_led() {
    command_frame f;
    frame_prepare(f, CMD_TOGGLE_LED, 1);
    frame_payload(f)[0] = 1;
    return command_exchange(f);
}

int diag_get_status(diag_status_cache& out) {
    command_frame f;
    frame_prepare(f, CMD_GET_STATUS, 0);
    const int r = command_read(f, DIAG_STATUS_SIZE);
    if (r == 0) std::memcpy(out.bytes, frame_payload(f), DIAG_STATUS_SIZE);
    return r;
}

uint8_t diag_status_state(const diag_status_cache& s) { return s.bytes[1]; }

int diag_running_flag(const diag_status_cache& s) { return diag_status_state(s) > 2 ? 1 : 0; }

const char* diag_run_state_text(uint8_t state) {
    switch (state) {
        case 1: return "UNPOWERED";
        case 2: return "IDLE";
        default: return "RUNNING";
    }
}

float diag_status_reading(const diag_status_cache& s, diag_reading kind) {
    switch (kind) {
        case diag_reading::voltage: return get_f32le(s.bytes + 4);
        case diag_reading::temperature: return get_f32le(s.bytes + 8);
        case diag_reading::humidity: return get_f32le(s.bytes + 12);
    }
    return NAN;
}

std::string diag_reading_text(diag_reading kind, float value) {
    if (!std::isfinite(value)) return "----";
    char text[20];
    const double v = value;
    int n = -1;
    switch (kind) {
        case diag_reading::voltage: n = text_format(text, sizeof text, "%.2f V", v); break;
        case diag_reading::temperature: n = text_format(text, sizeof text, "%.2f", v); break;
        case diag_reading::humidity: n = text_format(text, sizeof text, "%.2f%%", v); break;
    }
    if (n < 0 || size_t(n) >= sizeof text) return "----";
    return text;
}

diag_readings_update diag_readings_compare(const diag_status_cache& cached, const diag_status_cache& fresh) {
    diag_readings_update u;
    const uint8_t state = diag_status_state(fresh);
    if (state != diag_status_state(cached)) {
        u.state = true;
        u.state_text = diag_run_state_text(state);
    }
    struct reading {
        diag_reading kind;
        bool* changed;
        std::string* text;
    } readings[] = {
        {diag_reading::voltage, &u.voltage, &u.voltage_text},
        {diag_reading::temperature, &u.temperature, &u.temperature_text},
        {diag_reading::humidity, &u.humidity, &u.humidity_text},
    };
    for (const reading& r : readings) {
        const float now = diag_status_reading(fresh, r.kind);
        if (!differs(diag_status_reading(cached, r.kind), now)) continue;
        *r.changed = true;
        *r.text = diag_reading_text(r.kind, now);
    }
    return u;
}
