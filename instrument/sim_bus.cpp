#include "instrument/sim_bus.h"

#include "link/commands.h"
#include "platform/hid_bus.h"
#include "platform/hid_port_queue.h"
#include "platform/hid_watch_list.h"

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <deque>
#include <map>
#include <mutex>
#include <set>
#include <thread>

#ifdef _WIN32
#include <windows.h>
#include <timeapi.h>
#else
#include <sys/prctl.h>
#endif

using steady = std::chrono::steady_clock;

namespace {

struct sim_port;

hid_watch_list g_watchers;  // first: it outlives the devices, whose re-enumeration timers tell it
std::mutex g_bus_lock;
std::vector<std::shared_ptr<sim_device>> g_devices;
int g_next_number = 1;

}  // namespace

struct sim_device::impl {
    mutable std::mutex m;
    std::condition_variable cv;  // readers, stalled writers, re-enumeration timer
    std::string path;
    std::string hardware_ids;
    bool input_report_id1 = true;
    sim_firmware firmware;
    bool plugged = false;
    uint64_t plug_generation = 0;  // a port opened under one generation dies with it
    sim_port* open_port = nullptr;
    sim_latency latency = sim_latency::none;

    int drop_count = 0;
    uint32_t delay_next_ms = 0;
    struct one_shot_fault {
        int after;  // requests of the command answered normally first
        int count;
        uint8_t result;
    };
    std::map<uint16_t, one_shot_fault> fail_next;  // command -> fault
    std::map<uint16_t, uint32_t> delay_of;                  // command -> ms, once
    std::map<uint16_t, int> drop_of;                        // command -> answers to lose
    int wrong_sequence_count = 0;
    bool never_answer = false;
    bool unplug_next = false;
    bool stalled = false;

    std::deque<command_frame> log;
    size_t log_total = 0;

    uint32_t reenumerate_delay_ms = 300;

    steady::time_point created = steady::now();
    bool stepped = false;
    uint64_t stepped_ms = 0;
    uint64_t skipped_ms = 0;  // how far the real-time clock was stepped ahead
    uint64_t real_ms() const {
        return uint64_t(std::chrono::duration_cast<std::chrono::milliseconds>(steady::now() - created).count());
    }
    uint64_t now_ms() const { return stepped ? stepped_ms : real_ms() + skipped_ms; }
    std::thread timer;
    bool timer_cancel = false;
};

