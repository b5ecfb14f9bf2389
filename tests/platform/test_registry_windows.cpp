// The settings store on the Windows registry. HKEY_CURRENT_USER is a scratch key here
// (support/windows_registry_sandbox.cpp).
#include "platform/registry.h"

#include <gtest/gtest.h>

#include <windows.h>

#include <string>

namespace {

// The key path the tool uses, two backslashes before the last name included.
const char* KEY = "SOFTWARE\\Calderwyn\\Pellmark\\\\VELTRANIC";

class WindowsRegistryTest : public ::testing::Test {
protected:
    void SetUp() override { RegDeleteTreeA(HKEY_CURRENT_USER, "SOFTWARE\\Calderwyn"); }
    void TearDown() override { RegDeleteTreeA(HKEY_CURRENT_USER, "SOFTWARE\\Calderwyn"); }

    // Writes a value of any type with the plain registry calls, the way another program might.
    static void put_raw(const char* name, DWORD type, const void* data, DWORD size) {
        HKEY key = nullptr;
        ASSERT_EQ(RegCreateKeyExA(HKEY_CURRENT_USER, KEY, 0, nullptr, 0, KEY_SET_VALUE, nullptr, &key, nullptr),
                  ERROR_SUCCESS);
        ASSERT_EQ(RegSetValueExA(key, name, 0, type, static_cast<const BYTE*>(data), size), ERROR_SUCCESS);
        RegCloseKey(key);
    }
};

TEST_F(WindowsRegistryTest, ValuesRoundTripAsRegDwordUnderTheToolsKey) {
    uint32_t v = 7;
    EXPECT_EQ(registry_get_dword(KEY, "RUN_MODE", &v), 1);  // no key yet
    EXPECT_EQ(v, 7u);
    ASSERT_EQ(registry_set_dword(KEY, "RUN_MODE", 255), 0);  // creates the key
    ASSERT_EQ(registry_set_dword(KEY, "SAMPLE_VOLUME", 25), 0);
    ASSERT_EQ(registry_set_dword(KEY, "RUN_MODE", 1), 0);  // replaced
    ASSERT_EQ(registry_set_dword(KEY, "motor_id", 0xDEADBEEF), 0);

    ASSERT_EQ(registry_get_dword(KEY, "RUN_MODE", &v), 0);
    EXPECT_EQ(v, 1u);
    ASSERT_EQ(registry_get_dword(KEY, "SAMPLE_VOLUME", &v), 0);
    EXPECT_EQ(v, 25u);
    ASSERT_EQ(registry_get_dword(KEY, "motor_id", &v), 0);
    EXPECT_EQ(v, 0xDEADBEEFu);  // all 32 bits; callers keep what they need
    EXPECT_EQ(registry_get_dword(KEY, "NUM_SAMPLES", &v), 1);
    EXPECT_EQ(registry_get_dword("SOFTWARE\\Other", "SAMPLE_VOLUME", &v), 1);

    // What another program (regedit, the instrument's own host software) sees: a 4-byte
    // REG_DWORD in the current user's part of the registry.
    DWORD type = 0, data = 0, size = sizeof data;
    HKEY key = nullptr;
    ASSERT_EQ(RegOpenKeyExA(HKEY_CURRENT_USER, KEY, 0, KEY_QUERY_VALUE, &key), ERROR_SUCCESS);
    EXPECT_EQ(RegQueryValueExA(key, "SAMPLE_VOLUME", nullptr, &type, reinterpret_cast<BYTE*>(&data), &size),
              ERROR_SUCCESS);
    RegCloseKey(key);
    EXPECT_EQ(type, DWORD(REG_DWORD));
    EXPECT_EQ(size, 4u);
    EXPECT_EQ(data, 25u);
}

TEST_F(WindowsRegistryTest, ValuesOfAnotherTypeReadAsMissing) {
    put_raw("CLEAN", REG_SZ, "1", 2);
    const uint8_t bytes[4] = {1, 0, 0, 0};
    put_raw("RUN_MODE", REG_BINARY, bytes, sizeof bytes);
    const uint64_t wide = 3;
    put_raw("NUM_SAMPLES", REG_QWORD, &wide, sizeof wide);
    const DWORD big_endian = 0x19000000;
    put_raw("SAMPLE_TIMEOUT", REG_DWORD_BIG_ENDIAN, &big_endian, sizeof big_endian);
    const DWORD volume = 25;
    put_raw("SAMPLE_VOLUME", REG_DWORD, &volume, sizeof volume);

    for (const char* name : {"CLEAN", "RUN_MODE", "NUM_SAMPLES", "SAMPLE_TIMEOUT"}) {
        uint32_t v = 99;
        EXPECT_EQ(registry_get_dword(KEY, name, &v), 1) << name;
        EXPECT_EQ(v, 99u) << name;
    }
    uint32_t v = 0;
    ASSERT_EQ(registry_get_dword(KEY, "SAMPLE_VOLUME", &v), 0);
    EXPECT_EQ(v, 25u);

    // Writing over a value of another type makes it a REG_DWORD.
    ASSERT_EQ(registry_set_dword(KEY, "CLEAN", 1), 0);
    ASSERT_EQ(registry_get_dword(KEY, "CLEAN", &v), 0);
    EXPECT_EQ(v, 1u);
}

TEST_F(WindowsRegistryTest, AKeyThatCannotBeCreatedIsAFailedWrite) {
    // A key name longer than the registry allows (255 characters) cannot be created.
    const std::string too_long = "SOFTWARE\\Calderwyn\\" + std::string(300, 'k');
    EXPECT_EQ(registry_set_dword(too_long.c_str(), "RUN_MODE", 1), 1);
    uint32_t v = 5;
    EXPECT_EQ(registry_get_dword(too_long.c_str(), "RUN_MODE", &v), 1);
    EXPECT_EQ(v, 5u);
}

}  // namespace
