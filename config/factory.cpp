#include "config/factory.h"

#include "config/identification.h"
#include "link/bytes.h"

#include <algorithm>
#include <cstring>

bool factory_password_matches(std::string_view typed) { return typed == FACTORY_PASSWORD; }

device_info factory_build(std::string_view name, uint64_t sensor_serial, uint64_t board_serial) {
    device_info info{};
    info.bytes[0] = DEVICE_INFO_WRITE_FORMAT;
    device_info_put_name(info, name);
    put_u16le(info.bytes + DEVICE_INFO_SERIAL, uint16_t(std::min(sensor_serial, SENSOR_SERIAL_MAX)));
    put_u16le(info.bytes + DEVICE_INFO_BOARD_SERIAL, uint16_t(std::min(board_serial, SENSOR_SERIAL_MAX)));
    return info;
}

bool factory_identity_matches(const device_info& written, const device_info& read) {
    char a[SENSOR_NAME_MAX + 1], b[SENSOR_NAME_MAX + 1];
    device_info_name(written, a);
    device_info_name(read, b);
    return std::strcmp(a, b) == 0 && device_info_serial(written) == device_info_serial(read) &&
           device_info_board_serial(written) == device_info_board_serial(read);
}

int factory_save(const device_info& record, device_info* read_back) {
    char name[SENSOR_NAME_MAX + 1];
    device_info_name(record, name);
    if (!sensor_name_valid(name)) return FACTORY_ERR_NAME;
    const int written = identity_set_device_info(record);
    if (written != 0) return written;
    device_info read;
    const int r = identity_get_device_info(read);
    if (r != 0) return r;
    if (read_back) *read_back = read;
    return factory_identity_matches(record, read) ? 0 : FACTORY_ERR_MISMATCH;
}
