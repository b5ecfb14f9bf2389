// The Windows HID backend against the system's own HID stack. Under Wine that stack has a
// virtual mouse and keyboard (vendor 845E) that declare no numbered reports, take no output
// reports and, without a display, never send input: real devices to open, probe, read from and
// cancel reads on. Where they are absent (a Windows machine) those tests are skipped.
#include "link/command_frame.h"
#include "link/discovery.h"
#include "link/link.h"
#include "platform/hid_bus.h"
#include "platform/hid_windows.h"

#include <gtest/gtest.h>

#include <windows.h>

#include <dbt.h>
extern "C" {
#include <hidsdi.h>
}

#include <atomic>
#include <cctype>
#include <cstddef>
#include <cstring>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace {

bool under_wine() { return GetProcAddress(GetModuleHandleA("ntdll.dll"), "wine_get_version") != nullptr; }

std::string find_quiet_device() {
    std::vector<hid_device_desc> found;
    hid_windows_backend()->enumerate(nullptr, found);
    for (const hid_device_desc& d : found)
        if (d.hardware_ids.find("VID_845E&PID_0002") != std::string::npos) return d.path;
    return {};
}

// A present HID device that never sends input here, or "" when there is none. Wine's devices
// appear once its device drivers have started, which a new Wine session does in the background:
// wait for them there (a bounded wait for a condition, not a timing assumption).
std::string quiet_device() {
    std::string path = find_quiet_device();
    for (int tries = 0; path.empty() && under_wine() && tries < 150; ++tries) {
        Sleep(100);
        path = find_quiet_device();
    }
    return path;
}

#define REQUIRE_QUIET_DEVICE(path)                                                           \
    const std::string path = quiet_device();                                                 \
    if (path.empty()) GTEST_SKIP() << "no HID device here that never sends input (Wine's virtual keyboard)"

class WindowsHidTest : public ::testing::Test {
protected:
    void SetUp() override { hid_bus_register(hid_windows_backend()); }
    void TearDown() override {
        link_close();
        device_list_free();
        connected_device_path.clear();
        hid_bus_unregister(hid_windows_backend());
    }
};

TEST(WindowsHardwareIds, KeepEveryIdInOrderSoThatOnlyTheFirstIsMatched) {
    const char listed[] = "HID\\VID_04D8&PID_EABD&REV_0100\0HID\\VID_04D8&PID_EABD\0";  // + the final '\0'
    const std::string ids = hid_windows_hardware_ids(listed, sizeof listed);
    EXPECT_EQ(ids, std::string("HID\\VID_04D8&PID_EABD&REV_0100\0HID\\VID_04D8&PID_EABD\0", 53));
    EXPECT_TRUE(device_ids_match(ids.data(), ids.size()));

    const char second[] = "HID\\VID_1234&PID_0001\0HID\\VID_04D8&PID_EABD\0";
    const std::string second_ids = hid_windows_hardware_ids(second, sizeof second);
    EXPECT_EQ(second_ids, std::string("HID\\VID_1234&PID_0001\0HID\\VID_04D8&PID_EABD\0", 44));
    EXPECT_FALSE(device_ids_match(second_ids.data(), second_ids.size()));

    // An id that runs to the end of the buffer keeps what is there; nothing after the end of
    // the list is read.
    EXPECT_EQ(hid_windows_hardware_ids("HID\\VID_C1CA&PID_B4BA", 21), std::string("HID\\VID_C1CA&PID_B4BA\0", 22));
    EXPECT_EQ(hid_windows_hardware_ids("HID\\A\0\0HID\\B\0", 13), std::string("HID\\A\0", 6));
    EXPECT_EQ(hid_windows_hardware_ids("\0\0", 2), "");
    EXPECT_EQ(hid_windows_hardware_ids(nullptr, 8), "");
}

TEST_F(WindowsHidTest, EnumerationWithoutAnInstrumentGivesAnEmptyList) {
    // Wine has HID devices of its own, so the enumeration itself is seen to work there.
    if (under_wine()) {
        EXPECT_NE(quiet_device(), "");
    }
    std::vector<hid_device_desc> present;
    hid_windows_backend()->enumerate(nullptr, present);
    for (const hid_device_desc& d : present) {
        EXPECT_EQ(d.path.rfind("\\\\?\\", 0), 0u) << d.path;
        ASSERT_FALSE(d.hardware_ids.empty()) << d.path;
        EXPECT_EQ(d.hardware_ids.back(), '\0');
        EXPECT_EQ(d.hardware_ids.rfind("HID\\VID_", 0), 0u) << d.hardware_ids.c_str();
    }
    device_scan();
    EXPECT_EQ(device_list.count, 0u);
    EXPECT_EQ(device_list.entries, nullptr);
}

