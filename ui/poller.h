// A window's background poller: a worker_thread (link/worker_thread.h) whose results reach the
// window only as queued calls carried out on the GUI thread.
//
// Stopping a poller cuts its channel first: whatever it posted that has not run yet is dropped,
// so nothing read by a stopped poller (a row of a log cleared since, a reading of an instrument
// unplugged since) ever reaches the window, and a routine that outlives the stop posts nowhere.
#pragma once

#include "link/worker_thread.h"

#include <functional>
#include <memory>

class QObject;
struct ui_poll_channel;

// The end of a stopped poller's routine. A stop does not wait: a routine inside an exchange
// finishes it on its own thread. Where what follows must not meet one more exchange of the
// routine (a Clear that must come after the last read), the handler waits for this end inside
// its ui_await work, never on the GUI thread.
class ui_poller_end {
public:
    explicit ui_poller_end(worker_thread* ref = nullptr) : ref_(ref) {}
    ui_poller_end(ui_poller_end&& o) noexcept : ref_(o.ref_) { o.ref_ = nullptr; }
    ui_poller_end(const ui_poller_end&) = delete;
    ui_poller_end& operator=(const ui_poller_end&) = delete;
    ~ui_poller_end() { worker_thread_join(ref_, 0); }
    // Waits at most ms; true once the routine has returned.
    bool wait(uint32_t ms) {
        const bool ended = worker_thread_join(ref_, ms);
        ref_ = nullptr;
        return ended;
    }

private:
    worker_thread* ref_;
};

class ui_poller {
public:
    ui_poller() = default;
    ~ui_poller() { stop(); }
    ui_poller(const ui_poller&) = delete;
    ui_poller& operator=(const ui_poller&) = delete;

    // Starts routine on its own thread, posting to window. False when it cannot start. The
    // window stops its poller before it goes away.
    bool start(QObject* window, worker_routine routine);
    // Cuts the channel, then stops the routine without waiting for it. Accepts a poller that
    // is not running.
    ui_poller_end stop();
    // Ends the routine's current wait at once.
    void wake();
    bool running() const { return thread_ != nullptr; }

private:
    worker_thread* thread_ = nullptr;
    std::shared_ptr<ui_poll_channel> channel_;
};

// On the poller's thread: the window the poller posts to (to be captured by posted calls, never
// used on the poller's thread), and a call to run on the GUI thread unless this poller has been
// stopped by then.
QObject* ui_poll_window(worker_thread* self);
void ui_poll_post(worker_thread* self, std::function<void()> fn);
