// The motor records, field rules and commands, on the virtual instrument where a command is
// involved.
#include "config/motor.h"
#include "instrument/sim_bus.h"
#include "link/bytes.h"
#include "link/commands.h"
#include "link/field_text.h"
#include "link/link.h"
#include "platform/registry.h"
#include "sampler/run_settings.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include <unistd.h>

namespace {

motor_config blank() {
    motor_config c;
    std::memset(c.bytes, 0xFF, sizeof c.bytes);
    return c;
}

std::vector<uint8_t> payload(const command_frame& f) {
    return {frame_payload(f), frame_payload(f) + f.bytes[FRAME_LENGTH]};
}

TEST(MotorFields, OutOfRangeCountsOnlyWhatTheOperatorCanChange) {
    motor_field_values v;
    v.speed = 100;
    EXPECT_FALSE(motor_check_fields(1, AUTOSTOP_NONE, v).any());
    v.speed = 101;
    EXPECT_TRUE(motor_check_fields(1, AUTOSTOP_NONE, v).speed);
    // A 32-bit wrap would make this 100: the check sees the true value.
    v.speed = field_unsigned("4294967396");
    EXPECT_TRUE(motor_check_fields(4, AUTOSTOP_NONE, v).speed);

    // A fresh instrument's record: 255 bar and 65535 s on an engaging motor, where neither
    // field can be edited, do not lock the dialog; only the speed field (editable) counts.
    motor_field_values fresh = motor_field_values_of(blank());
    EXPECT_EQ(fresh.max_pressure, 255u);
    EXPECT_EQ(fresh.overpressure_timeout, 65535u);
    motor_field_check c = motor_check_fields(2, 0xFF, fresh);
    EXPECT_TRUE(c.speed);
    EXPECT_FALSE(c.max_pressure);
    EXPECT_FALSE(c.overpressure_timeout);
    fresh.speed = 50;
    EXPECT_FALSE(motor_check_fields(2, 0xFF, fresh).any());
    // The same numbers on a pump count once the pressure autostop makes the fields editable.
    EXPECT_FALSE(motor_check_fields(5, AUTOSTOP_NONE, fresh).any());
    c = motor_check_fields(5, AUTOSTOP_PRESSURE, fresh);
    EXPECT_TRUE(c.max_pressure);
    EXPECT_TRUE(c.overpressure_timeout);

    motor_field_values edge;
    edge.max_pressure = 10;
    edge.overpressure_timeout = 3600;
    EXPECT_FALSE(motor_check_fields(4, AUTOSTOP_PRESSURE, edge).any());
    edge.max_pressure = 11;
    EXPECT_TRUE(motor_check_fields(4, AUTOSTOP_PRESSURE, edge).max_pressure);
    edge.max_pressure = 10;
    edge.overpressure_timeout = 3601;
    EXPECT_TRUE(motor_check_fields(4, AUTOSTOP_PRESSURE, edge).overpressure_timeout);
}

TEST(MotorFields, ApplyingLimitsEachFieldAndKeepsTheCodes) {
    motor_config c = blank();
    c.bytes[MOTOR_DEVICE_BYTE] = 0x5C;
    c.bytes[MOTOR_AUTOSTOP] = 4;  // no row for it: kept as the instrument sent it
    motor_field_values v;
    v.speed = field_unsigned("4294967396");
    v.hall_engaged = 5000;
    v.hall_disengaged = 123;
    v.max_pressure = 300;
    v.overpressure_timeout = 70000;
    motor_apply_fields(c, v);
    const uint8_t expected[MOTOR_CONFIG_SIZE] = {0x5C, 0xFF, 4, 0xFF, 10, 0x10, 0x0E, 0xFF, 0x0F, 123, 0, 100, 0};
    EXPECT_EQ(std::vector<uint8_t>(c.bytes, c.bytes + MOTOR_CONFIG_SIZE),
              std::vector<uint8_t>(expected, expected + MOTOR_CONFIG_SIZE));
    const motor_field_values back = motor_field_values_of(c);
    EXPECT_EQ(back.speed, 100u);
    EXPECT_EQ(back.hall_engaged, 4095u);
    EXPECT_EQ(back.overpressure_timeout, 3600u);
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

    // A field out of range: no saving, no switching motor, no tests.
    c = motor_control_rules(1, AUTOSTOP_HALL1, AUTOSTOP_NONE, false, true);
    EXPECT_FALSE(c.motor_combo || c.save || c.test1 || c.test2);
    EXPECT_TRUE(c.slider && c.hall_fields);
}

TEST(MotorSampleAndTimeout, HallSensorByAutostopAndMinutesToSeconds) {
    sensor_sample s{};
    put_u16le(s.bytes + 18, 1111);
    put_u16le(s.bytes + 20, 2222);
    put_u16le(s.bytes + 22, 3333);
    EXPECT_EQ(motor_hall_reading(s, AUTOSTOP_HALL1), 1111);
    EXPECT_EQ(motor_hall_reading(s, AUTOSTOP_HALL2), 2222);
    for (uint32_t other : {AUTOSTOP_NONE, AUTOSTOP_HALL3, AUTOSTOP_FLOW, 0xFFu}) EXPECT_EQ(motor_hall_reading(s, other), 3333);

    EXPECT_EQ(motor_flow_timeout_seconds(2), 120);
    EXPECT_EQ(motor_flow_timeout_seconds(255), 15300);
    EXPECT_EQ(motor_flow_timeout_seconds(300), 15300);
    EXPECT_EQ(motor_flow_timeout_seconds(field_unsigned("4294967396")), 15300);
}

class MotorIdStore : public ::testing::Test {
protected:
    void SetUp() override {
        char tmpl[] = "/tmp/veltranic-motor-XXXXXX";
        dir = mkdtemp(tmpl);
        setenv("XDG_CONFIG_HOME", dir.c_str(), 1);
    }
    void TearDown() override {
        const std::string cmd = "rm -rf '" + dir + "'";
        (void)std::system(cmd.c_str());
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

class MotorCommands : public ::testing::Test {
protected:
    void SetUp() override {
        sim_bus_install();
        sim_bus_reset();
        dev = sim_bus_add();
        ASSERT_EQ(link_open(dev->path().c_str(), 1000), 0);
        dev->clear_requests();
    }
    void TearDown() override {
        link_close();
        sim_bus_reset();
    }
    command_frame last() { return dev->requests().back(); }
    std::shared_ptr<sim_device> dev;
};

TEST_F(MotorCommands, RequestsCarryTheirExactBytes) {
    ASSERT_EQ(motor_run(2, 1, 55), 0);
    std::vector<uint8_t> run(24, 0);
    run[1] = 2;
    run[2] = 1;
    run[3] = 55;
    EXPECT_EQ(frame_code(last()), CMD_MOTOR_RUN);
    EXPECT_EQ(payload(last()), run);

    ASSERT_EQ(motor_pump(4, 2.5f, 15300), 0);
    EXPECT_EQ(payload(last()), (std::vector<uint8_t>{4, 0, 0x00, 0x00, 0x20, 0x40, 0xC4, 0x3B}));

    ASSERT_EQ(motor_stop(), 0);
    EXPECT_EQ(frame_code(last()), CMD_MOTOR_STOP);
    EXPECT_TRUE(payload(last()).empty());
    ASSERT_EQ(motor_engage(3), 0);
    EXPECT_EQ(frame_code(last()), CMD_MOTOR_ENGAGE);
    EXPECT_EQ(payload(last()), std::vector<uint8_t>{3});
    ASSERT_EQ(motor_disengage(1), 0);
    EXPECT_EQ(frame_code(last()), CMD_MOTOR_DISENGAGE);
    EXPECT_EQ(payload(last()), std::vector<uint8_t>{1});
    ASSERT_EQ(motor_close(), 0);
    EXPECT_EQ(frame_code(last()), CMD_MOTOR_CLOSE);
    EXPECT_EQ(payload(last()), std::vector<uint8_t>{0});

    motor_config c;
    ASSERT_EQ(motor_config_get(5, c), 0);
    EXPECT_EQ(payload(last()), std::vector<uint8_t>{5});
    ASSERT_EQ(motor_config_set(5, c), 0);
    std::vector<uint8_t> set{5};
    set.insert(set.end(), c.bytes, c.bytes + MOTOR_CONFIG_SIZE);
    EXPECT_EQ(frame_code(last()), CMD_SET_MOTOR_CONFIG);
    EXPECT_EQ(payload(last()), set);
}

TEST_F(MotorCommands, AShortOrRefusedRecordIsAFailedReadAndLeavesTheCallersCopy) {
    motor_config c = blank();
    dev->force_result(CMD_GET_MOTOR_CONFIG, 0);  // success with no bytes
    EXPECT_EQ(motor_config_get(1, c), ERR_SHORT_RESPONSE);
    EXPECT_EQ(c.bytes[5], 0xFF);
    dev->force_result(CMD_GET_MOTOR_CONFIG, 2);
    EXPECT_EQ(motor_config_get(1, c), 2);
    EXPECT_EQ(c.bytes[5], 0xFF);
    dev->force_result(CMD_GET_MOTOR_CONFIG, -1);
    EXPECT_EQ(motor_config_get(6, c), 4);  // the instrument has no motor 6
}

TEST_F(MotorCommands, SaveIsConfirmedOnlyByAnEqualReadBack) {
    motor_config c;
    ASSERT_EQ(motor_config_get(2, c), 0);
    motor_set_u16(c, MOTOR_SPEED, 42);
    EXPECT_EQ(motor_config_save(2, c), 0);
    dev->with_firmware([](sim_firmware& fw) { EXPECT_EQ(get_u16le(fw.motors.motor[2].config + MOTOR_SPEED), 42); });

    motor_set_u16(c, MOTOR_SPEED, 43);
    dev->with_firmware([](sim_firmware& fw) { fw.motors.ignore_config_writes = true; });
    EXPECT_EQ(motor_config_save(2, c), MOTOR_SAVE_MISMATCH);
    dev->with_firmware([](sim_firmware& fw) { fw.motors.ignore_config_writes = false; });

    dev->fail_next(CMD_GET_MOTOR_CONFIG, 1, 3);
    EXPECT_EQ(motor_config_save(2, c), MOTOR_SAVE_FAILED);
    dev->fail_next(CMD_SET_MOTOR_CONFIG, 1, 3);
    EXPECT_EQ(motor_config_save(2, c), MOTOR_SAVE_FAILED);
}

}  // namespace
