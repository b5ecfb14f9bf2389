// The sampler inside the virtual instrument: run phases with plausible timing, flow volume and
// pressure, the schedule, power, and the sample log. Time is the device's own milliseconds,
// given with every call (real time in the demo, stepped in tests).
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

struct sim_sample_record {
    uint16_t cartridge_id;
    uint8_t treatment;
    uint8_t stop_reason;
    uint32_t start_time;  // device time
    uint32_t duration;    // s
    float volume;         // l
    float max_pressure;   // bar
};

struct sim_phase {
    uint8_t state;
    uint64_t duration_ms;
};

// One waypoint of a schedule as the sampler runs it: at base + offset minutes it takes its
// number of samples (none: the waypoint passes without a run), each of that volume and timeout
// (0: no limit), cleaning after each when asked to.
struct sim_waypoint {
    uint32_t offset_min = 0;
    uint8_t samples = 0;
    uint8_t volume_tenths = 0;
    uint8_t timeout_min = 0;
    bool clean = false;
};
// A schedule handed to the sampler when the scheduler starts: its start time (device time; 0 or
// a moment already past: the moment the scheduler starts) and its waypoints in time order.
struct sim_schedule_plan {
    uint32_t start = 0;
    std::vector<sim_waypoint> waypoints;
};

// Something the sampler has to say about itself, for the diagnostic log: a run that starts or is
// refused, a phase that begins, a cartridge that ends and why, power.
constexpr uint8_t SIM_SEVERITY_ERROR = 1, SIM_SEVERITY_INFO = 2, SIM_SEVERITY_DEBUG = 4;
constexpr uint8_t SIM_TASK_SAMPLER = 3;
struct sim_event {
    uint64_t at_ms;
    uint8_t severity;
    uint8_t task;
    std::string function;
    int32_t line;
    std::string message;
};

// The readings of the status record, in the record's order (payload bytes 4 + 4 x index, single
// precision floats).
enum sim_reading : uint8_t {
    SIM_READING_VOLTAGE,
    SIM_READING_TEMPERATURE,
    SIM_READING_HUMIDITY,
    SIM_READING_FLOW_VOLUME,
    SIM_READING_MAX_PRESSURE,
    SIM_READING_COUNT,
};

struct sim_sampler {
    bool powered = true;
    uint8_t state = 2;      // idle
    uint8_t control = 0;    // 0xFF while the schedule controls the sampler
    uint8_t error_flag = 0;
    uint16_t top_cartridge = 1;
    uint32_t clock_base = 1796634300;  // device time at 0 ms
    uint32_t next_event = 0;  // device time of the next waypoint's event, 0 for none
    // While idle under the schedule, the index of the next waypoint; while one runs, its
    // number (1 for the first): so it counts the waypoints that have fired.
    uint8_t waypoint = 0;
    float flow_volume = 0;
    float max_pressure = 0;
    float flow_rate = 0.4f;  // l/s while pumping a sample
    // Readings the status answers as set here rather than as measured (0.0 from a sensor that
    // is not fitted, NaN from one that failed); the run goes on as measured underneath.
    std::optional<float> forced_readings[SIM_READING_COUNT];
    std::vector<sim_sample_record> log;
    // What the sampler has said since the diagnostic log last took it (oldest first).
    std::vector<sim_event> events;

    // The run in progress.
    uint8_t mode = 0;
    int cartridges_left = 0;
    float target_volume = 0;
    uint32_t timeout_s = 0;  // 0: no limit
    bool clean = false;
    bool from_schedule = false;
    std::vector<sim_phase> plan;
    size_t phase = 0;
    uint64_t phase_start_ms = 0;
    uint64_t cartridge_start_ms = 0;
    bool timed_out = false;

    // The schedule in control (control 0xFF): its plan, the moment its offsets count from, and
    // the waypoint whose event comes next.
    sim_schedule_plan schedule_plan;
    uint32_t schedule_base = 0;
    size_t next_waypoint = 0;
    uint64_t idle_since_ms = 0;  // when the last run ended: a late event starts no earlier
    uint64_t reached_ms = 0;     // the latest time any call has brought the sampler to

    uint32_t clock(uint64_t now_ms) const { return clock_base + uint32_t(now_ms / 1000); }
    bool running() const { return state > 2; }

    void advance(uint64_t now_ms);
    // Result bytes: 0 accepted, 2 unpowered, 3 busy, 4 bad mode.
    uint8_t start_run(const uint8_t* settings, uint64_t now_ms);
    uint8_t stop_run(uint64_t now_ms);
    // Hands control to the schedule: its offsets count from its start time, or from now when
    // that has passed. Result bytes as start_run.
    uint8_t start_schedule(uint64_t now_ms, const sim_schedule_plan& plan, bool autostart = false);
    uint8_t stop_schedule(uint64_t now_ms);
    void set_power(bool on, uint64_t now_ms);
    // Sets the clock to device time t; what was due under the old time has happened by then.
    void set_clock(uint32_t t, uint64_t now_ms);
    void fill_status(uint8_t out[36], uint64_t now_ms);
    void fill_record(size_t index, uint8_t out[34]) const;
    // Adds n finished records, as if the sampler had worked through them earlier.
    void fill_log(int n, uint64_t now_ms);

private:
    // The later of now_ms and the time already reached: time never runs back for the sampler.
    uint64_t reach(uint64_t now_ms);
    void say(uint64_t at_ms, uint8_t severity, const char* function, int32_t line, std::string message);
    void begin_cartridge(uint64_t now_ms);
    void finish_cartridge(uint64_t end_ms, bool cancelled);
    // Ends the run in progress now: its cartridge is logged as cancelled.
    void abort_run(uint64_t now_ms);
    void update_pumping(uint64_t now_ms);
    uint64_t phase_end() const;
    uint32_t event_time(size_t waypoint_index) const;
    // The device milliseconds at which an event due at device time t starts: not after now,
    // and not before the previous run ended.
    uint64_t event_start_ms(uint32_t t, uint64_t now_ms) const;
    void fire_waypoint(uint64_t now_ms);
};
