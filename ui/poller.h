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

class ui_poller {
public:
    ui_poller() = default;
    ~ui_poller() { stop(); }
    ui_poller(const ui_poller&) = delete;
    ui_poller& operator=(const ui_poller&) = delete;

    // Starts routine on its own thread, posting to window. False when it cannot start. The
    // window stops its poller before it goes away.
    bool start(QObject* window, worker_routine routine);
    // Cuts the channel, then stops the routine (a bounded wait). Accepts a poller that is not
    // running.
    void stop();
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
