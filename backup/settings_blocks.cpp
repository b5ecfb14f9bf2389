#include "backup/settings_blocks.h"

#include "config/cleaning.h"
#include "config/factory.h"
#include "config/flow_meter.h"
#include "config/identification.h"
#include "config/motor.h"
#include "config/pressure.h"
#include "config/rs232.h"
#include "link/bytes.h"
#include "link/command_frame.h"
#include "link/field_text.h"
#include "link/identity.h"
#include "sampler/run_settings.h"
#include "sampler/schedule.h"

#include <algorithm>
#include <cmath>
#include <cstring>

namespace {

const char* const BLOCK_NAMES[SETTINGS_BLOCK_COUNT] = {"flow-meter", "cleaning", "rs232",   "identification",
                                                       "motors",     "pressure", "schedule"};

size_t block_size_of(settings_block_id id) {
    switch (id) {
        case BLOCK_FLOW_METER: return CONFIG_BLOCK_FLOW_SIZE;
        case BLOCK_CLEANING: return CLEANING_CONFIG_SIZE;
        case BLOCK_RS232: return RS232_CONFIG_SIZE;
        case BLOCK_IDENTIFICATION: return DEVICE_INFO_SIZE;
        case BLOCK_MOTORS: return MOTOR_CONFIG_SIZE * MOTOR_ID_LAST;
        case BLOCK_PRESSURE: return CONFIG_BLOCK_PRESSURE_SIZE;
        case BLOCK_SCHEDULE: return SCHEDULE_RECORD_SIZE;
    }
    return 0;
}

// A code and the identifier that names it in documents.
struct code_name {
    uint32_t code;
    const char* name;
};
const std::vector<code_name> PARITY_NAMES = {{RS232_PARITY_NONE, "none"}, {0, "even"}, {1, "odd"}, {2, "space"}, {3, "mark"}};
const std::vector<code_name> PROTOCOL_NAMES = {{RS232_PROTOCOL_NONE, "none"},
                                               {RS232_PROTOCOL_DU232ZI, "du232zi"},
                                               {RS232_PROTOCOL_KESTRAVO, "kestravo"},
                                               {RS232_PROTOCOL_DRIFTLINE, "driftline"}};
const std::vector<code_name> DIRECTION_NAMES = {{0, "forwards"}, {1, "reverse"}};
const std::vector<code_name> AUTOSTOP_NAMES = {
    {AUTOSTOP_NONE, "none"}, {AUTOSTOP_HALL1, "hall1"}, {AUTOSTOP_HALL2, "hall2"}, {AUTOSTOP_HALL3, "hall3"}, {AUTOSTOP_FLOW, "flow"}};
const std::vector<code_name> AUTOSTOP2_NAMES = {{AUTOSTOP_NONE, "none"}, {AUTOSTOP_PRESSURE, "pressure"}};

// A code as its identifier, or as the number when no identifier names it.
json code_json(const std::vector<code_name>& names, uint32_t code) {
    for (const code_name& n : names)
        if (n.code == code) return n.name;
    return code;
}

bool in_rows(const combo_row* rows, int count, uint32_t value) {
    for (int i = 0; i < count; ++i)
        if (rows[i].value == value) return true;
    return false;
}

// A block's bytes as its feature core's record, and the record back into a block's bytes.
template <class R>
R record_of(const uint8_t* b) {
    R r;
    std::memcpy(r.bytes, b, sizeof r.bytes);
    return r;
}

template <class R>
void store(const R& r, uint8_t* out) {
    std::memcpy(out, r.bytes, sizeof r.bytes);
}

// Reads a record through its feature core into a block's bytes (left as they are on failure).
template <class R>
int read_into(int (*read)(R&), uint8_t* out) {
    R r;
    const int result = read(r);
    if (result == 0) store(r, out);
    return result;
}

// A code given by its identifier or as a number. What the instrument holds goes back as it is;
// a code that changes must be one of the window's list (`rows`).
bool code_field(json_fields& f, const char* key, const std::vector<code_name>& names, uint32_t kept,
                const combo_row* rows, int row_count, uint32_t* out) {
    const json* v = f.get(key);
    if (!v) return f.error.empty();
    uint32_t code = 0;
    bool known = false;
    if (v->is_string()) {
        for (const code_name& n : names)
            if (v->get<std::string>() == n.name) {
                code = n.code;
                known = true;
            }
    } else if (v->is_number_unsigned() && v->get<uint64_t>() <= UINT32_MAX) {
        code = uint32_t(v->get<uint64_t>());
        known = true;
    }
    if (!known) {
        std::string list;
        for (const code_name& n : names) list += (list.empty() ? "\"" : ", \"") + std::string(n.name) + "\"";
        return f.fail(f.name(key) + " must be " + (list.empty() ? std::string("a number") : "one of " + list));
    }
    if (code != kept && !in_rows(rows, row_count, code))
        return f.fail(f.name(key) + " cannot be set to " + code_json(names, code).dump());
    *out = code;
    return true;
}

// ---- flow meter --------------------------------------------------------------------------------

json flow_fields(const uint8_t* b) {
    const flow_meter_config c = record_of<flow_meter_config>(b);
    json j;
    j["pulses_per_litre"] = flow_meter_pulses(c);
    return j;
}

bool flow_apply(json_fields& f, const uint8_t* cur, uint8_t* out) {
    const flow_meter_config c = record_of<flow_meter_config>(cur);
    uint64_t pulses = flow_meter_pulses(c);
    if (!f.get_uint("pulses_per_litre", UINT32_MAX, &pulses)) return false;
    const flow_meter_config built = flow_meter_build(pulses);
    store(built, out);
    return true;
}

// ---- cleaning ----------------------------------------------------------------------------------

json cleaning_fields(const uint8_t* b) {
    const cleaning_config c = record_of<cleaning_config>(b);
    const cleaning_values v = cleaning_values_of(c);
    json j;
    j["stabilization_flow_time_s"] = v.flow_time;
    j["waste_through_cartridge"] = v.waste_through_cartridge;
    j["bleach_pump_speed_percent"] = v.bleach_speed;
    j["bleach_pumping_time_s"] = v.bleach_time;
    j["dwell_time_s"] = v.dwell_time;
    j["flush_time_s"] = v.flush_time;
    return j;
}

bool cleaning_apply(json_fields& f, const uint8_t* cur, uint8_t* out) {
    const cleaning_config c = record_of<cleaning_config>(cur);
    const cleaning_values v = cleaning_values_of(c);
    cleaning_input in{v.flow_time, v.waste_through_cartridge, v.bleach_speed, v.bleach_time, v.dwell_time, v.flush_time};
    if (!f.get_uint_kept("stabilization_flow_time_s", 0, CLEANING_TIME_MAX, v.flow_time, &in.flow_time) ||
        !f.get_bool("waste_through_cartridge", &in.waste_through_cartridge) ||
        !f.get_uint_kept("bleach_pump_speed_percent", 0, CLEANING_SPEED_MAX, v.bleach_speed, &in.bleach_speed) ||
        !f.get_uint_kept("bleach_pumping_time_s", 0, CLEANING_TIME_MAX, v.bleach_time, &in.bleach_time) ||
        !f.get_uint_kept("dwell_time_s", 0, CLEANING_TIME_MAX, v.dwell_time, &in.dwell_time) ||
        !f.get_uint_kept("flush_time_s", 0, CLEANING_TIME_MAX, v.flush_time, &in.flush_time))
        return false;
    cleaning_config built = cleaning_build(in);
    // A stored speed beyond 100 that the document leaves as it is goes back as it is.
    built.bytes[5] = uint8_t(std::min<uint64_t>(in.bleach_speed, 255));
    store(built, out);
    return true;
}

// ---- RS-232 ------------------------------------------------------------------------------------

json rs232_fields(const uint8_t* b) {
    const rs232_config c = record_of<rs232_config>(b);
    const rs232_settings s = rs232_settings_of(c);
    json j;
    j["baud"] = s.baud;
    j["data_bits"] = s.data_bits;
    j["stop_bits"] = s.stop_bits;
    j["parity"] = code_json(PARITY_NAMES, s.parity);
    j["protocol"] = code_json(PROTOCOL_NAMES, s.protocol);
    return j;
}

bool rs232_apply(json_fields& f, const uint8_t* cur, uint8_t* out) {
    const rs232_config c = record_of<rs232_config>(cur);
    rs232_settings s = rs232_settings_of(c);
    uint32_t baud = s.baud, data = s.data_bits, stop = s.stop_bits, parity = s.parity, protocol = s.protocol;
    const std::vector<code_name> none;
    if (!code_field(f, "baud", none, s.baud, RS232_BAUD, RS232_BAUD_ROWS, &baud) ||
        !code_field(f, "data_bits", none, s.data_bits, RS232_DATA_BITS, RS232_DATA_BITS_ROWS, &data) ||
        !code_field(f, "stop_bits", none, s.stop_bits, RS232_STOP_BITS, RS232_STOP_BITS_ROWS, &stop) ||
        !code_field(f, "parity", PARITY_NAMES, s.parity, RS232_PARITY, RS232_PARITY_ROWS, &parity) ||
        // The retired protocol has no row: an instrument keeps it, nobody chooses it.
        !code_field(f, "protocol", PROTOCOL_NAMES, s.protocol, RS232_PROTOCOL, RS232_PROTOCOL_ROWS, &protocol))
        return false;
    s = {baud, uint8_t(parity), uint8_t(data), uint8_t(stop), protocol};
    const rs232_config built = rs232_build(s);
    store(built, out);
    return true;
}

// ---- identification ----------------------------------------------------------------------------

std::string stored_name(const uint8_t* b) {
    const device_info info = record_of<device_info>(b);
    char name[SENSOR_NAME_MAX + 1];
    device_info_name(info, name);
    return name;
}

// The name as a document shows it: bytes that are not UTF-8 as U+FFFD.
std::string shown_name(const std::string& name) {
    return json::parse(json_value_text(json(name))).get<std::string>();
}

json identification_fields(const uint8_t* b) {
    const device_info info = record_of<device_info>(b);
    json j;
    j["name"] = stored_name(b);
    j["serial"] = device_info_serial(info);
    j["board_serial"] = device_info_board_serial(info);
    return j;
}

bool identification_apply_fields(json_fields& f, const uint8_t* cur, uint8_t* out) {
    device_info info = record_of<device_info>(cur);
    const std::string held = stored_name(cur);
    std::string name = shown_name(held);
    uint64_t serial = device_info_serial(info), board = device_info_board_serial(info);
    if (!f.get_string("name", &name) || !f.get_uint("serial", SENSOR_SERIAL_MAX, &serial) ||
        !f.get_uint("board_serial", SENSOR_SERIAL_MAX, &board))
        return false;
    if (name == shown_name(held)) {
        name = held;  // unchanged, whatever bytes it holds
    } else if (!sensor_name_valid(name)) {
        return f.fail(f.name("name") + " must be at most 20 printable ASCII characters");
    }
    // A save writes the name too, and no save writes one that is not printable ASCII.
    if (!sensor_name_valid(name) && (serial != device_info_serial(info) || board != device_info_board_serial(info)))
        return f.fail(f.name("name") + " as stored is not printable ASCII, and a save writes it: give a new name");
    if (name != held) {
        identification_apply(info, name, serial);
    } else {
        put_u16le(info.bytes + DEVICE_INFO_SERIAL, uint16_t(serial));
    }
    put_u16le(info.bytes + DEVICE_INFO_BOARD_SERIAL, uint16_t(board));
    store(info, out);
    return true;
}

// ---- motors ------------------------------------------------------------------------------------

motor_config motor_at(const uint8_t* b, int index) {
    return record_of<motor_config>(b + MOTOR_CONFIG_SIZE * size_t(index));
}

json motors_fields(const uint8_t* b) {
    json list = json::array();
    for (int i = 0; i < MOTOR_ID_LAST; ++i) {
        const motor_config c = motor_at(b, i);
        json m;
        m["motor"] = i + 1;
        m["name"] = MOTOR_ROWS[i].text;
        m["direction"] = code_json(DIRECTION_NAMES, c.bytes[MOTOR_DIRECTION]);
        m["autostop"] = code_json(AUTOSTOP_NAMES, c.bytes[MOTOR_AUTOSTOP]);
        m["autostop2"] = code_json(AUTOSTOP2_NAMES, c.bytes[MOTOR_AUTOSTOP2]);
        m["max_pressure_bar"] = c.bytes[MOTOR_MAX_PRESSURE];
        m["overpressure_timeout_s"] = motor_u16(c, MOTOR_OVERPRESSURE_TIMEOUT);
        m["hall_engaged"] = motor_u16(c, MOTOR_HALL_ENGAGED);
        m["hall_disengaged"] = motor_u16(c, MOTOR_HALL_DISENGAGED);
        m["speed_percent"] = motor_u16(c, MOTOR_SPEED);
        list.push_back(m);
    }
    json j;
    j["motors"] = list;
    return j;
}

bool motor_apply(json_fields& f, motor_config& c, int index) {
    std::string name = MOTOR_ROWS[index].text;
    if (!f.get_string("name", &name)) return false;
    if (name != MOTOR_ROWS[index].text) return f.fail(f.name("name") + " must be \"" + MOTOR_ROWS[index].text + "\"");
    uint32_t direction = c.bytes[MOTOR_DIRECTION], a = c.bytes[MOTOR_AUTOSTOP], b = c.bytes[MOTOR_AUTOSTOP2];
    uint64_t pressure = c.bytes[MOTOR_MAX_PRESSURE], timeout = motor_u16(c, MOTOR_OVERPRESSURE_TIMEOUT),
             engaged = motor_u16(c, MOTOR_HALL_ENGAGED), disengaged = motor_u16(c, MOTOR_HALL_DISENGAGED),
             speed = motor_u16(c, MOTOR_SPEED);
    if (!code_field(f, "direction", DIRECTION_NAMES, direction, MOTOR_DIRECTION_ROWS, MOTOR_DIRECTION_ROW_COUNT,
                    &direction) ||
        !code_field(f, "autostop", AUTOSTOP_NAMES, a, AUTOSTOP_ROWS, AUTOSTOP_ROW_COUNT, &a) ||
        !code_field(f, "autostop2", AUTOSTOP2_NAMES, b, AUTOSTOP2_ROWS, AUTOSTOP2_ROW_COUNT, &b) ||
        !f.get_uint_kept("max_pressure_bar", 0, MOTOR_PRESSURE_MAX, pressure, &pressure) ||
        !f.get_uint_kept("overpressure_timeout_s", 0, MOTOR_TIMEOUT_MAX, timeout, &timeout) ||
        !f.get_uint_kept("hall_engaged", 0, MOTOR_HALL_MAX, engaged, &engaged) ||
        !f.get_uint_kept("hall_disengaged", 0, MOTOR_HALL_MAX, disengaged, &disengaged) ||
        !f.get_uint_kept("speed_percent", 0, MOTOR_SPEED_MAX, speed, &speed))
        return false;
    c.bytes[MOTOR_DIRECTION] = uint8_t(direction);
    c.bytes[MOTOR_AUTOSTOP] = uint8_t(a);
    c.bytes[MOTOR_AUTOSTOP2] = uint8_t(b);
    c.bytes[MOTOR_MAX_PRESSURE] = uint8_t(pressure);
    motor_set_u16(c, MOTOR_OVERPRESSURE_TIMEOUT, uint16_t(timeout));
    motor_set_u16(c, MOTOR_HALL_ENGAGED, uint16_t(engaged));
    motor_set_u16(c, MOTOR_HALL_DISENGAGED, uint16_t(disengaged));
    motor_set_u16(c, MOTOR_SPEED, uint16_t(speed));
    return true;
}

// A list of numbered entries ("motor", "point", "row" from 1 to count): each entry names its
// number, or is taken as the next one in order. Calls apply(fields, index) once per entry.
template <typename Apply>
bool numbered_list(json_fields& f, const char* key, const char* number_key, int count, Apply apply) {
    const json* list = f.get(key);
    if (!list) return f.error.empty();
    if (!list->is_array() || list->size() > size_t(count))
        return f.fail(f.name(key) + text_printf(" must be a list of at most %d entries", count));
    bool given[16] = {};
    for (size_t i = 0; i < list->size(); ++i) {
        json_fields entry((*list)[i], f.name(key) + text_printf("[%u]", unsigned(i + 1)));
        uint64_t number = i + 1;
        if (!entry.get_uint(number_key, 1, uint64_t(count), &number)) return f.fail(entry.error);
        if (given[number - 1])
            return f.fail(entry.name(number_key) + " " + std::to_string(number) + " is given twice");
        given[number - 1] = true;
        if (!apply(entry, int(number - 1)) || !entry.finish()) return f.fail(entry.error);
    }
    return true;
}

bool motors_apply(json_fields& f, const uint8_t* cur, uint8_t* out) {
    std::memcpy(out, cur, MOTOR_CONFIG_SIZE * MOTOR_ID_LAST);
    return numbered_list(f, "motors", "motor", MOTOR_ID_LAST, [&](json_fields& entry, int index) {
        motor_config c = motor_at(out, index);
        if (!motor_apply(entry, c, index)) return false;
        store(c, out + MOTOR_CONFIG_SIZE * size_t(index));
        return true;
    });
}

// ---- pressure calibration ----------------------------------------------------------------------

json pressure_fields(const uint8_t* b) {
    const pressure_calibration c = record_of<pressure_calibration>(b);
    json j;
    j["gain_bar_per_volt"] = json_double(pressure_gain(c));
    j["offset_bar"] = json_double(pressure_offset(c));
    json points = json::array();
    for (int i = 0; i < PRESSURE_POINTS; ++i) {
        json p;
        p["point"] = i + 1;
        p["used"] = pressure_point_used(c, i);
        p["bar"] = json_float(pressure_point_bar(c, i));
        p["volt"] = json_float(pressure_point_volt(c, i));
        points.push_back(p);
    }
    j["points"] = points;
    return j;
}

bool pressure_apply(json_fields& f, const uint8_t* cur, uint8_t* out) {
    pressure_calibration c = record_of<pressure_calibration>(cur);
    double gain = pressure_gain(c), offset = pressure_offset(c);
    if (!f.get_number("gain_bar_per_volt", &gain) || !f.get_number("offset_bar", &offset)) return false;
    pressure_set_line(c, gain, offset);
    const bool ok = numbered_list(f, "points", "point", PRESSURE_POINTS, [&](json_fields& entry, int i) {
        bool used = pressure_point_used(c, i);
        double bar = pressure_point_bar(c, i), volt = pressure_point_volt(c, i);
        if (!entry.get_bool("used", &used) || !entry.get_number("bar", &bar, true) ||
            !entry.get_number("volt", &volt, true))
            return false;
        pressure_set_point(c, i, used, float(bar), float(volt));
        return true;
    });
    if (!ok) return false;
    store(c, out);
    return true;
}

// ---- schedule ----------------------------------------------------------------------------------

json schedule_fields(const uint8_t* b) {
    const schedule_record s = record_of<schedule_record>(b);
    const uint32_t start = schedule_start(s);
    json j;
    j["autostart"] = s.bytes[1] != 0;
    json st;
    st["option"] = start == 0 ? "next" : "at_or_after";
    if (start != 0) {
        st["time"] = json_device_time(start);
        st["device_time"] = start;
    }
    j["start"] = st;
    json rows = json::array();
    for (int i = 0; i < SCHEDULE_WAYPOINTS; ++i) {
        const schedule_waypoint w = schedule_entry(s, i);
        json row;
        row["row"] = i + 1;
        row["used"] = (w.bytes[0] & WAYPOINT_IN_USE) != 0;
        row["offset_minutes"] = waypoint_offset(w);
        row["samples"] = w.bytes[1];
        row["volume_litre"] = w.bytes[2] / 10.0;
        row["timeout_minutes"] = w.bytes[3];
        row["clean"] = (w.bytes[0] & WAYPOINT_CLEAN) != 0;
        rows.push_back(row);
    }
    j["waypoints"] = rows;
    return j;
}

// The start a document asks for; *start keeps the instrument's when the document leaves it out.
bool schedule_start_apply(json_fields& f, uint32_t held, uint32_t* start) {
    const json* given = f.get("start");
    if (!given) return f.error.empty();
    json_fields st(*given, f.name("start"));
    std::string option;
    uint64_t device_time = 0;
    std::string time;
    if (!st.get_string("option", &option) || !st.get_uint("device_time", UINT32_MAX, &device_time) ||
        !st.get_string("time", &time) || !st.finish())
        return f.fail(st.error);
    uint32_t wanted = 0, option_code = START_NEXT_TIME;
    if (option == "next") {
        if (st.has("time") || st.has("device_time"))
            return f.fail(st.name("option") + " \"next\" takes no time");
    } else if (option == "at_or_after") {
        option_code = START_AT_OR_AFTER;
        uint32_t from_text = 0;
        if (st.has("time") && !json_parse_moment(time, &from_text))
            return f.fail(st.name("time") +
                          " must be a moment YYYY-MM-DDTHH:MM:SS from 1970-01-01T00:00:00 to 2038-01-19T03:14:07");
        if (st.has("time") && st.has("device_time") && from_text != device_time)
            return f.fail(st.name("time") + " and " + st.name("device_time") + " name different moments");
        if (st.has("time")) wanted = from_text;
        else if (st.has("device_time")) wanted = uint32_t(device_time);
        else return f.fail(st.name("option") + " \"at_or_after\" needs its time");
    } else {
        return f.fail(st.name("option") + " must be \"next\" or \"at_or_after\"");
    }
    // The start as read goes back unchanged, also one that no calendar shows (the dialog keeps
    // it while its start controls are left alone).
    if (schedule_save_start(wanted != held, held, option_code, wanted, start) != 0)
        return f.fail(f.name("start") + ": " + schedule_start_range_text());
    return true;
}

bool schedule_apply(json_fields& f, const uint8_t* cur, uint8_t* out) {
    const schedule_record s = record_of<schedule_record>(cur);
    bool autostart = s.bytes[1] != 0;
    uint32_t start = schedule_start(s);
    if (!f.get_bool("autostart", &autostart) || !schedule_start_apply(f, schedule_start(s), &start)) return false;
    schedule_waypoint entries[SCHEDULE_WAYPOINTS];
    for (int i = 0; i < SCHEDULE_WAYPOINTS; ++i) entries[i] = schedule_entry(s, i);
    const bool ok = numbered_list(f, "waypoints", "row", SCHEDULE_WAYPOINTS, [&](json_fields& row, int i) {
        schedule_waypoint& w = entries[i];
        // A row the document lists is in use unless it says otherwise.
        bool used = true, clean = (w.bytes[0] & WAYPOINT_CLEAN) != 0;
        uint64_t offset = waypoint_offset(w), samples = w.bytes[1], timeout = w.bytes[3];
        double litres = w.bytes[2] / 10.0;
        uint8_t tenths = w.bytes[2];
        if (!row.get_bool("used", &used) || !row.get_uint("offset_minutes", 0xFFFF, &offset) ||
            !row.get_uint("samples", 255, &samples) || !row.get_number("volume_litre", &litres) ||
            !row.get_uint("timeout_minutes", 255, &timeout) || !row.get_bool("clean", &clean))
            return false;
        if (row.has("volume_litre") && (litres < 0 || !volume_litres_to_tenths(litres, &tenths)))
            return row.fail(row.name("volume_litre") + " must be a number from 0 to 25.5");
        w.bytes[0] = uint8_t((used ? WAYPOINT_IN_USE : 0) | (clean ? WAYPOINT_CLEAN : 0));
        w.bytes[1] = uint8_t(samples);
        w.bytes[2] = tenths;
        w.bytes[3] = uint8_t(timeout);
        put_u16le(w.bytes + 4, uint16_t(offset));
        return true;
    });
    if (!ok) return false;
    const schedule_record built = schedule_build_entries(autostart, start, entries);
    store(built, out);
    return true;
}

// ---- one table of the blocks -------------------------------------------------------------------

json block_fields(settings_block_id id, const uint8_t* b) {
    switch (id) {
        case BLOCK_FLOW_METER: return flow_fields(b);
        case BLOCK_CLEANING: return cleaning_fields(b);
        case BLOCK_RS232: return rs232_fields(b);
        case BLOCK_IDENTIFICATION: return identification_fields(b);
        case BLOCK_MOTORS: return motors_fields(b);
        case BLOCK_PRESSURE: return pressure_fields(b);
        case BLOCK_SCHEDULE: return schedule_fields(b);
    }
    return json::object();
}

bool block_apply(settings_block_id id, json_fields& f, const uint8_t* cur, uint8_t* out) {
    switch (id) {
        case BLOCK_FLOW_METER: return flow_apply(f, cur, out);
        case BLOCK_CLEANING: return cleaning_apply(f, cur, out);
        case BLOCK_RS232: return rs232_apply(f, cur, out);
        case BLOCK_IDENTIFICATION: return identification_apply_fields(f, cur, out);
        case BLOCK_MOTORS: return motors_apply(f, cur, out);
        case BLOCK_PRESSURE: return pressure_apply(f, cur, out);
        case BLOCK_SCHEDULE: return schedule_apply(f, cur, out);
    }
    return false;
}

// Every leaf of a document with its path, in document order.
void flatten(const json& j, const std::string& path, std::vector<std::pair<std::string, std::string>>& out) {
    if (j.is_object()) {
        for (auto it = j.begin(); it != j.end(); ++it) flatten(it.value(), path.empty() ? it.key() : path + "." + it.key(), out);
    } else if (j.is_array()) {
        for (size_t i = 0; i < j.size(); ++i) flatten(j[i], path + text_printf("[%u]", unsigned(i + 1)), out);
    } else {
        out.emplace_back(path, json_value_text(j));
    }
}

}  // namespace

