// Finding the supported instruments among the present HID devices, and hot-plug events.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

struct device_entry {
    char* path;     // owned; passed to link_open
    uint32_t mode;  // 0 when found; the connect view stores the firmware mode byte here
};

struct device_list_t {
    device_entry* entries;
    size_t count;
};

// The supported instruments, tested in this order against the first hardware id.
constexpr const char* DEVICE_MATCH_IDS[] = {
    "VID_C1CA&PID_B4BA",
    "VID_04D8&PID_EABC",
    "VID_04D8&PID_EABD",
    "VID_04D8&PID_EABE",
};

// The list of the last scan (module state, GUI thread only).
extern device_list_t device_list;

// The path of the connected instrument, kept whole however long it is.
extern std::string connected_device_path;

// True when the first id of a hardware-id list (ids separated by NUL) names a supported device.
bool device_ids_match(const char* hardware_ids, size_t length);

// The supported instruments that are attached but that this user may not open (their device
// nodes' permissions), which the list leaves out.
std::vector<std::string> device_denied_paths();

// Rebuilds device_list from the system. Call device_list_free first.
void device_scan();
void device_list_free();

// The paths device_scan would list, in its order; safe on any thread (device_list untouched).
std::vector<std::string> device_scan_paths();
// Rebuilds device_list from such paths, as device_scan does. Call device_list_free first.
void device_list_set(const std::vector<std::string>& paths);

// A newly allocated copy (free with delete[]) of the index-th present device's path when it is
// supported, otherwise nullptr. Sets *end when the index is past the last device.
char* device_path_at(size_t index, bool* end);

// Event number of a notification code minus 0x8000 (0-5): 1 arrival ... 6 type specific; 0 else.
int device_event_code(uint32_t code_offset);

// Device type of a notification record: only device-interface notifications carry a name.
constexpr uint32_t DEVICE_NOTIFY_INTERFACE = 5;

// 1 when the name (nullptr allowed) is the connected instrument's path, ignoring letter case.
int device_is_connected_path(const char* name);

// Hot-plug: fn is called with the notification code (0x8000 arrival, 0x8004 removal) and the
// device name, on a background thread. Returns a handle for device_notify_unregister.
using device_notify_fn = void (*)(void* user, uint32_t code, uint32_t device_type, const char* name);
void* device_notify_register(device_notify_fn fn, void* user);
void device_notify_unregister(void* handle);
