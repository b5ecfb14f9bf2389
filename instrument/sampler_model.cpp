#include "instrument/sampler_model.h"

#include "instrument/firmware.h"
#include "link/bytes.h"
#include "link/commands.h"
#include "link/device_time.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>

namespace {

constexpr uint8_t IDLE = 2, LOADING = 3, ENGAGE_SAMPLE = 4, DISENGAGE_SAMPLE = 5, ENGAGE_STAB = 6,
                  DISENGAGE_STAB = 7, PUMP_SAMPLE = 8, PUMP_STAB = 9, CLEANING = 10;
constexpr uint64_t MOVE_MS = 1500;

float pressure_at(double seconds) { return float(0.6 + 1.2 * (1.0 - std::exp(-seconds / 4.0)) + 0.05 * std::sin(seconds * 1.7)); }

const char* phase_name(uint8_t state) {
    switch (state) {
        case LOADING: return "Loading Cartridge";
        case ENGAGE_SAMPLE: return "Engaging Sample";
        case DISENGAGE_SAMPLE: return "Disengaging Sample";
        case ENGAGE_STAB: return "Engaging Stabilizer";
        case DISENGAGE_STAB: return "Disengaging Stabilizer";
        case PUMP_SAMPLE: return "Pumping Sample";
        case PUMP_STAB: return "Pumping Stabilizer";
        case CLEANING: return "Cleaning";
        default: return "Idle";
    }
}

// "dd/mm/yyyy hh:mm:ss" of a device time, for what the sampler says.
void format_time(uint32_t t, char (&out)[32]) {
    char text[21];
    std::snprintf(out, sizeof out, "%s", time_text(t, text));
}

const char* stop_reason_name(uint8_t reason) {
    switch (reason) {
        case 1: return "cancelled";
        case 5: return "timeout";
        case 6: return "complete";
        default: return "none";
    }
}

}  // namespace

void sim_sampler::say(uint64_t at_ms, uint8_t severity, const char* function, int32_t line, std::string message) {
    events.push_back({at_ms, severity, SIM_TASK_SAMPLER, function, line, std::move(message)});
}

uint64_t sim_sampler::phase_end() const { return phase_start_ms + plan[phase].duration_ms; }

void sim_sampler::begin_cartridge(uint64_t now_ms) {
    plan.clear();
    plan.push_back({LOADING, MOVE_MS});
    if (mode == 1) {
        uint64_t pump_ms = uint64_t(target_volume / flow_rate * 1000.0f);
        timed_out = timeout_s != 0 && pump_ms > uint64_t(timeout_s) * 1000;
        if (timed_out) pump_ms = uint64_t(timeout_s) * 1000;
        plan.insert(plan.end(), {{ENGAGE_SAMPLE, MOVE_MS}, {PUMP_SAMPLE, std::max<uint64_t>(pump_ms, 1)},
                                 {DISENGAGE_SAMPLE, MOVE_MS}, {ENGAGE_STAB, MOVE_MS}, {PUMP_STAB, 2000},
                                 {DISENGAGE_STAB, MOVE_MS}});
        if (clean) plan.push_back({CLEANING, 2500});
    } else if (mode == 2) {
        timed_out = false;
        plan.insert(plan.end(), {{ENGAGE_STAB, MOVE_MS}, {PUMP_STAB, 3000}, {DISENGAGE_STAB, MOVE_MS}});
    } else {
        timed_out = false;
    }
    phase = 0;
    phase_start_ms = now_ms;
    cartridge_start_ms = now_ms;
    flow_volume = 0;
    max_pressure = 0;
    state = plan[0].state;
    say(now_ms, SIM_SEVERITY_INFO, "begin_cartridge", 212, "Cartridge " + std::to_string(top_cartridge) + ": " + phase_name(state));
}

void sim_sampler::update_pumping(uint64_t now_ms) {
    if (state != PUMP_SAMPLE) return;
    const double t = double(std::min(now_ms, phase_end()) - phase_start_ms) / 1000.0;
    flow_volume = float(flow_rate * t);
    for (double s = 0; s <= t; s += 0.25) max_pressure = std::max(max_pressure, pressure_at(s));
}

