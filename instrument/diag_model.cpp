#include "instrument/diag_model.h"

#include "instrument/firmware.h"
#include "link/bytes.h"
#include "link/commands.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <iterator>

namespace {

constexpr size_t RECORD_SIZE = 114;
constexpr size_t TASK_DETAILS_SIZE = 48;
constexpr size_t FILTERS_SIZE = 26;
constexpr uint8_t TASK_MAIN = 1;

const char* const TASK_NAMES[] = {"Interrupts", "Main", "USB", "Sampler", "Motors", "Sensors",
                                  "Schedule", "Logger", "RS232", "Clock", "Cleaning", "Flow Meter",
                                  "Pressure", "Watchdog", "Storage", "Display"};

const char* const DEBUG_MESSAGES[] = {"Heartbeat %u", "Queue depth %u", "Wake-up %u", "Poll %u done"};

void put_text(uint8_t* field, size_t width, const std::string& text) {
    std::memset(field, 0, width);
    std::memcpy(field, text.data(), std::min(text.size(), width));
}

std::string numbered(const char* fmt, unsigned n) {
    char text[72];
    std::snprintf(text, sizeof text, fmt, n);
    return text;
}

sim_task make_task(int i) {
    sim_task t;
    t.name = i < int(std::size(TASK_NAMES)) ? TASK_NAMES[i] : numbered("Task %u", unsigned(i));
    const uint32_t size = i == 0 ? 0x800u : 0x400u * uint32_t(1 + i % 4);
    t.stack_start = 0x20001000u + uint32_t(i) * 0x1000u;
    t.stack_end = t.stack_start + size - 1;
    t.base_used = size / 4 + uint32_t(i) * 8;
    t.stack_top = t.stack_end + 1 - t.base_used;
    t.active = i == 0 || i % 5 != 4;  // one in five sleeps
    return t;
}

// A record in time, before it is written.
struct pending {
    uint64_t at_ms;
    uint8_t task;
    uint8_t severity;
    std::string function;
    int32_t line;
    std::string message;
};

bool task_logs(const sim_diagnostics& d, uint8_t task, uint8_t severity) { return (d.filters[task] & severity) != 0; }

void keep(sim_diagnostics& d, uint8_t task, uint8_t severity, const std::string& function, int32_t line,
          const std::string& message) {
    d.ring.push_back({d.next_counter++, task, severity, line, function, message});
    ++d.written;
    while (d.ring.size() > d.capacity) {
        d.ring.pop_front();
        ++d.dropped;
    }
}

// The debug records due since the last request, at their own times. When more are due than the
// ring could hold, the older ones would only push each other out: they are counted as written
// and dropped without being made.
void debug_records(sim_diagnostics& d, uint64_t now_ms, std::vector<pending>& out) {
    const uint64_t from = d.debug_clock_ms;
    d.debug_clock_ms = std::max(now_ms, from);
    const double rate = sim_diag_debug_rate(d);
    const int count = sim_diag_task_count(d);
    if (now_ms <= from || rate <= 0 || count == 0) return;
    const double exact = double(now_ms - from) * rate / 1000.0 + d.debug_carry;
    const double whole = std::floor(exact);
    d.debug_carry = exact - whole;
    uint64_t ticks = uint64_t(whole);
    const uint64_t room = d.capacity / size_t(count) + 1;
    if (ticks > room) {
        const uint64_t skipped = ticks - room;
        for (int t = 1; t <= count; ++t) {
            if (!task_logs(d, uint8_t(t), SIM_SEVERITY_DEBUG)) {
                d.filtered += skipped;
                continue;
            }
            d.next_counter = int32_t(d.next_counter + int64_t(skipped));
            d.written += skipped;
            d.dropped += skipped;
        }
        d.debug_sequence += uint32_t(skipped);
        ticks = room;
    }
    const double interval = 1000.0 / rate;
    for (uint64_t k = 0; k < ticks; ++k) {
        const uint64_t at = now_ms - uint64_t(double(ticks - 1 - k) * interval);
        const unsigned seq = ++d.debug_sequence;
        for (int t = 1; t <= count; ++t) {
            const char* fmt = DEBUG_MESSAGES[(seq + unsigned(t)) % std::size(DEBUG_MESSAGES)];
            out.push_back({at, uint8_t(t), SIM_SEVERITY_DEBUG, "task_loop", 640 + t, numbered(fmt, seq)});
        }
    }
}

// Stacks reach deeper while the sampler works; the top is the deepest address ever reached.
void move_stacks(sim_firmware& fw, uint64_t now_ms) {
    if (!fw.sampler.running()) return;
    for (size_t i = 1; i < fw.diag.tasks.size(); ++i) {
        sim_task& t = fw.diag.tasks[i];
        if (!t.active) continue;
        const uint32_t size = t.stack_end - t.stack_start + 1;
        const uint32_t extra = uint32_t((now_ms / 250 * 37 + i * 101) % (size / 2 + 1));
        const uint32_t used = std::min(size, t.base_used + extra);
        t.stack_top = std::min(t.stack_top, t.stack_end + 1 - used);
    }
}

// Brings the log up to the device's time: the sampler's events and the debug records due, in
// the order they happened.
void catch_up(sim_firmware& fw, uint64_t now_ms) {
    sim_diagnostics& d = fw.diag;
    if (fw.mode == sim_mode::bootloader) {
        fw.sampler.events.clear();
        d.debug_clock_ms = std::max(d.debug_clock_ms, now_ms);
        return;
    }
    std::vector<pending> due;
    for (sim_event& e : fw.sampler.events)
        due.push_back({e.at_ms, e.task, e.severity, std::move(e.function), e.line, std::move(e.message)});
    fw.sampler.events.clear();
    debug_records(d, now_ms, due);
    std::stable_sort(due.begin(), due.end(), [](const pending& a, const pending& b) { return a.at_ms < b.at_ms; });
    for (const pending& p : due) sim_diag_write(d, p.task, p.severity, p.function, p.line, p.message);
    move_stacks(fw, now_ms);
}

void fill_record(const sim_log_entry& e, uint8_t* out) {
    std::memset(out, 0, RECORD_SIZE);
    put_u32le(out + 1, uint32_t(e.counter));
    put_text(out + 5, 32, e.function);
    put_u32le(out + 37, uint32_t(e.line));
    out[41] = e.task;
    out[42] = e.severity;
    put_text(out + 43, 71, e.message);
}

void fill_details(const sim_task& t, uint8_t filters, uint8_t* out) {
    std::memset(out, 0, TASK_DETAILS_SIZE);
    put_text(out + 1, 33, t.name);
    put_u32le(out + 34, t.stack_start);
    put_u32le(out + 38, t.stack_end);
    put_u32le(out + 42, t.stack_top);
    out[46] = t.active ? 1 : 0;
    out[47] = filters;
}

int32_t oldest_counter(const sim_diagnostics& d) { return d.ring.empty() ? d.next_counter : d.ring.front().counter; }

}  // namespace

