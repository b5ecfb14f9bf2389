#include "cli/cli_instruments.h"

#include "cli/cli.h"
#include "link/discovery.h"
#include "link/field_text.h"
#include "link/link.h"
#include "platform/hid_bus.h"

#include <algorithm>
#include <cctype>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <ostream>

#ifndef _WIN32
#include <sys/stat.h>
#endif

std::string cli_instrument::name() const {
    if (!identified) return "Unknown device";
    char text[SENSOR_NAME_MAX + 1];
    device_info_name(info, text);
    return text;
}

std::string cli_instrument::state() const {
    if (!identified) return "";
    char text[20];
    return firmware_state_text(fw, text);
}

std::string cli_instrument::type() const { return identified ? device_type_text(firmware_info_type(fw)) : ""; }

std::vector<cli_instrument> cli_scan() {
    std::vector<cli_instrument> found;
    device_list_free();
    device_scan();
    for (size_t i = 0; i < device_list.count; ++i) {
        cli_instrument one;
        one.path = device_list.entries[i].path;
        const probe_result probed = identity_probe(one.path.c_str(), one.info, one.fw);
        if (probed == probe_result::unreachable) continue;
        one.identified = probed == probe_result::identified;
        found.push_back(one);
    }
    device_list_free();
    return found;
}

std::vector<std::string> cli_denied() { return device_denied_paths(); }

std::string cli_denied_text(const std::string& path) {
    return "no permission to open the instrument at " + path +
           ": install the veltranic package (or its udev rule), then unplug and re-plug it";
}

std::string cli_list_caption() {
    return text_printf("%-20s %-13s %-18s %-40s %s", "Name", "Serial Number", "State", "Type", "Path");
}

std::string cli_list_line(const cli_instrument& one) {
    const std::string serial = one.identified ? std::to_string(device_info_serial(one.info)) : "";
    return text_printf("%-20s %-13s %-18s %-40s %s", one.name().c_str(), serial.c_str(), one.state().c_str(),
                       one.type().c_str(), one.path.c_str());
}

std::string cli_device_path_problem(const std::string& path) {
    // The paths of the program's own backends (the virtual instrument, a replayed recording).
    if (!hid_bus_is_system_path(path.c_str())) return "";
#ifdef _WIN32
    // The HID class driver's device interfaces: \\?\hid#vid_04d8&pid_eabd#...
    std::string head = path.substr(0, 8);
    std::transform(head.begin(), head.end(), head.begin(), [](unsigned char c) { return char(std::tolower(c)); });
    if (head != "\\\\?\\hid#") return "it is not a HID device path (\\\\?\\hid#...) as `list` shows them";
    return "";
#else
    struct stat st {};
    // A node that is not there is an instrument that is not attached: the open says so.
    if (::stat(path.c_str(), &st) != 0 || S_ISCHR(st.st_mode)) return "";
    const char* what = S_ISREG(st.st_mode)   ? "a regular file"
                       : S_ISDIR(st.st_mode) ? "a folder"
                       : S_ISFIFO(st.st_mode) ? "a pipe"
                       : S_ISSOCK(st.st_mode) ? "a socket"
                                              : "not a character device";
    return std::string("it is ") + what + ", not a device node such as /dev/hidraw0";
#endif
}

namespace {

bool wanted(const cli_choice& choice, const cli_instrument& one) {
    if (!choice.name.empty() && (!one.identified || one.name() != choice.name)) return false;
    if (choice.serial >= 0 && (!one.identified || device_info_serial(one.info) != choice.serial)) return false;
    return true;
}

std::string described(const cli_choice& choice) {
    std::string what;
    if (!choice.name.empty()) what += " named \"" + choice.name + "\"";
    if (choice.serial >= 0) what += (what.empty() ? " with serial number " : " and serial number ") + std::to_string(choice.serial);
    return what;
}

}  // namespace

