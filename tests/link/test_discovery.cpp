#include "link/discovery.h"
#include "platform/hid_bus.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

// A bus of made-up devices, to feed discovery exactly the hardware ids a test needs.
std::vector<hid_device_desc> g_fake;

void fake_enumerate(void*, std::vector<hid_device_desc>& out) { out.insert(out.end(), g_fake.begin(), g_fake.end()); }

const hid_backend FAKE = {"fake:", nullptr, fake_enumerate, nullptr, nullptr, nullptr, nullptr, nullptr,
                          nullptr, nullptr, nullptr, nullptr, nullptr};

hid_device_desc fake(const std::string& path, const std::vector<std::string>& ids) {
    std::string list;
    for (const auto& id : ids) list += id + '\0';
    return {path, list};
}

class DiscoveryTest : public ::testing::Test {
protected:
    void SetUp() override {
        g_fake.clear();
        hid_bus_register(&FAKE);
        device_list_free();
    }
    void TearDown() override {
        device_list_free();
        hid_bus_unregister(&FAKE);
        connected_device_path.clear();
    }
    std::vector<std::string> scanned() {
        device_list_free();
        device_scan();
        std::vector<std::string> paths;
        for (size_t i = 0; i < device_list.count; ++i) {
            paths.push_back(device_list.entries[i].path);
            EXPECT_EQ(device_list.entries[i].mode, 0u);
        }
        return paths;
    }
};

TEST_F(DiscoveryTest, OnlyTheFirstHardwareIdIsMatchedCaseSensitively) {
    g_fake = {
        fake("fake:rev", {"HID\\VID_04D8&PID_EABD&REV_0100", "HID\\VID_04D8&PID_EABD"}),
        fake("fake:lower", {"HID\\vid_04d8&pid_eabd&REV_0100"}),
        fake("fake:second", {"HID\\VID_1234&PID_0001", "HID\\VID_04D8&PID_EABD"}),
        fake("fake:other", {"HID\\VID_046D&PID_C077&REV_7200"}),
        fake("fake:c1ca", {"HID\\VID_C1CA&PID_B4BA"}),
        fake("fake:eabc", {"USB\\VID_04D8&PID_EABC&MI_00"}),
        fake("fake:eabe", {"HID\\VID_04D8&PID_EABE&REV_0002&Col01"}),
        fake("fake:eabf", {"HID\\VID_04D8&PID_EABF"}),
    };
    EXPECT_EQ(scanned(), (std::vector<std::string>{"fake:rev", "fake:c1ca", "fake:eabc", "fake:eabe"}));
}

TEST_F(DiscoveryTest, EmptyBusGivesEmptyList) {
    EXPECT_TRUE(scanned().empty());
    EXPECT_EQ(device_list.entries, nullptr);
    bool end = false;
    EXPECT_EQ(device_path_at(0, &end), nullptr);
    EXPECT_TRUE(end);
}

TEST_F(DiscoveryTest, PathAtSkipsUnsupportedDevicesWithoutEndingTheScan) {
    g_fake = {fake("fake:mouse", {"HID\\VID_046D&PID_C077"}), fake("fake:unit", {"HID\\VID_04D8&PID_EABD"})};
    bool end = true;
    EXPECT_EQ(device_path_at(0, &end), nullptr);
    EXPECT_FALSE(end);
    char* p = device_path_at(1, &end);
    ASSERT_NE(p, nullptr);
    EXPECT_STREQ(p, "fake:unit");
    EXPECT_FALSE(end);
    delete[] p;
    EXPECT_EQ(device_path_at(2, &end), nullptr);
    EXPECT_TRUE(end);
}

TEST_F(DiscoveryTest, LongPathsAreKeptWhole) {
    std::string longpath = "fake:" + std::string(400, 'x');
    g_fake = {fake(longpath, {"HID\\VID_04D8&PID_EABD"}), fake(longpath + "y", {"HID\\VID_04D8&PID_EABD"})};
    auto paths = scanned();
    ASSERT_EQ(paths.size(), 2u);
    EXPECT_EQ(paths[0], longpath);
    // A connected path longer than any fixed buffer must not be mistaken for its longer sibling.
    connected_device_path = longpath;
    EXPECT_EQ(device_is_connected_path(longpath.c_str()), 1);
    EXPECT_EQ(device_is_connected_path((longpath + "y").c_str()), 0);
}

TEST(DeviceEvents, CodesAndConnectedPathMatching) {
    EXPECT_EQ(device_event_code(0), 1);
    EXPECT_EQ(device_event_code(4), 5);
    EXPECT_EQ(device_event_code(5), 6);
    EXPECT_EQ(device_event_code(6), 0);

    connected_device_path = "/dev/hidraw3";
    EXPECT_EQ(device_is_connected_path("/DEV/HIDRAW3"), 1);
    EXPECT_EQ(device_is_connected_path("/dev/hidraw3"), 1);
    EXPECT_EQ(device_is_connected_path("/dev/hidraw30"), 0);
    EXPECT_EQ(device_is_connected_path("/dev/hidraw"), 0);
    EXPECT_EQ(device_is_connected_path(nullptr), 0);  // not a device-interface notification
}

}  // namespace