void sim_sampler::finish_cartridge(uint64_t end_ms, bool cancelled) {
    sim_sample_record r{};
    r.cartridge_id = top_cartridge;
    r.start_time = clock(cartridge_start_ms);
    r.duration = uint32_t((end_ms - cartridge_start_ms) / 1000);
    r.volume = flow_volume;
    r.max_pressure = max_pressure;
    if (mode == 1) {
        const bool pumped = flow_volume > 0;
        if (cancelled) {
            r.treatment = pumped ? 1 : 0;
            r.stop_reason = 1;
        } else {
            r.treatment = timed_out ? 6 : 3;
            r.stop_reason = timed_out ? 5 : 6;
        }
        error_flag = timed_out || cancelled ? 1 : 0;
    } else if (mode == 2) {
        r.treatment = cancelled ? 0 : 5;
        r.stop_reason = cancelled ? 1 : 6;
    } else {
        r.treatment = 0;
        r.stop_reason = cancelled ? 1 : 0;
    }
    log.push_back(r);
    say(end_ms, r.stop_reason == 5 || cancelled ? SIM_SEVERITY_ERROR : SIM_SEVERITY_INFO, "finish_cartridge", 268,
        "Cartridge " + std::to_string(r.cartridge_id) + " stopped: " + stop_reason_name(r.stop_reason));
    top_cartridge = uint16_t(top_cartridge + (mode == 1 ? 2 : 1));
}

void sim_sampler::abort_run(uint64_t now_ms) {
    update_pumping(now_ms);
    finish_cartridge(now_ms, true);
    cartridges_left = 0;
    from_schedule = false;
    state = IDLE;
}

uint32_t sim_sampler::event_time(size_t i) const {
    return schedule_base + schedule_plan.waypoints[i].offset_min * 60u;
}

uint64_t sim_sampler::event_start_ms(uint32_t t, uint64_t now_ms) const {
    uint64_t at = uint64_t(uint32_t(t - clock_base)) * 1000;
    if (at > now_ms) at = now_ms;  // the clock was set past the event
    return std::max(at, idle_since_ms);
}

void sim_sampler::fire_waypoint(uint64_t now_ms) {
    const uint64_t at = event_start_ms(next_event, now_ms);
    const sim_waypoint w = schedule_plan.waypoints[next_waypoint];
    ++next_waypoint;
    waypoint = uint8_t(next_waypoint);
    next_event = next_waypoint < schedule_plan.waypoints.size() ? event_time(next_waypoint) : 0;
    char volume[16];
    std::snprintf(volume, sizeof volume, "%u.%u", unsigned(w.volume_tenths / 10), unsigned(w.volume_tenths % 10));
    say(at, SIM_SEVERITY_INFO, "schedule_event", 331,
        "Waypoint " + std::to_string(next_waypoint) + ": " + std::to_string(w.samples) + " samples of " + volume +
            " litre" + (w.clean ? ", cleaning" : ""));
    if (w.samples == 0) {
        idle_since_ms = at;
        if (next_event == 0) say(at, SIM_SEVERITY_INFO, "schedule_event", 336, "Schedule complete");
        return;
    }
    mode = 1;
    cartridges_left = w.samples;
    target_volume = w.volume_tenths / 10.0f;
    timeout_s = uint32_t(w.timeout_min) * 60;
    clean = w.clean;
    from_schedule = true;
    begin_cartridge(at);  // phases run from the event time, catching up
}

uint64_t sim_sampler::reach(uint64_t now_ms) {
    // Callers carry times of their own (a request's, the panel's reading of the clock, the time
    // of the last request kept by the firmware): one behind what the sampler has reached is
    // taken as that, or a phase would end before it began.
    reached_ms = std::max(reached_ms, now_ms);
    return reached_ms;
}

