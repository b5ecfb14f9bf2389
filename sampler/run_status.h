// The sampler's live state as the instrument reports it, and what the run view makes of it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

constexpr size_t STATUS_RECORD_SIZE = 36;

// bytes: 1 sampler state, 2 control source (0xFF schedule), 3 previous-cartridge error flag,
// 4 supply voltage, 8 temperature, 12 humidity, 16 flow volume, 20 max pressure (floats),
// 24 clock (device time), 28 next schedule event (0 none), 32 waypoint index, 34 top cartridge ID.
struct status_record {
    uint8_t bytes[STATUS_RECORD_SIZE];
};

constexpr uint8_t STATE_UNPOWERED = 1;
constexpr uint8_t STATE_IDLE = 2;
constexpr uint8_t STATE_LOADING = 3;
constexpr uint8_t STATE_ENGAGING_SAMPLE = 4;
constexpr uint8_t STATE_DISENGAGING_SAMPLE = 5;
constexpr uint8_t STATE_ENGAGING_STABILIZER = 6;
constexpr uint8_t STATE_DISENGAGING_STABILIZER = 7;
constexpr uint8_t STATE_PUMPING_SAMPLE = 8;
constexpr uint8_t STATE_PUMPING_STABILIZER = 9;
constexpr uint8_t STATE_CLEANING = 10;

// CMD_GET_STATUS: 0 and the record, or the failure (a short answer too; out untouched).
int status_read(status_record& out);

uint8_t status_state(const status_record& s);
uint8_t status_control(const status_record& s);
bool status_previous_errors(const status_record& s);
float status_supply_voltage(const status_record& s);
float status_temperature(const status_record& s);
float status_humidity(const status_record& s);
float status_flow_volume(const status_record& s);
float status_max_pressure(const status_record& s);
uint32_t status_clock(const status_record& s);
uint32_t status_next_event(const status_record& s);  // 0: none
uint8_t status_waypoint(const status_record& s);
uint16_t status_cartridge(const status_record& s);

// Every status text of the run view.
struct run_status_texts {
    std::string cartridge, clock, control, waypoint, state, run_status, flow, pressure;
};
run_status_texts run_status_format(const status_record& s);

// The state line of a sampler state.
std::string run_state_text(uint8_t state, uint16_t cartridge_id);
// A sampler state as a stable lower-case identifier ("idle", "pumping_sample"; "unknown" for the
// codes the state line calls Unknown).
const char* run_state_id(uint8_t state);

// Which run controls are enabled, and whether the instrument counts as running.
struct run_enables {
    bool mode_box, clear_log, mode_label, start, cartridges, volume, timeout, clean, stop;
    int running;
};
run_enables run_enable_rules(const status_record& s, uint8_t mode_code);
