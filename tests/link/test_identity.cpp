#include "link/bytes.h"
#include "link/identity.h"
#include "sim_fixture.h"

#include <set>
#include <string>

namespace {

using IdentityTest = SimLinkTest;

sim_device_config older(bool serial_set, uint8_t kind) {
    sim_device_config c;
    c.firmware.older_firmware = true;
    c.firmware.identity.name = "OLD-UNIT";
    c.firmware.identity.serial = 4321;
    c.firmware.identity.serial_set = serial_set;
    c.firmware.identity.kind = kind;
    c.firmware.identity.bootloader_version = 7;
    c.firmware.mode = sim_mode::bootloader;
    return c;
}

TEST_F(IdentityTest, CurrentFirmwareRecordsAreTakenAsSent) {
    sim_device_config c;
    c.firmware.identity.name = "RIVER-7";
    c.firmware.identity.serial = 0xBEEF;
    c.firmware.identity.board_serial = 0x1234;
    c.firmware.identity.type_code = 1120;
    c.firmware.identity.bootloader_version = 5;
    c.firmware.mode = sim_mode::firmware_bootloader_upgrade;
    auto dev = plug(c);
    ASSERT_EQ(link_open(dev->path().c_str(), 500), 0);

    device_info info{};
    ASSERT_EQ(identity_get_device_info(info), 0);
    char name[21];
    device_info_name(info, name);
    EXPECT_STREQ(name, "RIVER-7");
    EXPECT_EQ(device_info_serial(info), 0xBEEF);
    EXPECT_EQ(device_info_board_serial(info), 0x1234);
    EXPECT_EQ(info.bytes[0], 2);

    firmware_info fw{};
    ASSERT_EQ(identity_get_firmware_info(fw), 0);
    EXPECT_EQ(firmware_info_mode(fw), 2);
    EXPECT_EQ(firmware_info_type(fw), 1120);
    EXPECT_EQ(firmware_info_bootloader_version(fw), 5);
    EXPECT_STREQ(device_type_text(firmware_info_type(fw)), "A1120 Vehicle Sampler");
}

TEST_F(IdentityTest, OlderFirmwareDeviceInfoIsConvertedByteForByte) {
    auto dev = plug(older(false, 5));
    ASSERT_EQ(link_open(dev->path().c_str(), 500), 0);
    device_info info;
    std::memset(info.bytes, 0xAA, sizeof info.bytes);
    ASSERT_EQ(identity_get_device_info(info), 0);
    uint8_t expected[DEVICE_INFO_SIZE] = {};
    put_u16le(expected, 3);  // converted records carry 3 in bytes 0-1
    std::memcpy(expected + 2, "OLD-UNIT", 8);
    // serial not set: 0; bytes 23, 26, 27-28: 0
    EXPECT_EQ(std::vector<uint8_t>(info.bytes, info.bytes + DEVICE_INFO_SIZE),
              std::vector<uint8_t>(expected, expected + DEVICE_INFO_SIZE));

    auto sent = dev->requests();
    ASSERT_EQ(sent.size(), 2u);
    EXPECT_EQ(frame_code(sent[0]), CMD_GET_DEVICE_INFO);
    EXPECT_EQ(frame_code(sent[1]), CMD_GET_INFO_LEGACY);
}

TEST_F(IdentityTest, OlderFirmwareWithSerialSetKeepsSerialAndBootloaderVersion) {
    auto dev = plug(older(true, 5));
    ASSERT_EQ(link_open(dev->path().c_str(), 500), 0);
    device_info info{};
    ASSERT_EQ(identity_get_device_info(info), 0);
    EXPECT_EQ(device_info_serial(info), 4321);
    EXPECT_EQ(get_u16le(info.bytes), 3);

    firmware_info fw;
    std::memset(fw.bytes, 0xAA, sizeof fw.bytes);
    ASSERT_EQ(identity_get_firmware_info(fw), 0);
    const uint8_t expected[FIRMWARE_INFO_SIZE] = {0, 1, uint8_t(1120 & 0xFF), uint8_t(1120 >> 8), 7};
    EXPECT_EQ(std::memcmp(fw.bytes, expected, FIRMWARE_INFO_SIZE), 0);
}

TEST_F(IdentityTest, UnknownDeviceKindsGiveTypeZero) {
    for (uint8_t kind : {uint8_t(0), uint8_t(13)}) {
        auto dev = plug(older(false, kind));
        ASSERT_EQ(link_open(dev->path().c_str(), 500), 0);
        firmware_info fw{};
        ASSERT_EQ(identity_get_firmware_info(fw), 0);
        EXPECT_EQ(firmware_info_type(fw), 0);
        EXPECT_EQ(firmware_info_bootloader_version(fw), 0);  // not set: taken as 0
        EXPECT_STREQ(device_type_text(firmware_info_type(fw)), "A0000 Unknown Device");
        link_close();
    }
}

TEST_F(IdentityTest, FailuresLeaveTheRecordsUntouched) {
    device_info info;
    std::memset(info.bytes, 0x5A, sizeof info.bytes);
    device_info copy = info;
    EXPECT_EQ(identity_get_device_info(info), ERR_LINK_FAILED);  // link closed

    auto dev = plug();
    ASSERT_EQ(link_open(dev->path().c_str(), 500), 0);
    dev->force_result(CMD_GET_DEVICE_INFO, 4);
    EXPECT_EQ(identity_get_device_info(info), 4);
    dev->force_result(CMD_GET_DEVICE_INFO, -1);
    link_close();

    // Older firmware whose older command fails too: 9 for the device info, the older command's
    // own result for the firmware info.
    auto old = plug(older(true, 1));
    old->force_result(CMD_GET_INFO_LEGACY, 3);
    ASSERT_EQ(link_open(old->path().c_str(), 500), 0);
    EXPECT_EQ(identity_get_device_info(info), RESULT_UNSUPPORTED);
    firmware_info fw;
    std::memset(fw.bytes, 0x5A, sizeof fw.bytes);
    firmware_info fw_copy = fw;
    EXPECT_EQ(identity_get_firmware_info(fw), 3);
    EXPECT_EQ(std::memcmp(info.bytes, copy.bytes, sizeof info.bytes), 0);
    EXPECT_EQ(std::memcmp(fw.bytes, fw_copy.bytes, sizeof fw.bytes), 0);
}

TEST_F(IdentityTest, FallbackThatGetsNoAnswerGivesUnsupported) {
    auto old = plug(older(true, 1));
    old->with_firmware([](sim_firmware& fw) { fw.silent_commands.insert(CMD_GET_INFO_LEGACY); });
    ASSERT_EQ(link_open(old->path().c_str(), 80), 0);
    device_info info{};
    firmware_info fw{};
    EXPECT_EQ(identity_get_device_info(info), RESULT_UNSUPPORTED);
    EXPECT_EQ(identity_get_firmware_info(fw), RESULT_UNSUPPORTED);
    old->with_firmware([](sim_firmware& f) { f.silent_commands.clear(); });
    old->force_result(CMD_SET_DEVICE_INFO, RESULT_UNSUPPORTED);
    old->with_firmware([](sim_firmware& f) { f.silent_commands.insert(CMD_SET_INFO_LEGACY); });
    EXPECT_EQ(identity_set_device_info(info), RESULT_UNSUPPORTED);
}

TEST_F(IdentityTest, SetDeviceInfoFallsBackToTheOlderCommand) {
    device_info info{};
    info.bytes[0] = DEVICE_INFO_WRITE_FORMAT;
    std::memcpy(info.bytes + DEVICE_INFO_NAME, "NEW-NAME", 8);
    put_u16le(info.bytes + DEVICE_INFO_SERIAL, 999);
    put_u16le(info.bytes + DEVICE_INFO_BOARD_SERIAL, 77);

    auto cur = plug();
    ASSERT_EQ(link_open(cur->path().c_str(), 500), 0);
    ASSERT_EQ(identity_set_device_info(info), 0);
    auto sent = cur->requests();
    ASSERT_EQ(sent.size(), 1u);
    EXPECT_EQ(sent[0].bytes[FRAME_LENGTH], 29);
    EXPECT_EQ(std::memcmp(sent[0].bytes + FRAME_PAYLOAD, info.bytes, 29), 0);
    cur->with_firmware([](sim_firmware& fw) {
        EXPECT_EQ(fw.identity.name, "NEW-NAME");
        EXPECT_EQ(fw.identity.board_serial, 77);
    });
    link_close();

    // Older firmware: the current command is refused, the older block is read, and the older
    // set command carries the record's name and serial with the block's own mode, device kind
    // and bootloader version.
    auto old = plug(older(true, 1));
    ASSERT_EQ(link_open(old->path().c_str(), 500), 0);
    ASSERT_EQ(identity_set_device_info(info), 0);
    sent = old->requests();
    ASSERT_EQ(sent.size(), 3u);
    EXPECT_EQ(frame_code(sent[0]), CMD_SET_DEVICE_INFO);
    EXPECT_EQ(frame_code(sent[1]), CMD_GET_INFO_LEGACY);
    EXPECT_EQ(frame_code(sent[2]), CMD_SET_INFO_LEGACY);
    EXPECT_EQ(sent[2].bytes[FRAME_LENGTH], 27);
    uint8_t expected[28] = {};
    expected[0] = 1;  // set flag
    expected[1] = 1;  // mode: the older unit runs its bootloader
    std::memcpy(expected + 2, "NEW-NAME", 8);
    expected[23] = 1;  // device kind
    put_u16le(expected + 24, 999);
    expected[26] = 7;  // bootloader version
    // expected[27]: nothing past the 27 bytes
    EXPECT_EQ(std::vector<uint8_t>(sent[2].bytes + FRAME_PAYLOAD, sent[2].bytes + FRAME_PAYLOAD + 28),
              std::vector<uint8_t>(expected, expected + 28));

    old->force_result(CMD_SET_INFO_LEGACY, 8);
    EXPECT_EQ(identity_set_device_info(info), 8);
}

TEST_F(IdentityTest, OlderFirmwareKeepsItsDeviceKindWhenARecordReadFromItIsWrittenBack) {
    // A record converted from the older block holds 0 where the block has the mode, kind and
    // bootloader version; writing it back must not make the instrument an unknown device.
    auto old = plug(older(true, 5));
    ASSERT_EQ(link_open(old->path().c_str(), 500), 0);
    device_info info{};
    ASSERT_EQ(identity_get_device_info(info), 0);
    ASSERT_EQ(info.bytes[1], 0);
    ASSERT_EQ(info.bytes[23], 0);
    ASSERT_EQ(info.bytes[26], 0);
    std::memcpy(info.bytes + DEVICE_INFO_NAME, "RENAMED\0", 8);
    info.bytes[0] = DEVICE_INFO_WRITE_FORMAT;
    ASSERT_EQ(identity_set_device_info(info), 0);

    firmware_info fw{};
    ASSERT_EQ(identity_get_firmware_info(fw), 0);
    EXPECT_STREQ(device_type_text(firmware_info_type(fw)), "A1120 Vehicle Sampler");
    EXPECT_EQ(firmware_info_bootloader_version(fw), 7);
    EXPECT_EQ(firmware_info_mode(fw), 1);
    old->with_firmware([](sim_firmware& f) {
        EXPECT_EQ(f.identity.name, "RENAMED");
        EXPECT_EQ(f.identity.kind, 5);
        EXPECT_EQ(f.identity.bootloader_version, 7);
    });
}

TEST_F(IdentityTest, OlderSetWritesNothingWhenTheOlderBlockCannotBeRead) {
    device_info info{};
    info.bytes[0] = DEVICE_INFO_WRITE_FORMAT;
    std::memcpy(info.bytes + DEVICE_INFO_NAME, "X", 1);
    auto old = plug(older(true, 5));
    ASSERT_EQ(link_open(old->path().c_str(), 300), 0);
    auto sets = [&] {
        int n = 0;
        for (const auto& f : old->requests()) n += frame_code(f) == CMD_SET_INFO_LEGACY;
        return n;
    };
    old->fail_next(CMD_GET_INFO_LEGACY, 1, 3);
    EXPECT_EQ(identity_set_device_info(info), 3);
    EXPECT_EQ(sets(), 0);
    // The read gets no answer at all.
    old->clear_requests();
    old->with_firmware([](sim_firmware& f) { f.silent_commands.insert(CMD_GET_INFO_LEGACY); });
    EXPECT_EQ(identity_set_device_info(info), RESULT_UNSUPPORTED);
    EXPECT_EQ(sets(), 0);
    old->with_firmware([](sim_firmware& f) { EXPECT_EQ(f.identity.name, "OLD-UNIT"); });
}

TEST_F(IdentityTest, ShortAnswersAreFailedReads) {
    auto dev = plug();
    dev->with_firmware([](sim_firmware& f) { f.identity.info_answer_length = 24; });
    ASSERT_EQ(link_open(dev->path().c_str(), 500), 0);
    device_info info;
    std::memset(info.bytes, 0x5A, sizeof info.bytes);
    const device_info copy = info;
    EXPECT_EQ(identity_get_device_info(info), ERR_SHORT_RESPONSE);
    EXPECT_EQ(std::memcmp(info.bytes, copy.bytes, sizeof info.bytes), 0);
}

TEST(IdentityText, SensorNameIsCutAtTwentyCharacters) {
    device_info info{};
    std::memcpy(info.bytes + DEVICE_INFO_NAME, "ABCDEFGHIJKLMNOPQRST", 20);
    info.bytes[22] = 'X';  // whatever follows the field is never shown
    info.bytes[23] = 'Y';
    char name[21];
    device_info_name(info, name);
    EXPECT_STREQ(name, "ABCDEFGHIJKLMNOPQRST");
}

TEST(IdentityText, DeviceTypeTableHas32CodesAnd31Names) {
    std::set<uint16_t> codes;
    std::set<std::string> names;
    for (size_t i = 0; i < DEVICE_TYPE_COUNT; ++i) {
        uint16_t code = device_type_code_at(i);
        EXPECT_GE(code, 1000);
        EXPECT_LE(code, 9999);
        codes.insert(code);
        std::string text = device_type_text(code);
        EXPECT_EQ(text.find("Unknown Device"), std::string::npos) << text;
        EXPECT_LE(text.size(), 39u);
        names.insert(text.substr(6));
    }
    EXPECT_EQ(codes.size(), 32u);
    EXPECT_EQ(names.size(), 31u);
    // Looked up by the low 16 bits; unknown codes are shown with at least four digits.
    EXPECT_STREQ(device_type_text(0x10000u + 1100), "A1100 Cartridge Sampler");
    EXPECT_STREQ(device_type_text(7), "A0007 Unknown Device");
    EXPECT_STREQ(device_type_text(65535), "A65535 Unknown Device");
    for (uint8_t kind = 1; kind <= 12; ++kind) EXPECT_NE(device_kind_code(kind), 0) << int(kind);
    EXPECT_EQ(device_kind_code(0), 0);
    EXPECT_EQ(device_kind_code(13), 0);
}

}  // namespace
