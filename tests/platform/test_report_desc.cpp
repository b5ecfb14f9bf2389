#include "platform/hid_bus.h"
#ifndef _WIN32
#include "platform/hid_linux.h"
#endif
#include "platform/hid_report_desc.h"

#include <gtest/gtest.h>

#include <string>

namespace {

TEST(ReportDescriptor, FindsInputReportOneOnlyWhereDeclared) {
    // Vendor page, one 128-byte input and output report under id 1 (the instrument's layout).
    const uint8_t numbered[] = {0x06, 0x00, 0xFF, 0x09, 0x01, 0xA1, 0x01, 0x85, 0x01, 0x15, 0x00, 0x26, 0xFF, 0x00,
                                0x75, 0x08, 0x95, 0x80, 0x09, 0x01, 0x81, 0x02, 0x09, 0x01, 0x91, 0x02, 0xC0};
    EXPECT_EQ(hid_descriptor_has_input_id1(numbered, sizeof numbered), HID_PROBE_HAS_ID1);

    // No report ids at all: reports are unnumbered.
    const uint8_t plain[] = {0x06, 0x00, 0xFF, 0x09, 0x01, 0xA1, 0x01, 0x75, 0x08, 0x96, 0x80, 0x00,
                             0x09, 0x01, 0x81, 0x02, 0x09, 0x01, 0x91, 0x02, 0xC0};
    EXPECT_EQ(hid_descriptor_has_input_id1(plain, sizeof plain), HID_PROBE_NO_ID1);

    // Id 1 carries only an output report; the input report has id 2.
    const uint8_t output_only[] = {0xA1, 0x01, 0x85, 0x01, 0x91, 0x02, 0x85, 0x02, 0x81, 0x02, 0xC0};
    EXPECT_EQ(hid_descriptor_has_input_id1(output_only, sizeof output_only), HID_PROBE_NO_ID1);

    // Push/Pop restore the report id around a nested block.
    const uint8_t pushed[] = {0x85, 0x02, 0xA4, 0x85, 0x03, 0x81, 0x02, 0xB4, 0x81, 0x02, 0x85, 0x01, 0x81, 0x02};
    EXPECT_EQ(hid_descriptor_has_input_id1(pushed, sizeof pushed), HID_PROBE_HAS_ID1);

    // A descriptor cut in the middle of an item is read no further.
    const uint8_t cut[] = {0x85, 0x01, 0x82};
    EXPECT_EQ(hid_descriptor_has_input_id1(cut, sizeof cut), HID_PROBE_NO_ID1);
}

#ifndef _WIN32
// The Linux backend builds the id list that Windows would report.
TEST(LinuxHardwareIds, AreBuiltInUpperCaseFromTheHidParent) {
    EXPECT_EQ(hid_linux_hardware_ids("0003:000004d8:0000eabd", "0100"),
              std::string("HID\\VID_04D8&PID_EABD&REV_0100\0HID\\VID_04D8&PID_EABD\0", 53));
    EXPECT_EQ(hid_linux_hardware_ids("0003:0000C1CA:0000B4BA", nullptr),
              std::string("HID\\VID_C1CA&PID_B4BA\0HID\\VID_C1CA&PID_B4BA\0", 44));
    EXPECT_EQ(hid_linux_hardware_ids("garbage", "0100"), "");
    EXPECT_EQ(hid_linux_hardware_ids(nullptr, "0100"), "");
}
#endif

}  // namespace
