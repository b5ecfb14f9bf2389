// The stabilization and bleach cleaning settings: one 12-byte record of the instrument.
#pragma once

#include "link/field_text.h"

#include <cstddef>
#include <cstdint>

// Bytes: 0-1 the instrument's (written as 0), 2-3 stabilization flow time (s), 4 pump the
// cleaning waste through a cartridge (1/0), 5 bleach pump speed (% of max), 6-7 bleach pumping
// time (s), 8-9 dwell time (s), 10-11 flush time (s). All little-endian.
constexpr size_t CLEANING_CONFIG_SIZE = 12;
struct cleaning_config {
    uint8_t bytes[CLEANING_CONFIG_SIZE];
};

// The record's fields as the dialog shows them.
struct cleaning_values {
    uint32_t flow_time;
    bool waste_through_cartridge;  // any non-zero byte reads as ticked
    uint32_t bleach_speed;
    uint32_t bleach_time;
    uint32_t dwell_time;
    uint32_t flush_time;
};
cleaning_values cleaning_values_of(const cleaning_config& config);

// The fields as typed, in their true (saturated) values: what an unsigned field reads.
struct cleaning_input {
    uint64_t flow_time;
    bool waste_through_cartridge;
    uint64_t bleach_speed;
    uint64_t bleach_time;
    uint64_t dwell_time;
    uint64_t flush_time;
};
constexpr uint32_t CLEANING_SPEED_MAX = 100;
constexpr uint32_t CLEANING_TIME_MAX = 65535;
// What the fields take: whole numbers; a larger one is saved as the top of its range.
constexpr field_rule CLEANING_SPEED_RULE{.min = 0, .max = CLEANING_SPEED_MAX, .saturates = true, .unit = "% of max"};
constexpr field_rule CLEANING_TIME_RULE{.min = 0, .max = CLEANING_TIME_MAX, .saturates = true, .unit = "seconds"};
// The record a save sends, built from zero: every value clamped silently to its range (speed
// 0-100, times 0-65535), the flag as 1 or 0.
cleaning_config cleaning_build(const cleaning_input& input);

// CMD_GET_CLEANING_CONFIG: 0 and the record (a short answer is a failed read; out untouched).
int cleaning_read(cleaning_config& out);
// CMD_SET_CLEANING_CONFIG: 0, ERR_LINK_FAILED or the instrument's result.
int cleaning_write(const cleaning_config& config);

// The dialog's texts.
constexpr const char* CLEANING_CAPTION = "Configure Stabilization & Cleaning";
constexpr const char* CLEANING_READ_CAPTION = "Cleaning Configuration";
constexpr const char* CLEANING_READ_FAILED = "Unable to retrieve cleaning configuration from device";
constexpr const char* CLEANING_SAVE_FAILED = "Failed to save cleaning configuration";
constexpr const char* CLEANING_SAVED = "Cleaning confugration saved";
