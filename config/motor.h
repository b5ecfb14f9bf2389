// The instrument's five motors: their saved configurations, the combo tables of the "Configure
// Motors" dialog, which fields an operator may change and when they are out of range, what each
// control of the dialog does in each state, and the motor commands.
#pragma once

#include "config/config_block.h"
#include "link/field_text.h"
#include "link/text_tables.h"

#include <cstddef>
#include <cstdint>
#include <string>

// Motor ids, as every motor command carries them: 1-3 move a mechanism between two positions,
// 4-5 are pumps.
constexpr int MOTOR_ID_FIRST = 1;
constexpr int MOTOR_ID_LAST = 5;
constexpr int MOTOR_SAMPLE_PUMP = 4;
inline bool motor_id_valid(int id) { return id >= MOTOR_ID_FIRST && id <= MOTOR_ID_LAST; }
inline bool motor_is_pump(int id) { return id == 4 || id == 5; }

// A motor's saved configuration, 13 bytes, little-endian.
constexpr size_t MOTOR_CONFIG_SIZE = 13;
struct motor_config {
    uint8_t bytes[MOTOR_CONFIG_SIZE];
};
constexpr size_t MOTOR_DEVICE_BYTE = 0;  // the instrument's own, written back as read
constexpr size_t MOTOR_DIRECTION = 1;
constexpr size_t MOTOR_AUTOSTOP = 2;     // first autostop sensor code
constexpr size_t MOTOR_AUTOSTOP2 = 3;    // second autostop sensor code
constexpr size_t MOTOR_MAX_PRESSURE = 4; // u8, bar
constexpr size_t MOTOR_OVERPRESSURE_TIMEOUT = 5;  // u16, s
constexpr size_t MOTOR_HALL_ENGAGED = 7;          // u16
constexpr size_t MOTOR_HALL_DISENGAGED = 9;       // u16
constexpr size_t MOTOR_SPEED = 11;                // u16, percent of maximum

constexpr uint32_t MOTOR_SPEED_MAX = 100;
constexpr uint32_t MOTOR_PRESSURE_MAX = 10;
constexpr uint32_t MOTOR_TIMEOUT_MAX = 3600;
constexpr uint32_t MOTOR_HALL_MAX = 4095;
// The pump test's flow timeout is typed in minutes, at most 255, and sent in seconds.
constexpr uint32_t MOTOR_FLOW_TIMEOUT_MAX_MIN = 255;
// The most a pump test is asked to pump.
constexpr double MOTOR_FLOW_VOLUME_MAX = 1000;

// What each field takes. Speed, maximum pressure and overpressure timeout are refused beyond
// their range; a Hall value beyond 12 bits is saved as 4095 and a flow timeout beyond 255
// minutes runs 255. The pump test's volume must be more than 0 litres.
constexpr field_rule MOTOR_SPEED_RULE{.min = 0, .max = MOTOR_SPEED_MAX, .unit = "% of max"};
constexpr field_rule MOTOR_PRESSURE_RULE{.min = 0, .max = MOTOR_PRESSURE_MAX, .unit = "bar"};
constexpr field_rule MOTOR_TIMEOUT_RULE{.min = 0, .max = MOTOR_TIMEOUT_MAX, .unit = "seconds"};
constexpr field_rule MOTOR_HALL_RULE{.min = 0, .max = MOTOR_HALL_MAX, .saturates = true};
constexpr field_rule MOTOR_FLOW_VOLUME_RULE{
    .decimal = true, .min = 0, .max = MOTOR_FLOW_VOLUME_MAX, .above_min = true, .unit = "litres"};
constexpr field_rule MOTOR_FLOW_TIMEOUT_RULE{
    .min = 0, .max = MOTOR_FLOW_TIMEOUT_MAX_MIN, .saturates = true, .unit = "minutes"};

// The direction and autostop codes of a record never written (all bytes 0xFF), shown as "(not set)".
constexpr uint32_t MOTOR_BLANK_CODE = 0xFF;

// Autostop sensor codes.
constexpr uint32_t AUTOSTOP_NONE = 0;
constexpr uint32_t AUTOSTOP_HALL1 = 1;
constexpr uint32_t AUTOSTOP_HALL2 = 2;
constexpr uint32_t AUTOSTOP_HALL3 = 3;
constexpr uint32_t AUTOSTOP_FLOW = 5;
constexpr uint32_t AUTOSTOP_PRESSURE = 6;

// Field access (u16 fields little-endian).
uint16_t motor_u16(const motor_config& c, size_t offset);
void motor_set_u16(motor_config& c, size_t offset, uint16_t value);

