// Which instruments are attached, and which one a command line means.
#pragma once

#include "link/identity.h"

#include <cstdint>
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

// The supported instruments that are attached but that this user may not open, and the line
// that says so for one of them (the connect view's words: how to grant access).
std::vector<std::string> cli_denied();
std::string cli_denied_text(const std::string& path);

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
// instruments would do, the list of them). A --device path must be a device node: anything
// else is refused before it is opened, so no file is ever written to.
int cli_open(const cli_choice& choice, unsigned timeout_ms, std::ostream& err, std::string* opened_path);

// Why a path given with --device cannot be an instrument's device node, or "" when it can be.
std::string cli_device_path_problem(const std::string& path);

// Waiting for an instrument to come back on the bus after its firmware was started: on the same
// path or a new one, known by its serial number, running its firmware. Watching starts when the
// object is made (before the firmware is started, so no arrival is missed).
class cli_return_watch {
public:
    cli_return_watch();
    ~cli_return_watch();
    cli_return_watch(const cli_return_watch&) = delete;
    cli_return_watch& operator=(const cli_return_watch&) = delete;
    // The path it came back on (the old path first, if it is there), or "" after wait_ms.
    std::string await(uint16_t serial, const std::string& old_path, unsigned wait_ms);

    struct state;

private:
    state* s_;
};
