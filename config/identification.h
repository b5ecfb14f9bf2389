// The instrument's name and sensor serial number, written through the identity operations of
// link/identity.h (which also cover older firmware).
#pragma once

#include "link/field_text.h"
#include "link/identity.h"

#include <cstdint>
#include <string_view>

// A sensor name is 20 bytes on the wire and every window shows it decoded as UTF-8. A name is
// accepted only when each character takes one byte there (printable ASCII) and it has at most
// 20 of them, so what is written reads back the same in the connect view and the title.
bool sensor_name_valid(std::string_view name);
// What a name field takes: the one rule of every window that writes a name.
constexpr const char* SENSOR_NAME_RULE_TEXT = "At most 20 printable ASCII characters (one byte each).";
constexpr uint64_t SENSOR_SERIAL_MAX = 65535;
// The identification dialog's serial number: refused beyond 16 bits; empty means 0.
constexpr field_rule SENSOR_SERIAL_RULE{.min = 0, .max = SENSOR_SERIAL_MAX, .empty_is_zero = true};
// The true value of the serial field, as the saturating field reader gives it.
inline bool sensor_serial_valid(uint64_t serial) { return serial <= SENSOR_SERIAL_MAX; }

// Writes the name (at most 20 bytes) and its terminator from byte 2 on; the bytes of the field
// after the terminator stay as they were, byte 22 becomes 0.
void device_info_put_name(device_info& info, std::string_view name);

// Turns a record as read into the one to write: format byte 2, the name, the serial number
// (stopped at 65535). Every other byte stays as read.
void identification_apply(device_info& info, std::string_view name, uint64_t serial);

// A name that sensor_name_valid refuses: nothing is sent.
constexpr int IDENTIFICATION_ERR_NAME = -1;
// Save: reads a fresh record, applies name and serial, writes it. 0, IDENTIFICATION_ERR_NAME,
// or the failure of the read or the write (8: the firmware is too old for this tool).
int identification_save(std::string_view name, uint64_t serial);
// The message after a save: the outcome, and whether the read-back after a good save worked.
const char* identification_outcome_text(int outcome, bool read_back_ok);

// The dialog's texts.
constexpr const char* IDENTIFICATION_CAPTION = "Configure Device Identification";
constexpr const char* IDENTIFICATION_NAME_TOOLTIP = "Sensor name to display in Connect view";
constexpr const char* IDENTIFICATION_SERIAL_TOOLTIP = "Sensor serial number (engraved on microfluidic chip)";
constexpr const char* IDENTIFICATION_READ_CAPTION = "Configure Sensor Name";
constexpr const char* IDENTIFICATION_READ_FAILED = "Unable to retrieve Sensor Name from device";
constexpr const char* IDENTIFICATION_SAVED = "Settings saved";
constexpr const char* IDENTIFICATION_SAVE_FAILED = "Failed to save settings";
constexpr const char* IDENTIFICATION_TOO_OLD = "Failed to save settings (firmware is too old for GUI)";
constexpr int IDENTIFICATION_RESULT_TOO_OLD = 8;
