// The stored-settings cores without windows: saturation, tables, the name and password rules,
// the read-back comparison. The bytes on the wire are checked by the dialog tests.
#include "config/cleaning.h"
#include "config/factory.h"
#include "config/flow_meter.h"
#include "config/identification.h"
#include "config/rs232.h"
#include "link/bytes.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

namespace {

// ---- numbers as typed -------------------------------------------------------------------------

TEST(SettingsNumbers, FieldsWiderThanTheWireSaturateInsteadOfWrapping) {
    // Pulses per litre: u32. Wrapped, 5000000000 would arrive as 705032704 and 4294967297 as 1.
    EXPECT_EQ(flow_meter_pulses(flow_meter_from_text("5000000000")), 4294967295u);
    EXPECT_EQ(flow_meter_pulses(flow_meter_from_text("4294967297")), 4294967295u);
    EXPECT_EQ(flow_meter_pulses(flow_meter_from_text("99999999999999999999999")), 4294967295u);
    EXPECT_EQ(flow_meter_pulses(flow_meter_from_text("10000")), 10000u);
    EXPECT_EQ(flow_meter_pulses(flow_meter_from_text("0")), 0u);  // a setting, not an error
    for (const char* junk : {"abc", "-5", "", "12abc", "1.5"})
        EXPECT_EQ(flow_meter_pulses(flow_meter_from_text(junk)), 0u) << junk;

    // Cleaning times: u16, speed 0-100, whatever the true value.
    cleaning_input in{4294967297ull, false, 4294967396ull, 70000, 65536, 18446744073709551615ull};
    const cleaning_values v = cleaning_values_of(cleaning_build(in));
    EXPECT_EQ(v.flow_time, 65535u);
    EXPECT_EQ(v.bleach_speed, 100u);
    EXPECT_EQ(v.bleach_time, 65535u);
    EXPECT_EQ(v.dwell_time, 65535u);
    EXPECT_EQ(v.flush_time, 65535u);

    // Serial numbers: the range check sees the true value.
    EXPECT_TRUE(sensor_serial_valid(65535));
    EXPECT_FALSE(sensor_serial_valid(65536));
    EXPECT_FALSE(sensor_serial_valid(4294967296ull));
}

// ---- RS-232 -----------------------------------------------------------------------------------

TEST(Rs232Tables, RowsInTheirOrderWithTheirValues) {
    const uint32_t bauds[] = {1200, 2400, 4800, 9600, 14400, 19200, 38400, 57600, 115200};
    for (int i = 0; i < RS232_BAUD_ROWS; ++i) {
        EXPECT_EQ(RS232_BAUD[i].value, bauds[i]);
        EXPECT_EQ(std::string(RS232_BAUD[i].text), std::to_string(bauds[i]));
    }
    const char* parity[] = {"None", "Even", "Odd", "Space", "Mark"};
    const uint32_t parity_codes[] = {4, 0, 1, 2, 3};
    for (int i = 0; i < RS232_PARITY_ROWS; ++i) {
        EXPECT_STREQ(RS232_PARITY[i].text, parity[i]);
        EXPECT_EQ(RS232_PARITY[i].value, parity_codes[i]);
    }
    EXPECT_STREQ(RS232_PROTOCOL[0].text, "None");
    EXPECT_STREQ(RS232_PROTOCOL[1].text, "DU232ZI");
    EXPECT_STREQ(RS232_PROTOCOL[2].text, "KESTRAVO");
    EXPECT_EQ(RS232_PROTOCOL[2].value, 3u);
    EXPECT_EQ(RS232_DATA_BITS[0].value, 5u);
    EXPECT_EQ(RS232_DATA_BITS[3].value, 8u);
    EXPECT_EQ(RS232_STOP_BITS[1].value, 2u);
}

// ---- names and identification -------------------------------------------------------------------

TEST(SensorNames, OnlyPrintableAsciiAndAtMostTwentyBytes) {
    EXPECT_TRUE(sensor_name_valid(""));
    EXPECT_TRUE(sensor_name_valid("ABCDEFGHIJKLMNOPQRST"));       // 20
    EXPECT_FALSE(sensor_name_valid("ABCDEFGHIJKLMNOPQRSTU"));     // 21
    EXPECT_TRUE(sensor_name_valid("River 7 (north) ~#!"));
    // Ten characters but eleven bytes: a cut at 20 bytes could split a character, and the
    // instrument's name is shown decoded as UTF-8.
    EXPECT_FALSE(sensor_name_valid("Fl\xC3\xBC" "ss-Probe"));
    EXPECT_FALSE(sensor_name_valid("ABCDEFGHIJKLMNOPQRS\xC3\xA9"));  // 19 + a 2-byte character
    EXPECT_FALSE(sensor_name_valid("TAB\tNAME"));
    EXPECT_FALSE(sensor_name_valid(std::string("A\0B", 3)));
    EXPECT_FALSE(sensor_name_valid("DEL\x7F"));

    // Twenty bytes fill the field; the terminator is byte 22.
    device_info info;
    std::memset(info.bytes, 0xAA, sizeof info.bytes);
    identification_apply(info, "ABCDEFGHIJKLMNOPQRST", 70000);
    EXPECT_EQ(std::memcmp(info.bytes + 2, "ABCDEFGHIJKLMNOPQRST", 20), 0);
    EXPECT_EQ(info.bytes[22], 0);
    EXPECT_EQ(info.bytes[23], 0xAA);
    EXPECT_EQ(device_info_serial(info), 65535);
}

// ---- factory ----------------------------------------------------------------------------------

TEST(FactoryRules, PasswordMatchesExactly) {
    for (const char* wrong : {"", "quol", "quoll ", " quoll", "quollx", "QUOLL", "Quoll"})
        EXPECT_FALSE(factory_password_matches(wrong)) << '"' << wrong << '"';
    EXPECT_FALSE(factory_password_matches(std::string("quoll\0x", 7)));
    EXPECT_TRUE(factory_password_matches("quoll"));
}

TEST(FactoryRules, ReadBackMustCarryNameAndBothSerials) {
    const device_info written = factory_build("UNIT", 10, 20);
    device_info read = written;
    read.bytes[0] = 3;  // format and the instrument's bytes do not matter
    read.bytes[23] = 9;
    EXPECT_TRUE(factory_identity_matches(written, read));
    read = written;
    put_u16le(read.bytes + 27, 0);  // dropped by older firmware
    EXPECT_FALSE(factory_identity_matches(written, read));
    read = written;
    put_u16le(read.bytes + 24, 11);
    EXPECT_FALSE(factory_identity_matches(written, read));
    read = written;
    read.bytes[5] = 'X';
    EXPECT_FALSE(factory_identity_matches(written, read));
}

}  // namespace
