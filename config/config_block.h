// The instrument's numbered configuration blocks (5 flow meter, 6 pressure sensor), read and
// written whole, and the sensor commands that the motor and pressure dialogs share.
#pragma once

#include <cstddef>
#include <cstdint>

constexpr uint8_t CONFIG_BLOCK_FLOW = 5;
constexpr size_t CONFIG_BLOCK_FLOW_SIZE = 5;
constexpr uint8_t CONFIG_BLOCK_PRESSURE = 6;
constexpr size_t CONFIG_BLOCK_PRESSURE_SIZE = 62;

// CMD_GET_CONFIG_BLOCK (id, length): 0 and the block in out, ERR_LINK_FAILED, the instrument's
// result, or ERR_SHORT_RESPONSE when fewer bytes came back than asked for (out untouched).
int config_block_read(uint8_t id, uint8_t* out, size_t length);
// CMD_SET_CONFIG_BLOCK (id, length, bytes): 0, ERR_LINK_FAILED or the instrument's result.
int config_block_write(uint8_t id, const uint8_t* bytes, size_t length);

// The sensor sampling that the motor and pressure dialogs switch on while they are open.
constexpr size_t SENSOR_SAMPLE_SIZE = 30;
struct sensor_sample {
    uint8_t bytes[SENSOR_SAMPLE_SIZE];
};
int sensors_start();  // 0, ERR_LINK_FAILED or the result
int sensors_stop();
// CMD_READ_SENSORS: 0 and the sample, otherwise a failure (out untouched, short answers too).
int sensors_read(sensor_sample& out);
