// Who the instrument is: device information (name, serial numbers) and firmware information
// (mode, device type, bootloader version), with the fall-back to the older identity command.
#pragma once

#include <cstddef>
#include <cstdint>

constexpr size_t DEVICE_INFO_SIZE = 29;
constexpr size_t FIRMWARE_INFO_SIZE = 5;
constexpr size_t SENSOR_NAME_MAX = 20;

// device_info bytes: 0 format, 1 instrument's, 2-21 sensor name, 22 terminator, 23 instrument's,
// 24-25 sensor serial (u16), 26 instrument's, 27-28 processing board serial (u16).
struct device_info {
    uint8_t bytes[DEVICE_INFO_SIZE];
};
constexpr size_t DEVICE_INFO_NAME = 2;
constexpr size_t DEVICE_INFO_SERIAL = 24;
constexpr size_t DEVICE_INFO_BOARD_SERIAL = 27;
constexpr uint8_t DEVICE_INFO_WRITE_FORMAT = 2;

// firmware_info bytes: 0 instrument's, 1 mode, 2-3 device type code (u16), 4 bootloader version.
struct firmware_info {
    uint8_t bytes[FIRMWARE_INFO_SIZE];
};
constexpr uint8_t FIRMWARE_MODE_BOOTLOADER = 1;
constexpr uint8_t FIRMWARE_MODE_BOOTLOADER_UPGRADE = 2;

// The sensor name, at most 20 characters, cut at the first NUL.
void device_info_name(const device_info& info, char out[SENSOR_NAME_MAX + 1]);
uint16_t device_info_serial(const device_info& info);
uint16_t device_info_board_serial(const device_info& info);
uint8_t firmware_info_mode(const firmware_info& info);
uint16_t firmware_info_type(const firmware_info& info);
uint8_t firmware_info_bootloader_version(const firmware_info& info);

// 0 on success, ERR_LINK_FAILED when the first exchange fails at the link, ERR_SHORT_RESPONSE
// when it answers success with less than the record, otherwise the instrument's result code.
// The record is changed only on success. Instruments that answer 9 (older firmware) are asked
// with the older identity command; a failure there gives 9, or for the firmware information
// the older command's own result.
int identity_get_device_info(device_info& out);
// On older firmware the older block is read first and its mode, device kind and bootloader
// version bytes are written back as they stand (the record's own are not the instrument's);
// when that read fails nothing is written and its failure (9 or its result) is returned.
int identity_set_device_info(const device_info& info);
int identity_get_firmware_info(firmware_info& out);

// The firmware's version text (CMD_GET_VERSION_TEXT): 0 and at most 25 characters in out, or
// ERR_LINK_FAILED / the instrument's result (out then empty).
int identity_get_version_text(char out[26]);

// CMD_START_FIRMWARE: a bootloader starts the firmware, after which the instrument leaves the
// bus and comes back running it. 0, ERR_LINK_FAILED or the instrument's result.
int identity_start_firmware();

// The state column of the instrument list: "Bootloader (v%u)" while the bootloader runs, else
// "Firmware". out holds 20 bytes.
const char* firmware_state_text(const firmware_info& info, char out[20]);

// "A%04d %s": the type code and the product name ("Unknown Device" for a code in no row).
// The text lives in a per-thread buffer that the next call on the same thread overwrites.
const char* device_type_text(uint32_t code);

// The type code for a device kind (1-12) of the older identity block; 0 for any other kind.
uint16_t device_kind_code(uint8_t kind);

// How the list of instruments sees one device: opened briefly with the list's timeout, asked
// for its device and its firmware information (each twice before giving up), closed again.
enum class probe_result {
    unreachable,   // it could not be opened: it is not listed
    unidentified,  // it was opened but did not tell who it is ("Unknown device", mode 0)
    identified,    // info and fw are filled
};
// Closes any open link first; leaves the link closed.
probe_result identity_probe(const char* path, device_info& info, firmware_info& fw);

// The table of product types, for the virtual instrument and tests.
constexpr size_t DEVICE_TYPE_COUNT = 32;
uint16_t device_type_code_at(size_t index);
