// Hot-plug watchers of the simulated bus: once a watcher's stop has returned, it is never called
// again, even when a removal was being told on another thread at that moment.
#include "instrument/sim_bus.h"
#include "platform/hid_bus.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <memory>
#include <thread>

namespace {

struct watch_data {
    std::atomic<bool> inside{false};
    std::atomic<bool> freed{false};
    std::atomic<int> calls_after_free{0};
};

TEST(SimWatch, AStopWaitsForACallUnderWayAndNoCallFollowsIt) {
    sim_bus_install();
    sim_bus_reset();
    auto dev = sim_bus_add();
    auto data = std::make_unique<watch_data>();
    hid_watch* watch = hid_bus_watch(
        [](void* user, uint32_t, const char*) {
            auto* d = static_cast<watch_data*>(user);
            if (d->freed) ++d->calls_after_free;
            d->inside = true;
            std::this_thread::sleep_for(std::chrono::milliseconds(200));  // a slow watcher
            if (d->freed) ++d->calls_after_free;
        },
        data.get());
    ASSERT_NE(watch, nullptr);
    std::thread unplug([&] { dev->unplug(); });
    while (!data->inside) std::this_thread::sleep_for(std::chrono::milliseconds(1));
    hid_bus_unwatch(watch);  // returns only once the call under way has ended
    data->freed = true;
    unplug.join();
    EXPECT_EQ(data->calls_after_free.load(), 0);
    sim_bus_reset();
}

}  // namespace
