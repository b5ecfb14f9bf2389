// Puts an instrument of the host machine in front of every test of this program: a hidraw node
// with the instrument's USB ids in a mocked sysfs (umockdev). The tests talk to virtual
// instruments, pseudo-terminals and made-up buses only, so not one of them may see this device:
// if a test left the Linux backend registered, the discovery tests after it would list it.
// Active when the program runs under umockdev-wrapper with VELTRANIC_MOCK_HOST_INSTRUMENT set.
#include <gtest/gtest.h>
#include <umockdev.h>

#include <cstdlib>

namespace {

class host_instrument : public ::testing::Environment {
public:
    void SetUp() override {
        if (!std::getenv("VELTRANIC_MOCK_HOST_INSTRUMENT")) return;
        bed_ = umockdev_testbed_new();
        // The test bed exists first; only then can umockdev tell whether libudev will read it.
        if (!umockdev_in_mock_environment()) {
            ADD_FAILURE() << "VELTRANIC_MOCK_HOST_INSTRUMENT is set but the program is not under umockdev-wrapper";
            return;
        }
        gchar* usb = umockdev_testbed_add_device(bed_, "usb", "usb-host", nullptr, "idVendor", "04D8", "idProduct",
                                                 "EABD", "bcdDevice", "0100", nullptr, "DEVTYPE", "usb_device", nullptr);
        gchar* hid = umockdev_testbed_add_device(bed_, "hid", "0003:04D8:EABD.0042", usb, nullptr, "HID_ID",
                                                 "0003:000004D8:0000EABD", nullptr);
        gchar* raw = umockdev_testbed_add_device(bed_, "hidraw", "hidraw42", hid, nullptr, "DEVNAME", "/dev/hidraw42",
                                                 nullptr);
        g_free(usb);
        g_free(hid);
        g_free(raw);
    }
    void TearDown() override {
        if (bed_) g_object_unref(bed_);
        bed_ = nullptr;
    }

private:
    UMockdevTestbed* bed_ = nullptr;
};

const auto* const registered = ::testing::AddGlobalTestEnvironment(new host_instrument);

}  // namespace