namespace {

struct sim_port {
    std::shared_ptr<sim_device::impl> dev;
    uint64_t generation;
    hid_port_queue<command_frame> input;
};

constexpr size_t LOG_LIMIT = 4096;

std::chrono::milliseconds transfer_time(const sim_device::impl& d) {
    if (d.latency != sim_latency::usb_full_speed) return std::chrono::milliseconds(0);
    size_t wire = d.input_report_id1 ? 129 : 128;  // a 0 report id is not sent on the wire
    return std::chrono::milliseconds((wire + 63) / 64);
}

// The latency model sleeps for whole milliseconds; the kernel's default 50 us timer slack on
// every such wake-up would slow the simulated bus below the rate it models. Windows rounds a
// sleep up to its timer period (15.6 ms unless a program asks for 1 ms), so ask for 1 ms there.
void tighten_timer_slack() {
    thread_local bool done = false;
    if (!done) {
#ifdef _WIN32
        static const bool period = timeBeginPeriod(1) == TIMERR_NOERROR;
        (void)period;
#else
        prctl(PR_SET_TIMERSLACK, 1000UL, 0, 0, 0);
#endif
        done = true;
    }
}

bool port_alive(const sim_port* p) { return p->dev->plugged && p->dev->plug_generation == p->generation; }

void do_unplug(sim_device::impl& d) {
    d.plugged = false;
    d.cv.notify_all();
}

// Takes the device off the bus, then tells the watchers (outside every lock).
void unplug_and_notify(const std::shared_ptr<sim_device::impl>& d) {
    std::string path;
    {
        std::lock_guard l(d->m);
        if (!d->plugged) return;
        do_unplug(*d);
        path = d->path;
    }
    g_watchers.notify(HID_EVENT_REMOVE_COMPLETE, path);
}

void plug_and_notify(const std::shared_ptr<sim_device::impl>& d) {
    std::string path;
    {
        std::lock_guard l(d->m);
        if (d->plugged) return;
        d->plugged = true;
        ++d->plug_generation;
        d->firmware.powered_up(d->now_ms());
        path = d->path;
    }
    g_watchers.notify(HID_EVENT_ARRIVAL, path);
}

// After "start firmware": leave the bus once the answer has gone out, come back running firmware.
void start_reenumeration(const std::shared_ptr<sim_device::impl>& d, steady::time_point answer_at) {
    std::weak_ptr<sim_device::impl> weak = d;
    std::unique_lock l(d->m);
    if (d->timer.joinable()) {
        d->timer_cancel = true;
        d->cv.notify_all();
        l.unlock();
        d->timer.join();
        l.lock();
    }
    d->timer_cancel = false;
    const auto back_at = answer_at + std::chrono::milliseconds(20 + d->reenumerate_delay_ms);
    sim_device::impl* raw = d.get();
    d->timer = std::thread([raw, weak, answer_at, back_at] {
        std::unique_lock lk(raw->m);
        if (raw->cv.wait_until(lk, answer_at + std::chrono::milliseconds(20), [&] { return raw->timer_cancel; }))
            return;
        lk.unlock();
        if (auto d = weak.lock()) unplug_and_notify(d);
        lk.lock();
        if (raw->cv.wait_until(lk, back_at, [&] { return raw->timer_cancel; })) return;
        raw->firmware.mode = raw->firmware.mode_after_start;
        lk.unlock();
        if (auto d = weak.lock()) plug_and_notify(d);
    });
}

// ---- backend -----------------------------------------------------------------------------

void sim_enumerate(void*, std::vector<hid_device_desc>& out) {
    std::lock_guard l(g_bus_lock);
    for (auto& dev : g_devices) {
        std::lock_guard dl(dev->d->m);
        if (dev->d->plugged) out.push_back({dev->d->path, dev->d->hardware_ids});
    }
}

void* sim_open(void*, const char* path) {
    auto dev = sim_bus_find(path);
    if (!dev) return nullptr;
    std::lock_guard l(dev->d->m);
    if (!dev->d->plugged || dev->d->open_port) return nullptr;  // absent, or held exclusively
    auto* p = new sim_port{dev->d, dev->d->plug_generation, {}};
    dev->d->open_port = p;
    return p;
}

void sim_close(void*, void* port) {
    auto* p = static_cast<sim_port*>(port);
    {
        std::lock_guard l(p->dev->m);
        if (p->dev->open_port == p) p->dev->open_port = nullptr;
    }
    delete p;
}

int sim_write(void*, void* port, const uint8_t* report, size_t len) {
    auto* p = static_cast<sim_port*>(port);
    auto& d = *p->dev;
    std::unique_lock l(d.m);
    d.cv.wait(l, [&] { return !d.stalled || !port_alive(p); });
    if (!port_alive(p)) return HID_ERR_IO;
    const auto transfer = transfer_time(d);
    if (transfer.count() > 0) {
        tighten_timer_slack();
        const auto done = steady::now() + transfer;
        l.unlock();
        std::this_thread::sleep_until(done);
        l.lock();
        if (!port_alive(p)) return HID_ERR_IO;
    }
    command_frame request{};
    std::memcpy(request.bytes, report, std::min(len, FRAME_SIZE));
    d.log.push_back(request);
    ++d.log_total;
    if (d.log.size() > LOG_LIMIT) d.log.pop_front();

    if (d.unplug_next) {
        d.unplug_next = false;
        l.unlock();
        unplug_and_notify(p->dev);
        return HID_OK;  // the request went out; its answer never comes
    }
    command_frame response;
    d.firmware.now_ms = d.now_ms();
    const uint16_t code = frame_code(request);
    bool answered;
    auto it = d.fail_next.find(code);
    if (it != d.fail_next.end() && it->second.after > 0) {
        --it->second.after;
        it = d.fail_next.end();
    }
    if (it != d.fail_next.end()) {
        // Refused without effect, as a forced result is.
        const auto forced = d.firmware.forced_results;
        d.firmware.forced_results[code] = it->second.result;
        answered = d.firmware.handle(request, response);
        d.firmware.forced_results = forced;
        if (--it->second.count <= 0) d.fail_next.erase(it);
    } else {
        answered = d.firmware.handle(request, response);
    }
    if (!answered) return HID_OK;
    const bool reenumerate = d.firmware.reenumerate_requested;
    d.firmware.reenumerate_requested = false;
    if (d.never_answer) return HID_OK;
    if (d.drop_count > 0) {
        --d.drop_count;
        return HID_OK;
    }
    if (auto it = d.drop_of.find(code); it != d.drop_of.end()) {
        if (--it->second <= 0) d.drop_of.erase(it);
        return HID_OK;
    }
    if (d.wrong_sequence_count > 0) {
        --d.wrong_sequence_count;
        response.bytes[FRAME_SEQUENCE] = uint8_t(response.bytes[FRAME_SEQUENCE] + 128);
    }
    auto ready = steady::now() + transfer;
    if (d.delay_next_ms) {
        ready += std::chrono::milliseconds(d.delay_next_ms);
        d.delay_next_ms = 0;
    }
    if (auto it = d.delay_of.find(code); it != d.delay_of.end()) {
        ready += std::chrono::milliseconds(it->second);
        d.delay_of.erase(it);
    }
    p->input.push(ready, response);
    d.cv.notify_all();
    if (reenumerate) {
        l.unlock();
        start_reenumeration(p->dev, ready);
    }
    return HID_OK;
}

int sim_read(void*, void* port, uint8_t* report, size_t len) {
    auto* p = static_cast<sim_port*>(port);
    auto& d = *p->dev;
    std::unique_lock l(d.m);
    return p->input.read(
        l, d.cv, [&] { return port_alive(p); },
        [&](const command_frame& frame) { std::memcpy(report, frame.bytes, std::min(len, FRAME_SIZE)); },
        [&] {
            if (d.latency != sim_latency::none) tighten_timer_slack();
        });
}

void sim_cancel(void*, void* port) {
    auto* p = static_cast<sim_port*>(port);
    std::lock_guard l(p->dev->m);
    p->input.cancel();
    p->dev->cv.notify_all();
}

void sim_rearm(void*, void* port) {
    auto* p = static_cast<sim_port*>(port);
    std::lock_guard l(p->dev->m);
    p->input.rearm();
}

void sim_flush(void*, void* port) {
    auto* p = static_cast<sim_port*>(port);
    std::lock_guard l(p->dev->m);
    p->input.flush();
}

int sim_probe(void*, void* port) {
    auto* p = static_cast<sim_port*>(port);
    std::lock_guard l(p->dev->m);
    return p->dev->input_report_id1 ? HID_PROBE_HAS_ID1 : HID_PROBE_NO_ID1;
}

void* sim_watch_start(void*, hid_watch_fn fn, void* user) { return g_watchers.add(fn, user); }

void sim_watch_stop(void*, void* token) { g_watchers.remove(token); }

const hid_backend g_sim = {
    "sim:", nullptr, sim_enumerate, sim_open, sim_close, sim_write, sim_read, sim_cancel, sim_rearm,
    sim_flush, sim_probe, sim_watch_start, sim_watch_stop,
};

}  // namespace

