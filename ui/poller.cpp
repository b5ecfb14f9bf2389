#include "ui/poller.h"

#include <QMetaObject>
#include <QObject>

#include <mutex>

// The window closes its channel (ui_poller::stop) before it goes away, so while the channel is
// open under its lock the window exists.
struct ui_poll_channel {
    std::mutex m;
    QObject* window = nullptr;
    bool open = true;

    bool is_open() {
        std::lock_guard l(m);
        return open;
    }
};

namespace {

// What the routine's worker_thread carries as its user data.
struct poll_user {
    std::shared_ptr<ui_poll_channel> channel;
    QObject* window;
};

}  // namespace

bool ui_poller::start(QObject* window, worker_routine routine) {
    stop();
    channel_ = std::make_shared<ui_poll_channel>();
    channel_->window = window;
    thread_ = worker_thread_start(routine, new poll_user{channel_, window},
                                  [](void* user) { delete static_cast<poll_user*>(user); });
    return thread_ != nullptr;
}

ui_poller_end ui_poller::stop() {
    if (channel_) {
        std::lock_guard l(channel_->m);
        channel_->open = false;
    }
    channel_.reset();
    ui_poller_end end(worker_thread_retain(thread_));
    thread_ = worker_thread_stop(thread_);
    return end;
}

void ui_poller::wake() { worker_thread_wake(thread_); }

QObject* ui_poll_window(worker_thread* self) { return static_cast<poll_user*>(worker_thread_user(self))->window; }

void ui_poll_post(worker_thread* self, std::function<void()> fn) {
    const std::shared_ptr<ui_poll_channel> channel = static_cast<poll_user*>(worker_thread_user(self))->channel;
    std::lock_guard l(channel->m);
    if (!channel->open || !channel->window) return;
    // The check runs again on the GUI thread: the poller may have been stopped in between.
    QMetaObject::invokeMethod(
        channel->window,
        [channel, fn = std::move(fn)] {
            if (channel->is_open()) fn();
        },
        Qt::QueuedConnection);
}
