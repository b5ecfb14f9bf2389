#include "link/worker_thread.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>

using namespace std::chrono_literals;

namespace {

struct probe {
    std::atomic<int> passes{0};
    std::atomic<bool> in_wait{false};
    std::atomic<bool> ended{false};
    std::atomic<bool> saw_stop_late{false};
    std::atomic<bool> slow{false};
};

int polling_routine(worker_thread* self) {
    auto* p = static_cast<probe*>(worker_thread_user(self));
    for (;;) {
        ++p->passes;
        if (p->slow) std::this_thread::sleep_for(300ms);  // a slow exchange that ignores the stop
        if (worker_thread_stopping(self)) break;
        p->in_wait = true;
        worker_thread_wait(self, 10000);  // a long poll period
        p->in_wait = false;
        if (worker_thread_stopping(self)) break;
    }
    p->saw_stop_late = worker_thread_stopping(self) && worker_thread_user(self) == p;
    p->ended = true;
    return 0;
}

TEST(WorkerThread, StopWakesARoutineInItsPollWait) {
    probe p;
    worker_thread* w = worker_thread_start(polling_routine, &p);
    ASSERT_NE(w, nullptr);
    while (!p.in_wait) std::this_thread::sleep_for(1ms);
    worker_thread* ref = worker_thread_retain(w);
    w = worker_thread_stop(w);
    EXPECT_EQ(w, nullptr);
    // The routine only ends this soon (its poll period is 10 s) if the stop woke it.
    EXPECT_TRUE(worker_thread_join(ref, 2000));
    EXPECT_TRUE(p.ended);
    EXPECT_EQ(p.passes.load(), 1);
}

TEST(WorkerThread, StopOfNoneDoesNothing) { EXPECT_EQ(worker_thread_stop(nullptr), nullptr); }

TEST(WorkerThread, StopThenStartAgainForTheSameWindow) {
    probe first, second;
    worker_thread* w = worker_thread_start(polling_routine, &first);
    ASSERT_NE(w, nullptr);
    while (!first.in_wait) std::this_thread::sleep_for(1ms);
    worker_thread* ref = worker_thread_retain(w);
    w = worker_thread_stop(w);
    EXPECT_TRUE(worker_thread_join(ref, 2000));
    EXPECT_TRUE(first.ended);
    w = worker_thread_start(polling_routine, &second);
    ASSERT_NE(w, nullptr);
    while (!second.in_wait) std::this_thread::sleep_for(1ms);
    EXPECT_EQ(second.passes.load(), 1);
    w = worker_thread_stop(w);
    EXPECT_TRUE(worker_thread_join_all(2000));
    EXPECT_TRUE(second.ended);
}

TEST(WorkerThread, ARoutineOutlastingTheStopStillHasItsObject) {
    probe p;
    p.slow = true;
    worker_thread* w = worker_thread_start(polling_routine, &p);
    ASSERT_NE(w, nullptr);
    while (p.passes == 0) std::this_thread::sleep_for(1ms);
    w = worker_thread_stop(w);  // returns at once, while the routine is inside its slow pass
    EXPECT_FALSE(p.ended);
    EXPECT_FALSE(worker_thread_join_all(0));
    EXPECT_TRUE(worker_thread_join_all(2000));
    EXPECT_TRUE(p.ended);
    // The routine read its stop flag and user data after the owner let go (AddressSanitizer
    // would report it if the object had been freed).
    EXPECT_TRUE(p.saw_stop_late);
}

TEST(WorkerThread, PauseBetweenEntriesReportsAStop) {
    struct state {
        std::atomic<int> entries{0};
        std::atomic<bool> ended{false};
    } s;
    auto routine = [](worker_thread* self) -> int {
        auto* st = static_cast<state*>(worker_thread_user(self));
        for (;;) {
            ++st->entries;
            if (worker_thread_pause(self)) break;
        }
        st->ended = true;
        return 0;
    };
    worker_thread* w = worker_thread_start(routine, &s);
    while (s.entries < 3) std::this_thread::sleep_for(1ms);
    worker_thread* ref = worker_thread_retain(w);
    w = worker_thread_stop(w);
    EXPECT_TRUE(worker_thread_join(ref, 2000));
    EXPECT_TRUE(s.ended);
}

}  // namespace
