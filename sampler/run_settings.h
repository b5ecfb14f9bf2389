// The run parameter record and its persistence in the per-user settings store.
#pragma once

#include "link/field_text.h"

#include <cstddef>
#include <cstdint>
#include <string>

constexpr size_t RUN_SETTINGS_SIZE = 10;
constexpr uint8_t SCHEDULE_CONTROL = 0xFF;

// bytes: 0 reserved, 1 run mode code, 2 cartridges, 3 volume in tenths of a litre,
// 4 timeout in minutes, 5 clean flag, 6-9 start time (u32, PC seconds since 1970 UTC).
struct run_settings {
    uint8_t bytes[RUN_SETTINGS_SIZE];
};

struct run_mode_row {
    uint8_t code;
    const char* text;
};
constexpr int RUN_MODE_COUNT = 4;
extern const run_mode_row RUN_MODES[RUN_MODE_COUNT];

// "SOFTWARE\Calderwyn\Pellmark\\VELTRANIC", composed afresh each time into 80 characters.
void settings_key_path(char out[80]);

run_settings run_settings_load();
// 0, or 1 when a value could not be stored (each is still attempted).
int run_settings_save(const run_settings& settings);
// What the run view says when they could not be stored.
constexpr const char* RUN_SETTINGS_NOT_SAVED = "Unable to save the run settings for next time";
// One 32-bit value under the settings key: 0 on success, 1 on failure.
int registry_write_dword(uint32_t value, const char* name);

// The form's contents as texts, and back.
struct run_form {
    int mode_row = -1;  // -1: no row selected
    std::string cartridges, volume, timeout;
    bool clean = false;
};
run_form run_settings_form_texts(const run_settings& settings);
run_settings run_settings_parse_form(const run_form& form);

// What the run view's and the schedule's fields take: whole counts and minutes up to 255 and a
// volume in litres up to 25.5 (a larger number is sent as the top, as its byte holds no more).
constexpr field_rule FORM_COUNT_RULE{.min = 0, .max = 255, .saturates = true};
constexpr field_rule FORM_MINUTES_RULE{.min = 0, .max = 255, .saturates = true, .unit = "minutes"};
constexpr field_rule FORM_VOLUME_RULE{.decimal = true, .min = 0, .max = 25.5, .saturates = true, .unit = "litres"};

// An unsigned decimal field: the number, 0 for a non-number, at most 255.
uint8_t form_byte(const std::string& text);
// The one conversion of a volume in litres to the tenths of a litre that the records carry:
// x 10 + 0.01, cut toward zero (2.56 gives 25, 0.05 gives 0). False when that lies outside
// 0-255 or litres is no number; *tenths then holds it limited to 0-255 ("nan" 0, "inf" 255).
bool volume_litres_to_tenths(double litres, uint8_t* tenths);
// A volume typed in litres (its first 23 characters) as tenths of a litre, by that conversion
// and limited to 0-255, so "inf" or "1e30" give 255 and "nan" 0.
uint8_t volume_tenths(const std::string& litres);
