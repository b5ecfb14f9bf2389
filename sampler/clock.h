// The sampler's real-time clock: its 8-byte calendar form, reading and setting it, and the pass
// of the clock dialog's poller.
#pragma once

#include "link/device_time.h"

#include <cstddef>
#include <cstdint>
#include <string>

struct worker_thread;

constexpr size_t CLOCK_TIME_SIZE = 8;

// bytes: 0 reserved (ignored when read, sent as 0), 1 year (u16), 3 month 1-12, 4 day 1-31,
// 5 hour, 6 minute, 7 second. Calendar time with no time zone.
struct clock_time {
    uint8_t bytes[CLOCK_TIME_SIZE];
};

// The fields as they stand, unchecked.
calendar_fields clock_time_fields(const clock_time& c);
// A clock_time of the fields, reserved byte 0. Fields beyond their byte are cut to it: check
// them first with clock_fields_valid when they come from anywhere but a picker.
clock_time clock_time_make(const calendar_fields& f);

// Whether the fields name a real moment that a device time can hold: month 1-12, a day that
// the month has (29 February only in leap years), 00:00:00-23:59:59, from 1970-01-01 00:00:00
// to 2038-01-19 03:14:07.
bool clock_fields_valid(const calendar_fields& f);
// Set Now refuses a moment that clock_fields_valid refuses before anything is sent, and says
// which moments the clock can hold.
constexpr int CLOCK_ERR_RANGE = -1;
std::string clock_range_text();
// The device time of the clock's fields; false (out untouched) when clock_fields_valid says no,
// so a clock reading of month 0 or year 1900 is never taken for a time.
bool clock_time_to_device(const clock_time& c, uint32_t* out);

// "%02d/%02d/%04d %02d:%02d:%02d" of the fields exactly as received (day, month, year, hour,
// minute, second): what the clock dialog shows.
std::string clock_time_text(const clock_time& c);
// What the clock display shows when the clock cannot be read.
constexpr const char* CLOCK_ERROR_TEXT = "ERROR";

// CMD_GET_CLOCK: 0 and the clock in out; ERR_LINK_FAILED, the instrument's result, or
// ERR_SHORT_RESPONSE when fewer than 8 bytes came back (out untouched on every failure).
int clock_read(clock_time& out);
// CMD_SET_CLOCK with the 8 bytes (reserved byte sent as 0): 0, ERR_LINK_FAILED or the result.
int clock_write(const clock_time& c);

// The clock poller's routine, for a worker_thread: reads the clock, hands `show` the text for
// the display (the time, or "ERROR"), waits up to 1000 ms on the wake semaphore, and again,
// until stopped. `show` runs on the poller's thread.
using clock_show_fn = void (*)(worker_thread* self, const std::string& text);
int clock_poll_run(worker_thread* self, clock_show_fn show);
