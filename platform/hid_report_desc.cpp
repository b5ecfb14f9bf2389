#include "platform/hid_report_desc.h"

#include "platform/hid_bus.h"

#include <vector>

int hid_descriptor_has_input_id1(const uint8_t* desc, size_t len) {
    uint32_t report_id = 0;
    std::vector<uint32_t> pushed;  // global items saved by Push
    size_t i = 0;
    while (i < len) {
        uint8_t prefix = desc[i];
        if (prefix == 0xFE) {  // long item: size in the next byte, tag after it
            if (i + 1 >= len) break;
            i += 3 + desc[i + 1];
            continue;
        }
        size_t size = prefix & 0x03;
        if (size == 3) size = 4;
        if (i + 1 + size > len) break;
        uint32_t value = 0;
        for (size_t k = 0; k < size; ++k) value |= uint32_t(desc[i + 1 + k]) << (8 * k);
        uint8_t tag_type = prefix & 0xFC;
        switch (tag_type) {
            case 0x84: report_id = value; break;                       // Report ID (global)
            case 0xA4: pushed.push_back(report_id); break;             // Push
            case 0xB4:                                                  // Pop
                if (!pushed.empty()) { report_id = pushed.back(); pushed.pop_back(); }
                break;
            case 0x80:                                                  // Input (main)
                if (report_id == 1) return HID_PROBE_HAS_ID1;
                break;
            default: break;
        }
        i += 1 + size;
    }
    return HID_PROBE_NO_ID1;
}