TEST_F(WindowsHidTest, OpeningAPathThatDoesNotExistFailsCleanly) {
    const char* absent = "\\\\?\\hid#vid_04d8&pid_eabd#7&1a2b3c4d&0&0000#{4d1e55b2-f16f-11cf-88cb-001111000030}";
    EXPECT_EQ(hid_port_open(absent), nullptr);
    EXPECT_EQ(hid_port_open(absent), nullptr);  // the failed open kept nothing
    EXPECT_EQ(hid_port_open(""), nullptr);
    EXPECT_EQ(link_open(absent, 200), 1);
    EXPECT_FALSE(link_is_open());
    command_frame f{};
    EXPECT_EQ(link_transact(f), LINK_ERR_NOT_OPEN);
}

TEST_F(WindowsHidTest, ADeviceIsOpenedExclusivelyUntilItIsClosed) {
    REQUIRE_QUIET_DEVICE(path);
    hid_port* first = hid_port_open(path.c_str());
    ASSERT_NE(first, nullptr);
    EXPECT_EQ(hid_port_open(path.c_str()), nullptr);
    std::string lower = path;
    for (char& c : lower) c = char(std::tolower(static_cast<unsigned char>(c)));
    EXPECT_EQ(hid_port_open(lower.c_str()), nullptr);  // device paths ignore letter case
    EXPECT_EQ(link_open(path.c_str(), 200), 1);
    hid_port_close(first);
    hid_port* again = hid_port_open(path.c_str());
    EXPECT_NE(again, nullptr);
    hid_port_close(again);
}

TEST_F(WindowsHidTest, TheReportIdProbeReadsThePreparsedData) {
    REQUIRE_QUIET_DEVICE(path);
    hid_port* port = hid_port_open(path.c_str());
    ASSERT_NE(port, nullptr);
    // The device's input reports are unnumbered.
    EXPECT_EQ(hid_port_probe_report_id(port), HID_PROBE_NO_ID1);
    hid_port_close(port);
}

TEST_F(WindowsHidTest, ALinkToADeviceThatTakesNoRequestsTimesOutAndCloses) {
    REQUIRE_QUIET_DEVICE(path);
    ASSERT_EQ(link_open(path.c_str(), 200), 0);
    EXPECT_EQ(link_report_id(), 0);  // probed: no input report 1
    command_frame f{};
    frame_prepare(f, 0x0127, 0);
    const command_frame before = f;
    // The device declares no output report, so the write fails and no answer can come.
    EXPECT_EQ(link_transact(f), LINK_ERR_TIMEOUT);
    EXPECT_EQ(std::memcmp(f.bytes, before.bytes, FRAME_SIZE), 0);
    EXPECT_EQ(link_transact(f), LINK_ERR_TIMEOUT);  // the link stays usable
    link_close();
    EXPECT_FALSE(link_is_open());
    // Closed means the device is free again.
    hid_port* port = hid_port_open(path.c_str());
    EXPECT_NE(port, nullptr);
    hid_port_close(port);
}

TEST_F(WindowsHidTest, ACancelStaysInForceUntilRearmedAndWakesABlockedRead) {
    REQUIRE_QUIET_DEVICE(path);
    hid_port* port = hid_port_open(path.c_str());
    ASSERT_NE(port, nullptr);
    uint8_t report[FRAME_SIZE];

    // Cancelled before any read started: every read returns at once until the port is rearmed.
    hid_port_cancel(port);
    EXPECT_EQ(hid_port_read(port, report, sizeof report), HID_ERR_CANCELLED);
    EXPECT_EQ(hid_port_read(port, report, sizeof report), HID_ERR_CANCELLED);

    // A cancel from another thread, just before or just after the read blocks: either way the
    // read ends. A cancel lost in that window would leave the reader blocked for good.
    for (int round = 0; round < 100; ++round) {
        hid_port_rearm(port);
        std::atomic<bool> reading{false};
        std::atomic<int> result{-1};
        std::thread reader([&] {
            uint8_t buf[FRAME_SIZE];
            reading = true;
            result = hid_port_read(port, buf, sizeof buf);
        });
        while (!reading) std::this_thread::yield();
        if (round % 2) std::this_thread::yield();
        hid_port_cancel(port);
        reader.join();
        ASSERT_EQ(result.load(), HID_ERR_CANCELLED) << "round " << round;
    }

    // Nothing is left pending on the device: the queue flushes and a new read starts and ends.
    hid_port_rearm(port);
    hid_port_flush(port);
    std::atomic<int> result{-1};
    std::thread reader([&] { result = hid_port_read(port, report, sizeof report); });
    hid_port_cancel(port);
    reader.join();
    EXPECT_EQ(result.load(), HID_ERR_CANCELLED);
    hid_port_close(port);
}