sim_diagnostics::sim_diagnostics() {
    std::fill(std::begin(filters), std::end(filters), SIM_DEFAULT_FILTER);
    sim_diag_set_task_count(*this, 7);
}

void sim_diag_set_task_count(sim_diagnostics& d, int count) {
    count = std::clamp(count, 0, 255);
    const size_t keep_first = std::min(d.tasks.size(), size_t(count) + 1);
    d.tasks.resize(keep_first);
    for (int i = int(keep_first); i <= count; ++i) d.tasks.push_back(make_task(i));
}

int sim_diag_task_count(const sim_diagnostics& d) { return d.tasks.empty() ? 0 : int(d.tasks.size()) - 1; }

double sim_diag_debug_rate(const sim_diagnostics& d) { return d.flood ? SIM_FLOOD_RATE : d.debug_rate; }

void sim_diag_write(sim_diagnostics& d, uint8_t task, uint8_t severity, const std::string& function, int32_t line,
                    const std::string& message) {
    if (!task_logs(d, task, severity)) {
        ++d.filtered;
        return;
    }
    keep(d, task, severity, function, line, message);
}

void sim_diag_keep(sim_diagnostics& d, uint8_t task, uint8_t severity, const std::string& function, int32_t line,
                   const std::string& message) {
    keep(d, task, severity, function, line, message);
}

void sim_diag_fill(sim_diagnostics& d, int n) {
    static const uint8_t severities[] = {SIM_SEVERITY_INFO, SIM_SEVERITY_INFO, SIM_SEVERITY_DEBUG, SIM_SEVERITY_INFO,
                                         SIM_SEVERITY_ERROR, SIM_SEVERITY_DEBUG, SIM_SEVERITY_INFO};
    for (int i = 0; i < n; ++i) {
        const uint8_t severity = severities[size_t(i) % std::size(severities)];
        const uint8_t task = uint8_t(1 + i % std::max(1, sim_diag_task_count(d)));
        const bool error = severity == SIM_SEVERITY_ERROR;
        const char* fmt = error ? "Sensor read timeout %u" : severity == SIM_SEVERITY_DEBUG ? "Poll %u done" : "Event %u";
        keep(d, task, severity, error ? "read_sensor" : "task_loop", 500 + i % 97, numbered(fmt, unsigned(i)));
    }
}

