#include "instrument/motor_model.h"

#include "instrument/firmware.h"
#include "link/bytes.h"
#include "link/commands.h"

#include <algorithm>
#include <cmath>
#include <cstring>

namespace {

// Hall sensors read 150 at one end stop and 3950 at the other.
constexpr double HALL_AT_START = 150.0;
constexpr double HALL_SPAN = 3800.0;
constexpr double ADC_COUNTS_PER_VOLT = 4096.0 / 5.0;
constexpr uint16_t SUPPLY_MV = 12400;

// Offsets in a motor record.
constexpr size_t DIRECTION = 1, AUTOSTOP = 2, AUTOSTOP2 = 3, MAX_PRESSURE = 4, OVER_TIMEOUT = 5, HALL_ENGAGED = 7,
                 HALL_DISENGAGED = 9, SPEED = 11;
constexpr uint8_t HALL1 = 1, HALL3 = 3, FLOW = 5, PRESSURE = 6;

bool engaging_motor(int id) { return id >= 1 && id <= 3; }
bool pump_motor(int id) { return id == 4 || id == 5; }

double hall_of(double position_mm) { return HALL_AT_START + position_mm / SIM_MOTOR_TRAVEL_MM * HALL_SPAN; }

double speed_of(const sim_motor& m) { return std::min<double>(get_u16le(m.config + SPEED), 100.0); }

void stop(sim_motor& m, sim_motor_stop why) {
    if (!m.running()) return;
    m.activity = sim_motor_activity::idle;
    m.last_stop = why;
    m.has_target = false;
}

// An engaging motor from `from` to `to`: moves, stops at its target or its end stop.
void step_engaging(sim_motor& m, uint64_t from, uint64_t to) {
    const double velocity = m.speed_pct / 100.0 * SIM_MOTOR_FULL_SPEED_MM_S * (m.reverse ? -1.0 : 1.0);
    double pos = m.position_mm + velocity * double(to - from) / 1000.0;
    if (m.has_target && ((velocity > 0 && pos >= m.target_mm) || (velocity < 0 && pos <= m.target_mm))) {
        m.position_mm = m.target_mm;
        m.at_end_stop = m.target_mm <= 0.0 || m.target_mm >= SIM_MOTOR_TRAVEL_MM;
        stop(m, sim_motor_stop::set_point);
        return;
    }
    m.at_end_stop = pos <= 0.0 || pos >= SIM_MOTOR_TRAVEL_MM;
    m.position_mm = std::clamp(pos, 0.0, SIM_MOTOR_TRAVEL_MM);
    // A manual run has no autostop: it goes on pushing against the stop until told to stop.
    if (m.at_end_stop && m.activity != sim_motor_activity::manual) stop(m, sim_motor_stop::end_stop);
}

// A pump from `from` to `to`: adds volume, stops at the first of its limits to be reached.
void step_pump(sim_motor& m, int id, double line_bar, uint64_t from, uint64_t to) {
    if (m.activity == sim_motor_activity::manual) {
        m.volume_l += m.speed_pct / 100.0 * SIM_PUMP_FULL_RATE_L_S * double(to - from) / 1000.0;
        return;
    }
    const double rate = m.speed_pct / 100.0 * SIM_PUMP_FULL_RATE_L_S;  // l/s
    uint64_t end = to;
    sim_motor_stop why = sim_motor_stop::none;
    // Only the sample pump has a flow meter behind it: only it can stop on its volume.
    if (m.config[AUTOSTOP] == FLOW && id == 4) {
        if (m.volume_l >= m.target_volume_l) {
            end = from;
            why = sim_motor_stop::volume;
        } else if (rate > 0) {
            const uint64_t at = from + uint64_t(std::ceil((m.target_volume_l - m.volume_l) / rate * 1000.0));
            if (at <= end) {
                end = at;
                why = sim_motor_stop::volume;
            }
        }
    }
    if (m.timeout_ms > 0) {
        const uint64_t at = std::max(from, m.started_ms + m.timeout_ms);
        if (at < end || (at == end && why == sim_motor_stop::none)) {
            end = at;
            why = sim_motor_stop::timeout;
        }
    }
    if (m.config[AUTOSTOP2] == PRESSURE) {
        const bool over = line_bar > double(m.config[MAX_PRESSURE]);
        if (over && !m.over_pressure) m.over_since_ms = from;
        m.over_pressure = over;
        if (over) {
            const uint64_t at = std::max(from, m.over_since_ms + uint64_t(get_u16le(m.config + OVER_TIMEOUT)) * 1000);
            if (at < end || (at == end && why == sim_motor_stop::none)) {
                end = at;
                why = sim_motor_stop::pressure;
            }
        }
    }
    m.volume_l += rate * double(end - from) / 1000.0;
    if (why == sim_motor_stop::volume) m.volume_l = std::max(m.volume_l, m.target_volume_l);
    if (why != sim_motor_stop::none) stop(m, why);
}

void set_config(sim_motor& m, uint8_t device, uint8_t direction, uint8_t autostop, uint8_t autostop2, uint8_t max_bar,
                uint16_t timeout_s, uint16_t engaged, uint16_t disengaged, uint16_t speed) {
    m.config[0] = device;
    m.config[DIRECTION] = direction;
    m.config[AUTOSTOP] = autostop;
    m.config[AUTOSTOP2] = autostop2;
    m.config[MAX_PRESSURE] = max_bar;
    put_u16le(m.config + OVER_TIMEOUT, timeout_s);
    put_u16le(m.config + HALL_ENGAGED, engaged);
    put_u16le(m.config + HALL_DISENGAGED, disengaged);
    put_u16le(m.config + SPEED, speed);
}

// Engage or disengage motor id with its saved configuration.
void start_engaging(sim_motors& s, int id, bool engage, uint64_t now_ms) {
    sim_motor& m = s.motor[id];
    m.activity = engage ? sim_motor_activity::engaging : sim_motor_activity::disengaging;
    m.last_stop = sim_motor_stop::none;
    m.speed_pct = speed_of(m);
    m.reverse = (m.config[DIRECTION] != 0) == engage;
    m.started_ms = now_ms;
    const uint8_t sensor = m.config[AUTOSTOP];
    // A Hall sensor watches its own motor's mechanism; one that watches another motor never
    // sees this one arrive, so the motor runs to its end stop.
    m.has_target = sensor >= HALL1 && sensor <= HALL3 && sensor == id;
    if (m.has_target) {
        m.target_mm = sim_hall_position(get_u16le(m.config + (engage ? HALL_ENGAGED : HALL_DISENGAGED)));
        const bool there = m.reverse ? m.position_mm <= m.target_mm : m.position_mm >= m.target_mm;
        if (there) stop(m, sim_motor_stop::set_point);
    }
}

}  // namespace