int cli_open(const cli_choice& choice, unsigned timeout_ms, std::ostream& err, std::string* opened_path) {
    std::string path = choice.device;
    if (!path.empty()) {
        if (const std::string problem = cli_device_path_problem(path); !problem.empty()) {
            err << "veltranic-cli: --device " << path << ": " << problem << "; nothing was opened\n";
            return CLI_USAGE;
        }
    } else {
        std::vector<cli_instrument> matches;
        for (const cli_instrument& one : cli_scan())
            if (wanted(choice, one)) matches.push_back(one);
        if (matches.empty()) {
            // An instrument that is there but may not be opened is not "no instrument".
            const std::vector<std::string> denied = cli_denied();
            if (!denied.empty()) {
                for (const std::string& d : denied) err << "veltranic-cli: " << cli_denied_text(d) << "\n";
                return CLI_NO_INSTRUMENT;
            }
            err << "veltranic-cli: no instrument" << (described(choice).empty() ? " is attached" : described(choice) + " is attached")
                << "\n";
            return CLI_NO_INSTRUMENT;
        }
        if (matches.size() > 1) {
            err << "veltranic-cli: " << matches.size() << " instruments" << described(choice)
                << " are attached; choose one with --device, --serial or --name:\n";
            err << cli_list_caption() << "\n";
            for (const cli_instrument& one : matches) err << cli_list_line(one) << "\n";
            return CLI_USAGE;
        }
        path = matches.front().path;
    }
    link_close();
    if (link_open(path.c_str(), timeout_ms) != 0) {
        const std::vector<std::string> denied = cli_denied();
        if (std::find(denied.begin(), denied.end(), path) != denied.end()) {
            err << "veltranic-cli: " << cli_denied_text(path) << "\n";
            return CLI_NO_INSTRUMENT;
        }
        err << "veltranic-cli: cannot open the instrument at " << path
            << " (not attached, no permission, or held by another program)\n";
        return CLI_NO_INSTRUMENT;
    }
    if (opened_path) *opened_path = path;
    return CLI_OK;
}

struct cli_return_watch::state {
    std::mutex lock;
    std::condition_variable arrived;
    unsigned arrivals = 0;
    hid_watch* watch = nullptr;
};

namespace {

void on_device_event(void* user, uint32_t code, const char*) {
    auto* s = static_cast<cli_return_watch::state*>(user);
    if (code != HID_EVENT_ARRIVAL) return;
    {
        std::lock_guard<std::mutex> hold(s->lock);
        ++s->arrivals;
    }
    s->arrived.notify_all();
}

// One for the program: a backend may still be calling a watcher as it is stopped, so what the
// callback touches must outlive every watch (the command line watches one at a time).
cli_return_watch::state g_return_state;

}  // namespace

cli_return_watch::cli_return_watch() : s_(&g_return_state) {
    {
        std::lock_guard<std::mutex> hold(s_->lock);
        s_->arrivals = 0;
    }
    s_->watch = hid_bus_watch(on_device_event, s_);
}

cli_return_watch::~cli_return_watch() { hid_bus_unwatch(s_->watch); }

std::string cli_return_watch::await(uint16_t serial, const std::string& old_path, unsigned wait_ms) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(wait_ms);
    unsigned seen = 0;
    for (;;) {
        std::string found;
        for (const cli_instrument& one : cli_scan()) {
            if (!one.identified || device_info_serial(one.info) != serial ||
                firmware_info_mode(one.fw) == FIRMWARE_MODE_BOOTLOADER)
                continue;
            if (found.empty() || one.path == old_path) found = one.path;
        }
        if (!found.empty()) return found;
        if (std::chrono::steady_clock::now() >= deadline) return "";
        std::unique_lock<std::mutex> hold(s_->lock);
        // Woken by an arrival; a backend that cannot watch is looked at again every second.
        const auto next = std::min(deadline, std::chrono::steady_clock::now() + std::chrono::seconds(1));
        s_->arrived.wait_until(hold, next, [&] { return s_->arrivals != seen; });
        seen = s_->arrivals;
    }
}