// ---- sim_device ----------------------------------------------------------------------------

sim_device::~sim_device() {
    std::thread timer;
    {
        std::lock_guard l(d->m);
        d->timer_cancel = true;
        d->cv.notify_all();
        timer = std::move(d->timer);
    }
    if (timer.joinable()) {
        if (timer.get_id() == std::this_thread::get_id()) timer.detach();
        else timer.join();
    }
}

void sim_device::plug() { plug_and_notify(d); }
void sim_device::unplug() { unplug_and_notify(d); }

bool sim_device::plugged() const {
    std::lock_guard l(d->m);
    return d->plugged;
}

void sim_device::restart(const std::function<void(sim_firmware&)>& change) {
    unplug();
    {
        std::lock_guard l(d->m);
        if (change) change(d->firmware);
    }
    plug();
}

void sim_device::set_latency(sim_latency latency) {
    std::lock_guard l(d->m);
    d->latency = latency;
}

void sim_device::drop_next_responses(int count) {
    std::lock_guard l(d->m);
    d->drop_count = count;
}

void sim_device::delay_next_response(uint32_t ms) {
    std::lock_guard l(d->m);
    d->delay_next_ms = ms;
}

void sim_device::wrong_sequence_next(int count) {
    std::lock_guard l(d->m);
    d->wrong_sequence_count = count;
}

void sim_device::force_result(uint16_t command, int result) {
    std::lock_guard l(d->m);
    if (result < 0) d->firmware.forced_results.erase(command);
    else d->firmware.forced_results[command] = result;
}

void sim_device::fail_next(uint16_t command, int count, uint8_t result, int after) {
    std::lock_guard l(d->m);
    if (count <= 0) d->fail_next.erase(command);
    else d->fail_next[command] = {after > 0 ? after : 0, count, result};
}

