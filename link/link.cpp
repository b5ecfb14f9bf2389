#include "link/link.h"

#include "link/link_testing.h"
#include "platform/hid_bus.h"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <memory>
#include <mutex>
#include <system_error>
#include <thread>

namespace {

using clock_type = std::chrono::steady_clock;
constexpr auto WORKER_STOP_WAIT = std::chrono::milliseconds(5000);

// Admits one transaction at a time, with a bounded wait. Built on a mutex and a condition
// variable rather than std::timed_mutex so that ThreadSanitizer sees every acquisition.
class transaction_gate {
public:
    bool try_lock_for(std::chrono::milliseconds timeout) {
        std::unique_lock l(m_);
        if (!cv_.wait_for(l, timeout, [&] { return !busy_; })) return false;
        busy_ = true;
        return true;
    }
    void lock() {
        std::unique_lock l(m_);
        cv_.wait(l, [&] { return !busy_; });
        busy_ = true;
    }
    void unlock() {
        {
            std::lock_guard l(m_);
            busy_ = false;
        }
        cv_.notify_one();
    }

private:
    std::mutex m_;
    std::condition_variable cv_;
    bool busy_ = false;
};

// Everything one open link owns. Shared by the link module, every transaction in progress and
// the worker, so that whoever finishes last releases it: a transaction running while the link
// closes, or a worker that outlives link_close, never touches freed memory.
struct link_session {
    hid_port* port = nullptr;
    uint32_t timeout_ms = 0;
    uint8_t report_id = 0;

    transaction_gate txn_mutex;  // admits one transaction at a time

    std::mutex m;  // guards everything below
    std::condition_variable cv_worker;
    std::condition_variable cv_txn;
    std::condition_variable cv_done;
    bool stop = false;
    uint8_t sequence = 1;
    std::shared_ptr<const command_frame> pending;  // the request the worker is to write next
    bool request_posted = false;
    int active_sequence = -1;   // sequence of the transaction now waiting, -1 when none
    bool flush_before_write = false;
    bool worker_reading = false;
    bool response_ready = false;
    command_frame response{};
    bool worker_done = false;

    ~link_session() { hid_port_close(port); }
};

std::mutex g_lifecycle;  // serialises link_open and link_close
std::mutex g_lock;       // guards g_session
std::shared_ptr<link_session> g_session;
std::atomic<uint8_t> g_report_id{0};

std::shared_ptr<link_session> held_for_test;

std::shared_ptr<link_session> current_session() {
    std::lock_guard lock(g_lock);
    return g_session;
}

void link_worker(std::shared_ptr<link_session> s) {
    for (;;) {
        std::shared_ptr<const command_frame> request;
        bool flush = false;
        {
            std::unique_lock l(s->m);
            s->cv_worker.wait(l, [&] { return s->stop || s->request_posted; });
            if (s->stop) break;
            s->request_posted = false;
            request = s->pending;
            if (!request) continue;  // abandoned before it was written
            flush = s->flush_before_write;
            s->flush_before_write = false;
        }
        // An abandoned exchange may have left answers queued; they must not meet this request.
        if (flush) hid_port_flush(s->port);
        if (hid_port_write(s->port, request->bytes, FRAME_SIZE) != HID_OK) continue;

        const uint8_t sequence = request->bytes[FRAME_SEQUENCE];
        {
            std::lock_guard l(s->m);
            if (s->pending == request) s->pending.reset();
            if (s->stop || s->active_sequence != sequence) continue;  // its caller gave up
            // From here on a cancel is meant for this read, so clear any older one first.
            s->worker_reading = true;
            hid_port_rearm(s->port);
        }
        for (;;) {
            command_frame in;
            int rc = hid_port_read(s->port, in.bytes, FRAME_SIZE);
            std::lock_guard l(s->m);
            if (rc != HID_OK) {
                s->worker_reading = false;
                break;
            }
            if (in.bytes[FRAME_SEQUENCE] == s->sequence && s->active_sequence == sequence) {
                s->response = in;
                s->response_ready = true;
                s->worker_reading = false;
                s->cv_txn.notify_all();
                break;
            }
            // A late answer to an abandoned request: drop it and keep waiting for ours, until
            // our caller gives up and cancels the read.
            if (s->stop || s->active_sequence != sequence) {
                s->worker_reading = false;
                break;
            }
        }
    }
    std::lock_guard l(s->m);
    s->worker_done = true;
    s->cv_done.notify_all();
}

}  // namespace

