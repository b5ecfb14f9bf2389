// The stored-settings cores without windows: records, clamping, tables, the name and password
// rules, and the command wrappers' bytes against the virtual instrument.
#include "config/cleaning.h"
#include "config/factory.h"
#include "config/flow_meter.h"
#include "config/identification.h"
#include "config/rs232.h"
#include "instrument/sim_bus.h"
#include "link/bytes.h"
#include "link/commands.h"
#include "link/link.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

namespace {

template <size_t N>
std::vector<uint8_t> bytes_of(const uint8_t (&b)[N]) {
    return std::vector<uint8_t>(b, b + N);
}

// ---- numbers as typed -------------------------------------------------------------------------

TEST(SettingsNumbers, FieldsWiderThanTheWireSaturateInsteadOfWrapping) {
    // Pulses per litre: u32. 5000000000 once arrived as 705032704, 4294967297 as 1.
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

TEST(SettingsNumbers, FlowMeterBlockAlwaysSendsTheDeviceByteAsZero) {
    const flow_meter_config c = flow_meter_build(10000);
    const uint8_t expected[5] = {0, 0x10, 0x27, 0, 0};
    EXPECT_EQ(bytes_of(c.bytes), bytes_of(expected));
}

// ---- cleaning ---------------------------------------------------------------------------------

TEST(CleaningRecord, BuiltFromZeroWithEveryFieldInItsPlace) {
    cleaning_input in{300, true, 150, 45, 600, 70000};
    const cleaning_config c = cleaning_build(in);
    const uint8_t expected[12] = {0, 0, 0x2C, 0x01, 1, 100, 45, 0, 0x58, 0x02, 0xFF, 0xFF};
    EXPECT_EQ(bytes_of(c.bytes), bytes_of(expected));
    in.waste_through_cartridge = false;
    EXPECT_EQ(cleaning_build(in).bytes[4], 0);
}

TEST(CleaningRecord, AnyNonZeroFlagReadsTicked) {
    cleaning_config c{};
    c.bytes[4] = 7;
    c.bytes[5] = 250;  // stored as sent by someone else: shown as it is
    EXPECT_TRUE(cleaning_values_of(c).waste_through_cartridge);
    EXPECT_EQ(cleaning_values_of(c).bleach_speed, 250u);
    c.bytes[4] = 0;
    EXPECT_FALSE(cleaning_values_of(c).waste_through_cartridge);
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

TEST(Rs232Tables, StoredValuesInNoRowShowTheFirstRowAndTheRetiredProtocolIsFlagged) {
    rs232_config c = rs232_build({300, 9, 3, 7, 2});
    rs232_rows rows = rs232_rows_of(c);
    EXPECT_TRUE(rows.retired_protocol);
    EXPECT_EQ(rows.protocol, 0);
    EXPECT_EQ(rows.baud, 0);  // "1200": saving then writes 1200
    EXPECT_EQ(rows.parity, 0);
    EXPECT_EQ(rows.data_bits, 0);
    EXPECT_EQ(rows.stop_bits, 0);
    const rs232_settings saved = rs232_settings_of_rows(rows);
    EXPECT_EQ(saved.baud, 1200u);
    EXPECT_EQ(saved.protocol, 0u);

    // An unknown protocol other than the retired one: the first row, no message.
    rows = rs232_rows_of(rs232_build({57600, 1, 7, 2, 9}));
    EXPECT_FALSE(rows.retired_protocol);
    EXPECT_EQ(rows.protocol, 0);
    EXPECT_EQ(rows.baud, 7);
    EXPECT_EQ(rows.parity, 2);  // "Odd"
    EXPECT_EQ(rows.data_bits, 2);
    EXPECT_EQ(rows.stop_bits, 1);
}

TEST(Rs232Tables, ProtocolDefaultsAndTheRecordBytes) {
    const rs232_settings du = rs232_protocol_defaults(RS232_PROTOCOL_DU232ZI);
    EXPECT_EQ(du.baud, 38400u);
    EXPECT_EQ(du.data_bits, 8);
    EXPECT_EQ(du.stop_bits, 1);
    EXPECT_EQ(du.parity, RS232_PARITY_NONE);
    EXPECT_EQ(rs232_protocol_defaults(RS232_PROTOCOL_KESTRAVO).baud, 9600u);
    EXPECT_EQ(rs232_protocol_defaults(RS232_PROTOCOL_NONE).baud, 9600u);

    const rs232_config c = rs232_build({115200, 0, 7, 2, RS232_PROTOCOL_KESTRAVO});
    const uint8_t expected[12] = {0, 0x00, 0xC2, 0x01, 0x00, 0, 7, 2, 3, 0, 0, 0};
    EXPECT_EQ(bytes_of(c.bytes), bytes_of(expected));
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
}

TEST(SensorNames, ApplyKeepsEveryByteItDoesNotSet) {
    device_info info;
    for (size_t i = 0; i < DEVICE_INFO_SIZE; ++i) info.bytes[i] = uint8_t(0xA0 + i);
    identification_apply(info, "NEW", 70000);
    uint8_t expected[DEVICE_INFO_SIZE];
    for (size_t i = 0; i < DEVICE_INFO_SIZE; ++i) expected[i] = uint8_t(0xA0 + i);
    expected[0] = 2;
    std::memcpy(expected + 2, "NEW", 4);  // with its terminator; the field's tail stays
    expected[22] = 0;
    put_u16le(expected + 24, 65535);
    EXPECT_EQ(bytes_of(info.bytes), bytes_of(expected));

    // A name of exactly 20 bytes ends at byte 22.
    identification_apply(info, "ABCDEFGHIJKLMNOPQRST", 0);
    EXPECT_EQ(std::memcmp(info.bytes + 2, "ABCDEFGHIJKLMNOPQRST", 20), 0);
    EXPECT_EQ(info.bytes[22], 0);
    EXPECT_EQ(device_info_serial(info), 0);
}

TEST(SensorNames, OutcomeTexts) {
    EXPECT_STREQ(identification_outcome_text(0, true), "Settings saved");
    EXPECT_STREQ(identification_outcome_text(0, false), "Failed to save settings");
    EXPECT_STREQ(identification_outcome_text(8, false), "Failed to save settings (firmware is too old for GUI)");
    EXPECT_STREQ(identification_outcome_text(ERR_LINK_FAILED, false), "Failed to save settings");
    EXPECT_STREQ(identification_outcome_text(IDENTIFICATION_ERR_NAME, false), "Failed to save settings");
}

// ---- factory ----------------------------------------------------------------------------------

TEST(FactoryRules, PasswordMatchesExactly) {
    for (const char* wrong : {"", "quol", "quoll ", " quoll", "quollx", "QUOLL", "Quoll"})
        EXPECT_FALSE(factory_password_matches(wrong)) << '"' << wrong << '"';
    EXPECT_FALSE(factory_password_matches(std::string("quoll\0x", 7)));
    EXPECT_TRUE(factory_password_matches("quoll"));
}

TEST(FactoryRules, RecordIsBuiltFromZeroWithSerialsClamped) {
    const device_info info = factory_build("BOARD-9", 70000, 300);
    uint8_t expected[DEVICE_INFO_SIZE] = {};
    expected[0] = 2;
    std::memcpy(expected + 2, "BOARD-9", 7);
    put_u16le(expected + 24, 65535);
    put_u16le(expected + 27, 300);
    EXPECT_EQ(bytes_of(info.bytes), bytes_of(expected));
    EXPECT_EQ(device_info_board_serial(factory_build("X", 0, 70000)), 65535);
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

// ---- commands against the virtual instrument ------------------------------------------------------

class SettingsCommandTest : public ::testing::Test {
protected:
    void SetUp() override {
        sim_bus_install();
        sim_bus_reset();
        dev = sim_bus_add();
        ASSERT_EQ(link_open(dev->path().c_str(), 300), 0);
    }
    void TearDown() override {
        link_close();
        sim_bus_reset();
    }
    // The one request sent, as code, length byte and payload bytes.
    void expect_sent(uint16_t code, const std::vector<uint8_t>& payload) {
        auto sent = dev->requests();
        ASSERT_EQ(sent.size(), 1u);
        EXPECT_EQ(frame_code(sent[0]), code);
        EXPECT_EQ(sent[0].bytes[FRAME_LENGTH], payload.size());
        EXPECT_EQ(std::vector<uint8_t>(frame_payload(sent[0]), frame_payload(sent[0]) + payload.size()), payload);
        dev->clear_requests();
    }
    std::shared_ptr<sim_device> dev;
};

TEST_F(SettingsCommandTest, EachRecordGoesOutAsItsCommandAndComesBackStoredAsSent) {
    ASSERT_EQ(flow_meter_write(flow_meter_build(12345)), 0);
    expect_sent(CMD_SET_CONFIG_BLOCK, {5, 5, 0, 0x39, 0x30, 0, 0});
    flow_meter_config flow{};
    ASSERT_EQ(flow_meter_read(flow), 0);
    expect_sent(CMD_GET_CONFIG_BLOCK, {5, 5});
    EXPECT_EQ(flow_meter_pulses(flow), 12345u);

    cleaning_config odd{};
    for (size_t i = 0; i < CLEANING_CONFIG_SIZE; ++i) odd.bytes[i] = uint8_t(0xF0 + i);
    ASSERT_EQ(cleaning_write(odd), 0);
    expect_sent(CMD_SET_CLEANING_CONFIG, bytes_of(odd.bytes));
    cleaning_config back{};
    ASSERT_EQ(cleaning_read(back), 0);
    expect_sent(CMD_GET_CLEANING_CONFIG, {});
    EXPECT_EQ(bytes_of(back.bytes), bytes_of(odd.bytes));

    const rs232_config rs = rs232_build({19200, 0, 7, 2, RS232_PROTOCOL_DRIFTLINE});
    ASSERT_EQ(rs232_write(rs), 0);
    expect_sent(CMD_SET_RS232_CONFIG, bytes_of(rs.bytes));
    rs232_config rs_back{};
    ASSERT_EQ(rs232_read(rs_back), 0);
    expect_sent(CMD_GET_RS232_CONFIG, {});
    EXPECT_EQ(bytes_of(rs_back.bytes), bytes_of(rs.bytes));
}

TEST_F(SettingsCommandTest, FailedReadsLeaveTheRecordUntouched) {
    cleaning_config c;
    std::memset(c.bytes, 0x5A, sizeof c.bytes);
    rs232_config r;
    std::memset(r.bytes, 0x5A, sizeof r.bytes);
    flow_meter_config f;
    std::memset(f.bytes, 0x5A, sizeof f.bytes);
    dev->fail_next(CMD_GET_CLEANING_CONFIG, 1, 3);
    dev->fail_next(CMD_GET_RS232_CONFIG, 1, 3);
    dev->fail_next(CMD_GET_CONFIG_BLOCK, 1, 3);
    EXPECT_EQ(cleaning_read(c), 3);
    EXPECT_EQ(rs232_read(r), 3);
    EXPECT_EQ(flow_meter_read(f), 3);
    for (uint8_t b : c.bytes) EXPECT_EQ(b, 0x5A);
    for (uint8_t b : r.bytes) EXPECT_EQ(b, 0x5A);
    for (uint8_t b : f.bytes) EXPECT_EQ(b, 0x5A);
    dev->force_result(CMD_SET_CLEANING_CONFIG, 6);
    EXPECT_EQ(cleaning_write(c), 6);
    link_close();
    EXPECT_EQ(rs232_write(r), ERR_LINK_FAILED);
}

TEST_F(SettingsCommandTest, IdentificationSaveKeepsTheInstrumentsBytes) {
    dev->with_firmware([](sim_firmware& fw) {
        auto& rec = fw.identity.info_record;
        rec[1] = 0x11;
        rec[23] = 0x23;
        rec[26] = 0x26;
        std::memcpy(rec.data() + 2, "SAMPLER-01\0TAILBYTES", 20);
    });
    ASSERT_EQ(identification_save("NEW-NAME", 77), 0);
    auto sent = dev->requests();
    ASSERT_EQ(sent.size(), 2u);
    EXPECT_EQ(frame_code(sent[0]), CMD_GET_DEVICE_INFO);
    EXPECT_EQ(frame_code(sent[1]), CMD_SET_DEVICE_INFO);
    uint8_t expected[DEVICE_INFO_SIZE] = {};
    expected[0] = 2;
    expected[1] = 0x11;
    // The new name and its terminator; after it what the field held ("SAMPLER-01"'s last
    // character, its terminator, the tail).
    std::memcpy(expected + 2, "NEW-NAME\0" "1\0TAILBYTES", 20);
    expected[23] = 0x23;
    put_u16le(expected + 24, 77);
    expected[26] = 0x26;
    put_u16le(expected + 27, 5678);  // the board serial as read
    EXPECT_EQ(std::vector<uint8_t>(frame_payload(sent[1]), frame_payload(sent[1]) + DEVICE_INFO_SIZE),
              bytes_of(expected));

    // An invalid name sends nothing; a failed read writes nothing.
    dev->clear_requests();
    EXPECT_EQ(identification_save("Z\xC3\xBCrich", 1), IDENTIFICATION_ERR_NAME);
    EXPECT_EQ(dev->request_count(), 0u);
    dev->fail_next(CMD_GET_DEVICE_INFO, 1, 8);
    EXPECT_EQ(identification_save("OK", 1), 8);
    ASSERT_EQ(dev->requests().size(), 1u);
}

TEST_F(SettingsCommandTest, FactorySaveOnOlderFirmwareIsAFailureWhenTheBoardSerialIsDropped) {
    dev->with_firmware([](sim_firmware& fw) { fw.older_firmware = true; });
    device_info back{};
    EXPECT_EQ(factory_save(factory_build("OLDER", 42, 9), &back), FACTORY_ERR_MISMATCH);
    EXPECT_EQ(device_info_board_serial(back), 0);
    dev->with_firmware([](sim_firmware& fw) {
        EXPECT_EQ(fw.identity.name, "OLDER");
        EXPECT_EQ(fw.identity.serial, 42);
        EXPECT_EQ(fw.identity.kind, 1);  // kept from the older block
    });
    // Without a board serial there is nothing to drop: saved.
    EXPECT_EQ(factory_save(factory_build("OLDER", 43, 0), &back), 0);
}

}  // namespace