bool sim_diag_handle(sim_firmware& fw, const sim_request& rq, sim_answer& an) {
    sim_diagnostics& d = fw.diag;
    switch (rq.code) {
        case CMD_LOG_READ_START: {
            if (!sim_expect_length(rq, 2, an)) return true;
            fw.sampler.advance(rq.now_ms);
            catch_up(fw, rq.now_ms);
            // 0xFFFF: from the oldest record kept; n: the newest n.
            const uint16_t from = get_u16le(rq.in);
            const int32_t oldest = oldest_counter(d);
            d.cursor = from == 0xFFFF ? oldest : std::max(oldest, int32_t(d.next_counter - from));
            d.reading = true;
            return true;
        }
        case CMD_READ_LOG_RECORD: {
            if (!sim_expect_length(rq, 0, an)) return true;
            fw.sampler.advance(rq.now_ms);
            catch_up(fw, rq.now_ms);
            if (!d.reading) {
                an.result = SIM_LOG_NOT_STARTED;
                return true;
            }
            // Records pushed out of the ring before they were read are lost to the reader.
            d.cursor = std::max(d.cursor, oldest_counter(d));
            if (d.cursor >= d.next_counter) {
                an.result = SIM_LOG_EMPTY;
                return true;
            }
            fill_record(d.ring[size_t(d.cursor - oldest_counter(d))], an.out);
            ++d.cursor;
            ++d.served;
            an.length = RECORD_SIZE;
            return true;
        }
        case CMD_CLEAR_LOG:
            if (!sim_expect_length(rq, 0, an)) return true;
            catch_up(fw, rq.now_ms);
            d.ring.clear();
            d.cursor = d.next_counter;
            return true;
        case CMD_GET_TASK_COUNT:
            if (!sim_expect_length(rq, 0, an)) return true;
            if (!d.task_count_answers.empty()) {
                an.out[0] = d.task_count_answers.front();
                d.task_count_answers.pop_front();
            } else {
                an.out[0] = uint8_t(sim_diag_task_count(d));
            }
            an.length = 1;
            return true;
        case CMD_GET_TASK_DETAILS: {
            if (!sim_expect_length(rq, 1, an)) return true;
            const uint8_t index = rq.in[0];
            if (index >= d.tasks.size()) {
                an.result = SIM_NO_SUCH_TASK;
                return true;
            }
            fill_details(d.tasks[index], d.filters[index], an.out);
            an.length = TASK_DETAILS_SIZE;
            return true;
        }
        case CMD_SET_LOG_FILTERS: {
            if (!sim_expect_length(rq, FILTERS_SIZE, an)) return true;
            if (rq.in[0] != 0) {
                an.result = SIM_BAD_ARGUMENT;
                return true;
            }
            catch_up(fw, rq.now_ms);  // what was written before the change was filtered as before
            const size_t entries = std::min(d.tasks.size(), FILTERS_SIZE - 1);
            for (size_t i = 0; i < entries; ++i) d.filters[i] = rq.in[1 + i];
            return true;
        }
        case CMD_TOGGLE_LED:
            if (!sim_expect_length(rq, 1, an)) return true;
            if (rq.in[0] != 1) {
                an.result = SIM_BAD_ARGUMENT;
                return true;
            }
            d.led_on = !d.led_on;
            ++d.led_toggles;
            return true;
        default:
            return false;
    }
}

void sim_diag_after_request(sim_firmware& fw, uint64_t now_ms) { catch_up(fw, now_ms); }

void sim_diag_powered_up(sim_firmware& fw, uint64_t now_ms) {
    sim_diagnostics& d = fw.diag;
    // What lives in the firmware's RAM starts afresh; the log itself is kept.
    std::fill(std::begin(d.filters), std::end(d.filters), SIM_DEFAULT_FILTER);
    d.reading = false;
    d.cursor = 0;
    d.led_on = false;
    d.debug_clock_ms = now_ms;
    d.debug_carry = 0;
    for (size_t i = 0; i < d.tasks.size(); ++i) d.tasks[i].stack_top = d.tasks[i].stack_end + 1 - d.tasks[i].base_used;
    if (fw.mode == sim_mode::bootloader) return;
    sim_diag_write(d, TASK_MAIN, SIM_SEVERITY_INFO, "main", 120, "Restarted after reset");
}
