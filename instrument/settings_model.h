// The instrument's stored settings: the numbered configuration blocks (5 flow meter, 6 pressure
// sensor), the cleaning configuration and the RS-232 configuration.
#pragma once

#include <array>
#include <cstdint>
#include <map>
#include <vector>

constexpr uint8_t SIM_BLOCK_FLOW = 5;      // 5 bytes: device byte, pulses per litre (u32)
constexpr uint8_t SIM_BLOCK_PRESSURE = 6;  // 62 bytes: device byte, gain, offset (doubles), 5 points
// Results of the block commands.
constexpr uint8_t SIM_RESULT_NO_SUCH_BLOCK = 4;

struct sim_settings {
    sim_settings();
    // Every block by id, at its fixed length; a command for another id or another length is
    // refused.
    std::map<uint8_t, std::vector<uint8_t>> blocks;

    // The cleaning and RS-232 records, 12 bytes each, stored exactly as the last set command
    // sent them: any value is accepted, so a test or the panel can leave whatever the dialogs
    // must cope with (a speed of 250, a baud rate of 300, a retired protocol).
    std::array<uint8_t, 12> cleaning{};
    std::array<uint8_t, 12> rs232{};
};
