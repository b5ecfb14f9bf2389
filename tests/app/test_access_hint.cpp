// The connect view's hint for an instrument this user may not open, on a mocked sysfs
// (umockdev). The program runs under umockdev-wrapper as an unprivileged user
// (tests/support/unprivileged.sh): permission bits do not bind root.
// umockdev (glib) first: its headers use a word that Qt defines as a macro.
#include <umockdev.h>

#include "app_fixture.h"
#include "platform/hid_linux.h"

#include <string>

#include <sys/stat.h>
#include <unistd.h>

namespace {

class AccessHintTest : public AppTest {
protected:
    void SetUp() override {
        AppTest::SetUp();
        bed = umockdev_testbed_new();
        if (!umockdev_in_mock_environment()) GTEST_SKIP() << "run under umockdev-wrapper";
        if (::geteuid() == 0) GTEST_SKIP() << "run as an unprivileged user (tests/support/unprivileged.sh)";
        hid_bus_register(hid_linux_backend());
    }
    void TearDown() override {
        hid_bus_unregister(hid_linux_backend());
        AppTest::TearDown();
        if (bed) g_object_unref(bed);
    }
    // A USB HID device with its hidraw node, whose node this user may not open.
    void add_locked(const char* hidraw, const char* vid, const char* pid) {
        const std::string usb = std::string("/devices/usb-") + hidraw;
        const std::string hid = usb + "/0003:" + vid + ":" + pid + ".0001";
        const std::string desc = "P: " + usb + "\nE: SUBSYSTEM=usb\nE: DEVTYPE=usb_device\nA: idVendor=" + vid +
                                 "\nA: idProduct=" + pid + "\nA: bcdDevice=0100\n\n" + "P: " + hid +
                                 "\nE: SUBSYSTEM=hid\nE: HID_ID=0003:0000" + vid + ":0000" + pid + "\n\n" + "P: " + hid +
                                 "/hidraw/" + hidraw + "\nN: " + hidraw + "\nE: SUBSYSTEM=hidraw\nE: DEVNAME=/dev/" +
                                 hidraw + "\n";
        GError* error = nullptr;
        ASSERT_TRUE(umockdev_testbed_add_from_string(bed, desc.c_str(), &error)) << (error ? error->message : "");
        const std::string node = std::string(umockdev_testbed_get_root_dir(bed)) + "/dev/" + hidraw;
        ASSERT_EQ(::chmod(node.c_str(), 0), 0);
    }
    UMockdevTestbed* bed = nullptr;
};

TEST_F(AccessHintTest, AnInstrumentThatCannotBeOpenedIsNamedWithItsFix) {
    add_locked("hidraw0", "04D8", "EABD");
    add_locked("hidraw1", "046D", "C077");  // a mouse, say: none of the tool's business
    sim_bus_add(named("RIVER-1"));
    open_window();
    const std::string hint = main_access_hint().toStdString();
    EXPECT_EQ(hint, "No permission to open the instrument at /dev/hidraw0: install the veltranic package (or its udev "
                    "rule), then unplug and re-plug it.");
    // The list itself is unchanged: the instrument that can be opened, and nothing else.
    ASSERT_EQ(list()->topLevelItemCount(), 1);
    EXPECT_EQ(list()->topLevelItem(0)->text(0), QStringLiteral("RIVER-1"));
}

TEST_F(AccessHintTest, OtherDevicesNeverGiveAHint) {
    add_locked("hidraw1", "046D", "C077");
    open_window();
    EXPECT_EQ(main_access_hint(), QString());
    EXPECT_EQ(list()->topLevelItemCount(), 0);
}

}  // namespace
