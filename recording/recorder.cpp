#include "recording/recorder.h"

#include "link/command_frame.h"
#include "platform/file_replace.h"
#include "platform/hid_bus.h"
#include "platform/pc_clock.h"
#include "recording/recording_format.h"

#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstring>
#include <map>
#include <mutex>
#include <system_error>
#include <thread>
#include <vector>


namespace {

using steady = std::chrono::steady_clock;

// One queued line. The slots of the queue are reused, so their strings keep their capacity and
// queueing a frame allocates nothing once the recording has warmed up.
struct entry {
    rec_kind kind = rec_kind::end;
    uint64_t t_us = 0;
    std::string dev;
    uint8_t frame[FRAME_SIZE] = {};
    size_t len = 0;
    int64_t value = 0;
    std::string ids;
};

// The most lines the writer takes at once: the queue's lock is held while they are copied.
constexpr size_t WRITER_BATCH = 256;
// The writer is woken only when a batch is waiting; otherwise it looks this often. A frame then
// costs its exchange a lock and a copy, never a thread switch or a write to the file.
constexpr auto WRITER_PERIOD = std::chrono::milliseconds(100);

std::mutex g_m;  // guards everything down to g_writer_error
std::condition_variable g_cv;
bool g_active = false;    // frames are queued
bool g_stopping = false;  // the writer drains the queue, writes the last line and ends
bool g_hold = false;
std::vector<entry> g_queue;  // a ring of RECORDER_QUEUE_LINES slots
size_t g_head = 0;
size_t g_count = 0;
uint64_t g_dropped_total = 0;
uint64_t g_dropped_unwritten = 0;
uint64_t g_first_drop_us = 0;
steady::time_point g_start;
std::map<std::string, std::string> g_devices;  // path -> hardware ids as last written
std::string g_path;
recorder_failure_fn g_on_failure;
int g_writer_error = 0;  // the first failed write, set by the writer

// The writer's own, and recorder_start/stop's before and after it runs.
std::thread g_writer;
file_replace_job* g_job = nullptr;  // the file, put in place when the recording stops
hid_watch* g_watch = nullptr;
std::mutex g_lifecycle;  // serialises start and stop

uint64_t now_us() {
    return uint64_t(std::chrono::duration_cast<std::chrono::microseconds>(steady::now() - g_start).count());
}

// Queues one line. Never waits for the writer: a full queue drops the line and counts it.
void enqueue(rec_kind kind, const char* dev, const uint8_t* frame, size_t len, int64_t value, const std::string* ids) {
    std::unique_lock l(g_m);
    if (!g_active) return;
    if (g_count == g_queue.size()) {
        if (g_dropped_unwritten++ == 0) g_first_drop_us = now_us();
        ++g_dropped_total;
        return;
    }
    entry& e = g_queue[(g_head + g_count) % g_queue.size()];
    e.kind = kind;
    e.t_us = now_us();
    e.dev.assign(dev ? dev : "");
    e.len = frame ? std::min(len, FRAME_SIZE) : 0;
    if (e.len) std::memcpy(e.frame, frame, e.len);
    e.value = value;
    if (ids) e.ids = *ids;
    const bool wake = ++g_count == WRITER_BATCH;
    l.unlock();
    if (wake) g_cv.notify_one();
}

void on_port_op(hid_tap_op op, const char* path, const uint8_t* report, size_t len, int rc) {
    switch (op) {
        case hid_tap_op::open: enqueue(rc == 0 ? rec_kind::open : rec_kind::open_failed, path, nullptr, 0, 0, nullptr); break;
        case hid_tap_op::close: enqueue(rec_kind::close, path, nullptr, 0, 0, nullptr); break;
        case hid_tap_op::probe: enqueue(rec_kind::probe, path, nullptr, 0, rc, nullptr); break;
        case hid_tap_op::flush: enqueue(rec_kind::flush, path, nullptr, 0, 0, nullptr); break;
        case hid_tap_op::write:
            if (rc == HID_OK) enqueue(rec_kind::out, path, report, len, 0, nullptr);
            else enqueue(rec_kind::out_failed, path, nullptr, 0, 0, nullptr);
            break;
        case hid_tap_op::read:
            if (rc == HID_OK) enqueue(rec_kind::in, path, report, len, 0, nullptr);
            else enqueue(rc == HID_ERR_CANCELLED ? rec_kind::read_cancelled : rec_kind::read_failed, path, nullptr, 0, 0, nullptr);
            break;
    }
}

// A device goes into the recording (with its hardware ids, which the replay lists it by) the
// first time a list shows it, and again only when its ids change.
void on_enumerated(const std::vector<hid_device_desc>& present) {
    for (const hid_device_desc& d : present) {
        {
            std::lock_guard l(g_m);
            if (!g_active) return;
            auto it = g_devices.find(d.path);
            if (it != g_devices.end() && it->second == d.hardware_ids) continue;
            g_devices[d.path] = d.hardware_ids;
        }
        enqueue(rec_kind::device, d.path.c_str(), nullptr, 0, 0, &d.hardware_ids);
    }
}

void on_device_change(void*, uint32_t code, const char* name) {
    if (code == HID_EVENT_ARRIVAL) enqueue(rec_kind::arrival, name, nullptr, 0, 0, nullptr);
    else if (code == HID_EVENT_REMOVE_COMPLETE) enqueue(rec_kind::removal, name, nullptr, 0, 0, nullptr);
}

const hid_bus_tap TAP = {on_port_op, on_enumerated};

void add_line(std::string& out, const rec_line& line) {
    out += rec_format_line(line);
    out += '\n';
}

void report_failure(int error) {
    recorder_failure_fn tell;
    {
        std::lock_guard l(g_m);
        if (g_writer_error) return;
        g_writer_error = error;
        tell = g_on_failure;
    }
    if (tell) tell(error);
}

void writer() {
    int error = 0;
    std::vector<entry> batch;
    std::string text;
    for (;;) {
        uint64_t dropped = 0, dropped_at = 0;
        bool last = false;
        batch.clear();
        {
            std::unique_lock l(g_m);
            g_cv.wait_for(l, WRITER_PERIOD, [] { return g_stopping || (!g_hold && g_count >= WRITER_BATCH); });
            if (g_hold && !g_stopping) continue;
            while (g_count > 0 && batch.size() < WRITER_BATCH) {
                batch.push_back(g_queue[g_head]);
                g_head = (g_head + 1) % g_queue.size();
                --g_count;
            }
            // Everything dropped so far was dropped after the lines just taken (it is the queue
            // being full with them that dropped it), so its note follows them.
            if (g_count == 0) {
                dropped = g_dropped_unwritten;
                dropped_at = g_first_drop_us;
                g_dropped_unwritten = 0;
                last = g_stopping;
            }
        }
        text.clear();
        for (const entry& e : batch) {
            rec_line line;
            line.kind = e.kind;
            line.t_us = e.t_us;
            line.dev = e.dev;
            line.frame.assign(e.frame, e.frame + e.len);
            line.value = e.value;
            if (e.kind == rec_kind::device) line.ids = e.ids;
            add_line(text, line);
        }
        if (dropped) {
            rec_line note;
            note.kind = rec_kind::dropped;
            note.t_us = dropped_at;
            note.value = int64_t(dropped);
            add_line(text, note);
        }
        if (last) {
            rec_line end;
            end.kind = rec_kind::end;
            std::lock_guard l(g_m);
            end.t_us = now_us();
            end.value = int64_t(g_dropped_total);
            add_line(text, end);
        }
        // Out to the system with every batch: a program that dies keeps what came before. The
        // first failure is kept and told; everything after it is discarded.
        if (!error && !text.empty()) error = file_replace_write(g_job, text.data(), text.size());
        if (error) report_failure(error);
        if (last) return;
    }
}

}  // namespace