const char* settings_block_name(settings_block_id id) {
    return id >= 0 && id < SETTINGS_BLOCK_COUNT ? BLOCK_NAMES[id] : "";
}

const char* settings_block_title(settings_block_id id) {
    static const char* const TITLES[SETTINGS_BLOCK_COUNT] = {"Flow Meter", "Stabilization & Cleaning", "RS232",
                                                             "Device Identification", "Motors", "Pressure Sensor",
                                                             "Schedule"};
    return id >= 0 && id < SETTINGS_BLOCK_COUNT ? TITLES[id] : "";
}

size_t settings_block_size(settings_block_id id) { return block_size_of(id); }

bool settings_block_find(std::string_view name, settings_block_id* out) {
    for (int i = 0; i < SETTINGS_BLOCK_COUNT; ++i)
        if (name == BLOCK_NAMES[i]) {
            *out = settings_block_id(i);
            return true;
        }
    return false;
}

bool operator==(const settings_block& a, const settings_block& b) { return a.id == b.id && a.bytes == b.bytes; }

int settings_block_read(settings_block_id id, settings_block& out) {
    settings_block b;
    b.id = id;
    b.bytes.assign(block_size_of(id), 0);
    uint8_t* p = b.bytes.data();
    int r = 0;
    switch (id) {
        case BLOCK_FLOW_METER: r = read_into(flow_meter_read, p); break;
        case BLOCK_CLEANING: r = read_into(cleaning_read, p); break;
        case BLOCK_RS232: r = read_into(rs232_read, p); break;
        case BLOCK_IDENTIFICATION: r = read_into(identity_get_device_info, p); break;
        case BLOCK_MOTORS:
            for (int i = 0; i < MOTOR_ID_LAST && r == 0; ++i) {
                motor_config c;
                if ((r = motor_config_get(uint8_t(i + 1), c)) == 0) store(c, p + MOTOR_CONFIG_SIZE * size_t(i));
            }
            break;
        case BLOCK_PRESSURE: r = read_into(pressure_calibration_read, p); break;
        case BLOCK_SCHEDULE: r = read_into(schedule_read, p); break;
    }
    if (r == 0) out = std::move(b);
    return r;
}

