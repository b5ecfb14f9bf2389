// The Linux backend of the HID bus: hidraw nodes, libudev enumeration and a udev monitor.
#pragma once

#include "platform/hid_bus.h"

// The driver table for every path that no other backend claims.
const hid_backend* hid_linux_backend();

// Builds the hardware-id list the way the instrument's Windows host software sees it, from the
// HID parent's "HID_ID" property ("0003:000004D8:0000EABD") and the USB bcdDevice revision:
// "HID\VID_04D8&PID_EABD&REV_0100\0HID\VID_04D8&PID_EABD\0". Empty when hid_id is malformed.
std::string hid_linux_hardware_ids(const char* hid_id, const char* revision_hex);
