#include "sampler/run_settings.h"

#include "link/field_text.h"
#include "platform/registry.h"

#include <cstdio>
#include <cstring>

const run_mode_row RUN_MODES[RUN_MODE_COUNT] = {
    {0, "Load/Unload"},
    {1, "Sample"},
    {2, "Prime"},
    {SCHEDULE_CONTROL, "Schedule"},
};

namespace {

struct stored_value {
    const char* name;
    size_t byte;
};
constexpr stored_value STORED[] = {
    {"RUN_MODE", 1}, {"NUM_SAMPLES", 2}, {"SAMPLE_VOLUME", 3}, {"SAMPLE_TIMEOUT", 4}, {"CLEAN", 5},
};

}  // namespace

void settings_key_path(char out[80]) { std::snprintf(out, 80, "%s\\%s", "SOFTWARE\\Calderwyn\\Pellmark\\", "VELTRANIC"); }

run_settings run_settings_load() {
    run_settings s{};
    for (const stored_value& v : STORED) {
        char key[80];
        settings_key_path(key);
        uint32_t value = 0;
        if (registry_get_dword(key, v.name, &value) == 0) s.bytes[v.byte] = uint8_t(value & 0xFF);
    }
    return s;
}

int run_settings_save(const run_settings& settings) {
    int failed = 0;
    for (const stored_value& v : STORED) failed |= registry_write_dword(settings.bytes[v.byte], v.name);
    return failed;
}

int registry_write_dword(uint32_t value, const char* name) {
    char key[80];
    settings_key_path(key);
    return registry_set_dword(key, name, value);
}

run_form run_settings_form_texts(const run_settings& s) {
    run_form f;
    f.mode_row = 0;
    for (int i = 0; i < RUN_MODE_COUNT; ++i) {
        if (RUN_MODES[i].code == s.bytes[1]) {
            f.mode_row = i;
            break;
        }
    }
    char buf[32];
    std::snprintf(buf, sizeof buf, "%u", unsigned(s.bytes[2]));
    f.cartridges = buf;
    text_format(buf, sizeof buf, "%.1f", s.bytes[3] / 10.0 + 0.01);
    f.volume = buf;
    std::snprintf(buf, sizeof buf, "%u", unsigned(s.bytes[4]));
    f.timeout = buf;
    f.clean = s.bytes[5] != 0;
    return f;
}

uint8_t form_byte(const std::string& text) { return uint8_t(field_unsigned_max(text, 255)); }

bool volume_litres_to_tenths(double litres, uint8_t* tenths) {
    const double t = litres * 10.0 + 0.01;
    if (!(t >= 0)) {  // negative, or not a number at all
        *tenths = 0;
        return false;
    }
    if (t >= 256) {  // "inf" and "1e30" stop at the top
        *tenths = 255;
        return false;
    }
    *tenths = uint8_t(t);
    return true;
}

uint8_t volume_tenths(const std::string& litres) {
    const std::string head = litres.substr(0, 23);
    uint8_t tenths = 0;
    (void)volume_litres_to_tenths(text_to_double(head.c_str()), &tenths);
    return tenths;
}

run_settings run_settings_parse_form(const run_form& f) {
    run_settings s{};
    s.bytes[1] = f.mode_row >= 0 && f.mode_row < RUN_MODE_COUNT ? RUN_MODES[f.mode_row].code : 0;
    s.bytes[2] = form_byte(f.cartridges);
    s.bytes[3] = volume_tenths(f.volume);
    s.bytes[4] = form_byte(f.timeout);
    s.bytes[5] = f.clean ? 1 : 0;
    return s;
}
