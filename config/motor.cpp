#include "config/motor.h"

#include "link/bytes.h"
#include "link/command_frame.h"
#include "link/commands.h"
#include "platform/registry.h"
#include "sampler/run_settings.h"

#include <algorithm>
#include <cstring>

const combo_row MOTOR_ROWS[MOTOR_ROW_COUNT] = {
    {1, "Cartridge Load"}, {2, "Sample Engage"}, {3, "Stabilizer Engage"}, {4, "Sample Pump"}, {5, "Stabilizer Pump"},
};
const combo_row MOTOR_DIRECTION_ROWS[MOTOR_DIRECTION_ROW_COUNT] = {{0, "Forwards"}, {1, "Reverse"}};
const combo_row AUTOSTOP_ROWS[AUTOSTOP_ROW_COUNT] = {
    {AUTOSTOP_NONE, "None"}, {AUTOSTOP_HALL1, "Hall1"}, {AUTOSTOP_HALL2, "Hall2"}, {AUTOSTOP_HALL3, "Hall3"},
    {AUTOSTOP_FLOW, "Flow"},
};
const combo_row AUTOSTOP2_ROWS[AUTOSTOP2_ROW_COUNT] = {{AUTOSTOP_NONE, "None"}, {AUTOSTOP_PRESSURE, "Pressure"}};

namespace {

constexpr const char* MOTOR_ID_VALUE = "motor_id";

uint16_t limit16(uint64_t v, uint32_t max) { return uint16_t(std::min<uint64_t>(v, max)); }

int simple(uint16_t code, uint8_t length, uint8_t byte0) {
    command_frame f;
    frame_prepare(f, code, length);
    if (length) frame_payload(f)[0] = byte0;
    return command_exchange(f);
}

}  // namespace

uint16_t motor_u16(const motor_config& c, size_t offset) { return get_u16le(c.bytes + offset); }
void motor_set_u16(motor_config& c, size_t offset, uint16_t value) { put_u16le(c.bytes + offset, value); }

motor_field_values motor_field_values_of(const motor_config& c) {
    motor_field_values v;
    v.speed = motor_u16(c, MOTOR_SPEED);
    v.hall_engaged = motor_u16(c, MOTOR_HALL_ENGAGED);
    v.hall_disengaged = motor_u16(c, MOTOR_HALL_DISENGAGED);
    v.max_pressure = c.bytes[MOTOR_MAX_PRESSURE];
    v.overpressure_timeout = motor_u16(c, MOTOR_OVERPRESSURE_TIMEOUT);
    return v;
}

void motor_apply_fields(motor_config& c, const motor_field_values& v) {
    motor_set_u16(c, MOTOR_SPEED, limit16(v.speed, MOTOR_SPEED_MAX));
    motor_set_u16(c, MOTOR_HALL_ENGAGED, limit16(v.hall_engaged, MOTOR_HALL_MAX));
    motor_set_u16(c, MOTOR_HALL_DISENGAGED, limit16(v.hall_disengaged, MOTOR_HALL_MAX));
    c.bytes[MOTOR_MAX_PRESSURE] = uint8_t(std::min<uint64_t>(v.max_pressure, MOTOR_PRESSURE_MAX));
    motor_set_u16(c, MOTOR_OVERPRESSURE_TIMEOUT, limit16(v.overpressure_timeout, MOTOR_TIMEOUT_MAX));
}

motor_field_check motor_check_fields(int motor, uint32_t autostop2, const motor_field_texts& t) {
    motor_field_check check;
    check.speed = !field_rule_accepts(MOTOR_SPEED_RULE, t.speed);
    if (!motor_is_pump(motor)) {
        check.hall_engaged = !field_rule_accepts(MOTOR_HALL_RULE, t.hall_engaged);
        check.hall_disengaged = !field_rule_accepts(MOTOR_HALL_RULE, t.hall_disengaged);
    } else if (autostop2 == AUTOSTOP_PRESSURE) {
        check.max_pressure = !field_rule_accepts(MOTOR_PRESSURE_RULE, t.max_pressure);
        check.overpressure_timeout = !field_rule_accepts(MOTOR_TIMEOUT_RULE, t.overpressure_timeout);
    }
    return check;
}

