// The virtual instrument on a simulated HID bus: "sim:" device paths that can be plugged and
// unplugged at run time, with a latency model and fault injection for tests.
#pragma once

#include "instrument/firmware.h"
#include "instrument/sim_faults.h"
#include "link/command_frame.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

struct sim_device_config {
    std::string path;  // empty: "sim:N" with the next free number
    // Hardware-id list, each id terminated by '\0'.
    std::string hardware_ids = std::string("HID\\VID_04D8&PID_EABD&REV_0100\0HID\\VID_04D8&PID_EABD\0", 53);
    bool input_report_id1 = true;  // whether the report descriptor declares input report 1
    sim_firmware firmware;
};

// Per-report transfer time of the simulated USB link.
enum class sim_latency : uint8_t {
    none,
    usb_full_speed,  // ceil(bytes on the wire / 64) ms per report, answer in the next 1 ms frame
};

class sim_device {
public:
    ~sim_device();
    const std::string& path() const { return path_; }

    void plug();
    void unplug();
    bool plugged() const;

    // Restarts the instrument as it would come back after a power cycle (unplug, change, plug).
    void restart(const std::function<void(sim_firmware&)>& change);

    void set_latency(sim_latency latency);

    // Fault injection. "Next" faults without a command spoil whatever answer comes next, which
    // is usually a poller's; aimed ones wait for their command however much else goes by.
    void drop_next_responses(int count);
    void delay_next_response(uint32_t ms);
    // The next `count` answers to one command are lost; the requests take effect.
    void drop_next_of(uint16_t command, int count = 1);
    void wrong_sequence_next(int count);
    void force_result(uint16_t command, int result);  // result < 0 clears
    // The next `count` requests of one command are refused with `result`, without effect (a
    // read-back that fails after a good write, say), without waiting out a link timeout. With
    // `after`, that many requests of the command are answered normally first (a read-back of
    // the same command that a save read before writing).
    void fail_next(uint16_t command, int count, uint8_t result, int after = 0);
    // The next answer to one command comes `ms` late.
    void delay_next_of(uint16_t command, uint32_t ms);
    void set_never_answer(bool on);
    void unplug_on_next_request();
    void stall_writes(bool on);  // a write blocks like a wedged device until released or unplugged

    // What is pending and what is in force, aimed faults first in command order; forced
    // results, silenced commands, the bootloader's refused block, the task count answers, the
    // motors' ignored writes and readings answered as set included.
    std::vector<sim_fault> faults() const;
    // Clears the fault of that kind (aimed at that command, or at that reading), or all of them.
    void clear_fault(const sim_fault& fault);
    void clear_faults();

    // Every request the instrument received, oldest first (the last 4096).
    std::vector<command_frame> requests() const;
    void clear_requests();
    size_t request_count() const;

    // Runs fn on the firmware model under the device lock.
    void with_firmware(const std::function<void(sim_firmware&)>& fn);

    // The device's clock: real time (the default) or stepped by hand for tests. advance_clock
    // steps either ahead: a real-time clock then runs on from the later time.
    void use_stepped_clock(bool on);
    void advance_clock(uint64_t ms);
    uint64_t now_ms() const;

    // Delay before a device that was told to start its firmware comes back.
    void set_reenumerate_delay(uint32_t ms);

    struct impl;
    std::shared_ptr<impl> d;

private:
    friend std::shared_ptr<sim_device> sim_bus_add(const sim_device_config&);
    std::string path_;
};

// Registers the "sim:" backend on the HID bus (idempotent).
void sim_bus_install();
// Adds a device and plugs it in.
std::shared_ptr<sim_device> sim_bus_add(const sim_device_config& config);
// The same with the default configuration. (An overload, not a default argument: a default
// configuration built in each caller draws GCC's maybe-uninitialized at -O3.)
std::shared_ptr<sim_device> sim_bus_add();
// Unplugs and forgets every device.
void sim_bus_reset();
std::shared_ptr<sim_device> sim_bus_find(const std::string& path);
