// The motors (three that engage a mechanism, two pumps), their Hall sensors, the pressure
// sensor, and the saved motor configurations.
//
// Each engaging motor moves its mechanism along a 20 mm travel between two end stops, at a
// rate set by its speed, and Hall sensor k reads motor k's position as a rising 12-bit value
// with a little noise. Engage and disengage drive the motor in its saved direction (back for
// disengage) until the chosen Hall sensor reads the saved set point, or to the end stop when
// no Hall sensor is chosen. A pump adds volume with its speed and stops on its volume (with
// the flow autostop), its pressure limit (with the pressure autostop, once the line has been
// above it for the overpressure timeout) or its timeout. The pressure sensor's signal follows
// the line pressure (an applied pressure, plus the pump's head while a pump runs) through a
// true line, volt = 0.5 + 0.4 x bar, so a calibration made on it can be checked against the
// truth. Time is the device's milliseconds, given with every call.
#pragma once

#include <cstddef>
#include <cstdint>

constexpr int SIM_MOTOR_COUNT = 5;
constexpr size_t SIM_MOTOR_CONFIG_SIZE = 13;
constexpr size_t SIM_SENSOR_SAMPLE_SIZE = 30;
constexpr double SIM_MOTOR_TRAVEL_MM = 20.0;
constexpr double SIM_MOTOR_FULL_SPEED_MM_S = 8.0;  // an engaging motor at 100 %
constexpr double SIM_PUMP_FULL_RATE_L_S = 0.5;     // a pump at 100 %
constexpr double SIM_PUMP_FULL_HEAD_BAR = 3.0;     // what a pump at 100 % adds to the line pressure

// Results of the motor and sensor commands.
constexpr uint8_t SIM_RESULT_SENSORS_OFF = 3;  // a sensor read while sampling is off
constexpr uint8_t SIM_RESULT_BAD_MOTOR = 4;    // no such motor, or one that cannot do this
constexpr uint8_t SIM_RESULT_BAD_VALUE = 6;    // speed over 100 %, unknown direction, bad volume

enum class sim_motor_activity : uint8_t { idle, manual, engaging, disengaging, pumping };
enum class sim_motor_stop : uint8_t { none, command, set_point, end_stop, volume, pressure, timeout, closed };

struct sim_motor {
    uint8_t config[SIM_MOTOR_CONFIG_SIZE] = {};
    sim_motor_activity activity = sim_motor_activity::idle;
    sim_motor_stop last_stop = sim_motor_stop::none;
    bool reverse = false;
    double speed_pct = 0;
    // Engaging motors.
    double position_mm = 0;
    bool has_target = false;
    double target_mm = 0;
    bool at_end_stop = false;  // pressed against an end stop (a manual run goes on pushing)
    // Pumps.
    double volume_l = 0;         // of the current or last pump run
    double target_volume_l = 0;  // stops there with the flow autostop
    uint64_t started_ms = 0;
    uint64_t timeout_ms = 0;     // 0: no limit
    bool over_pressure = false;
    uint64_t over_since_ms = 0;

    bool running() const { return activity != sim_motor_activity::idle; }
};

struct sim_motors {
    sim_motors();

    sim_motor motor[SIM_MOTOR_COUNT + 1];  // by motor id 1-5; entry 0 unused
    bool sensors_on = false;
    double applied_bar = 0.0;              // the pressure applied to the sensor from outside
    double sensor_offset_v = 0.5;          // the sensor's true line: volt = offset + slope x bar
    double sensor_v_per_bar = 0.4;
    uint16_t reference_counts = 40;        // the pressure channel's reference input
    int pressure_noise_counts = 1;
    int hall_noise_counts = 2;
    // Fault: the instrument acknowledges a configuration write but keeps the old record.
    bool ignore_config_writes = false;
    uint32_t samples_read = 0;
    uint32_t closes = 0;
    uint64_t last_ms = 0;
    uint32_t noise_state = 0x2545F491u;

    // Moves every running motor on to now_ms.
    void advance(uint64_t now_ms);
    // Every motor record all 0xFF, as an instrument fresh from the factory.
    void seed_blank();
    // The pressure in the line now, bar.
    double line_pressure() const;
    // Hall sensor 1-3 without noise (what the motor's position gives), and as read.
    double hall_exact(int sensor) const;
    uint16_t hall_read(int sensor);
    // The 30-byte sensor sample.
    void fill_sample(uint8_t out[SIM_SENSOR_SAMPLE_SIZE]);
    // Stops every motor (the stop and close commands).
    void stop_all(sim_motor_stop why);

    int noise(int amplitude);
};

// The motor's position that makes its Hall sensor read `hall`, within the travel.
double sim_hall_position(double hall);