int recorder_start(const char* path, const std::string& tool, recorder_failure_fn on_failure) {
    std::lock_guard lifecycle(g_lifecycle);
    if (!path || !*path) return EINVAL;
    {
        std::lock_guard l(g_m);
        if (g_active || g_writer.joinable()) return EBUSY;
    }
    if (const int error = file_replace_begin(path, &g_job)) return error;
    // The header is written at once: a file that cannot take even that is refused here, before
    // anything has been recorded into it.
    const std::string header = rec_header_line(tool, int64_t(pc_clock_utc_seconds())) + "\n";
    if (const int error = file_replace_write(g_job, header.data(), header.size())) {
        file_replace_end(g_job, error);
        g_job = nullptr;
        return error;
    }
    {
        std::lock_guard l(g_m);
        g_queue.assign(RECORDER_QUEUE_LINES, entry{});
        g_head = g_count = 0;
        g_dropped_total = g_dropped_unwritten = g_first_drop_us = 0;
        g_devices.clear();
        g_start = steady::now();
        g_path = path;
        g_on_failure = std::move(on_failure);
        g_writer_error = 0;
        g_stopping = false;
        g_active = true;
    }
    try {
        g_writer = std::thread(writer);
    } catch (const std::system_error& e) {
        {
            std::lock_guard l(g_m);
            g_active = false;
        }
        file_replace_end(g_job, EAGAIN);
        g_job = nullptr;
        return e.code().value() ? e.code().value() : EAGAIN;
    }
    hid_bus_set_tap(&TAP);
    g_watch = hid_bus_watch(on_device_change, nullptr);
    // The devices present as the recording starts.
    hid_bus_enumerate();
    return 0;
}

int recorder_stop() {
    std::lock_guard lifecycle(g_lifecycle);
    if (!g_writer.joinable()) return 0;
    hid_bus_unwatch(g_watch);
    g_watch = nullptr;
    hid_bus_set_tap(nullptr);
    {
        std::lock_guard l(g_m);
        g_active = false;
        g_stopping = true;
    }
    g_cv.notify_all();
    g_writer.join();
    int error;
    {
        std::lock_guard l(g_m);
        error = g_writer_error;
        g_stopping = false;
        g_on_failure = nullptr;
        g_queue.clear();
        g_queue.shrink_to_fit();
    }
    error = file_replace_end(g_job, error);
    g_job = nullptr;
    return error;
}

bool recorder_active() {
    std::lock_guard l(g_m);
    return g_active;
}

std::string recorder_path() {
    std::lock_guard l(g_m);
    return g_active ? g_path : std::string();
}

uint64_t recorder_dropped() {
    std::lock_guard l(g_m);
    return g_dropped_total;
}

void recorder_test_hold_writer(bool hold) {
    {
        std::lock_guard l(g_m);
        g_hold = hold;
    }
    g_cv.notify_all();
}