void sim_sampler::advance(uint64_t now_ms) {
    now_ms = reach(now_ms);
    for (;;) {
        if (!powered) return;
        if (running()) {
            update_pumping(now_ms);
            if (now_ms < phase_end()) return;
            const uint64_t end = phase_end();
            if (phase + 1 < plan.size()) {
                ++phase;
                phase_start_ms = end;
                state = plan[phase].state;
                say(end, SIM_SEVERITY_INFO, "advance", 305, std::string("Phase: ") + phase_name(state));
                continue;
            }
            finish_cartridge(end, false);
            if (--cartridges_left > 0) {
                begin_cartridge(end);
                continue;
            }
            state = IDLE;
            idle_since_ms = end;
            if (from_schedule) {
                from_schedule = false;
                if (next_event == 0) say(end, SIM_SEVERITY_INFO, "advance", 322, "Schedule complete");
            }
            continue;
        }
        // Idle under the schedule: the next waypoint's event starts its samples.
        if (control == 0xFF && next_event != 0 && clock(now_ms) >= next_event) {
            fire_waypoint(now_ms);
            continue;
        }
        return;
    }
}

uint8_t sim_sampler::start_run(const uint8_t* s, uint64_t now_ms) {
    now_ms = reach(now_ms);
    advance(now_ms);
    const uint8_t refused = !powered ? 2 : running() || control == 0xFF ? 3 : s[1] > 2 ? 4 : 0;
    if (refused) {
        say(now_ms, SIM_SEVERITY_ERROR, "start_run", 388, "Start refused (" + std::to_string(refused) + ")");
        return refused;
    }
    say(now_ms, SIM_SEVERITY_INFO, "start_run", 392,
        "Run started: mode " + std::to_string(s[1]) + ", " + std::to_string(std::max<int>(s[2], 1)) + " cartridges");
    mode = s[1];
    cartridges_left = std::max<int>(s[2], 1);
    target_volume = s[3] / 10.0f;
    timeout_s = uint32_t(s[4]) * 60;
    clean = s[5] != 0;
    from_schedule = false;
    begin_cartridge(now_ms);
    return 0;
}

uint8_t sim_sampler::stop_run(uint64_t now_ms) {
    now_ms = reach(now_ms);
    advance(now_ms);
    if (!powered) return 2;
    if (running()) abort_run(now_ms);
    return 0;
}

uint8_t sim_sampler::start_schedule(uint64_t now_ms, const sim_schedule_plan& p, bool autostart) {
    now_ms = reach(now_ms);
    advance(now_ms);
    if (!powered) return 2;
    if (running()) return 3;
    control = 0xFF;
    schedule_plan = p;
    schedule_base = std::max(p.start, clock(now_ms));
    next_waypoint = 0;
    waypoint = 0;
    idle_since_ms = now_ms;
    next_event = p.waypoints.empty() ? 0 : event_time(0);
    char base[32];
    format_time(schedule_base, base);
    say(now_ms, SIM_SEVERITY_INFO, "start_schedule", 421,
        std::string(autostart ? "Schedule autostarted at power-up" : "Schedule started") + ": " +
            std::to_string(p.waypoints.size()) + " waypoints from " + base);
    return 0;
}

uint8_t sim_sampler::stop_schedule(uint64_t now_ms) {
    now_ms = reach(now_ms);
    advance(now_ms);
    if (!powered) return 2;
    if (running() && from_schedule) abort_run(now_ms);
    if (control == 0xFF) say(now_ms, SIM_SEVERITY_INFO, "stop_schedule", 436, "Schedule stopped");
    control = 0;
    next_event = 0;
    schedule_plan = {};
    return 0;
}

void sim_sampler::set_power(bool on, uint64_t now_ms) {
    now_ms = reach(now_ms);
    advance(now_ms);
    if (on == powered) return;
    if (!on && running()) abort_run(now_ms);
    say(now_ms, on ? SIM_SEVERITY_INFO : SIM_SEVERITY_ERROR, "set_power", 455, on ? "Power restored" : "Power lost");
    powered = on;
    state = on ? IDLE : 1;
    if (!on) {
        control = 0;
        next_event = 0;
        from_schedule = false;
    }
}

void sim_sampler::set_clock(uint32_t t, uint64_t now_ms) {
    now_ms = reach(now_ms);
    advance(now_ms);
    clock_base = t - uint32_t(now_ms / 1000);
    idle_since_ms = std::max(idle_since_ms, now_ms);  // an event skipped over starts now, not in the past
    char text[32];
    format_time(t, text);
    say(now_ms, SIM_SEVERITY_INFO, "set_clock", 470, std::string("Clock set to ") + text);
    advance(now_ms);  // an event the new time has reached starts now
}

