#include "cli/cli_documents.h"

#include "sampler/run_settings.h"

namespace {

const char* mode_id(uint8_t mode) {
    switch (mode) {
        case 0: return "unknown";
        case FIRMWARE_MODE_BOOTLOADER: return "bootloader";
        case FIRMWARE_MODE_BOOTLOADER_UPGRADE: return "firmware_bootloader_upgrade";
        default: return "firmware";
    }
}

const char* severity_id(uint8_t severity) {
    switch (severity) {
        case LOG_SEVERITY_ERROR: return "error";
        case LOG_SEVERITY_INFO: return "info";
        case LOG_SEVERITY_DEBUG: return "debug";
        default: return "unknown";
    }
}

}  // namespace

json cli_instrument_json(const cli_instrument& one, bool accessible) {
    json j;
    j["name"] = one.identified ? json(one.name()) : json(nullptr);
    j["path"] = one.path;
    j["accessible"] = accessible;
    j["identified"] = one.identified;
    const bool known = one.identified;
    j["serial"] = known ? json(device_info_serial(one.info)) : json(nullptr);
    j["state"] = known ? json(mode_id(firmware_info_mode(one.fw))) : json(nullptr);
    j["state_text"] = known ? json(one.state()) : json(nullptr);
    j["type_code"] = known ? json(firmware_info_type(one.fw)) : json(nullptr);
    j["type"] = known ? json(one.type()) : json(nullptr);
    j["mode"] = known ? json(firmware_info_mode(one.fw)) : json(nullptr);
    return j;
}

json cli_list_json(const std::vector<cli_instrument>& all, const std::vector<std::string>& denied) {
    json doc = json_document();
    json list = json::array();
    for (const cli_instrument& one : all) list.push_back(cli_instrument_json(one));
    for (const std::string& path : denied) {
        cli_instrument one;
        one.path = path;
        list.push_back(cli_instrument_json(one, false));
    }
    doc["instruments"] = list;
    return doc;
}

json cli_info_json(const cli_instrument& one, const char* version) {
    json doc = json_document();
    const json entry = cli_instrument_json(one);
    for (auto& [key, value] : entry.items())
        if (key != "accessible" && key != "identified") doc[key] = value;
    doc["board_serial"] = device_info_board_serial(one.info);
    doc["bootloader_version"] = firmware_info_bootloader_version(one.fw);
    doc["firmware_version"] = version ? json(version) : json(nullptr);
    doc["in_bootloader"] = firmware_info_mode(one.fw) == FIRMWARE_MODE_BOOTLOADER;
    return doc;
}

json cli_status_json(const status_record& s) {
    const run_status_texts t = run_status_format(s);
    const uint8_t state = status_state(s), control = status_control(s);
    const uint32_t clock = status_clock(s), next = status_next_event(s);
    json doc = json_document();
    doc["state"] = run_state_id(state);
    doc["state_code"] = state;
    doc["control"] = control == SCHEDULE_CONTROL ? "schedule" : "manual";
    doc["control_code"] = control;
    doc["previous_cartridge_errors"] = status_previous_errors(s);
    doc["top_cartridge"] = status_cartridge(s);
    doc["clock"] = json_device_time(clock);
    doc["clock_device_time"] = clock;
    doc["next_event"] = next == 0 ? json(nullptr) : json_device_time(next);
    doc["next_event_device_time"] = next;
    doc["waypoint"] = status_waypoint(s);
    doc["flow_volume_litre"] = json_float(status_flow_volume(s));
    doc["max_pressure_bar"] = json_float(status_max_pressure(s));
    doc["supply_voltage_v"] = json_float(status_supply_voltage(s));
    doc["temperature_c"] = json_float(status_temperature(s));
    doc["humidity_percent"] = json_float(status_humidity(s));
    json texts;
    texts["cartridge"] = t.cartridge;
    texts["clock"] = t.clock;
    texts["control"] = t.control;
    texts["waypoint"] = t.waypoint;
    texts["state"] = t.state;
    texts["run_status"] = t.run_status;
    texts["flow"] = t.flow;
    texts["pressure"] = t.pressure;
    doc["texts"] = texts;
    return doc;
}

json cli_sample_log_json(const std::vector<sample_log_record>& records) {
    json doc = json_document();
    json list = json::array();
    for (const sample_log_record& r : records) {
        const sample_log_row row = sample_log_cells(r);
        const uint32_t start = sample_start(r);
        json j;
        j["start_time"] = json_device_time(start);
        j["start_time_device_time"] = start;
        j["start_time_text"] = row.cells[0];
        j["cartridge_id"] = sample_cartridge(r);
        j["duration_sec"] = sample_duration(r);
        j["treatment"] = treatment_id(sample_treatment(r));
        j["treatment_text"] = row.cells[3];
        j["stop_reason"] = stop_reason_id(sample_stop_reason(r));
        j["stop_reason_text"] = row.cells[4];
        j["volume_pumped_litre"] = json_float(sample_volume(r));
        j["max_pressure_bar"] = json_float(sample_max_pressure(r));
        list.push_back(j);
    }
    doc["records"] = list;
    return doc;
}

json cli_diag_log_json(const std::vector<log_record>& records) {
    json doc = json_document();
    json list = json::array();
    for (const log_record& r : records) {
        json j;
        j["counter"] = log_record_counter(r);
        j["task"] = log_record_task(r);
        j["severity"] = severity_id(log_record_severity(r));
        j["severity_text"] = diag_severity_text(log_record_severity(r));
        j["function"] = log_record_function(r);
        j["line"] = log_record_line(r);
        j["message"] = log_record_message(r);
        list.push_back(j);
    }
    doc["records"] = list;
    return doc;
}

json cli_clock_json(const clock_time& c) {
    json doc = json_document();
    uint32_t device = 0;
    const bool valid = clock_time_to_device(c, &device);
    doc["time"] = valid ? json_device_time(device) : json(nullptr);
    doc["device_time"] = valid ? json(device) : json(nullptr);
    doc["text"] = clock_time_text(c);
    return doc;
}