// The combo tables, in the order shown.
constexpr int MOTOR_ROW_COUNT = 5;
extern const combo_row MOTOR_ROWS[MOTOR_ROW_COUNT];  // value = motor id
constexpr int MOTOR_DIRECTION_ROW_COUNT = 2;
extern const combo_row MOTOR_DIRECTION_ROWS[MOTOR_DIRECTION_ROW_COUNT];
constexpr int AUTOSTOP_ROW_COUNT = 5;
extern const combo_row AUTOSTOP_ROWS[AUTOSTOP_ROW_COUNT];
constexpr int AUTOSTOP2_ROW_COUNT = 2;
extern const combo_row AUTOSTOP2_ROWS[AUTOSTOP2_ROW_COUNT];

// The numbers typed into the saved-configuration fields, as the saturating field parser reads
// them (true values, however large).
struct motor_field_values {
    uint64_t speed = 0;
    uint64_t hall_engaged = 0;
    uint64_t hall_disengaged = 0;
    uint64_t max_pressure = 0;
    uint64_t overpressure_timeout = 0;
};
// The record's numbers as the fields show them.
motor_field_values motor_field_values_of(const motor_config& c);
// Stores the typed numbers into the record, each limited to its range. The direction and the
// autostop codes are not fields: they reach the record when their combo changes, so a code the
// tool has no row for stays as the instrument sent it.
void motor_apply_fields(motor_config& c, const motor_field_values& v);

// The saved-configuration fields as typed.
struct motor_field_texts {
    std::string speed, hall_engaged, hall_disengaged, max_pressure, overpressure_timeout;
};
// Which fields hold a text their rule refuses (no number of their kind, or out of range). Only
// fields the operator can change count: the speed always, the Hall values on an engaging motor,
// the maximum pressure and overpressure timeout only on a pump with the pressure autostop chosen
// (autostop2 = the right combo's value). A fresh instrument's 0xFF record would otherwise lock
// the dialog through fields nobody can edit.
struct motor_field_check {
    bool speed = false;
    bool hall_engaged = false;
    bool hall_disengaged = false;
    bool max_pressure = false;
    bool overpressure_timeout = false;
    bool any() const { return speed || hall_engaged || hall_disengaged || max_pressure || overpressure_timeout; }
};
motor_field_check motor_check_fields(int motor, uint32_t autostop2, const motor_field_texts& t);

// The state of every control of the dialog, from the motor shown, the selected autostop values
// (A left, B right), whether a motor runs or a saved-configuration field is refused, and whether
// the pump test's volume and timeout fields can be sent (a pump test waits for them).
struct motor_controls {
    bool motor_combo, save, slider, left_autostop, right_autostop, hall_fields, pressure_fields, test1, test2,
        flow_volume, flow_timeout;
    const char* direction_label;
    const char* forwards_text;
    const char* reverse_text;
    const char* test1_text;
    const char* test2_text;
};
motor_controls motor_control_rules(int motor, uint32_t a, uint32_t b, bool moving, bool fields_invalid,
                                   bool flow_volume_ok = true, bool flow_timeout_ok = true);

// The Hall reading that "Sample" takes: sensor 1 or 2 by the left autostop choice, else 3.
uint16_t motor_hall_reading(const sensor_sample& s, uint32_t autostop);

// The pump test's timeout: minutes limited to 255, in seconds.
uint16_t motor_flow_timeout_seconds(uint64_t minutes);

// The motor last driven by hand, from the settings store: 1 when missing or not 1-5.
int motor_id_load();
// Stores it: 0, or 1 when the store could not be written.
int motor_id_save(int id);
// What the motor dialog says (once per opening) when it could not be stored.
constexpr const char* MOTOR_ID_NOT_SAVED = "Unable to save the motor for next time";

// ---- commands: 0, ERR_LINK_FAILED, or the instrument's result ---------------------------------

// CMD_GET_MOTOR_CONFIG: the record only on success; a short answer is a failed read.
int motor_config_get(uint8_t id, motor_config& out);
int motor_config_set(uint8_t id, const motor_config& c);
// CMD_MOTOR_RUN: a manual run, speed in percent, no autostop.
int motor_run(uint8_t id, uint8_t direction, uint16_t speed);
int motor_stop();
int motor_engage(uint8_t id);
int motor_disengage(uint8_t id);
// CMD_MOTOR_PUMP: flow volume in litres, timeout in seconds.
int motor_pump(uint8_t id, float litres, uint16_t timeout_s);
int motor_close();

// Writes a record and reads it back. 0 when the instrument holds exactly what was sent, else the
// failure of the write or the read-back (ERR_LINK_FAILED, the instrument's result,
// ERR_SHORT_RESPONSE) or MOTOR_SAVE_MISMATCH.
constexpr int MOTOR_SAVE_MISMATCH = -2;  // the read-back differs (never an instrument's result)
int motor_config_save(uint8_t id, const motor_config& c);
