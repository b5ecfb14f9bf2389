#include "cli/cli_instruments.h"

#include "cli/cli.h"
#include "link/discovery.h"
#include "link/field_text.h"
#include "link/link.h"

#include <ostream>

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

std::string cli_list_caption() {
    return text_printf("%-20s %-13s %-18s %-40s %s", "Name", "Serial Number", "State", "Type", "Path");
}

std::string cli_list_line(const cli_instrument& one) {
    const std::string serial = one.identified ? std::to_string(device_info_serial(one.info)) : "";
    return text_printf("%-20s %-13s %-18s %-40s %s", one.name().c_str(), serial.c_str(), one.state().c_str(),
                       one.type().c_str(), one.path.c_str());
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
    if (path.empty()) {
        std::vector<cli_instrument> matches;
        for (const cli_instrument& one : cli_scan())
            if (wanted(choice, one)) matches.push_back(one);
        if (matches.empty()) {
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
        err << "veltranic-cli: cannot open the instrument at " << path
            << " (not attached, no permission, or held by another program)\n";
        return CLI_NO_INSTRUMENT;
    }
    if (opened_path) *opened_path = path;
    return CLI_OK;
}
