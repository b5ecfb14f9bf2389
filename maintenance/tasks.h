// The instrument's task table and the log filters of its entries: the records, the texts of
// the Tasks dialog, and the commands. No Qt.
//
// Entry 0 of the table is not a task; entries 1 to the task count are. The tool shows at most
// TASKS_MAX tasks, and every count read from the instrument is held to that before it is used
// for anything: a grid row, a loop, a byte of the filter payload.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

constexpr int TASKS_MAX = 15;
constexpr int TASK_ROWS = TASKS_MAX + 1;  // entry 0 and tasks 1-15

// Log filter flags, one byte per entry.
constexpr uint8_t LOG_FILTER_ERROR = 1;
constexpr uint8_t LOG_FILTER_INFO = 2;
constexpr uint8_t LOG_FILTER_DEBUG = 4;
constexpr uint8_t LOG_FILTER_BITS[3] = {LOG_FILTER_ERROR, LOG_FILTER_INFO, LOG_FILTER_DEBUG};

constexpr size_t TASK_DETAILS_SIZE = 48;
constexpr size_t TASK_NAME_OFFSET = 1;
constexpr size_t TASK_NAME_WIDTH = 33;

// bytes: 1-33 task name (text, ends at its first NUL or the end of the field), 34 stack start,
// 38 stack end, 42 stack top (deepest address reached; the stack grows down) (u32 each),
// 46 state (0 inactive), 47 log filter flags.
struct task_details {
    uint8_t bytes[TASK_DETAILS_SIZE];
};

std::string task_name(const task_details& d);
uint32_t task_stack_start(const task_details& d);
uint32_t task_stack_end(const task_details& d);
uint32_t task_stack_top(const task_details& d);
uint8_t task_state(const task_details& d);
uint8_t task_filters(const task_details& d);
// In unsigned 32-bit arithmetic: end - start + 1, and end - top + 1.
uint32_t task_stack_size(const task_details& d);
uint32_t task_stack_used(const task_details& d);

// The seven texts of a row of the grid; a text that does not fit its field is left empty.
struct task_row_texts {
    std::string id, name, start, end, top, usage, state;
};
task_row_texts task_row_format(unsigned index, const task_details& d);

// The table as the dialog loads it: the count (at most TASKS_MAX) and entries 0 to the count.
struct task_table {
    uint8_t count = 0;
    task_details entries[TASK_ROWS] = {};
};

// What tasks_read_table found.
enum tasks_read_result {
    TASKS_READ_OK = 0,
    TASKS_READ_NO_COUNT,   // the first count could not be read
    TASKS_READ_TOO_MANY,   // a count above TASKS_MAX (in *refused)
    TASKS_READ_NO_DETAILS  // the second count or an entry could not be read
};
// Reads the count, then the count once more, then entries 0 to the count. Any count above
// TASKS_MAX, the first or the second, stops the read; *refused then holds it.
tasks_read_result tasks_read_table(task_table& out, unsigned* refused);

// The message for a refused count.
std::string tasks_too_many_text(unsigned count);

// CMD_SET_LOG_FILTERS: byte 0 = 0, byte 1 + i = flags of entry i for i = 0 to the count, the
// rest 0. A count above TASKS_MAX is held to it.
constexpr size_t LOG_FILTERS_SIZE = 26;
void log_filters_payload(const uint8_t* flags, unsigned count, uint8_t out[LOG_FILTERS_SIZE]);
// Whether `bit` is set in the flags of every entry 0 to the count.
bool log_filters_all(const uint8_t* flags, unsigned count, uint8_t bit);

// ---- commands (each returns 0, ERR_LINK_FAILED, ERR_SHORT_RESPONSE or the result byte) --------

int tasks_get_count(uint8_t& count);
int tasks_get_details(uint8_t index, task_details& out);
int tasks_set_log_filters(const uint8_t* flags, unsigned count);
