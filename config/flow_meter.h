// The flow meter's one setting, pulses per litre, kept in configuration block 5.
#pragma once

#include "config/config_block.h"
#include "link/field_text.h"

#include <cstddef>
#include <cstdint>
#include <string_view>

// Block 5: byte 0 the instrument's (read, never shown, written as 0), bytes 1-4 pulses per
// litre (u32).
struct flow_meter_config {
    uint8_t bytes[CONFIG_BLOCK_FLOW_SIZE];
};

uint32_t flow_meter_pulses(const flow_meter_config& config);
// The record a save sends: byte 0 = 0 and the pulses as typed, read the saturating way (a
// non-number is 0, anything beyond the u32 field stops at 4294967295; 0 is a valid setting).
flow_meter_config flow_meter_from_text(std::string_view pulses_text);
// The same from the field's true value.
flow_meter_config flow_meter_build(uint64_t pulses);
// What the field takes: a whole number; one beyond the u32 field is saved as its maximum.
constexpr field_rule FLOW_METER_PULSES_RULE{.min = 0, .max = 4294967295.0, .saturates = true, .unit = "pulses per litre"};

// 0 and the block, or the failure of the block read (out untouched).
int flow_meter_read(flow_meter_config& out);
// 0, ERR_LINK_FAILED or the instrument's result.
int flow_meter_write(const flow_meter_config& config);

// The dialog's texts.
constexpr const char* FLOW_METER_CAPTION = "Configure Flow Sensor";
constexpr const char* FLOW_METER_TOOLTIP = "Datasheet estimates 10000 for water at 25C";
constexpr const char* FLOW_METER_READ_CAPTION = "Configure Flow Meter";
constexpr const char* FLOW_METER_READ_FAILED = "Can't get flow meter config from device.";
constexpr const char* FLOW_METER_SAVE_FAILED = "Failed to save config to device.";
constexpr const char* FLOW_METER_SAVED = "Flow Meter Config Saved";