void sim_device::delay_next_of(uint16_t command, uint32_t ms) {
    std::lock_guard l(d->m);
    d->delay_of[command] = ms;
}

void sim_device::drop_next_of(uint16_t command, int count) {
    std::lock_guard l(d->m);
    if (count <= 0) d->drop_of.erase(command);
    else d->drop_of[command] = count;
}

void sim_device::set_never_answer(bool on) {
    std::lock_guard l(d->m);
    d->never_answer = on;
}

void sim_device::unplug_on_next_request() {
    std::lock_guard l(d->m);
    d->unplug_next = true;
}

void sim_device::stall_writes(bool on) {
    std::lock_guard l(d->m);
    d->stalled = on;
    d->cv.notify_all();
}

namespace {

sim_fault fault(sim_fault_kind kind, uint16_t command = 0, uint32_t value = 0, int count = 0, int after = 0) {
    sim_fault f{};
    f.kind = kind;
    f.command = command;
    f.value = value;
    f.count = count;
    f.after = after;
    return f;
}

// Under the device lock.
std::vector<sim_fault> list_faults(const sim_device::impl& d) {
    const sim_firmware& fw = d.firmware;
    std::vector<sim_fault> out;
    std::set<uint16_t> aimed;
    for (const auto& [code, n] : d.drop_of) aimed.insert(code);
    for (const auto& [code, ms] : d.delay_of) aimed.insert(code);
    for (const auto& [code, f] : d.fail_next) aimed.insert(code);
    for (const auto& [code, result] : fw.forced_results) aimed.insert(code);
    aimed.insert(fw.silent_commands.begin(), fw.silent_commands.end());
    for (uint16_t code : aimed) {
        if (auto it = d.drop_of.find(code); it != d.drop_of.end())
            out.push_back(fault(sim_fault_kind::drop, code, 0, it->second));
        if (auto it = d.delay_of.find(code); it != d.delay_of.end())
            out.push_back(fault(sim_fault_kind::delay, code, it->second, 1));
        if (auto it = d.fail_next.find(code); it != d.fail_next.end())
            out.push_back(fault(sim_fault_kind::refuse, code, it->second.result, it->second.count, it->second.after));
        if (auto it = fw.forced_results.find(code); it != fw.forced_results.end())
            out.push_back(fault(sim_fault_kind::force, code, uint32_t(uint8_t(it->second))));
        if (fw.silent_commands.count(code)) out.push_back(fault(sim_fault_kind::silence, code));
    }
    if (d.drop_count > 0) out.push_back(fault(sim_fault_kind::drop, 0, 0, d.drop_count));
    if (d.delay_next_ms > 0) out.push_back(fault(sim_fault_kind::delay, 0, d.delay_next_ms, 1));
    if (d.wrong_sequence_count > 0) out.push_back(fault(sim_fault_kind::wrong_sequence, 0, 0, d.wrong_sequence_count));
    if (d.never_answer) out.push_back(fault(sim_fault_kind::never_answer));
    if (d.unplug_next) out.push_back(fault(sim_fault_kind::unplug));
    if (d.stalled) out.push_back(fault(sim_fault_kind::stall_writes));
    if (fw.refuse_block >= 0)
        out.push_back(fault(sim_fault_kind::refuse_block, CMD_WRITE_IMAGE_BLOCK, uint32_t(fw.refuse_block)));
    if (!fw.diag.task_count_answers.empty()) {
        sim_fault f = fault(sim_fault_kind::task_counts, CMD_GET_TASK_COUNT);
        f.answers.assign(fw.diag.task_count_answers.begin(), fw.diag.task_count_answers.end());
        f.count = int(f.answers.size());
        out.push_back(f);
    }
    if (fw.motors.ignore_config_writes) out.push_back(fault(sim_fault_kind::ignore_motor_config, CMD_SET_MOTOR_CONFIG));
    for (int i = 0; i < SIM_READING_COUNT; ++i) {
        if (!fw.sampler.forced_readings[i]) continue;
        sim_fault f = fault(sim_fault_kind::reading, CMD_GET_STATUS, uint32_t(i));
        f.reading = *fw.sampler.forced_readings[i];
        out.push_back(f);
    }
    return out;
}

void clear_one(sim_device::impl& d, const sim_fault& f) {
    sim_firmware& fw = d.firmware;
    const uint16_t code = f.command;
    switch (f.kind) {
        case sim_fault_kind::drop:
            if (code) d.drop_of.erase(code);
            else d.drop_count = 0;
            break;
        case sim_fault_kind::delay:
            if (code) d.delay_of.erase(code);
            else d.delay_next_ms = 0;
            break;
        case sim_fault_kind::refuse: d.fail_next.erase(code); break;
        case sim_fault_kind::force: fw.forced_results.erase(code); break;
        case sim_fault_kind::silence: fw.silent_commands.erase(code); break;
        case sim_fault_kind::wrong_sequence: d.wrong_sequence_count = 0; break;
        case sim_fault_kind::never_answer: d.never_answer = false; break;
        case sim_fault_kind::unplug: d.unplug_next = false; break;
        case sim_fault_kind::stall_writes:
            d.stalled = false;
            d.cv.notify_all();
            break;
        case sim_fault_kind::refuse_block: fw.refuse_block = -1; break;
        case sim_fault_kind::task_counts: fw.diag.task_count_answers.clear(); break;
        case sim_fault_kind::ignore_motor_config: fw.motors.ignore_config_writes = false; break;
        case sim_fault_kind::reading:
            if (f.value < SIM_READING_COUNT) fw.sampler.forced_readings[f.value].reset();
            break;
    }
}

}  // namespace

