// The processing board's identity (sensor name, sensor serial, board serial) as the service
// technician writes it, behind the maintenance password, and the bootloader upgrade gate.
#pragma once

#include "link/field_text.h"
#include "link/identity.h"

#include <cstdint>
#include <string_view>

// The password is a gate in this tool only, not security: anyone with the program or the
// command set can write the same record.
constexpr const char* FACTORY_PASSWORD = "quoll";
// Exactly "quoll", letter case included (the field lowers what is typed).
bool factory_password_matches(std::string_view typed);

// The record a factory save sends, built from zero: format byte 2, the name (at most 20 bytes)
// and its terminator, both serial numbers stopped at 65535. Bytes 1, 23 and 26 stay 0.
device_info factory_build(std::string_view name, uint64_t sensor_serial, uint64_t board_serial);

// What its serial number fields take: a whole number; one beyond 16 bits is saved as 65535.
constexpr field_rule FACTORY_SERIAL_RULE{.min = 0, .max = 65535, .saturates = true};

// Whether a record read back carries the name and both serial numbers that were written.
bool factory_identity_matches(const device_info& written, const device_info& read);

// The read-back after a good write does not carry what was written (older firmware has no
// place for the board serial).
constexpr int FACTORY_ERR_MISMATCH = -2;
// A name that sensor_name_valid refuses: nothing is sent.
constexpr int FACTORY_ERR_NAME = -1;
// Writes the record and reads it back. 0 when the instrument holds it; otherwise the failure
// of the write or the read, or FACTORY_ERR_MISMATCH. *read_back receives what was read back
// whenever that read succeeded.
int factory_save(const device_info& record, device_info* read_back);

// Upgrade... is offered only to firmware that allows a bootloader upgrade.
inline bool factory_upgrade_allowed(uint8_t mode) { return mode == FIRMWARE_MODE_BOOTLOADER_UPGRADE; }

// The dialog's texts.
constexpr const char* FACTORY_CAPTION = "Factory Settings";
constexpr const char* FACTORY_READ_FAILED = "Unable to retrieve factory settings from sensor";
constexpr const char* FACTORY_SAVE_CAPTION = "Save (Processing Board FLASH)";
constexpr const char* FACTORY_SAVE_FAILED = "Unable to save Processing Board FLASH settings to sensor";
constexpr const char* FACTORY_SAVED = "Saved Processing Board FLASH settings to sensor";
