// The RS-232 port's line settings and the protocol spoken on it: one 12-byte record.
#pragma once

#include "link/text_tables.h"

#include <cstddef>
#include <cstdint>

// Bytes: 0 the instrument's (written as 0), 1-4 baud rate (u32), 5 parity code, 6 data bits,
// 7 stop bits, 8-11 protocol code (u32).
constexpr size_t RS232_CONFIG_SIZE = 12;
struct rs232_config {
    uint8_t bytes[RS232_CONFIG_SIZE];
};

struct rs232_settings {
    uint32_t baud;
    uint8_t parity;
    uint8_t data_bits;
    uint8_t stop_bits;
    uint32_t protocol;
};
rs232_settings rs232_settings_of(const rs232_config& config);
// The record a save sends, built from zero (byte 0 = 0).
rs232_config rs232_build(const rs232_settings& settings);

// The combo boxes' rows, in the order shown.
constexpr int RS232_BAUD_ROWS = 9;
constexpr int RS232_DATA_BITS_ROWS = 4;
constexpr int RS232_STOP_BITS_ROWS = 2;
constexpr int RS232_PARITY_ROWS = 5;
constexpr int RS232_PROTOCOL_ROWS = 3;
extern const combo_row RS232_BAUD[RS232_BAUD_ROWS];
extern const combo_row RS232_DATA_BITS[RS232_DATA_BITS_ROWS];
extern const combo_row RS232_STOP_BITS[RS232_STOP_BITS_ROWS];
extern const combo_row RS232_PARITY[RS232_PARITY_ROWS];
extern const combo_row RS232_PROTOCOL[RS232_PROTOCOL_ROWS];

constexpr uint32_t RS232_PROTOCOL_NONE = 0;
constexpr uint32_t RS232_PROTOCOL_DU232ZI = 1;
constexpr uint32_t RS232_PROTOCOL_DRIFTLINE = 2;  // retired: no row, shown as "None"
constexpr uint32_t RS232_PROTOCOL_KESTRAVO = 3;
constexpr uint8_t RS232_PARITY_NONE = 4;

// The line settings a protocol starts from when the operator picks it: 38400 baud for DU232ZI,
// 9600 for the others; always 8 data bits, 1 stop bit, no parity.
rs232_settings rs232_protocol_defaults(uint32_t protocol);

// The settings a stored record is shown as: as stored, except that the retired protocol shows as
// "None" and is flagged, so the operator is told once. A value that no row has is shown as
// itself, not as the first row (ui_combo_show_value), and a Save keeps it.
rs232_settings rs232_shown_settings(const rs232_config& config, bool* retired_protocol);
// The value of an unwritten record's fields (all bits set), shown as "(not set)".
constexpr uint32_t RS232_BLANK_U32 = 0xFFFFFFFF;
constexpr uint32_t RS232_BLANK_U8 = 0xFF;

// CMD_GET_RS232_CONFIG: 0 and the record (a short answer is a failed read; out untouched).
int rs232_read(rs232_config& out);
// CMD_SET_RS232_CONFIG: 0, ERR_LINK_FAILED or the instrument's result.
int rs232_write(const rs232_config& config);

// The dialog's texts.
constexpr const char* RS232_CAPTION = "Configure RS232";
constexpr const char* RS232_READ_CAPTION = "RS232 Configuration";
constexpr const char* RS232_READ_FAILED = "Unable to retrieve RS232 settings from device";
constexpr const char* RS232_RETIRED_PROTOCOL =
    "Driftline protocol is no longer supported, please choose another and click on Save.";
constexpr const char* RS232_SAVE_FAILED = "Failed to save settings";
constexpr const char* RS232_SAVED = "Settings saved";