json settings_block_fields(const settings_block& block) {
    if (block.bytes.size() != block_size_of(block.id)) return json::object();
    return block_fields(block.id, block.bytes.data());
}

json settings_block_document(const settings_block& block) {
    json doc = json_document();
    doc["block"] = settings_block_name(block.id);
    const json fields = settings_block_fields(block);
    for (auto& [key, value] : fields.items()) doc[key] = value;
    return doc;
}

bool settings_block_apply(const json& fields, const settings_block& current, settings_block& out, bool document,
                          std::string& error, const std::string& path) {
    json_fields f(fields, path);
    if (document) {
        std::string block = settings_block_name(current.id);
        if (!json_check_format(f) || !f.get_string("block", &block)) {
            error = f.error;
            return false;
        }
        if (block != settings_block_name(current.id)) {
            error = "the document holds the block \"" + block + "\", not \"" + settings_block_name(current.id) + "\"";
            return false;
        }
    }
    if (current.bytes.size() != block_size_of(current.id)) {
        error = "no stored block to start from";
        return false;
    }
    settings_block made;
    made.id = current.id;
    made.bytes.assign(current.bytes.size(), 0);
    if (!block_apply(current.id, f, current.bytes.data(), made.bytes.data()) || !f.finish()) {
        error = f.error;
        return false;
    }
    out = std::move(made);
    return true;
}

