#include "maintenance/tasks.h"

#include "link/bytes.h"
#include "link/command_frame.h"
#include "link/commands.h"
#include "link/field_text.h"

#include <algorithm>
#include <cstdarg>
#include <cstring>

namespace {

// A grid text: formatted into 20 bytes, empty when it does not fit.
std::string text20(const char* fmt, ...) TEXT_PRINTF(1);
std::string text20(const char* fmt, ...) {
    char buf[20];
    va_list args;
    va_start(args, fmt);
    const int n = text_vformat(buf, sizeof buf, fmt, args);
    va_end(args);
    return n >= 0 && size_t(n) < sizeof buf ? std::string(buf, size_t(n)) : std::string();
}

unsigned held(unsigned count) { return std::min<unsigned>(count, TASKS_MAX); }

}  // namespace

std::string task_name(const task_details& d) {
    // Sized for the whole field: every name the field can hold is shown, a 33-character one too.
    char name[TASK_NAME_WIDTH + 1];
    get_text_field(d.bytes + TASK_NAME_OFFSET, TASK_NAME_WIDTH, name, sizeof name);
    return name;
}

uint32_t task_stack_start(const task_details& d) { return get_u32le(d.bytes + 34); }
uint32_t task_stack_end(const task_details& d) { return get_u32le(d.bytes + 38); }
uint32_t task_stack_top(const task_details& d) { return get_u32le(d.bytes + 42); }
uint8_t task_state(const task_details& d) { return d.bytes[46]; }
uint8_t task_filters(const task_details& d) { return d.bytes[47]; }
uint32_t task_stack_size(const task_details& d) { return task_stack_end(d) - task_stack_start(d) + 1u; }
uint32_t task_stack_used(const task_details& d) { return task_stack_end(d) - task_stack_top(d) + 1u; }

task_row_texts task_row_format(unsigned index, const task_details& d) {
    task_row_texts t;
    t.id = text20("%u", index);
    t.name = task_name(d);
    t.start = text20("%X", unsigned(task_stack_start(d)));
    t.end = text20("%X", unsigned(task_stack_end(d)));
    t.top = text20("%X", unsigned(task_stack_top(d)));
    if (index == 0) {
        t.usage = text20("----/%u", unsigned(task_stack_size(d)));
        t.state = "Not a task";
    } else {
        t.usage = text20("%u/%u", unsigned(task_stack_used(d)), unsigned(task_stack_size(d)));
        t.state = task_state(d) ? "Active" : "Inactive";
    }
    return t;
}

tasks_read_result tasks_read_table(task_table& out, unsigned* refused) {
    out = task_table{};
    uint8_t count = 0;
    if (tasks_get_count(count) != 0) return TASKS_READ_NO_COUNT;
    if (count > TASKS_MAX) {
        if (refused) *refused = count;
        return TASKS_READ_TOO_MANY;
    }
    // The firmware may have started or ended a task in between: the second answer counts, and
    // it is held to the same limit as the first.
    uint8_t again = 0;
    if (tasks_get_count(again) != 0) return TASKS_READ_NO_DETAILS;
    if (again > TASKS_MAX) {
        if (refused) *refused = again;
        return TASKS_READ_TOO_MANY;
    }
    out.count = again;
    for (unsigned i = 0; i <= out.count; ++i)
        if (tasks_get_details(uint8_t(i), out.entries[i]) != 0) return TASKS_READ_NO_DETAILS;
    return TASKS_READ_OK;
}

std::string tasks_too_many_text(unsigned count) {
    char buf[256];
    const int n = text_format(buf, sizeof buf, "Your firmware has %u tasks and this GUI can only display %d", count, TASKS_MAX);
    return n >= 0 && size_t(n) < sizeof buf ? std::string(buf) : std::string();
}

void log_filters_payload(const uint8_t* flags, unsigned count, uint8_t out[LOG_FILTERS_SIZE]) {
    std::memset(out, 0, LOG_FILTERS_SIZE);
    for (unsigned i = 0; i <= held(count); ++i) out[1 + i] = flags[i];
}

bool log_filters_all(const uint8_t* flags, unsigned count, uint8_t bit) {
    for (unsigned i = 0; i <= held(count); ++i)
        if (!(flags[i] & bit)) return false;
    return true;
}

int tasks_get_count(uint8_t& count) {
    command_frame f;
    frame_prepare(f, CMD_GET_TASK_COUNT, 0);
    const int r = command_read(f, 1);
    if (r == 0) count = frame_payload(f)[0];
    return r;
}

int tasks_get_details(uint8_t index, task_details& out) {
    command_frame f;
    frame_prepare(f, CMD_GET_TASK_DETAILS, 1);
    frame_payload(f)[0] = index;
    const int r = command_read(f, TASK_DETAILS_SIZE);
    if (r == 0) std::memcpy(out.bytes, frame_payload(f), TASK_DETAILS_SIZE);
    return r;
}

int tasks_set_log_filters(const uint8_t* flags, unsigned count) {
    command_frame f;
    frame_prepare(f, CMD_SET_LOG_FILTERS, uint8_t(LOG_FILTERS_SIZE));
    log_filters_payload(flags, count, frame_payload(f));
    return command_exchange(f);
}
