#include "sampler/run_status.h"

#include "link/bytes.h"
#include "link/command_frame.h"
#include "link/commands.h"
#include "link/device_time.h"
#include "link/field_text.h"
#include "sampler/run_settings.h"

#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <string>

int status_read(status_record& out) {
    command_frame f;
    frame_prepare(f, CMD_GET_STATUS, 0);
    const int r = command_read(f, STATUS_RECORD_SIZE);
    if (r == 0) std::memcpy(out.bytes, frame_payload(f), STATUS_RECORD_SIZE);
    return r;
}

uint8_t status_state(const status_record& s) { return s.bytes[1]; }
uint8_t status_control(const status_record& s) { return s.bytes[2]; }
bool status_previous_errors(const status_record& s) { return s.bytes[3] != 0; }
float status_supply_voltage(const status_record& s) { return get_f32le(s.bytes + 4); }
float status_temperature(const status_record& s) { return get_f32le(s.bytes + 8); }
float status_humidity(const status_record& s) { return get_f32le(s.bytes + 12); }
float status_flow_volume(const status_record& s) { return get_f32le(s.bytes + 16); }
float status_max_pressure(const status_record& s) { return get_f32le(s.bytes + 20); }
uint32_t status_clock(const status_record& s) { return get_u32le(s.bytes + 24); }
uint32_t status_next_event(const status_record& s) { return get_u32le(s.bytes + 28); }
uint8_t status_waypoint(const status_record& s) { return s.bytes[32]; }
uint16_t status_cartridge(const status_record& s) { return get_u16le(s.bytes + 34); }

namespace {

std::string fmt(const char* format, ...) __attribute__((format(printf, 1, 2)));
std::string fmt(const char* format, ...) {
    char buf[256];
    va_list args;
    va_start(args, format);
    int n = text_vformat(buf, sizeof buf, format, args);
    va_end(args);
    return n < 0 ? std::string() : std::string(buf);
}

// A device time without its seconds: the first 16 characters of its text.
std::string minutes_text(uint32_t t) {
    char buf[21];
    return std::string(time_text(t, buf)).substr(0, 16);
}

}  // namespace

std::string run_state_text(uint8_t state, uint16_t id) {
    const unsigned sample = id, stabilizer = unsigned(uint16_t(id - 1));
    switch (state) {
        case STATE_IDLE: return "Sampler State: Idle";
        case STATE_LOADING: return "Sampler State: Loading Cartridge";
        case STATE_ENGAGING_SAMPLE: return fmt("Sampler State: Engaging Sample ID=%u", sample);
        case STATE_DISENGAGING_SAMPLE: return fmt("Sampler State: Disengaging Sample ID=%u", sample);
        case STATE_ENGAGING_STABILIZER: return fmt("Sampler State: Engaging Stabilizer ID=%u", stabilizer);
        case STATE_DISENGAGING_STABILIZER: return fmt("Sampler State: Disengaging Stabilizer ID=%u", stabilizer);
        case STATE_PUMPING_SAMPLE: return fmt("Sampler State: Pumping Sample ID=%u", sample);
        case STATE_PUMPING_STABILIZER: return fmt("Sampler State: Pumping Stabilizer ID=%u", stabilizer);
        case STATE_CLEANING: return "Sampler State: Cleaning";
        default: return "Sampler State: Unknown";
    }
}

const char* run_state_id(uint8_t state) {
    static const char* const IDS[] = {"unknown",           "unpowered",          "idle",
                                      "loading",           "engaging_sample",    "disengaging_sample",
                                      "engaging_stabilizer", "disengaging_stabilizer", "pumping_sample",
                                      "pumping_stabilizer", "cleaning"};
    return state <= STATE_CLEANING ? IDS[state] : "unknown";
}

run_status_texts run_status_format(const status_record& s) {
    run_status_texts t;
    const uint8_t state = status_state(s);
    const uint16_t id = status_cartridge(s);
    t.cartridge = state == STATE_UNPOWERED ? "unpowered" : fmt("Top Cartridge: %u", unsigned(id));
    t.clock = fmt("Sampler Clock Time Now: %s", minutes_text(status_clock(s)).c_str());
    if (state == STATE_UNPOWERED) {
        t.control = "Control:";
        t.waypoint = "Current Schedule Waypoint:";
        t.state = "Sampler State:";
        t.run_status = "Run Status:";
        t.flow = "Flow volume:";
        t.pressure = "Max pressure:";
        return t;
    }
    if (status_control(s) == SCHEDULE_CONTROL) {
        const uint32_t next = status_next_event(s);
        t.control = fmt("Control: Schedule (next event: %s)", next == 0 ? "none" : minutes_text(next).c_str());
        const unsigned waypoint = status_waypoint(s);
        t.waypoint = state == STATE_IDLE ? fmt("Next Schedule Waypoint: %u", waypoint + 1)
                                         : fmt("Current Schedule Waypoint: %u", waypoint);
    } else {
        t.control = "Control: Manual (GUI or vehicle)";
        t.waypoint = "Current Schedule Waypoint: not running schedule";
    }
    t.state = run_state_text(state, id);
    t.run_status = status_previous_errors(s) ? "Run Status: Errors in previous cartridge: see View/Diagnostics" : "Run Status: OK";
    t.flow = fmt("Flow volume: %.3f litre", double(status_flow_volume(s)));
    t.pressure = fmt("Max pressure: %.3f bar", double(status_max_pressure(s)));
    return t;
}

run_enables run_enable_rules(const status_record& s, uint8_t mode) {
    const uint8_t state = status_state(s), control = status_control(s);
    const bool manual_ready = (state == STATE_UNPOWERED || state == STATE_IDLE) && control != SCHEDULE_CONTROL;
    const bool start_ready = state == STATE_IDLE && control != SCHEDULE_CONTROL;
    const bool running = state > STATE_IDLE || control == SCHEDULE_CONTROL;
    run_enables e{};
    e.mode_box = e.clear_log = manual_ready;
    e.mode_label = e.start = start_ready;
    e.cartridges = manual_ready && mode != SCHEDULE_CONTROL;
    e.volume = e.timeout = e.clean = manual_ready && mode == 1;
    e.stop = running;
    e.running = running ? 1 : 0;
    return e;
}
