// The motor fields' range rules, the state of every control, and the remembered motor. (The
// commands and records are tested through the dialog, on the virtual instrument.)
#include "config/motor.h"
#include "link/field_text.h"
#include "platform/registry.h"
#include "sampler/run_settings.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <string>

#ifndef _WIN32
#include <unistd.h>
#endif

namespace {

// Where the dialog tests do not go: the limits of the pressure fields, and which fields count.
TEST(MotorFields, PressureLimitsCountOnlyOnAPumpWithThePressureAutostop) {
    motor_field_texts t{"50", "0", "0", "10", "3600"};
    EXPECT_FALSE(motor_check_fields(4, AUTOSTOP_PRESSURE, t).any());
    t.max_pressure = "11";
    EXPECT_TRUE(motor_check_fields(4, AUTOSTOP_PRESSURE, t).max_pressure);
    t.max_pressure = "10";
    t.overpressure_timeout = "3601";
    EXPECT_TRUE(motor_check_fields(5, AUTOSTOP_PRESSURE, t).overpressure_timeout);
    t.max_pressure = "4294967306";  // wraps to 10 in 32 bits
    EXPECT_TRUE(motor_check_fields(5, AUTOSTOP_PRESSURE, t).max_pressure);
    EXPECT_FALSE(motor_check_fields(5, AUTOSTOP_NONE, t).any());
    EXPECT_FALSE(motor_check_fields(5, MOTOR_BLANK_CODE, t).any());  // a fresh record's code
    EXPECT_FALSE(motor_check_fields(3, AUTOSTOP_PRESSURE, t).any());
}

// The pressure fields refuse a text that is no whole number as they refuse 11 bar; a Hall value
// beyond 12 bits is saved as 4095 rather than refused.
TEST(MotorFields, TextsThatAreNoWholeNumberAreRefusedWhereTheyCount) {
    for (const char* bad : {"5,5", "-5", "", "0x10"})
        EXPECT_TRUE(motor_check_fields(4, AUTOSTOP_PRESSURE, {"50", "x", "x", bad, "60"}).max_pressure) << bad;
    EXPECT_FALSE(motor_check_fields(1, AUTOSTOP_NONE, {"50", "5000", " 65535 ", "x", "x"}).any());
}

TEST(MotorControls, FollowTheMotorKindTheAutostopsAndTheState) {
    motor_controls c = motor_control_rules(2, AUTOSTOP_HALL2, AUTOSTOP_NONE, false, false);
    EXPECT_TRUE(c.motor_combo && c.save && c.slider && c.left_autostop && c.hall_fields && c.test1 && c.test2);
    EXPECT_FALSE(c.right_autostop || c.pressure_fields || c.flow_volume || c.flow_timeout);
    EXPECT_STREQ(c.direction_label, "Engaging Motor Direction");
    EXPECT_STREQ(c.test1_text, "Engage");
    EXPECT_STREQ(c.test2_text, "Disengage");
    EXPECT_STREQ(c.forwards_text, "Forwards");

    c = motor_control_rules(4, AUTOSTOP_FLOW, AUTOSTOP_PRESSURE, false, false);
    EXPECT_TRUE(c.right_autostop && c.pressure_fields && c.flow_volume && c.flow_timeout && c.test1);
    EXPECT_FALSE(c.hall_fields || c.test2);
    EXPECT_STREQ(c.direction_label, "Pumping Motor Direction");
    EXPECT_STREQ(c.test1_text, "Pump");
    // The volume only for the sample pump stopping on flow; pressure fields only with Pressure.
    EXPECT_FALSE(motor_control_rules(5, AUTOSTOP_FLOW, AUTOSTOP_PRESSURE, false, false).flow_volume);
    EXPECT_FALSE(motor_control_rules(4, AUTOSTOP_NONE, AUTOSTOP_PRESSURE, false, false).flow_volume);
    EXPECT_FALSE(motor_control_rules(4, AUTOSTOP_FLOW, AUTOSTOP_NONE, false, false).pressure_fields);

    // Moving: every button reads Stop, the selection locks, Save stays.
    c = motor_control_rules(4, AUTOSTOP_FLOW, AUTOSTOP_PRESSURE, true, false);
    for (const char* t : {c.forwards_text, c.reverse_text, c.test1_text, c.test2_text}) EXPECT_STREQ(t, "Stop");
    EXPECT_FALSE(c.motor_combo || c.slider || c.left_autostop || c.right_autostop || c.pressure_fields);
    EXPECT_TRUE(c.save && c.test1 && c.flow_timeout);

    // A pump test waits for a volume (where it stops the pump) and a timeout it can send; Stop does not.
    EXPECT_FALSE(motor_control_rules(4, AUTOSTOP_FLOW, AUTOSTOP_NONE, false, false, false, true).test1);
    EXPECT_TRUE(motor_control_rules(5, AUTOSTOP_FLOW, AUTOSTOP_NONE, false, false, false, true).test1);
    EXPECT_FALSE(motor_control_rules(5, AUTOSTOP_FLOW, AUTOSTOP_NONE, false, false, true, false).test1);
    EXPECT_TRUE(motor_control_rules(4, AUTOSTOP_FLOW, AUTOSTOP_NONE, true, false, false, false).test1);
    EXPECT_FALSE(motor_control_rules(4, AUTOSTOP_FLOW, MOTOR_BLANK_CODE, false, false).pressure_fields);

    // A field out of range: no saving, no switching motor, no tests.
    c = motor_control_rules(1, AUTOSTOP_HALL1, AUTOSTOP_NONE, false, true);
    EXPECT_FALSE(c.motor_combo || c.save || c.test1 || c.test2);
    EXPECT_TRUE(c.slider && c.hall_fields);
}

// The settings store of the test's own: a folder on Linux (on Windows every test program already
// runs on a scratch registry key).
class MotorIdStore : public ::testing::Test {
protected:
    void SetUp() override {
#ifndef _WIN32
        char tmpl[] = "/tmp/veltranic-motor-XXXXXX";
        dir = mkdtemp(tmpl);
        setenv("XDG_CONFIG_HOME", dir.c_str(), 1);
#endif
    }
    void TearDown() override {
        if (dir.empty()) return;
        std::error_code ignored;
        std::filesystem::remove_all(dir, ignored);
    }
    std::string dir;
};

TEST_F(MotorIdStore, AMissingOrOutOfRangeMotorOpensTheFirst) {
    EXPECT_EQ(motor_id_load(), 1);
    char key[80];
    settings_key_path(key);
    for (uint32_t stored : {0u, 6u, 0xFFFFFFFFu}) {
        ASSERT_EQ(registry_set_dword(key, "motor_id", stored), 0);
        EXPECT_EQ(motor_id_load(), 1) << stored;
    }
    motor_id_save(4);
    uint32_t v = 0;
    ASSERT_EQ(registry_get_dword(key, "motor_id", &v), 0);
    EXPECT_EQ(v, 4u);
    EXPECT_EQ(motor_id_load(), 4);
}

}  // namespace
