// The Windows backend of the HID bus: SetupAPI enumeration, HID device paths opened exclusively
// for overlapped I/O, the report-id probe through the HID preparsed data, and device-change
// notifications through a hidden message window on a thread of its own.
#pragma once

#include "platform/hid_bus.h"

#include <cstddef>
#include <string>

// The driver table for every path that no other backend claims.
const hid_backend* hid_windows_backend();

// A device's hardware-id property (REG_MULTI_SZ, size bytes as SetupAPI returned them) in the
// form hid_device_desc keeps: each id followed by one '\0', the empty id that ends the list
// dropped. An id that runs to the end of the buffer without its '\0' is kept up to there.
std::string hid_windows_hardware_ids(const char* multi_sz, size_t size);

// Window class of the hidden window that receives the device-change notifications.
constexpr const char* HID_WINDOWS_WATCH_CLASS = "veltranic_hid_watch";
