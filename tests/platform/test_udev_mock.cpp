// Enumeration and hot-plug through libudev for real, on a mocked sysfs (umockdev). The test
// program must run under umockdev-wrapper, which points libudev at the test bed.
#include "link/discovery.h"
#include "platform/hid_bus.h"
#include "platform/hid_linux.h"

#include <gtest/gtest.h>
#include <umockdev.h>

#include <atomic>
#include <chrono>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace {

struct seen_event {
    uint32_t code;
    std::string name;
};

std::mutex g_lock;
std::vector<seen_event> g_events;

void record(void*, uint32_t code, const char* name) {
    std::lock_guard l(g_lock);
    g_events.push_back({code, name ? name : ""});
}

class UdevMock : public ::testing::Test {
protected:
    void SetUp() override {
        bed = umockdev_testbed_new();
        // Only under umockdev-wrapper does libudev read the test bed instead of the machine.
        if (!umockdev_in_mock_environment()) GTEST_SKIP() << "run under umockdev-wrapper";
        hid_bus_register(hid_linux_backend());
        device_list_free();
    }
    void TearDown() override {
        device_list_free();
        hid_bus_unregister(hid_linux_backend());
        if (bed) g_object_unref(bed);
    }
    // A USB device with one HID interface and its hidraw node.
    std::string add_instrument(const char* hid_name, const char* hidraw, const char* vid, const char* pid) {
        gchar* usb = umockdev_testbed_add_device(bed, "usb", (std::string("usb-") + hidraw).c_str(), nullptr,
                                                 "idVendor", vid, "idProduct", pid, "bcdDevice", "0100", nullptr,
                                                 "DEVTYPE", "usb_device", nullptr);
        const std::string hid_id = std::string("0003:0000") + vid + ":0000" + pid;
        gchar* hid = umockdev_testbed_add_device(bed, "hid", hid_name, usb, nullptr, "HID_ID", hid_id.c_str(), nullptr);
        const std::string node = std::string("/dev/") + hidraw;
        gchar* raw = umockdev_testbed_add_device(bed, "hidraw", hidraw, hid, nullptr, "DEVNAME", node.c_str(), nullptr);
        std::string syspath = raw;
        g_free(usb);
        g_free(hid);
        g_free(raw);
        return syspath;
    }
    UMockdevTestbed* bed = nullptr;
};

TEST_F(UdevMock, EnumeratesSupportedHidrawNodesWithWindowsStyleIds) {
    add_instrument("0003:04D8:EABD.0001", "hidraw0", "04D8", "EABD");
    add_instrument("0003:046D:C077.0002", "hidraw1", "046D", "C077");
    std::vector<hid_device_desc> all = hid_bus_enumerate();
    ASSERT_EQ(all.size(), 2u);
    bool found = false;
    for (const auto& d : all) {
        if (d.path == "/dev/hidraw0") {
            found = true;
            EXPECT_EQ(d.hardware_ids, std::string("HID\\VID_04D8&PID_EABD&REV_0100\0HID\\VID_04D8&PID_EABD\0", 53));
        }
    }
    EXPECT_TRUE(found);
    device_scan();
    ASSERT_EQ(device_list.count, 1u);
    EXPECT_STREQ(device_list.entries[0].path, "/dev/hidraw0");
}

TEST_F(UdevMock, MonitorReportsArrivalAndRemoval) {
    {
        std::lock_guard l(g_lock);
        g_events.clear();
    }
    hid_watch* watch = hid_bus_watch(record, nullptr);
    // Adding a device to the test bed announces it.
    std::string syspath = add_instrument("0003:04D8:EABE.0003", "hidraw2", "04D8", "EABE");
    umockdev_testbed_uevent(bed, syspath.c_str(), "remove");
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    for (;;) {
        {
            std::lock_guard l(g_lock);
            bool removed = !g_events.empty() && g_events.back().code == HID_EVENT_REMOVE_COMPLETE;
            if (removed || std::chrono::steady_clock::now() > deadline) break;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    hid_bus_unwatch(watch);
    std::lock_guard l(g_lock);
    ASSERT_EQ(g_events.size(), 2u);
    EXPECT_EQ(g_events[0].code, HID_EVENT_ARRIVAL);
    EXPECT_EQ(g_events[0].name, "/dev/hidraw2");
    EXPECT_EQ(g_events[1].code, HID_EVENT_REMOVE_COMPLETE);
    EXPECT_EQ(g_events[1].name, "/dev/hidraw2");
}

}  // namespace