double sim_hall_position(double hall) {
    return std::clamp((hall - HALL_AT_START) / HALL_SPAN * SIM_MOTOR_TRAVEL_MM, 0.0, SIM_MOTOR_TRAVEL_MM);
}

sim_motors::sim_motors() {
    // As set up at the factory: each engaging motor watches its own Hall sensor; the sample
    // pump stops on its volume and on over-pressure, the stabilizer pump on over-pressure.
    set_config(motor[1], 0xC1, 0, 1, 0, 0, 0, 3500, 600, 60);
    set_config(motor[2], 0xC2, 0, 2, 0, 0, 0, 3400, 700, 50);
    set_config(motor[3], 0xC3, 1, 3, 0, 0, 0, 800, 3300, 50);
    set_config(motor[4], 0xC4, 0, 5, 6, 6, 10, 0, 0, 80);
    set_config(motor[5], 0xC5, 0, 0, 6, 4, 5, 0, 0, 40);
    // The mechanisms rest disengaged.
    for (int id = 1; id <= 3; ++id) motor[id].position_mm = sim_hall_position(get_u16le(motor[id].config + HALL_DISENGAGED));
}

int sim_motors::noise(int amplitude) {
    if (amplitude <= 0) return 0;
    noise_state ^= noise_state << 13;
    noise_state ^= noise_state >> 17;
    noise_state ^= noise_state << 5;
    return int(noise_state % uint32_t(2 * amplitude + 1)) - amplitude;
}

