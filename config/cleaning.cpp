#include "config/cleaning.h"

#include "link/bytes.h"
#include "link/command_frame.h"
#include "link/commands.h"

#include <algorithm>
#include <cstring>

namespace {

uint16_t time_field(uint64_t v) { return uint16_t(std::min<uint64_t>(v, CLEANING_TIME_MAX)); }

}  // namespace

cleaning_values cleaning_values_of(const cleaning_config& c) {
    cleaning_values v;
    v.flow_time = get_u16le(c.bytes + 2);
    v.waste_through_cartridge = c.bytes[4] != 0;
    v.bleach_speed = c.bytes[5];
    v.bleach_time = get_u16le(c.bytes + 6);
    v.dwell_time = get_u16le(c.bytes + 8);
    v.flush_time = get_u16le(c.bytes + 10);
    return v;
}

cleaning_config cleaning_build(const cleaning_input& in) {
    cleaning_config c{};
    put_u16le(c.bytes + 2, time_field(in.flow_time));
    c.bytes[4] = in.waste_through_cartridge ? 1 : 0;
    c.bytes[5] = uint8_t(std::min<uint64_t>(in.bleach_speed, CLEANING_SPEED_MAX));
    put_u16le(c.bytes + 6, time_field(in.bleach_time));
    put_u16le(c.bytes + 8, time_field(in.dwell_time));
    put_u16le(c.bytes + 10, time_field(in.flush_time));
    return c;
}

int cleaning_read(cleaning_config& out) {
    command_frame f;
    frame_prepare(f, CMD_GET_CLEANING_CONFIG, 0);
    const int r = command_read(f, CLEANING_CONFIG_SIZE);
    if (r == 0) std::memcpy(out.bytes, frame_payload(f), CLEANING_CONFIG_SIZE);
    return r;
}

int cleaning_write(const cleaning_config& config) {
    command_frame f;
    frame_prepare(f, CMD_SET_CLEANING_CONFIG, uint8_t(CLEANING_CONFIG_SIZE));
    std::memcpy(frame_payload(f), config.bytes, CLEANING_CONFIG_SIZE);
    return command_exchange(f);
}
