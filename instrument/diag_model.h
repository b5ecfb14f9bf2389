// The instrument's diagnostic log and its task table with the log filters, and its LED.
//
// The log is a ring that drops its oldest record when full. Each record kept gets the next
// number of a counter that only rises (Clear empties the ring, the numbers go on). A record is
// kept only when the filter byte of its writer's task has its severity's bit. The tool reads the
// log through a cursor that CMD_LOG_READ_START places; records come from the sampler's events,
// from the restart at power-up, and from every task's periodic debug records.
//
// Time: the model catches up with the device's clock whenever a request arrives (debug records
// due since then are written with their own times), so a stepped clock gives the same log
// every time.
#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>
#include <string>
#include <vector>

struct sim_firmware;

struct sim_log_entry {
    int32_t counter;
    uint8_t task;
    uint8_t severity;  // 1 error, 2 info, 4 debug (others only through sim_diag_keep)
    int32_t line;
    std::string function;  // at most 32 bytes are sent, with no NUL when it fills the field
    std::string message;   // at most 71 bytes are sent, likewise
};

struct sim_task {
    std::string name;  // at most 33 bytes are sent, with no NUL when it fills the field
    uint32_t stack_start;
    uint32_t stack_end;
    uint32_t stack_top;   // the deepest address reached so far
    uint32_t base_used;   // what the task uses when the sampler is idle
    bool active = true;
};

// Result bytes of the log commands.
constexpr uint8_t SIM_LOG_EMPTY = 1;        // CMD_READ_LOG_RECORD: nothing waiting
constexpr uint8_t SIM_LOG_NOT_STARTED = 3;  // CMD_READ_LOG_RECORD before CMD_LOG_READ_START
constexpr uint8_t SIM_NO_SUCH_TASK = 2;     // CMD_GET_TASK_DETAILS past the table
constexpr uint8_t SIM_BAD_ARGUMENT = 4;

// What a filter byte holds at power-up: errors and information, no debug.
constexpr uint8_t SIM_DEFAULT_FILTER = 0x03;
// Debug records per task per second while flooding: far more than a link can read.
constexpr double SIM_FLOOD_RATE = 500.0;

struct sim_diagnostics {
    // The log.
    std::deque<sim_log_entry> ring;
    size_t capacity = 1024;
    int32_t next_counter = 1;
    uint64_t written = 0;   // records kept since the instrument was made
    uint64_t dropped = 0;   // records pushed out of a full ring
    uint64_t filtered = 0;  // records refused by their task's filter
    uint64_t served = 0;    // records handed out by CMD_READ_LOG_RECORD
    bool reading = false;   // CMD_LOG_READ_START has placed the cursor
    int32_t cursor = 0;     // counter of the next record to hand out

    // The task table: entry 0 is not a task. Filters are kept for every possible task id.
    std::vector<sim_task> tasks;
    uint8_t filters[256];
    // Fault injection: answers given to the next CMD_GET_TASK_COUNT requests, oldest first,
    // before the table's own count is answered again.
    std::deque<uint8_t> task_count_answers;

    // Periodic debug records of every task (1 to the count): records per task per second, and a
    // flood that replaces the rate.
    double debug_rate = 1.0;
    bool flood = false;
    uint64_t debug_clock_ms = 0;  // debug records are written up to here
    double debug_carry = 0;       // the part of a record due but not yet written
    uint32_t debug_sequence = 0;

    bool led_on = false;
    uint32_t led_toggles = 0;

    sim_diagnostics();
};

// The table with `count` tasks (0 to 255) and entry 0, with made-up names and stacks.
void sim_diag_set_task_count(sim_diagnostics& d, int count);
int sim_diag_task_count(const sim_diagnostics& d);
// Writes a record as the firmware would: kept only if the task's filter lets its severity
// through; the oldest record goes when the ring is full.
void sim_diag_write(sim_diagnostics& d, uint8_t task, uint8_t severity, const std::string& function, int32_t line,
                    const std::string& message);
// Keeps a record exactly as given, past the filters: one that older or faulty firmware left in
// the log (a severity of no known kind, texts that fill their fields with no NUL).
void sim_diag_keep(sim_diagnostics& d, uint8_t task, uint8_t severity, const std::string& function, int32_t line,
                   const std::string& message);
// Adds n records as if the tasks had written them earlier (errors, information and debug of
// several tasks), past the filters.
void sim_diag_fill(sim_diagnostics& d, int n);
// The debug rate now in force (the flood's when flooding).
double sim_diag_debug_rate(const sim_diagnostics& d);