std::vector<sim_fault> sim_device::faults() const {
    std::lock_guard l(d->m);
    return list_faults(*d);
}

void sim_device::clear_fault(const sim_fault& f) {
    std::lock_guard l(d->m);
    clear_one(*d, f);
}

void sim_device::clear_faults() {
    std::lock_guard l(d->m);
    for (const sim_fault& f : list_faults(*d)) clear_one(*d, f);
}

std::vector<command_frame> sim_device::requests() const {
    std::lock_guard l(d->m);
    return {d->log.begin(), d->log.end()};
}

void sim_device::clear_requests() {
    std::lock_guard l(d->m);
    d->log.clear();
    d->log_total = 0;
}

size_t sim_device::request_count() const {
    std::lock_guard l(d->m);
    return d->log_total;
}

void sim_device::with_firmware(const std::function<void(sim_firmware&)>& fn) {
    std::lock_guard l(d->m);
    fn(d->firmware);
}

void sim_device::use_stepped_clock(bool on) {
    std::lock_guard l(d->m);
    if (on && !d->stepped) d->stepped_ms = d->now_ms();
    // Back to real time from where the stepped clock stood: the device's time never runs back.
    if (!on && d->stepped) d->skipped_ms = std::max(d->skipped_ms, d->stepped_ms - std::min(d->stepped_ms, d->real_ms()));
    d->stepped = on;
}

void sim_device::advance_clock(uint64_t ms) {
    std::lock_guard l(d->m);
    if (d->stepped) d->stepped_ms += ms;
    else d->skipped_ms += ms;
}

uint64_t sim_device::now_ms() const {
    std::lock_guard l(d->m);
    return d->now_ms();
}

void sim_device::set_reenumerate_delay(uint32_t ms) {
    std::lock_guard l(d->m);
    d->reenumerate_delay_ms = ms;
}

// ---- bus -----------------------------------------------------------------------------------

void sim_bus_install() { hid_bus_register(&g_sim); }

std::shared_ptr<sim_device> sim_bus_add() {
    const sim_device_config config;
    return sim_bus_add(config);
}

std::shared_ptr<sim_device> sim_bus_add(const sim_device_config& config) {
    auto dev = std::make_shared<sim_device>();
    dev->d = std::make_shared<sim_device::impl>();
    {
        std::lock_guard l(g_bus_lock);
        dev->path_ = config.path.empty() ? "sim:" + std::to_string(g_next_number++) : config.path;
        g_devices.push_back(dev);
    }
    dev->d->path = dev->path_;
    dev->d->hardware_ids = config.hardware_ids;
    dev->d->input_report_id1 = config.input_report_id1;
    dev->d->firmware = config.firmware;
    dev->plug();
    return dev;
}

void sim_bus_reset() {
    std::vector<std::shared_ptr<sim_device>> devices;
    {
        std::lock_guard l(g_bus_lock);
        devices.swap(g_devices);
        g_next_number = 1;
    }
    for (auto& dev : devices) dev->unplug();
}

std::shared_ptr<sim_device> sim_bus_find(const std::string& path) {
    std::lock_guard l(g_bus_lock);
    for (auto& dev : g_devices)
        if (dev->path() == path) return dev;
    return nullptr;
}
