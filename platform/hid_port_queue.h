// The input reports a stand-in port holds for its reader (the virtual instrument's, a replayed
// recording's), each readable from the moment it is due, and the port's cancelled read. The
// backend's own mutex guards it: every call is made with that mutex held.
#pragma once

#include "platform/hid_bus.h"

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <utility>

template <class Frame>
class hid_port_queue {
public:
    using clock = std::chrono::steady_clock;

    void push(clock::time_point ready_at, Frame frame) { input_.push_back({ready_at, std::move(frame)}); }
    bool empty() const { return input_.empty(); }

    // Waits on cv (l holds the backend's mutex) until a report is due and hands it to
    // take(frame): HID_OK. HID_ERR_CANCELLED once cancel() was called, HID_ERR_IO as soon as
    // alive() turns false. pending() runs whenever a report waits, before the wait for it.
    template <class Alive, class Take, class Pending>
    int read(std::unique_lock<std::mutex>& l, std::condition_variable& cv, Alive alive, Take take, Pending pending) {
        for (;;) {
            if (cancelled_) return HID_ERR_CANCELLED;
            if (!alive()) return HID_ERR_IO;
            if (input_.empty()) {
                cv.wait(l);
                continue;
            }
            const auto ready = input_.front().ready_at;
            pending();
            if (ready <= clock::now()) {
                take(input_.front().frame);
                input_.pop_front();
                return HID_OK;
            }
            cv.wait_until(l, ready);
        }
    }

    // The reader waiting in read(), and any later one, returns HID_ERR_CANCELLED until rearm();
    // the caller wakes it through its condition variable.
    void cancel() { cancelled_ = true; }
    void rearm() { cancelled_ = false; }
    // Drops the reports already due; those still on their way stay.
    void flush() {
        const auto now = clock::now();
        std::erase_if(input_, [&](const entry& r) { return r.ready_at <= now; });
    }

private:
    struct entry {
        clock::time_point ready_at;
        Frame frame;
    };
    std::deque<entry> input_;
    bool cancelled_ = false;
};