motor_controls motor_control_rules(int motor, uint32_t a, uint32_t b, bool moving, bool fields_invalid,
                                   bool flow_volume_ok, bool flow_timeout_ok) {
    const bool pump = motor_is_pump(motor);
    motor_controls c{};
    c.motor_combo = !fields_invalid && !moving;
    c.save = !fields_invalid;
    c.slider = !moving;
    c.left_autostop = !moving;
    c.right_autostop = pump && !moving;
    c.hall_fields = !pump && !moving;
    // Only the pressure autostop uses them: a code without a row (0xFF of a fresh record) does not.
    c.pressure_fields = pump && !moving && b == AUTOSTOP_PRESSURE;
    c.flow_volume = pump && !fields_invalid && motor == MOTOR_SAMPLE_PUMP && a == AUTOSTOP_FLOW;
    c.flow_timeout = pump && !fields_invalid;
    c.test1 = !fields_invalid;
    // A pump test waits for a volume and a timeout it can send; its Stop never waits.
    if (pump && !moving) c.test1 = c.test1 && (!c.flow_volume || flow_volume_ok) && flow_timeout_ok;
    c.test2 = !pump && !fields_invalid;
    c.direction_label = pump ? "Pumping Motor Direction" : "Engaging Motor Direction";
    c.forwards_text = moving ? "Stop" : "Forwards";
    c.reverse_text = moving ? "Stop" : "Reverse";
    c.test1_text = moving ? "Stop" : pump ? "Pump" : "Engage";
    c.test2_text = moving ? "Stop" : "Disengage";
    return c;
}

uint16_t motor_hall_reading(const sensor_sample& s, uint32_t autostop) {
    switch (autostop) {
        case AUTOSTOP_HALL1: return get_u16le(s.bytes + 18);
        case AUTOSTOP_HALL2: return get_u16le(s.bytes + 20);
        default: return get_u16le(s.bytes + 22);
    }
}

uint16_t motor_flow_timeout_seconds(uint64_t minutes) {
    return uint16_t(std::min<uint64_t>(minutes, MOTOR_FLOW_TIMEOUT_MAX_MIN) * 60);
}

int motor_id_load() {
    char key[80];
    settings_key_path(key);
    uint32_t id = 0;
    if (registry_get_dword(key, MOTOR_ID_VALUE, &id) != 0 || !motor_id_valid(int(std::min<uint32_t>(id, 99)))) return 1;
    return int(id);
}

int motor_id_save(int id) { return registry_write_dword(uint32_t(id), MOTOR_ID_VALUE); }

int motor_config_get(uint8_t id, motor_config& out) {
    command_frame f;
    frame_prepare(f, CMD_GET_MOTOR_CONFIG, 1);
    frame_payload(f)[0] = id;
    const int r = command_read(f, MOTOR_CONFIG_SIZE);
    if (r == 0) std::memcpy(out.bytes, frame_payload(f), MOTOR_CONFIG_SIZE);
    return r;
}

int motor_config_set(uint8_t id, const motor_config& c) {
    command_frame f;
    frame_prepare(f, CMD_SET_MOTOR_CONFIG, uint8_t(1 + MOTOR_CONFIG_SIZE));
    frame_payload(f)[0] = id;
    std::memcpy(frame_payload(f) + 1, c.bytes, MOTOR_CONFIG_SIZE);
    return command_exchange(f);
}

int motor_run(uint8_t id, uint8_t direction, uint16_t speed) {
    command_frame f;
    frame_prepare(f, CMD_MOTOR_RUN, 24);
    uint8_t* p = frame_payload(f);
    p[0] = 0;
    p[1] = id;
    p[2] = direction;
    put_u16le(p + 3, speed);
    return command_exchange(f);
}

int motor_stop() { return simple(CMD_MOTOR_STOP, 0, 0); }
int motor_engage(uint8_t id) { return simple(CMD_MOTOR_ENGAGE, 1, id); }
int motor_disengage(uint8_t id) { return simple(CMD_MOTOR_DISENGAGE, 1, id); }
int motor_close() { return simple(CMD_MOTOR_CLOSE, 1, 0); }

int motor_pump(uint8_t id, float litres, uint16_t timeout_s) {
    command_frame f;
    frame_prepare(f, CMD_MOTOR_PUMP, 8);
    uint8_t* p = frame_payload(f);
    p[0] = id;
    p[1] = 0;
    put_f32le(p + 2, litres);
    put_u16le(p + 6, timeout_s);
    return command_exchange(f);
}

int motor_config_save(uint8_t id, const motor_config& c) {
    if (const int r = motor_config_set(id, c); r != 0) return r;
    motor_config back;
    if (const int r = motor_config_get(id, back); r != 0) return r;
    return std::memcmp(back.bytes, c.bytes, MOTOR_CONFIG_SIZE) == 0 ? 0 : MOTOR_SAVE_MISMATCH;
}