// What the main window would be told.
struct notification {
    uint32_t code;
    uint32_t type;
    std::string name;
};
std::mutex g_seen_lock;
std::vector<notification> g_seen;

void record(void*, uint32_t code, uint32_t type, const char* name) {
    std::lock_guard l(g_seen_lock);
    g_seen.push_back({code, type, name ? name : "(none)"});
}

std::vector<notification> seen() {
    std::lock_guard l(g_seen_lock);
    return g_seen;
}

// A device-interface notification record as Windows builds it, its size field covering name_room
// bytes of the name.
std::vector<DWORD> interface_record(const std::string& name, size_t name_room) {
    const size_t size = offsetof(DEV_BROADCAST_DEVICEINTERFACE_A, dbcc_name) + name_room;
    std::vector<DWORD> storage((size + name.size() + 1) / sizeof(DWORD) + 2, 0);
    auto* r = reinterpret_cast<DEV_BROADCAST_DEVICEINTERFACE_A*>(storage.data());
    r->dbcc_size = DWORD(size);
    r->dbcc_devicetype = DBT_DEVTYP_DEVICEINTERFACE;
    HidD_GetHidGuid(&r->dbcc_classguid);
    std::memcpy(r->dbcc_name, name.c_str(), name.size() + 1);
    return storage;
}

TEST_F(WindowsHidTest, ArrivalAndRemovalReachTheWatchCallbackWithTheDeviceName) {
    {
        std::lock_guard l(g_seen_lock);
        g_seen.clear();
    }
    void* handle = device_notify_register(record, nullptr);
    HWND window = FindWindowExA(HWND_MESSAGE, nullptr, HID_WINDOWS_WATCH_CLASS, nullptr);
    ASSERT_NE(window, nullptr) << "no notification window";

    const std::string name = "\\\\?\\HID#VID_04D8&PID_EABD#7&1A2B3C4D&0&0000#{4d1e55b2-f16f-11cf-88cb-001111000030}";
    auto arrival = interface_record(name, name.size() + 1);
    SendMessageA(window, WM_DEVICECHANGE, DBT_DEVICEARRIVAL, reinterpret_cast<LPARAM>(arrival.data()));
    SendMessageA(window, WM_DEVICECHANGE, DBT_DEVICEQUERYREMOVE, reinterpret_cast<LPARAM>(arrival.data()));
    SendMessageA(window, WM_DEVICECHANGE, DBT_DEVNODES_CHANGED, 0);
    DEV_BROADCAST_HDR handle_record{sizeof(DEV_BROADCAST_HDR), DBT_DEVTYP_HANDLE, 0};
    SendMessageA(window, WM_DEVICECHANGE, DBT_DEVICEREMOVECOMPLETE, reinterpret_cast<LPARAM>(&handle_record));
    SendMessageA(window, WM_DEVICECHANGE, DBT_DEVICEREMOVECOMPLETE, reinterpret_cast<LPARAM>(arrival.data()));
    // A name is never read past the record's own size.
    auto cut = interface_record(name, 10);
    SendMessageA(window, WM_DEVICECHANGE, DBT_DEVICEREMOVECOMPLETE, reinterpret_cast<LPARAM>(cut.data()));

    const std::vector<notification> got = seen();
    ASSERT_EQ(got.size(), 3u);
    EXPECT_EQ(got[0].code, HID_EVENT_ARRIVAL);
    EXPECT_EQ(got[0].type, DEVICE_NOTIFY_INTERFACE);
    EXPECT_EQ(got[0].name, name);
    EXPECT_EQ(got[1].code, HID_EVENT_REMOVE_COMPLETE);
    EXPECT_EQ(got[1].name, name);
    EXPECT_EQ(got[2].name, name.substr(0, 10));

    // The removal names the connected instrument whatever the letter case of its stored path.
    std::string stored = name;
    for (char& c : stored) c = char(std::tolower(static_cast<unsigned char>(c)));
    connected_device_path = stored;
    EXPECT_EQ(device_is_connected_path(got[1].name.c_str()), 1);

    device_notify_unregister(handle);
    EXPECT_EQ(FindWindowExA(HWND_MESSAGE, nullptr, HID_WINDOWS_WATCH_CLASS, nullptr), nullptr);

    // Watching can start again after it stopped.
    handle = device_notify_register(record, nullptr);
    EXPECT_NE(FindWindowExA(HWND_MESSAGE, nullptr, HID_WINDOWS_WATCH_CLASS, nullptr), nullptr);
    device_notify_unregister(handle);
}

}  // namespace