std::vector<field_change> settings_block_changes(const settings_block& before, const settings_block& after) {
    std::vector<std::pair<std::string, std::string>> a, b;
    flatten(settings_block_fields(before), "", a);
    flatten(settings_block_fields(after), "", b);
    std::vector<field_change> changes;
    for (const auto& leaf : b) {
        const auto it = std::find_if(a.begin(), a.end(), [&](const auto& p) { return p.first == leaf.first; });
        const std::string old_text = it == a.end() ? std::string("(none)") : it->second;
        if (old_text != leaf.second) changes.push_back({leaf.first, old_text, leaf.second});
    }
    return changes;
}

bool settings_block_needs_factory(const settings_block& current, const settings_block& wanted) {
    if (current.id != BLOCK_IDENTIFICATION || current.bytes.size() != DEVICE_INFO_SIZE ||
        wanted.bytes.size() != DEVICE_INFO_SIZE)
        return false;
    return get_u16le(current.bytes.data() + DEVICE_INFO_BOARD_SERIAL) !=
           get_u16le(wanted.bytes.data() + DEVICE_INFO_BOARD_SERIAL);
}

namespace {

int write_block(const settings_block& current, const settings_block& wanted, bool factory_allowed) {
    const uint8_t* p = wanted.bytes.data();
    switch (wanted.id) {
        case BLOCK_FLOW_METER:
            return flow_meter_write(flow_meter_build(flow_meter_pulses(record_of<flow_meter_config>(p))));
        case BLOCK_CLEANING: {
            cleaning_config c = record_of<cleaning_config>(p);
            c.bytes[0] = c.bytes[1] = 0;  // the instrument's bytes go as 0, as the dialog sends them
            return cleaning_write(c);
        }
        case BLOCK_RS232: return rs232_write(rs232_build(rs232_settings_of(record_of<rs232_config>(p))));
        case BLOCK_IDENTIFICATION: {
            const device_info c = record_of<device_info>(p);
            char name[SENSOR_NAME_MAX + 1];
            device_info_name(c, name);
            if (settings_block_needs_factory(current, wanted)) {
                if (!factory_allowed) return SETTINGS_NEEDS_FACTORY;
                const int r = factory_save(factory_build(name, device_info_serial(c), device_info_board_serial(c)), nullptr);
                return r == FACTORY_ERR_MISMATCH ? SETTINGS_READ_BACK_DIFFERS : r;
            }
            return identification_save(name, device_info_serial(c));
        }
        case BLOCK_MOTORS:
            for (int i = 0; i < MOTOR_ID_LAST; ++i) {
                const motor_config held = motor_at(current.bytes.data(), i);
                motor_config c = motor_at(p, i);
                c.bytes[MOTOR_DEVICE_BYTE] = held.bytes[MOTOR_DEVICE_BYTE];  // the instrument's own, as read
                if (std::memcmp(c.bytes, held.bytes, MOTOR_CONFIG_SIZE) == 0) continue;
                // As the motor dialog saves: the one motor, read back at once (the block's own
                // read-back after all of them compares every field once more).
                if (const int r = motor_config_save(uint8_t(i + 1), c); r != 0)
                    return r == MOTOR_SAVE_MISMATCH ? SETTINGS_READ_BACK_DIFFERS : r;
            }
            return 0;
        case BLOCK_PRESSURE: {
            pressure_calibration c = record_of<pressure_calibration>(p);
            c.bytes[0] = current.bytes[0];  // the instrument's own, as read
            return pressure_calibration_write(c);
        }
        case BLOCK_SCHEDULE: return schedule_write(record_of<schedule_record>(p));
    }
    return ERR_LINK_FAILED;
}

}  // namespace

settings_write_result settings_block_write(const settings_block& current, const settings_block& wanted,
                                           bool factory_allowed) {
    settings_write_result out;
    if (current.id != wanted.id || current.bytes.size() != block_size_of(current.id) ||
        wanted.bytes.size() != block_size_of(wanted.id)) {
        out.code = SETTINGS_NOT_A_BLOCK;
        out.step = "write";
        return out;
    }
    out.code = write_block(current, wanted, factory_allowed);
    out.step = "write";
    if (out.code == SETTINGS_READ_BACK_DIFFERS) {
        // A save that compares as it goes (a motor, the factory record) found the difference:
        // what the instrument holds says which.
        out.read_back = settings_block_read(wanted.id, out.stored) == 0;
        return out;
    }
    if (out.code != 0) return out;
    // What the window shows after a save is what the instrument holds: read it back and compare
    // every field that was written.
    out.step = "read-back";
    out.code = settings_block_read(wanted.id, out.stored);
    if (out.code != 0) return out;
    out.read_back = true;
    if (settings_block_fields(out.stored) != settings_block_fields(wanted)) out.code = SETTINGS_READ_BACK_DIFFERS;
    return out;
}
