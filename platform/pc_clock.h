// The PC's clock: UTC seconds since 1970 and local calendar fields.
#pragma once

#include <cstdint>

uint32_t pc_clock_utc_seconds();

struct pc_local_time {
    int year, month, day, hour, minute, second;  // month 1-12
};
pc_local_time pc_clock_local();

// Tests pin the clock: a non-zero value is returned instead of the real time (0 releases it).
void pc_clock_pin(uint32_t utc_seconds);