int link_open(const char* path, uint32_t timeout_ms) {
    std::lock_guard lifecycle(g_lifecycle);
    if (current_session()) return 1;
    hid_port* port = hid_port_open(path);
    if (!port) return 1;
    switch (hid_port_probe_report_id(port)) {
        case HID_PROBE_HAS_ID1: g_report_id = 1; break;
        case HID_PROBE_NO_ID1: g_report_id = 0; break;
        default: break;  // not probed: keep the previous choice
    }
    auto s = std::make_shared<link_session>();
    s->port = port;
    s->timeout_ms = timeout_ms;
    s->report_id = g_report_id;
    try {
        std::thread(link_worker, s).detach();
    } catch (const std::system_error&) {
        return 1;  // the session closes the port
    }
    std::lock_guard lock(g_lock);
    g_session = std::move(s);
    return 0;
}

void link_close() {
    std::lock_guard lifecycle(g_lifecycle);
    std::shared_ptr<link_session> s;
    {
        std::lock_guard lock(g_lock);
        s = std::move(g_session);
    }
    if (!s) return;
    std::unique_lock l(s->m);
    s->stop = true;
    s->pending.reset();
    s->active_sequence = -1;
    hid_port_cancel(s->port);
    s->cv_worker.notify_all();
    s->cv_txn.notify_all();
    // Once the worker has ended, nobody uses the device any more (transactions touch it only
    // while the link is not stopping), so let it go now: the next open may want it at once.
    // A worker that is still stuck keeps it until it ends.
    if (s->cv_done.wait_for(l, WORKER_STOP_WAIT, [&] { return s->worker_done; })) {
        hid_port_close(s->port);
        s->port = nullptr;
    }
}

int link_transact(command_frame& frame) {
    std::shared_ptr<link_session> s = current_session();
    if (!s) return LINK_ERR_NOT_OPEN;
    const auto timeout = std::chrono::milliseconds(s->timeout_ms);
    if (!s->txn_mutex.try_lock_for(timeout)) return LINK_ERR_BUSY;
    struct release_gate {
        transaction_gate& gate;
        ~release_gate() { gate.unlock(); }
    } release{s->txn_mutex};

    auto request = std::make_shared<command_frame>(frame);
    std::unique_lock l(s->m);
    if (s->stop) return LINK_ERR_NOT_OPEN;
    // Whatever answer is still lying here belongs to an earlier, abandoned request.
    s->response_ready = false;
    s->sequence = uint8_t(s->sequence + 1);
    const uint8_t sequence = s->sequence;
    request->bytes[FRAME_REPORT_ID] = s->report_id;
    request->bytes[FRAME_SEQUENCE] = sequence;
    s->pending = request;
    s->request_posted = true;
    s->active_sequence = sequence;
    s->cv_worker.notify_one();

    s->cv_txn.wait_until(l, clock_type::now() + timeout, [&] { return s->response_ready || s->stop; });
    int result;
    if (s->response_ready) {
        if (s->response.bytes[FRAME_SEQUENCE] == sequence) {
            std::memcpy(frame.bytes, s->response.bytes, FRAME_SIZE);
            result = LINK_OK;
        } else {
            result = LINK_ERR_BUSY;
        }
        s->response_ready = false;
    } else if (s->stop) {
        result = LINK_ERR_NOT_OPEN;
    } else {
        result = LINK_ERR_TIMEOUT;
        if (s->worker_reading) hid_port_cancel(s->port);
        s->flush_before_write = true;
    }
    s->pending.reset();
    s->request_posted = false;
    s->active_sequence = -1;
    return result;
}

bool link_is_open() { return current_session() != nullptr; }

uint8_t link_report_id() { return g_report_id; }

bool link_test_hold_transactions() {
    auto s = current_session();
    if (!s) return false;
    s->txn_mutex.lock();
    held_for_test = std::move(s);
    return true;
}

void link_test_release_transactions() {
    if (!held_for_test) return;
    held_for_test->txn_mutex.unlock();
    held_for_test.reset();
}
