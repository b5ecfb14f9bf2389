// The sampling schedule stored on the instrument: a start moment and up to 15 waypoints, each
// taking a number of samples of a volume and timeout, optionally cleaning, at an offset in
// minutes. The record, its texts as the schedule dialog shows them, and the conversions back,
// so the dialog and the command line read and write it the same way.
#pragma once

#include "link/field_text.h"
#include "link/text_tables.h"

#include <cstddef>
#include <cstdint>
#include <string>

constexpr size_t SCHEDULE_RECORD_SIZE = 98;
constexpr int SCHEDULE_WAYPOINTS = 15;
constexpr size_t SCHEDULE_WAYPOINT_SIZE = 6;
constexpr size_t SCHEDULE_FIRST_WAYPOINT = 8;

// bytes: 0 reserved (0), 1 autostart (1 set, 0 clear), 2-3 reserved (0), 4 start time (u32
// device time; 0 = from the next time the scheduler is started), 8 + 6 x i waypoint i.
struct schedule_record {
    uint8_t bytes[SCHEDULE_RECORD_SIZE];
};

// bytes: 0 flags (bit 0 in use, bit 1 clean), 1 number of samples, 2 volume in tenths of a
// litre, 3 timeout in minutes, 4 start offset in minutes (u16).
struct schedule_waypoint {
    uint8_t bytes[SCHEDULE_WAYPOINT_SIZE];
};
constexpr uint8_t WAYPOINT_IN_USE = 0x01;
constexpr uint8_t WAYPOINT_CLEAN = 0x02;

schedule_waypoint schedule_entry(const schedule_record& s, int i);
void schedule_set_entry(schedule_record& s, int i, const schedule_waypoint& w);
uint32_t schedule_start(const schedule_record& s);
uint16_t waypoint_offset(const schedule_waypoint& w);

// The two start options, in the order of their radio buttons.
constexpr int START_OPTION_COUNT = 2;
constexpr uint32_t START_NEXT_TIME = 0;  // "From the next time the scheduler is started"
constexpr uint32_t START_AT_OR_AFTER = 1;
extern const combo_row START_OPTIONS[START_OPTION_COUNT];

// The schedule as the dialog shows it: every row, used or not, as texts.
struct schedule_row_form {
    bool used = false;
    std::string offset, samples, volume, timeout;
    bool clean = false;
};
struct schedule_form {
    bool autostart = false;
    uint32_t start_option = START_NEXT_TIME;
    schedule_row_form rows[SCHEDULE_WAYPOINTS];
};
// Row i shows entry i: offset, samples and timeout "%u", the volume "%.1f" of tenths / 10 +
// 0.01. The start option is "At or after" for any start time but 0.
schedule_form schedule_form_texts(const schedule_record& s);

// What a row's offset field takes (its samples, volume and timeout: sampler/run_settings.h).
constexpr field_rule SCHEDULE_OFFSET_RULE{.min = 0, .max = 65535, .saturates = true, .unit = "minutes"};

// One checked row as an entry: offset up to 65535, samples and timeout up to 255 (non-numbers
// read 0, larger numbers stop at the top), the volume in litres as tenths (x 10 + 0.01,
// truncated, 0-255; "nan" reads 0, "inf" and "1e30" 255).
schedule_waypoint schedule_row_entry(const schedule_row_form& row);
// The record a save sends: the checked rows as entries 0..k-1 in ascending order of offset
// (rows of equal offset keep their order), the rest all zero; reserved bytes 0.
schedule_record schedule_build(const schedule_form& form, uint32_t start);
// The same from entries already made (each marked in use by its flag byte; entries not in use
// are dropped): what a schedule given as numbers rather than texts is saved as.
schedule_record schedule_build_entries(bool autostart, uint32_t start, const schedule_waypoint entries[SCHEDULE_WAYPOINTS]);

// The earliest and latest start times "At or after" can send: 0 would mean the other option,
// and beyond 2038-01-19 03:14:07 a device time cannot hold the moment.
constexpr uint32_t SCHEDULE_START_MIN = 1;
constexpr uint32_t SCHEDULE_START_MAX = 0x7FFFFFFF;
// A save whose "At or after" start lies outside that range: nothing is sent.
constexpr int SCHEDULE_START_OUT_OF_RANGE = 2;
// The start time a save sends. While the operator has left the start controls alone, the start
// as read goes back unchanged (also one the pickers cannot show). Otherwise option 0 sends 0 and
// "At or after" the picked time, which must lie in the range above. 0, or
// SCHEDULE_START_OUT_OF_RANGE (start untouched).
int schedule_save_start(bool start_changed, uint32_t start_as_read, uint32_t option, uint32_t picked, uint32_t* start);
// The message that refuses such a start.
std::string schedule_start_range_text();

// CMD_GET_SCHEDULE: 0 and the record; ERR_LINK_FAILED, the result, or ERR_SHORT_RESPONSE when
// fewer than 98 bytes came back (out untouched on every failure).
int schedule_read(schedule_record& out);
// CMD_SET_SCHEDULE with the 98 bytes: 0, ERR_LINK_FAILED or the result.
int schedule_write(const schedule_record& s);
