// Which instruments are attached, and which one a command line means.
#pragma once

#include "link/identity.h"

#include <iosfwd>
#include <string>
#include <vector>

// One attached instrument as the connect view lists it.
struct cli_instrument {
    std::string path;
    bool identified = false;  // false: "Unknown device"
    device_info info{};
    firmware_info fw{};

    std::string name() const;  // "Unknown device" when not identified
    std::string state() const; // "Firmware", "Bootloader (vN)", or "" when not identified
    std::string type() const;  // device_type_text, or "" when not identified
};

// Every supported device that can be opened (a device that cannot is left out, as in the
// connect view).
std::vector<cli_instrument> cli_scan();

// The one line of the plain listing of an instrument, and its caption line.
std::string cli_list_caption();
std::string cli_list_line(const cli_instrument& instrument);

struct cli_choice {
    std::string device;  // --device
    std::string name;    // --name
    long serial = -1;    // --serial, -1 when not given
};

// Finds the instrument the options mean and opens the link to it with timeout_ms. Returns
// CLI_OK, or an exit code after writing one line that says why to err (and, when several
// instruments would do, the list of them).
int cli_open(const cli_choice& choice, unsigned timeout_ms, std::ostream& err, std::string* opened_path);
