#include "link/worker_thread.h"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <system_error>
#include <thread>

#ifdef __linux__
#include <sys/prctl.h>
#endif

struct worker_thread {
    // The wake semaphore (count 0 or 1), kept as a flag under the lock so that a second
    // release is harmless.
    bool wake = false;
    std::condition_variable cv_wake;
    std::atomic<int> stop{0};
    void* user = nullptr;
    void (*free_user)(void*) = nullptr;
    worker_routine routine = nullptr;
    // Two references: the owner's (given up by worker_thread_stop) and the routine's (given up
    // when it returns), and one more for each worker_thread_retain. Whoever is last frees the
    // object.
    std::atomic<int> refs{2};
    std::mutex m;
    std::condition_variable cv_done;
    bool done = false;
};

namespace {

// The routines that have not returned yet, for worker_thread_join_all. Never destroyed: a
// detached routine may still be on its way out while the program's statics are torn down.
struct live_routines {
    std::mutex lock;
    std::condition_variable cv;
    int count = 0;
};
live_routines& live() {
    static live_routines* l = new live_routines;
    return *l;
}

void destroy(worker_thread* w) {
    if (w->free_user) w->free_user(w->user);
    delete w;
}

void release(worker_thread* w) {
    if (w->refs.fetch_sub(1, std::memory_order_acq_rel) == 1) destroy(w);
}

void run(worker_thread* w) {
#ifdef __linux__
    // Routines pause 2 ms between the entries of a list; the kernel's default 50 us timer slack
    // on each such wake-up stretches a drain of a thousand entries by a tenth.
    prctl(PR_SET_TIMERSLACK, 1000UL, 0, 0, 0);
#endif
    w->routine(w);
    {
        std::lock_guard l(w->m);
        w->done = true;
        w->cv_done.notify_all();
    }
    release(w);
    live_routines& l = live();
    std::lock_guard lock(l.lock);
    --l.count;
    l.cv.notify_all();
}

}  // namespace

worker_thread* worker_thread_start(worker_routine routine, void* user_data, void (*free_user)(void*)) {
    if (!routine) {
        if (free_user) free_user(user_data);
        return nullptr;
    }
    auto* w = new worker_thread;
    w->user = user_data;
    w->free_user = free_user;
    w->routine = routine;
    {
        std::lock_guard lock(live().lock);
        ++live().count;
    }
    try {
        std::thread(run, w).detach();
    } catch (const std::system_error&) {
        destroy(w);
        std::lock_guard lock(live().lock);
        --live().count;
        return nullptr;
    }
    return w;
}

worker_thread* worker_thread_stop(worker_thread* w) {
    if (!w) return nullptr;
    w->stop.store(1);
    {
        std::lock_guard l(w->m);
        w->wake = true;
        w->cv_wake.notify_all();
    }
    release(w);
    return nullptr;
}

worker_thread* worker_thread_retain(worker_thread* w) {
    if (w) w->refs.fetch_add(1, std::memory_order_relaxed);
    return w;
}

bool worker_thread_join(worker_thread* w, uint32_t ms) {
    if (!w) return true;
    bool ended;
    {
        std::unique_lock l(w->m);
        ended = w->cv_done.wait_for(l, std::chrono::milliseconds(ms), [&] { return w->done; });
    }
    release(w);
    return ended;
}

bool worker_thread_join_all(uint32_t ms) {
    live_routines& l = live();
    std::unique_lock lock(l.lock);
    return l.cv.wait_for(lock, std::chrono::milliseconds(ms), [&] { return l.count == 0; });
}

void* worker_thread_user(const worker_thread* w) { return w->user; }

bool worker_thread_stopping(const worker_thread* w) { return w->stop.load() != 0; }

bool worker_thread_wait(worker_thread* w, uint32_t ms) {
    std::unique_lock l(w->m);
    if (!w->cv_wake.wait_for(l, std::chrono::milliseconds(ms), [&] { return w->wake; })) return false;
    w->wake = false;
    return true;
}

void worker_thread_wake(worker_thread* w) {
    if (!w) return;
    std::lock_guard l(w->m);
    w->wake = true;
    w->cv_wake.notify_all();
}

bool worker_thread_pause(worker_thread* w) {
    if (worker_thread_stopping(w)) return true;
    worker_thread_wait(w, 2);
    return worker_thread_stopping(w);
}
