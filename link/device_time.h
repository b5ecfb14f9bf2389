// Instrument timestamps: u32 seconds since 1970-01-01 00:00:00, converted to and from calendar
// fields with no time-zone adjustment (the fields are those of the count read as UTC).
#pragma once

#include <cstdint>

struct calendar_fields {
    int year, month, day;  // month 1-12
    int hour, minute, second;
};

// Fails (false) for a count that, read as signed 32-bit, lies more than 12 hours before 1970.
bool device_time_to_fields(uint32_t t, calendar_fields& out);
// The count for the fields; 0xFFFFFFFF when a 32-bit count cannot hold it (or the fields are bad).
uint32_t device_time_from_fields(const calendar_fields& f);

// "%02d/%02d/%04d %02d:%02d:%02d" (day/month/year), or "invalid (%u)". buf holds 21 bytes.
char* time_text(uint32_t t, char buf[21]);
