#include "sampler/schedule.h"

#include "link/bytes.h"
#include "link/command_frame.h"
#include "link/commands.h"
#include "link/device_time.h"
#include "link/field_text.h"
#include "sampler/run_settings.h"

#include <algorithm>
#include <cstring>
#include <vector>

const combo_row START_OPTIONS[START_OPTION_COUNT] = {
    {START_NEXT_TIME, "From the next time the scheduler is started"},
    {START_AT_OR_AFTER, "At or after"},
};

schedule_waypoint schedule_entry(const schedule_record& s, int i) {
    schedule_waypoint w;
    std::memcpy(w.bytes, s.bytes + SCHEDULE_FIRST_WAYPOINT + SCHEDULE_WAYPOINT_SIZE * size_t(i), SCHEDULE_WAYPOINT_SIZE);
    return w;
}

void schedule_set_entry(schedule_record& s, int i, const schedule_waypoint& w) {
    std::memcpy(s.bytes + SCHEDULE_FIRST_WAYPOINT + SCHEDULE_WAYPOINT_SIZE * size_t(i), w.bytes, SCHEDULE_WAYPOINT_SIZE);
}

uint32_t schedule_start(const schedule_record& s) { return get_u32le(s.bytes + 4); }
uint16_t waypoint_offset(const schedule_waypoint& w) { return get_u16le(w.bytes + 4); }

schedule_form schedule_form_texts(const schedule_record& s) {
    schedule_form form;
    form.autostart = s.bytes[1] != 0;
    form.start_option = schedule_start(s) == 0 ? START_NEXT_TIME : START_AT_OR_AFTER;
    for (int i = 0; i < SCHEDULE_WAYPOINTS; ++i) {
        const schedule_waypoint w = schedule_entry(s, i);
        schedule_row_form& row = form.rows[i];
        row.used = (w.bytes[0] & WAYPOINT_IN_USE) != 0;
        row.clean = (w.bytes[0] & WAYPOINT_CLEAN) != 0;
        row.offset = text_printf("%u", unsigned(waypoint_offset(w)));
        row.samples = text_printf("%u", unsigned(w.bytes[1]));
        row.volume = text_printf("%.1f", w.bytes[2] / 10.0 + 0.01);
        row.timeout = text_printf("%u", unsigned(w.bytes[3]));
    }
    return form;
}

schedule_waypoint schedule_row_entry(const schedule_row_form& row) {
    schedule_waypoint w{};
    w.bytes[0] = WAYPOINT_IN_USE | (row.clean ? WAYPOINT_CLEAN : 0);
    w.bytes[1] = form_byte(row.samples);
    w.bytes[2] = volume_tenths(row.volume);
    w.bytes[3] = form_byte(row.timeout);
    put_u16le(w.bytes + 4, uint16_t(field_unsigned_max(row.offset, 0xFFFF)));
    return w;
}

schedule_record schedule_build(const schedule_form& form, uint32_t start) {
    schedule_waypoint entries[SCHEDULE_WAYPOINTS]{};
    for (int i = 0; i < SCHEDULE_WAYPOINTS; ++i)
        if (form.rows[i].used) entries[i] = schedule_row_entry(form.rows[i]);
    return schedule_build_entries(form.autostart, start, entries);
}

schedule_record schedule_build_entries(bool autostart, uint32_t start, const schedule_waypoint entries[SCHEDULE_WAYPOINTS]) {
    schedule_record s{};
    s.bytes[1] = autostart ? 1 : 0;
    put_u32le(s.bytes + 4, start);
    std::vector<schedule_waypoint> used;
    for (int i = 0; i < SCHEDULE_WAYPOINTS; ++i)
        if (entries[i].bytes[0] & WAYPOINT_IN_USE) used.push_back(entries[i]);
    // The instrument takes the entries in use first and in time order; rows of equal offset stay
    // in the order the operator wrote them.
    std::stable_sort(used.begin(), used.end(), [](const schedule_waypoint& a, const schedule_waypoint& b) {
        return waypoint_offset(a) < waypoint_offset(b);
    });
    for (size_t k = 0; k < used.size(); ++k) schedule_set_entry(s, int(k), used[k]);
    return s;
}

int schedule_save_start(bool start_changed, uint32_t start_as_read, uint32_t option, uint32_t picked, uint32_t* start) {
    if (!start_changed) {
        *start = start_as_read;
        return 0;
    }
    if (option != START_AT_OR_AFTER) {
        *start = 0;
        return 0;
    }
    if (picked < SCHEDULE_START_MIN || picked > SCHEDULE_START_MAX) return SCHEDULE_START_OUT_OF_RANGE;
    *start = picked;
    return 0;
}

std::string schedule_start_range_text() {
    char first[21], last[21];
    return text_printf("The start time must lie between %s and %s. The schedule was not saved.",
                       time_text(SCHEDULE_START_MIN, first), time_text(SCHEDULE_START_MAX, last));
}

int schedule_read(schedule_record& out) {
    command_frame f;
    frame_prepare(f, CMD_GET_SCHEDULE, 0);
    const int r = command_read(f, SCHEDULE_RECORD_SIZE);
    if (r == 0) std::memcpy(out.bytes, frame_payload(f), SCHEDULE_RECORD_SIZE);
    return r;
}

int schedule_write(const schedule_record& s) {
    command_frame f;
    frame_prepare(f, CMD_SET_SCHEDULE, SCHEDULE_RECORD_SIZE);
    std::memcpy(frame_payload(f), s.bytes, SCHEDULE_RECORD_SIZE);
    return command_exchange(f);
}
