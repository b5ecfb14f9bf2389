#include "config/config_block.h"

#include "link/command_frame.h"
#include "link/commands.h"

#include <cstring>

int config_block_read(uint8_t id, uint8_t* out, size_t length) {
    if (length > FRAME_PAYLOAD_MAX) return ERR_SHORT_RESPONSE;
    command_frame f;
    frame_prepare(f, CMD_GET_CONFIG_BLOCK, 2);
    frame_payload(f)[0] = id;
    frame_payload(f)[1] = uint8_t(length);
    const int r = command_read(f, length);
    if (r == 0) std::memcpy(out, frame_payload(f), length);
    return r;
}

int config_block_write(uint8_t id, const uint8_t* bytes, size_t length) {
    if (length + 2 > FRAME_PAYLOAD_MAX) return ERR_LINK_FAILED;
    command_frame f;
    frame_prepare(f, CMD_SET_CONFIG_BLOCK, uint8_t(length + 2));
    frame_payload(f)[0] = id;
    frame_payload(f)[1] = uint8_t(length);
    std::memcpy(frame_payload(f) + 2, bytes, length);
    return command_exchange(f);
}

namespace {

int simple(uint16_t code) {
    command_frame f;
    frame_prepare(f, code, 0);
    return command_exchange(f);
}

}  // namespace

int sensors_start() { return simple(CMD_START_SENSORS); }
int sensors_stop() { return simple(CMD_STOP_SENSORS); }

int sensors_read(sensor_sample& out) {
    command_frame f;
    frame_prepare(f, CMD_READ_SENSORS, 0);
    const int r = command_read(f, SENSOR_SAMPLE_SIZE);
    if (r == 0) std::memcpy(out.bytes, frame_payload(f), SENSOR_SAMPLE_SIZE);
    return r;
}