void sim_sampler::fill_status(uint8_t out[36], uint64_t now_ms) {
    now_ms = reach(now_ms);
    advance(now_ms);
    std::memset(out, 0, 36);
    out[1] = state;
    out[2] = control;
    out[3] = error_flag;
    const double t = double(now_ms) / 1000.0;
    put_f32le(out + 4, powered ? float(12.2 + 0.05 * std::sin(t / 7.0)) : 0.0f);
    put_f32le(out + 8, float(17.5 + 0.3 * std::sin(t / 30.0)));
    put_f32le(out + 12, float(45.0 + 2.0 * std::sin(t / 45.0)));
    put_f32le(out + 16, flow_volume);
    put_f32le(out + 20, max_pressure);
    put_u32le(out + 24, clock(now_ms));
    put_u32le(out + 28, next_event);
    out[32] = waypoint;
    put_u16le(out + 34, top_cartridge);
    for (int i = 0; i < SIM_READING_COUNT; ++i)
        if (forced_readings[i]) put_f32le(out + 4 + 4 * i, *forced_readings[i]);
}

void sim_sampler::fill_record(size_t index, uint8_t out[34]) const {
    std::memset(out, 0, 34);
    const sim_sample_record& r = log[index];
    put_u32le(out, uint32_t(index));
    put_u16le(out + 4, r.cartridge_id);
    out[14] = r.treatment;
    out[15] = r.stop_reason;
    put_u32le(out + 16, r.start_time);
    put_u32le(out + 20, r.duration);
    put_f32le(out + 24, r.volume);
    put_f32le(out + 28, r.max_pressure);
}

void sim_sampler::fill_log(int n, uint64_t now_ms) {
    now_ms = reach(now_ms);
    uint32_t start = clock(now_ms) - uint32_t(n) * 900;
    for (int i = 0; i < n; ++i) {
        sim_sample_record r{};
        r.cartridge_id = top_cartridge;
        top_cartridge = uint16_t(top_cartridge + 2);
        r.treatment = i % 7 == 6 ? 6 : 3;
        r.stop_reason = i % 7 == 6 ? 5 : 6;
        r.start_time = start + uint32_t(i) * 900;
        r.duration = 20 + uint32_t(i % 5);
        r.volume = 2.5f - (i % 7 == 6 ? 0.75f : 0.0f);
        r.max_pressure = 1.7f + 0.01f * float(i % 10);
        log.push_back(r);
    }
}

bool sim_sampler_handle(sim_firmware& fw, const sim_request& rq, sim_answer& an) {
    sim_sampler& sampler = fw.sampler;
    switch (rq.code) {
        case CMD_GET_STATUS:
            sampler.fill_status(an.out, rq.now_ms);
            an.length = 36;
            return true;
        case CMD_START_RUN:
            an.result = sampler.start_run(rq.in, rq.now_ms);
            return true;
        case CMD_STOP_RUN:
            an.result = sampler.stop_run(rq.now_ms);
            return true;
        case CMD_START_SCHEDULE:
            if (!sim_expect_length(rq, 0, an)) return true;
            an.result = sampler.start_schedule(rq.now_ms, sim_schedule_plan_of(fw.schedule));
            return true;
        case CMD_STOP_SCHEDULE:
            if (!sim_expect_length(rq, 0, an)) return true;
            an.result = sampler.stop_schedule(rq.now_ms);
            return true;
        case CMD_READ_SAMPLE_RECORD: {
            sampler.advance(rq.now_ms);
            const uint16_t index = get_u16le(rq.in);
            if (index >= sampler.log.size()) {
                an.result = RESULT_UNSUPPORTED;  // no such record: the end of the log
                return true;
            }
            sampler.fill_record(index, an.out);
            an.length = 34;
            return true;
        }
        case CMD_CLEAR_SAMPLE_LOG:
            sampler.log.clear();
            return true;
        default:
            return false;
    }
}
