// The virtual instrument's motors and sensors: what the dialogs are tested against must move,
// stop and read like the instrument, or the dialog tests prove nothing.
#include "config/motor.h"
#include "instrument/firmware.h"
#include "link/bytes.h"
#include "link/commands.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <vector>

namespace {

class MotorModel : public ::testing::Test {
protected:
    uint8_t ask(uint16_t code, const std::vector<uint8_t>& payload = {}, int length = -1) {
        command_frame request;
        frame_prepare(request, code, uint8_t(length < 0 ? int(payload.size()) : length));
        if (!payload.empty()) std::memcpy(frame_payload(request), payload.data(), payload.size());
        fw.now_ms = now;
        EXPECT_TRUE(fw.handle(request, response));
        return response.bytes[FRAME_RESULT];
    }
    uint8_t answer_length() const { return response.bytes[FRAME_LENGTH]; }
    void wait(uint64_t ms) {
        now += ms;
        fw.motors.advance(now);
    }
    sim_motor& motor(int id) { return fw.motors.motor[id]; }
    void set_u16(int id, size_t offset, uint16_t v) { put_u16le(motor(id).config + offset, v); }
    static std::vector<uint8_t> run(int id, int direction, int speed) {
        std::vector<uint8_t> p(24, 0);
        p[1] = uint8_t(id);
        p[2] = uint8_t(direction);
        put_u16le(p.data() + 3, uint16_t(speed));
        return p;
    }
    static std::vector<uint8_t> pump(int id, float litres, uint16_t timeout_s) {
        std::vector<uint8_t> p(8, 0);
        p[0] = uint8_t(id);
        put_f32le(p.data() + 2, litres);
        put_u16le(p.data() + 6, timeout_s);
        return p;
    }
    sensor_sample sample() {
        EXPECT_EQ(ask(CMD_READ_SENSORS), 0);
        EXPECT_EQ(answer_length(), SENSOR_SAMPLE_SIZE);
        sensor_sample s;
        std::memcpy(s.bytes, frame_payload(response), SENSOR_SAMPLE_SIZE);
        return s;
    }

