// The Linux backend's hot-plug watcher when the system runs out of file descriptors.
#include "platform/hid_bus.h"
#include "platform/hid_linux.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <vector>

#include <fcntl.h>
#include <sys/resource.h>
#include <unistd.h>

namespace {

void ignore(void*, uint32_t, const char*) {}

// Uses up every descriptor below a lowered limit but `spare`, and gives them back afterwards.
class descriptors_left {
public:
    explicit descriptors_left(int spare) {
        getrlimit(RLIMIT_NOFILE, &old_);
        rlimit low = old_;
        low.rlim_cur = 256;
        setrlimit(RLIMIT_NOFILE, &low);
        for (;;) {
            const int fd = ::open("/dev/null", O_RDONLY | O_CLOEXEC);
            if (fd < 0) break;
            taken_.push_back(fd);
        }
        for (int i = 0; i < spare && !taken_.empty(); ++i) {
            ::close(taken_.back());
            taken_.pop_back();
        }
    }
    ~descriptors_left() {
        for (int fd : taken_) ::close(fd);
        setrlimit(RLIMIT_NOFILE, &old_);
    }

private:
    rlimit old_{};
    std::vector<int> taken_;
};

TEST(HidLinuxWatch, NoStopEventMeansNoWatcherAndNothingToHangOn) {
    // umockdev's preload library keeps its own table of descriptors, too small for this test.
    if (std::getenv("UMOCKDEV_DIR")) GTEST_SKIP() << "not under umockdev-wrapper";
    const hid_backend* linux_bus = hid_linux_backend();
    void* token = linux_bus->watch_start(linux_bus->ctx, ignore, nullptr);
    if (!token) GTEST_SKIP() << "this machine offers no udev monitor";
    linux_bus->watch_stop(linux_bus->ctx, token);

    {
        // Room for the monitor's socket and the stop event: a watcher starts and stops.
        descriptors_left two(2);
        token = linux_bus->watch_start(linux_bus->ctx, ignore, nullptr);
        ASSERT_NE(token, nullptr);
        linux_bus->watch_stop(linux_bus->ctx, token);
    }
    // Room for the socket only: the watcher must not start, since a thread without its stop
    // event could never be told to end (stopping it would hang for ever).
    descriptors_left one(1);
    token = linux_bus->watch_start(linux_bus->ctx, ignore, nullptr);
    EXPECT_EQ(token, nullptr);
    if (token) linux_bus->watch_stop(linux_bus->ctx, token);
}

}  // namespace
