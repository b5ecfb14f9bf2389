// Reads a HID report descriptor far enough to tell whether the device declares input report id 1.
#pragma once

#include <cstddef>
#include <cstdint>

// HID_PROBE_HAS_ID1 when an Input item is declared under report id 1, HID_PROBE_NO_ID1 otherwise
// (also for a device without numbered reports).
int hid_descriptor_has_input_id1(const uint8_t* desc, size_t len);