    sim_firmware fw;
    command_frame response{};
    uint64_t now = 1000;
};

TEST_F(MotorModel, SensorsAnswerOnlyWhileSwitchedOnAndRequestsAreChecked) {
    EXPECT_EQ(ask(CMD_READ_SENSORS), SIM_RESULT_SENSORS_OFF);
    EXPECT_EQ(ask(CMD_START_SENSORS, {0}), SIM_RESULT_BAD_LENGTH);
    EXPECT_EQ(ask(CMD_START_SENSORS), 0);
    sample();
    EXPECT_EQ(ask(CMD_STOP_SENSORS), 0);
    EXPECT_EQ(ask(CMD_READ_SENSORS), SIM_RESULT_SENSORS_OFF);

    for (uint8_t id = 1; id <= 5; ++id) {
        EXPECT_EQ(ask(CMD_GET_MOTOR_CONFIG, {id}), 0);
        EXPECT_EQ(answer_length(), MOTOR_CONFIG_SIZE);
    }
    EXPECT_EQ(ask(CMD_GET_MOTOR_CONFIG, {0}), SIM_RESULT_BAD_MOTOR);
    EXPECT_EQ(ask(CMD_GET_MOTOR_CONFIG, {6}), SIM_RESULT_BAD_MOTOR);
    std::vector<uint8_t> set(14, 0x33);
    set[0] = 3;
    EXPECT_EQ(ask(CMD_SET_MOTOR_CONFIG, set, 13), SIM_RESULT_BAD_LENGTH);
    EXPECT_EQ(motor(3).config[1], 1);
    EXPECT_EQ(ask(CMD_SET_MOTOR_CONFIG, set), 0);
    EXPECT_EQ(motor(3).config[1], 0x33);

    EXPECT_EQ(ask(CMD_MOTOR_ENGAGE, {4}), SIM_RESULT_BAD_MOTOR);
    EXPECT_EQ(ask(CMD_MOTOR_PUMP, pump(2, 1, 0)), SIM_RESULT_BAD_MOTOR);
    EXPECT_EQ(ask(CMD_MOTOR_PUMP, pump(4, NAN, 0)), SIM_RESULT_BAD_VALUE);
    EXPECT_EQ(ask(CMD_MOTOR_RUN, run(1, 0, 101)), SIM_RESULT_BAD_VALUE);
    EXPECT_EQ(ask(CMD_MOTOR_RUN, run(7, 0, 50)), SIM_RESULT_BAD_MOTOR);
    for (int id = 1; id <= 5; ++id) EXPECT_FALSE(motor(id).running());
}

TEST_F(MotorModel, ManualRunMovesBySpeedAndDirectionAndPushesAgainstTheEndStop) {
    const double start = motor(1).position_mm;
    ASSERT_EQ(ask(CMD_MOTOR_RUN, run(1, 0, 50)), 0);
    wait(1000);
    EXPECT_NEAR(motor(1).position_mm, start + 4.0, 1e-9);  // 50 % of 8 mm/s
    ASSERT_EQ(ask(CMD_MOTOR_RUN, run(1, 1, 100)), 0);
    wait(500);
    EXPECT_NEAR(motor(1).position_mm, start, 1e-9);
    ASSERT_EQ(ask(CMD_MOTOR_RUN, run(1, 0, 100)), 0);
    wait(60000);
    // No autostop on a manual run: it stays at the stop, still driving, until told to stop.
    EXPECT_EQ(motor(1).position_mm, SIM_MOTOR_TRAVEL_MM);
    EXPECT_TRUE(motor(1).running());
    EXPECT_TRUE(motor(1).at_end_stop);
    EXPECT_EQ(ask(CMD_MOTOR_STOP), 0);
    EXPECT_FALSE(motor(1).running());
    EXPECT_EQ(motor(1).last_stop, sim_motor_stop::command);
    wait(1000);
    EXPECT_EQ(motor(1).position_mm, SIM_MOTOR_TRAVEL_MM);
}

TEST_F(MotorModel, HallReadingsRiseWithPositionAndStayWithinTheirNoise) {
    ASSERT_EQ(ask(CMD_START_SENSORS), 0);
    int previous_max = -1;
    for (int mm = 0; mm <= 20; ++mm) {
        motor(2).position_mm = mm;
        const double exact = fw.motors.hall_exact(2);
        int lo = 4096, hi = -1;
        for (int k = 0; k < 20; ++k) {
            const int h = motor_hall_reading(sample(), AUTOSTOP_HALL2);
            lo = std::min(lo, h);
            hi = std::max(hi, h);
        }
        EXPECT_LE(std::fabs(lo - exact), 2.5) << mm;
        EXPECT_LE(std::fabs(hi - exact), 2.5) << mm;
        EXPECT_GT(lo, previous_max) << mm;  // monotonic, noise and all
        EXPECT_LE(hi, 4095);
        previous_max = hi;
    }
    EXPECT_GT(previous_max, 3900);  // the travel spans most of the 12 bits
}

TEST_F(MotorModel, EngageAndDisengageStopAtTheHallSetPointsOrTheEndStop) {
    set_u16(2, MOTOR_HALL_ENGAGED, 3000);
    set_u16(2, MOTOR_HALL_DISENGAGED, 700);
    ASSERT_EQ(ask(CMD_MOTOR_ENGAGE, {2}), 0);
    wait(1000);
    EXPECT_TRUE(motor(2).running());
    wait(10000);
    EXPECT_FALSE(motor(2).running());
    EXPECT_EQ(motor(2).last_stop, sim_motor_stop::set_point);
    EXPECT_NEAR(fw.motors.hall_exact(2), 3000, 0.5);
    ASSERT_EQ(ask(CMD_MOTOR_DISENGAGE, {2}), 0);
    wait(20000);
    EXPECT_NEAR(fw.motors.hall_exact(2), 700, 0.5);
    // Motor 3 engages in reverse: its Hall value falls to the engaged set point.
    ASSERT_EQ(ask(CMD_MOTOR_ENGAGE, {3}), 0);
    wait(20000);
    EXPECT_NEAR(fw.motors.hall_exact(3), 800, 0.5);

    // Without a Hall autostop, or watching another motor's sensor, to the end stop.
    motor(1).config[MOTOR_AUTOSTOP] = uint8_t(AUTOSTOP_NONE);
    ASSERT_EQ(ask(CMD_MOTOR_ENGAGE, {1}), 0);
    wait(20000);
    EXPECT_EQ(motor(1).position_mm, SIM_MOTOR_TRAVEL_MM);
    EXPECT_EQ(motor(1).last_stop, sim_motor_stop::end_stop);
    motor(1).config[MOTOR_AUTOSTOP] = uint8_t(AUTOSTOP_HALL2);
    ASSERT_EQ(ask(CMD_MOTOR_DISENGAGE, {1}), 0);
    wait(20000);
    EXPECT_EQ(motor(1).position_mm, 0.0);
    EXPECT_EQ(motor(1).last_stop, sim_motor_stop::end_stop);
}

TEST_F(MotorModel, PumpsStopOnTheirVolumePressureOrTimeout) {
    // The sample pump at 80 %: 0.4 l/s, stops on 2 litres after 5 s.
    ASSERT_EQ(ask(CMD_MOTOR_PUMP, pump(4, 2.0f, 60)), 0);
    wait(4000);
    EXPECT_TRUE(motor(4).running());
    EXPECT_NEAR(motor(4).volume_l, 1.6, 1e-9);
    wait(4000);
    EXPECT_FALSE(motor(4).running());
    EXPECT_EQ(motor(4).last_stop, sim_motor_stop::volume);
    EXPECT_NEAR(motor(4).volume_l, 2.0, 1e-3);

    ASSERT_EQ(ask(CMD_MOTOR_PUMP, pump(4, 100.0f, 3)), 0);
    wait(10000);
    EXPECT_EQ(motor(4).last_stop, sim_motor_stop::timeout);
    EXPECT_NEAR(motor(4).volume_l, 1.2, 1e-9);

    // 5 bar applied and 2.4 bar of head is above its 6 bar limit: it stops once that has lasted
    // its 10 s overpressure timeout.
    fw.motors.applied_bar = 5.0;
    ASSERT_EQ(ask(CMD_MOTOR_PUMP, pump(4, 100.0f, 0)), 0);
    wait(9000);
    EXPECT_TRUE(motor(4).running());
    wait(2000);
    EXPECT_FALSE(motor(4).running());
    EXPECT_EQ(motor(4).last_stop, sim_motor_stop::pressure);
    EXPECT_NEAR(motor(4).volume_l, 4.0, 1e-9);

    // The stabilizer pump has no flow autostop: the volume does not stop it; close does.
    fw.motors.applied_bar = 0.0;
    ASSERT_EQ(ask(CMD_MOTOR_PUMP, pump(5, 1.0f, 0)), 0);
    wait(20000);
    EXPECT_TRUE(motor(5).running());
    EXPECT_EQ(ask(CMD_MOTOR_CLOSE, {0}), 0);
    EXPECT_FALSE(motor(5).running());
    EXPECT_EQ(fw.motors.closes, 1u);
}

}  // namespace
