// The sampler's clock, its stored sampling schedule and the cartridge record of the sample slot.
//
// The clock itself is the sampler's (sim_sampler::clock): CMD_GET_CLOCK / CMD_SET_CLOCK read and
// set it as calendar fields. The schedule is kept as the 98 bytes the tool sent; starting the
// scheduler hands the sampler a plan made of it (sim_schedule_plan_of), which the sampler then
// runs on its own. The cartridge record keeps bytes that only the instrument understands; its
// ID is the sampler's top cartridge.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

struct sim_schedule_plan;

constexpr size_t SIM_SCHEDULE_SIZE = 98;
constexpr size_t SIM_CARTRIDGE_SIZE = 17;
constexpr size_t SIM_CLOCK_SIZE = 8;
// Result of a clock set whose calendar fields name no moment the clock can hold.
constexpr uint8_t SIM_RESULT_BAD_CLOCK = 4;

struct sim_schedule {
    sim_schedule();
    // As last set: byte 1 autostart, 4 start time, 8 + 6 x i waypoint i.
    std::array<uint8_t, SIM_SCHEDULE_SIZE> record{};
    // Bytes 0-1 and 4-16 of the cartridge record (2-3 are the top cartridge's ID).
    std::array<uint8_t, SIM_CARTRIDGE_SIZE> cartridge{};
    // Fault injection: a clock that lost its battery answers these bytes instead of its time.
    bool clock_garbled = false;
    std::array<uint8_t, SIM_CLOCK_SIZE> garbled_clock{};
};

// The waypoints in use of a stored schedule, in time order, and its start time.
sim_schedule_plan sim_schedule_plan_of(const sim_schedule& schedule);
