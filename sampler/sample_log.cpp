#include "sampler/sample_log.h"

#include "link/bytes.h"
#include "link/command_frame.h"
#include "link/commands.h"
#include "link/device_time.h"
#include "link/field_text.h"

#include <cstdio>
#include <cstring>

uint16_t sample_cartridge(const sample_log_record& r) { return get_u16le(r.bytes + 4); }
uint8_t sample_treatment(const sample_log_record& r) { return r.bytes[14]; }
uint8_t sample_stop_reason(const sample_log_record& r) { return r.bytes[15]; }
uint32_t sample_start(const sample_log_record& r) { return get_u32le(r.bytes + 16); }
uint32_t sample_duration(const sample_log_record& r) { return get_u32le(r.bytes + 20); }
float sample_volume(const sample_log_record& r) { return get_f32le(r.bytes + 24); }
float sample_max_pressure(const sample_log_record& r) { return get_f32le(r.bytes + 28); }

const list_column SAMPLE_LOG_COLUMNS[SAMPLE_LOG_COLUMN_COUNT] = {
    {"Start Time", 15},   {"Cartridge ID", 10},          {"Duration (sec)", 10},    {"Treatment", 20},
    {"Stop Reason", 10},  {"Volume Pumped (litre)", 15}, {"Max Pressure (bar)", 15},
};

const char* treatment_text(uint8_t code) {
    static const char* const TEXTS[] = {"unused", "incomplete sample", "unstabilized full sample",
                                        "stabilized full sample", "bleached", "primed",
                                        "stabilized incomplete sample"};
    return code < 7 ? TEXTS[code] : "unknown";
}

const char* stop_reason_text(uint8_t code) {
    switch (code) {
        case 1: return "cancelled";
        case 2: return "hall sensor";
        case 4: return "over-pressure";
        case 5: return "timeout";
        case 6: return "complete";
        case 7: return "didn't start";
        default: return "none";
    }
}

const char* treatment_id(uint8_t code) {
    static const char* const IDS[] = {"unused", "incomplete_sample", "unstabilized_full_sample",
                                      "stabilized_full_sample", "bleached", "primed",
                                      "stabilized_incomplete_sample"};
    return code < 7 ? IDS[code] : "unknown";
}

const char* stop_reason_id(uint8_t code) {
    switch (code) {
        case 1: return "cancelled";
        case 2: return "hall_sensor";
        case 4: return "over_pressure";
        case 5: return "timeout";
        case 6: return "complete";
        case 7: return "did_not_start";
        default: return "none";
    }
}

sample_log_row sample_log_cells(const sample_log_record& r) {
    sample_log_row row;
    char buf[64];
    char time_buf[21];
    row.cells[0] = time_text(sample_start(r), time_buf);
    std::snprintf(buf, sizeof buf, "%u", unsigned(sample_cartridge(r)));
    row.cells[1] = buf;
    std::snprintf(buf, sizeof buf, "%u", sample_duration(r));
    row.cells[2] = buf;
    row.cells[3] = treatment_text(sample_treatment(r));
    row.cells[4] = stop_reason_text(sample_stop_reason(r));
    text_format(buf, sizeof buf, "%.3f", double(sample_volume(r)));
    row.cells[5] = buf;
    text_format(buf, sizeof buf, "%.3f", double(sample_max_pressure(r)));
    row.cells[6] = buf;
    return row;
}

int sample_log_read(uint16_t index, sample_log_record& out) {
    command_frame f;
    frame_prepare(f, CMD_READ_SAMPLE_RECORD, 2);
    put_u16le(frame_payload(f), index);
    // A record cut short is a failed read: its missing bytes are never listed as zeros.
    const int r = command_read(f, SAMPLE_RECORD_SIZE);
    if (r == 0) std::memcpy(out.bytes, frame_payload(f), SAMPLE_RECORD_SIZE);
    return r;
}