void sim_motors::advance(uint64_t now_ms) {
    if (now_ms <= last_ms) return;
    const double line_bar = line_pressure();
    for (int id = 1; id <= SIM_MOTOR_COUNT; ++id) {
        sim_motor& m = motor[id];
        if (!m.running()) continue;
        if (engaging_motor(id)) step_engaging(m, last_ms, now_ms);
        else step_pump(m, id, line_bar, last_ms, now_ms);
    }
    last_ms = now_ms;
}

void sim_motors::seed_blank() {
    for (int id = 1; id <= SIM_MOTOR_COUNT; ++id) std::memset(motor[id].config, 0xFF, SIM_MOTOR_CONFIG_SIZE);
}

double sim_motors::line_pressure() const {
    double head = 0;
    for (int id = 4; id <= 5; ++id)
        if (motor[id].running()) head = std::max(head, motor[id].speed_pct / 100.0 * SIM_PUMP_FULL_HEAD_BAR);
    return applied_bar + head;
}

double sim_motors::hall_exact(int sensor) const {
    return sensor >= 1 && sensor <= 3 ? hall_of(motor[sensor].position_mm) : 0.0;
}

uint16_t sim_motors::hall_read(int sensor) {
    const long v = std::lround(hall_exact(sensor)) + noise(hall_noise_counts);
    return uint16_t(std::clamp<long>(v, 0, 4095));
}

void sim_motors::fill_sample(uint8_t out[SIM_SENSOR_SAMPLE_SIZE]) {
    std::memset(out, 0, SIM_SENSOR_SAMPLE_SIZE);
    ++samples_read;
    put_u32le(out, samples_read);
    put_u32le(out + 4, uint32_t(std::lround(std::max(0.0, motor[4].volume_l) * 1000.0)));  // sample pump, ml
    const double volt = sensor_offset_v + sensor_v_per_bar * line_pressure();
    const long counts = std::lround(volt * ADC_COUNTS_PER_VOLT) + noise(pressure_noise_counts);
    put_u16le(out + 14, uint16_t(std::clamp<long>(long(reference_counts) + counts, 0, 4095)));
    put_u16le(out + 16, reference_counts);
    for (int k = 1; k <= 3; ++k) put_u16le(out + 16 + 2 * size_t(k), hall_read(k));
    put_u16le(out + 24, SUPPLY_MV);
}

void sim_motors::stop_all(sim_motor_stop why) {
    for (int id = 1; id <= SIM_MOTOR_COUNT; ++id) stop(motor[id], why);
}

