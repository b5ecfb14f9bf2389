#include "config/identification.h"

#include "link/bytes.h"

#include <algorithm>
#include <cstring>

bool sensor_name_valid(std::string_view name) {
    if (name.size() > SENSOR_NAME_MAX) return false;
    for (char c : name) {
        const auto b = static_cast<unsigned char>(c);
        if (b < 0x20 || b > 0x7E) return false;
    }
    return true;
}

void device_info_put_name(device_info& info, std::string_view name) {
    const size_t n = std::min(name.size(), SENSOR_NAME_MAX);
    std::memcpy(info.bytes + DEVICE_INFO_NAME, name.data(), n);
    info.bytes[DEVICE_INFO_NAME + n] = 0;  // at n = 20 this is byte 22
    info.bytes[DEVICE_INFO_NAME + SENSOR_NAME_MAX] = 0;
}

void identification_apply(device_info& info, std::string_view name, uint64_t serial) {
    info.bytes[0] = DEVICE_INFO_WRITE_FORMAT;
    device_info_put_name(info, name);
    put_u16le(info.bytes + DEVICE_INFO_SERIAL, uint16_t(std::min(serial, SENSOR_SERIAL_MAX)));
}

int identification_save(std::string_view name, uint64_t serial) {
    if (!sensor_name_valid(name)) return IDENTIFICATION_ERR_NAME;
    device_info info;
    const int read = identity_get_device_info(info);
    if (read != 0) return read;
    identification_apply(info, name, serial);
    return identity_set_device_info(info);
}

const char* identification_outcome_text(int outcome, bool read_back_ok) {
    if (outcome == 0) return read_back_ok ? IDENTIFICATION_SAVED : IDENTIFICATION_SAVE_FAILED;
    if (outcome == IDENTIFICATION_RESULT_TOO_OLD) return IDENTIFICATION_TOO_OLD;
    return IDENTIFICATION_SAVE_FAILED;
}
