#include "config/rs232.h"

#include "link/bytes.h"
#include "link/command_frame.h"
#include "link/commands.h"

#include <cstring>

const combo_row RS232_BAUD[RS232_BAUD_ROWS] = {
    {1200, "1200"},   {2400, "2400"},   {4800, "4800"},   {9600, "9600"},     {14400, "14400"},
    {19200, "19200"}, {38400, "38400"}, {57600, "57600"}, {115200, "115200"},
};
const combo_row RS232_DATA_BITS[RS232_DATA_BITS_ROWS] = {{5, "5"}, {6, "6"}, {7, "7"}, {8, "8"}};
const combo_row RS232_STOP_BITS[RS232_STOP_BITS_ROWS] = {{1, "1"}, {2, "2"}};
const combo_row RS232_PARITY[RS232_PARITY_ROWS] = {
    {RS232_PARITY_NONE, "None"}, {0, "Even"}, {1, "Odd"}, {2, "Space"}, {3, "Mark"},
};
const combo_row RS232_PROTOCOL[RS232_PROTOCOL_ROWS] = {
    {RS232_PROTOCOL_NONE, "None"}, {RS232_PROTOCOL_DU232ZI, "DU232ZI"}, {RS232_PROTOCOL_KESTRAVO, "KESTRAVO"},
};

rs232_settings rs232_settings_of(const rs232_config& c) {
    return {get_u32le(c.bytes + 1), c.bytes[5], c.bytes[6], c.bytes[7], get_u32le(c.bytes + 8)};
}

rs232_config rs232_build(const rs232_settings& s) {
    rs232_config c{};
    put_u32le(c.bytes + 1, s.baud);
    c.bytes[5] = s.parity;
    c.bytes[6] = s.data_bits;
    c.bytes[7] = s.stop_bits;
    put_u32le(c.bytes + 8, s.protocol);
    return c;
}

rs232_settings rs232_protocol_defaults(uint32_t protocol) {
    return {protocol == RS232_PROTOCOL_DU232ZI ? 38400u : 9600u, RS232_PARITY_NONE, 8, 1, protocol};
}

rs232_settings rs232_shown_settings(const rs232_config& config, bool* retired_protocol) {
    rs232_settings s = rs232_settings_of(config);
    const bool retired = s.protocol == RS232_PROTOCOL_DRIFTLINE;
    if (retired) s.protocol = RS232_PROTOCOL_NONE;
    if (retired_protocol) *retired_protocol = retired;
    return s;
}

int rs232_read(rs232_config& out) {
    command_frame f;
    frame_prepare(f, CMD_GET_RS232_CONFIG, 0);
    const int r = command_read(f, RS232_CONFIG_SIZE);
    if (r == 0) std::memcpy(out.bytes, frame_payload(f), RS232_CONFIG_SIZE);
    return r;
}

int rs232_write(const rs232_config& config) {
    command_frame f;
    frame_prepare(f, CMD_SET_RS232_CONFIG, uint8_t(RS232_CONFIG_SIZE));
    std::memcpy(frame_payload(f), config.bytes, RS232_CONFIG_SIZE);
    return command_exchange(f);
}
