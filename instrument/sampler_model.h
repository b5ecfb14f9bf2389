// The sampler inside the virtual instrument: run phases with plausible timing, flow volume and
// pressure, the schedule, power, and the sample log. Time is the device's own milliseconds,
// given with every call (real time in the demo, stepped in tests).
#pragma once

#include <cstddef>
#include <cstdint>
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

struct sim_sampler {
    bool powered = true;
    uint8_t state = 2;      // idle
    uint8_t control = 0;    // 0xFF while the schedule controls the sampler
    uint8_t error_flag = 0;
    uint16_t top_cartridge = 1;
    uint32_t clock_base = 1796634300;  // device time at 0 ms
    uint32_t next_event = 0;
    uint8_t waypoint = 0;
    uint8_t schedule_waypoints = 3;    // events in the stored schedule
    uint32_t schedule_first_delay_s = 30;
    uint32_t schedule_interval_s = 60;
    float flow_volume = 0;
    float max_pressure = 0;
    float flow_rate = 0.4f;  // l/s while pumping a sample
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

    uint32_t clock(uint64_t now_ms) const { return clock_base + uint32_t(now_ms / 1000); }
    bool running() const { return state > 2; }

    void advance(uint64_t now_ms);
    // Result bytes: 0 accepted, 2 unpowered, 3 busy, 4 bad mode.
    uint8_t start_run(const uint8_t* settings, uint64_t now_ms);
    uint8_t stop_run(uint64_t now_ms);
    uint8_t start_schedule(uint64_t now_ms);
    uint8_t stop_schedule(uint64_t now_ms);
    void set_power(bool on, uint64_t now_ms);
    void fill_status(uint8_t out[36], uint64_t now_ms);
    void fill_record(size_t index, uint8_t out[34]) const;
    // Adds n finished records, as if the sampler had worked through them earlier.
    void fill_log(int n, uint64_t now_ms);

private:
    void say(uint64_t at_ms, uint8_t severity, const char* function, int32_t line, std::string message);
    void begin_cartridge(uint64_t now_ms);
    void finish_cartridge(uint64_t end_ms, bool cancelled);
    // Ends the run in progress now: its cartridge is logged as cancelled.
    void abort_run(uint64_t now_ms);
    void update_pumping(uint64_t now_ms);
    uint64_t phase_end() const;
};
