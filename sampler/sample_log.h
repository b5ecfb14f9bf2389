// The instrument's sample log: one record per processed cartridge, and how the run view
// reads, lists and saves it.
#pragma once

#include "link/text_tables.h"

#include <cstddef>
#include <cstdint>
#include <string>

constexpr size_t SAMPLE_RECORD_SIZE = 34;

// bytes: 4 cartridge ID (u16), 14 treatment, 15 stop reason, 16 start time (device time),
// 20 duration s (u32), 24 volume pumped l (float), 28 max pressure bar (float).
struct sample_log_record {
    uint8_t bytes[SAMPLE_RECORD_SIZE];
};

uint16_t sample_cartridge(const sample_log_record& r);
uint8_t sample_treatment(const sample_log_record& r);
uint8_t sample_stop_reason(const sample_log_record& r);
uint32_t sample_start(const sample_log_record& r);
uint32_t sample_duration(const sample_log_record& r);
float sample_volume(const sample_log_record& r);
float sample_max_pressure(const sample_log_record& r);

constexpr int SAMPLE_LOG_COLUMN_COUNT = 7;
extern const list_column SAMPLE_LOG_COLUMNS[SAMPLE_LOG_COLUMN_COUNT];

const char* treatment_text(uint8_t code);
const char* stop_reason_text(uint8_t code);
// The same as stable lower-case identifiers for machine-readable output ("stabilized_full_sample",
// "complete"; "unknown" and "none" where the texts say so).
const char* treatment_id(uint8_t code);
const char* stop_reason_id(uint8_t code);

// The seven cell texts of a record's row.
struct sample_log_row {
    std::string cells[SAMPLE_LOG_COLUMN_COUNT];
};
sample_log_row sample_log_cells(const sample_log_record& record);

// Reads record `index`: 0 and the record, 9 past the end, 14 on link failure, ERR_SHORT_RESPONSE
// when a success carries less than the record, else the result.
int sample_log_read(uint16_t index, sample_log_record& out);

// Where the next read starts, and whether its row already exists (the newest record is read
// again on every pass so that its row follows the instrument).
struct sample_log_cursor {
    uint16_t next = 0;
    bool rewrite = false;
};
