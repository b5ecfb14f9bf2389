// veltranic-identify: opens every instrument on the virtual bus through the link and prints its
// identity and firmware information the way the connect view lists them.
#include "instrument/sim_bus.h"
#include "link/bytes.h"
#include "link/commands.h"
#include "link/identity.h"
#include "link/link.h"
#include "platform/hid_bus.h"

#include <cstdio>
#include <cstring>

int main() {
    sim_bus_install();
    sim_bus_add();
    sim_device_config older;
    older.firmware.older_firmware = true;
    older.firmware.identity.name = "HARBOUR-2";
    older.firmware.identity.serial = 77;
    older.firmware.identity.kind = 5;
    sim_bus_add(older);
    sim_device_config boot;
    boot.firmware.mode = sim_mode::bootloader;
    boot.firmware.identity.name = "BENCH-3";
    boot.firmware.identity.serial = 3003;
    sim_bus_add(boot);

    std::printf("%-12s %-20s %-13s %-18s %s\n", "Path", "Name", "Serial Number", "State", "Type");
    for (const hid_device_desc& d : hid_bus_enumerate()) {
        if (link_open(d.path.c_str(), LINK_TIMEOUT_LIST_MS) != 0) continue;
        device_info info{};
        firmware_info fw{};
        bool ok = identity_get_device_info(info) == 0 || identity_get_device_info(info) == 0;
        ok = ok && (identity_get_firmware_info(fw) == 0 || identity_get_firmware_info(fw) == 0);
        if (!ok) {
            std::printf("%-12s %s\n", d.path.c_str(), "Unknown device");
        } else {
            char name[SENSOR_NAME_MAX + 1];
            device_info_name(info, name);
            char state[20];
            firmware_state_text(fw, state);
            std::printf("%-12s %-20s %-13u %-18s %s\n", d.path.c_str(), name, unsigned(device_info_serial(info)), state,
                        device_type_text(firmware_info_type(fw)));
            command_frame f;
            frame_prepare(f, CMD_GET_VERSION_TEXT, 0);
            if (command_exchange(f) == 0) {
                char version[26];
                get_text_field(frame_payload(f) + 1, 25, version, sizeof version);
                std::printf("%-12s Firmware Version: %s\n", "", version);
            }
        }
        link_close();
    }
    return 0;
}