bool sim_motor_handle(sim_firmware& fw, const sim_request& rq, sim_answer& an) {
    sim_motors& s = fw.motors;
    switch (rq.code) {
        case CMD_START_SENSORS: case CMD_STOP_SENSORS: case CMD_READ_SENSORS: case CMD_GET_MOTOR_CONFIG:
        case CMD_SET_MOTOR_CONFIG: case CMD_MOTOR_RUN: case CMD_MOTOR_STOP: case CMD_MOTOR_ENGAGE:
        case CMD_MOTOR_DISENGAGE: case CMD_MOTOR_PUMP: case CMD_MOTOR_CLOSE:
            break;
        default:
            return false;
    }
    s.advance(rq.now_ms);
    const uint8_t* in = rq.in;
    switch (rq.code) {
        case CMD_START_SENSORS:
            if (sim_expect_length(rq, 0, an)) s.sensors_on = true;
            break;
        case CMD_STOP_SENSORS:
            if (sim_expect_length(rq, 0, an)) s.sensors_on = false;
            break;
        case CMD_READ_SENSORS:
            if (!sim_expect_length(rq, 0, an)) break;
            if (!s.sensors_on) {
                an.result = SIM_RESULT_SENSORS_OFF;
                break;
            }
            s.fill_sample(an.out);
            an.length = SIM_SENSOR_SAMPLE_SIZE;
            break;
        case CMD_GET_MOTOR_CONFIG:
            if (!sim_expect_length(rq, 1, an)) break;
            if (!engaging_motor(in[0]) && !pump_motor(in[0])) {
                an.result = SIM_RESULT_BAD_MOTOR;
                break;
            }
            std::memcpy(an.out, s.motor[in[0]].config, SIM_MOTOR_CONFIG_SIZE);
            an.length = SIM_MOTOR_CONFIG_SIZE;
            break;
        case CMD_SET_MOTOR_CONFIG:
            if (!sim_expect_length(rq, 1 + SIM_MOTOR_CONFIG_SIZE, an)) break;
            if (!engaging_motor(in[0]) && !pump_motor(in[0])) {
                an.result = SIM_RESULT_BAD_MOTOR;
                break;
            }
            if (!s.ignore_config_writes) std::memcpy(s.motor[in[0]].config, in + 1, SIM_MOTOR_CONFIG_SIZE);
            break;
        case CMD_MOTOR_RUN: {
            if (!sim_expect_length(rq, 24, an)) break;
            const int id = in[1];
            const uint16_t speed = get_u16le(in + 3);
            if (!engaging_motor(id) && !pump_motor(id)) {
                an.result = SIM_RESULT_BAD_MOTOR;
                break;
            }
            if (in[2] > 1 || speed > 100) {
                an.result = SIM_RESULT_BAD_VALUE;
                break;
            }
            sim_motor& m = s.motor[id];
            m.activity = sim_motor_activity::manual;
            m.last_stop = sim_motor_stop::none;
            m.reverse = in[2] == 1;
            m.speed_pct = speed;
            m.has_target = false;
            m.started_ms = rq.now_ms;
            if (pump_motor(id)) m.volume_l = 0;
            break;
        }
        case CMD_MOTOR_STOP:
            if (sim_expect_length(rq, 0, an)) s.stop_all(sim_motor_stop::command);
            break;
        case CMD_MOTOR_ENGAGE:
        case CMD_MOTOR_DISENGAGE:
            if (!sim_expect_length(rq, 1, an)) break;
            if (!engaging_motor(in[0])) {
                an.result = SIM_RESULT_BAD_MOTOR;
                break;
            }
            start_engaging(s, in[0], rq.code == CMD_MOTOR_ENGAGE, rq.now_ms);
            break;
        case CMD_MOTOR_PUMP: {
            if (!sim_expect_length(rq, 8, an)) break;
            if (!pump_motor(in[0])) {
                an.result = SIM_RESULT_BAD_MOTOR;
                break;
            }
            const float litres = get_f32le(in + 2);
            if (!std::isfinite(litres) || litres < 0) {
                an.result = SIM_RESULT_BAD_VALUE;
                break;
            }
            sim_motor& m = s.motor[in[0]];
            m.activity = sim_motor_activity::pumping;
            m.last_stop = sim_motor_stop::none;
            m.reverse = m.config[DIRECTION] != 0;
            m.speed_pct = speed_of(m);
            m.volume_l = 0;
            m.target_volume_l = litres;
            m.timeout_ms = uint64_t(get_u16le(in + 6)) * 1000;
            m.started_ms = rq.now_ms;
            m.over_pressure = false;
            // A limit reached already stops it at once.
            step_pump(m, in[0], s.line_pressure(), rq.now_ms, rq.now_ms);
            break;
        }
        case CMD_MOTOR_CLOSE:
            if (!sim_expect_length(rq, 1, an)) break;
            s.stop_all(sim_motor_stop::closed);
            ++s.closes;
            break;
        default:
            break;
    }
    return true;
}
