// Every command code the tool sends to the instrument.
#pragma once

#include <cstdint>
#include <span>

// identity, firmware start and image writing
constexpr uint16_t CMD_GET_INFO_LEGACY = 0x0100;
constexpr uint16_t CMD_SET_INFO_LEGACY = 0x0101;
constexpr uint16_t CMD_START_FIRMWARE = 0x0102;
constexpr uint16_t CMD_WRITE_IMAGE_BLOCK = 0x0103;
constexpr uint16_t CMD_GET_DEVICE_INFO = 0x0104;
constexpr uint16_t CMD_SET_DEVICE_INFO = 0x0105;
constexpr uint16_t CMD_GET_FIRMWARE_INFO = 0x0106;
// clock, version text, status and LED
constexpr uint16_t CMD_GET_CLOCK = 0x0122;
constexpr uint16_t CMD_SET_CLOCK = 0x0123;
constexpr uint16_t CMD_GET_VERSION_TEXT = 0x0126;
constexpr uint16_t CMD_GET_STATUS = 0x0127;
constexpr uint16_t CMD_TOGGLE_LED = 0x0128;
// log filters, task table and diagnostic log
constexpr uint16_t CMD_SET_LOG_FILTERS = 0x0131;
constexpr uint16_t CMD_GET_TASK_DETAILS = 0x0132;
constexpr uint16_t CMD_READ_LOG_RECORD = 0x0133;
constexpr uint16_t CMD_CLEAR_LOG = 0x0134;
constexpr uint16_t CMD_LOG_READ_START = 0x0135;
constexpr uint16_t CMD_GET_TASK_COUNT = 0x0136;
// RS-232
constexpr uint16_t CMD_GET_RS232_CONFIG = 0x0160;
constexpr uint16_t CMD_SET_RS232_CONFIG = 0x0161;
// configuration blocks and sensors
constexpr uint16_t CMD_GET_CONFIG_BLOCK = 0x0170;
constexpr uint16_t CMD_SET_CONFIG_BLOCK = 0x0171;
constexpr uint16_t CMD_START_SENSORS = 0x0172;
constexpr uint16_t CMD_STOP_SENSORS = 0x0173;
constexpr uint16_t CMD_READ_SENSORS = 0x0174;
// motors
constexpr uint16_t CMD_GET_MOTOR_CONFIG = 0x0180;
constexpr uint16_t CMD_SET_MOTOR_CONFIG = 0x0181;
constexpr uint16_t CMD_MOTOR_RUN = 0x0182;
constexpr uint16_t CMD_MOTOR_STOP = 0x0183;
constexpr uint16_t CMD_MOTOR_ENGAGE = 0x0184;
constexpr uint16_t CMD_MOTOR_DISENGAGE = 0x0185;
constexpr uint16_t CMD_MOTOR_PUMP = 0x0186;
constexpr uint16_t CMD_MOTOR_CLOSE = 0x0188;
// run, cartridge, sample log and cleaning
constexpr uint16_t CMD_START_RUN = 0x01A2;
constexpr uint16_t CMD_STOP_RUN = 0x01A3;
constexpr uint16_t CMD_GET_CARTRIDGE = 0x01A4;
constexpr uint16_t CMD_SET_CARTRIDGE = 0x01A5;
constexpr uint16_t CMD_READ_SAMPLE_RECORD = 0x01A9;
constexpr uint16_t CMD_CLEAR_SAMPLE_LOG = 0x01AA;
constexpr uint16_t CMD_GET_CLEANING_CONFIG = 0x01AB;
constexpr uint16_t CMD_SET_CLEANING_CONFIG = 0x01AC;
// schedule
constexpr uint16_t CMD_GET_SCHEDULE = 0x01B0;
constexpr uint16_t CMD_SET_SCHEDULE = 0x01B1;
constexpr uint16_t CMD_START_SCHEDULE = 0x01B2;
constexpr uint16_t CMD_STOP_SCHEDULE = 0x01B3;

// The codes above by the names of their constants ("CMD_GET_STATUS"), in code order.
struct command_entry {
    uint16_t code;
    const char* name;
};
std::span<const command_entry> command_table();
// The name of a code, or nullptr for a code the tool does not send.
const char* command_name(uint16_t code);
