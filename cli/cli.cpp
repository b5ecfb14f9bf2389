#include "cli/cli.h"

#include "cli/cli_instruments.h"
#include "cli/cli_sampler.h"
#include "link/bytes.h"
#include "link/command_frame.h"
#include "link/device_time.h"
#include "link/field_text.h"
#include "link/identity.h"
#include "link/link.h"
#include "link/text_tables.h"
#include "maintenance/diagnostics.h"
#include "maintenance/upgrade.h"
#include "platform/file_replace.h"
#include "sampler/run_status.h"
#include "sampler/sample_log.h"

#include <CLI/CLI.hpp>
#include <nlohmann/json.hpp>

#include <atomic>
#include <chrono>
#include <cstring>
#include <istream>
#include <ostream>
#include <string>
#include <thread>
#include <vector>

#ifdef _WIN32
#include <io.h>
#else
#include <unistd.h>
#endif

#ifndef VELTRANIC_VERSION
#define VELTRANIC_VERSION "unknown"
#endif

namespace {

using json = nlohmann::ordered_json;

struct options {
    cli_choice choice;
    unsigned timeout_ms = LINK_TIMEOUT_CONNECT_MS;
    bool json = false;
    std::string output;  // sample-log -o
    std::string image;   // upgrade FILE
    std::string schedule_file;  // schedule set FILE
    cli_clock_options clock;
    bool bootloader = false;
    bool yes = false;
};

// Writes text to the file named by -o (whole or not at all), or to out.
int deliver(cli_io& io, const options& o, const std::string& text) {
    if (o.output.empty()) {
        io.out << text;
        io.out.flush();
        return CLI_OK;
    }
    if (const int error = file_replace(o.output.c_str(), text); error != 0) {
        io.err << "veltranic-cli: cannot write " << o.output << ": " << std::strerror(error) << "\n";
        return CLI_USAGE;
    }
    return CLI_OK;
}

json instrument_json(const cli_instrument& one) {
    json j;
    j["name"] = one.name();
    j["path"] = one.path;
    j["identified"] = one.identified;
    if (one.identified) {
        j["serial"] = device_info_serial(one.info);
        j["state"] = one.state();
        j["type"] = one.type();
        j["type_code"] = firmware_info_type(one.fw);
        j["mode"] = firmware_info_mode(one.fw);
    }
    return j;
}

int run_list(cli_io& io, const options& o) {
    const std::vector<cli_instrument> all = cli_scan();
    if (o.json) {
        json list = json::array();
        for (const cli_instrument& one : all) list.push_back(instrument_json(one));
        io.out << list.dump(2) << "\n";
        return CLI_OK;
    }
    io.out << cli_list_caption() << "\n";
    for (const cli_instrument& one : all) io.out << cli_list_line(one) << "\n";
    return CLI_OK;
}

int run_info(cli_io& io, const options& o, const std::string& path) {
    cli_instrument one;
    one.path = path;
    if (const int r = identity_get_device_info(one.info); r != 0) return cli_failed(io, "info", r);
    if (const int r = identity_get_firmware_info(one.fw); r != 0) return cli_failed(io, "info", r);
    one.identified = true;
    char version[26];
    const bool has_version = identity_get_version_text(version) == 0;
    if (o.json) {
        json j = instrument_json(one);
        j["board_serial"] = device_info_board_serial(one.info);
        j["bootloader_version"] = firmware_info_bootloader_version(one.fw);
        j["firmware_version"] = has_version ? json(version) : json(nullptr);
        io.out << j.dump(2) << "\n";
        return CLI_OK;
    }
    io.out << "Name: " << one.name() << "\n"
           << "Serial Number: " << device_info_serial(one.info) << "\n"
           << "Processing Board Serial Number: " << device_info_board_serial(one.info) << "\n"
           << "State: " << one.state() << "\n"
           << "Device: " << one.type() << "\n";
    if (has_version) io.out << "Firmware Version: " << version << "\n";
    io.out << "Path: " << path << "\n";
    return CLI_OK;
}

int run_status(cli_io& io, const options& o) {
    status_record s;
    if (const int r = status_read(s); r != 0) return cli_failed(io, "status", r);
    const run_status_texts t = run_status_format(s);
    if (o.json) {
        json j;
        j["cartridge"] = t.cartridge;
        j["clock"] = t.clock;
        j["control"] = t.control;
        j["waypoint"] = t.waypoint;
        j["state"] = t.state;
        j["run_status"] = t.run_status;
        j["flow"] = t.flow;
        j["pressure"] = t.pressure;
        json values;
        values["sampler_state"] = status_state(s);
        values["control_source"] = status_control(s);
        values["error_flag"] = s.bytes[3];
        values["flow_volume_litre"] = get_f32le(s.bytes + 16);
        values["max_pressure_bar"] = get_f32le(s.bytes + 20);
        values["clock"] = get_u32le(s.bytes + 24);
        values["next_event"] = get_u32le(s.bytes + 28);
        values["waypoint"] = s.bytes[32];
        values["top_cartridge"] = status_cartridge(s);
        j["values"] = values;
        io.out << j.dump(2) << "\n";
        return CLI_OK;
    }
    for (const std::string* line : {&t.cartridge, &t.clock, &t.control, &t.waypoint, &t.state, &t.run_status, &t.flow,
                                    &t.pressure})
        io.out << *line << "\n";
    return CLI_OK;
}

int run_sample_log(cli_io& io, const options& o) {
    // Read as the run view reads it: record after record, with the same short pause between.
    std::vector<sample_log_record> records;
    for (uint16_t index = 0;; ++index) {
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
        sample_log_record record;
        const int r = sample_log_read(index, record);
        if (r == RESULT_UNSUPPORTED) break;  // no such record: the end of the log
        if (r != 0) return cli_failed(io, "sample-log", r);
        records.push_back(record);
        if (index == UINT16_MAX) break;
    }
    if (o.json) {
        json list = json::array();
        for (const sample_log_record& r : records) {
            const sample_log_row row = sample_log_cells(r);
            json j;
            j["start_time"] = row.cells[0];
            j["start_time_raw"] = get_u32le(r.bytes + 16);
            j["cartridge_id"] = get_u16le(r.bytes + 4);
            j["duration_sec"] = get_u32le(r.bytes + 20);
            j["treatment"] = row.cells[3];
            j["stop_reason"] = row.cells[4];
            j["volume_pumped_litre"] = get_f32le(r.bytes + 24);
            j["max_pressure_bar"] = get_f32le(r.bytes + 28);
            list.push_back(j);
        }
        return deliver(io, o, list.dump(2) + "\n");
    }
    // Exactly the file that File > Save Log... writes.
    std::vector<std::string> captions;
    for (const list_column& c : SAMPLE_LOG_COLUMNS) captions.emplace_back(c.caption);
    std::string text = text_table_line(captions);
    for (const sample_log_record& r : records) {
        const sample_log_row row = sample_log_cells(r);
        text += text_table_line(std::vector<std::string>(std::begin(row.cells), std::end(row.cells)));
    }
    return deliver(io, o, text);
}

// The most records one diag-log takes: an instrument that logs faster than the link reads would
// otherwise never let it end.
constexpr int DIAG_LOG_MAX_EXPORT = 10000;

int run_diag_log(cli_io& io, const options& o) {
    if (const int r = diag_log_read_start(); r != 0) return cli_failed(io, "diag-log", r);
    // Read as the diagnostics view drains the log: record after record, with its short pause,
    // until the instrument has none ready.
    std::vector<log_record> records;
    while (int(records.size()) < DIAG_LOG_MAX_EXPORT) {
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
        log_record record;
        const int r = diag_log_read(record);
        if (r == ERR_LINK_FAILED) return cli_failed(io, "diag-log", r);
        if (r != 0) break;  // no record now: the end of what was waiting
        records.push_back(record);
    }
    if (o.json) {
        json list = json::array();
        for (const log_record& r : records) {
            json j;
            j["counter"] = log_record_counter(r);
            j["task"] = log_record_task(r);
            j["severity"] = diag_severity_text(log_record_severity(r));
            j["function"] = log_record_function(r);
            j["line"] = log_record_line(r);
            j["message"] = log_record_message(r);
            list.push_back(j);
        }
        return deliver(io, o, list.dump(2) + "\n");
    }
    // Exactly the file that Save Diagnostics writes, lost records included.
    return deliver(io, o, diag_log_file_text(diag_rows_from_records(records)));
}

// Progress of an upgrade: a bar that redraws itself on a terminal, otherwise a line at every
// tenth of the image.
class progress_report {
public:
    progress_report(cli_io& io, uint64_t total) : io_(io), total_(total ? total : 1) {}
    void update(uint32_t written) {
        const int tenth = int(uint64_t(written) * 10 / total_);
        if (io_.tty) {
            const unsigned filled = unsigned(uint64_t(written) * 40 / total_);
            io_.out << "\r[" << std::string(filled, '#') << std::string(40 - std::min(filled, 40u), ' ') << "] "
                    << written << " of " << total_ << " bytes" << std::flush;
            drawn_ = true;
        } else if (tenth != last_tenth_) {
            io_.out << text_printf("Upgrade running, %u bytes written", written) << "\n" << std::flush;
        }
        last_tenth_ = tenth;
    }
    void finish() {
        if (drawn_) io_.out << "\n";
    }

private:
    cli_io& io_;
    uint64_t total_;
    int last_tenth_ = -1;  // the first block is always reported
    bool drawn_ = false;
};

int run_upgrade(cli_io& io, const options& o, const std::string& path) {
    firmware_info fw{};
    if (const int r = identity_get_firmware_info(fw); r != 0) return cli_failed(io, "upgrade", r);
    const uint8_t mode = firmware_info_mode(fw);
    if (o.bootloader && mode != FIRMWARE_MODE_BOOTLOADER_UPGRADE) {
        io.err << "veltranic-cli: upgrade: the instrument at " << path << " does not allow a bootloader upgrade\n";
        return CLI_REFUSED;
    }
    if (!o.bootloader && mode != FIRMWARE_MODE_BOOTLOADER) {
        io.err << "veltranic-cli: upgrade: the bootloader of the instrument at " << path
               << " is not running (restart the instrument in its bootloader first)\n";
        return CLI_REFUSED;
    }
    const uint32_t base = o.bootloader ? IMAGE_BASE_BOOTLOADER : IMAGE_BASE_FIRMWARE;
    upgrade_image image;
    if (const int r = upgrade_image_open(o.image.c_str(), base, image); r != 0) {
        io.err << "veltranic-cli: upgrade: cannot read " << o.image << ": "
               << (r == UPGRADE_ERR_NOT_FILE    ? "not a regular file"
                   : r == UPGRADE_ERR_TOO_LARGE ? "larger than the instrument takes (" + std::to_string(upgrade_image_max(base)) +
                                                  " bytes at most)"
                                                : std::string(std::strerror(errno)))
               << "\n";
        return CLI_USAGE;
    }
    const uint64_t size = image.size;
    if (!o.yes) {
        io.err << (o.bootloader ? "A bootloader upgrade must be allowed to complete or the sensor will need to be "
                                  "returned to Calderwyn for repair. "
                                : "")
               << "Write " << o.image << " (" << size << " bytes) into the " << (o.bootloader ? "bootloader" : "firmware")
               << " of the instrument at " << path << "? [y/N] " << std::flush;
        std::string answer;
        std::getline(io.in, answer);
        if (answer != "y" && answer != "Y" && answer != "yes") {
            io.err << "veltranic-cli: upgrade: not confirmed; nothing was sent\n";
            return CLI_REFUSED;
        }
    }
    progress_report progress(io, size);
    const std::atomic<int> stop{0};
    const upgrade_outcome out =
        upgrade_run_image(image, base, stop, [&progress](uint32_t written) { progress.update(written); });
    progress.finish();
    if (out.failed == 0) {
        io.out << text_printf("Upgrade complete, %u bytes written", out.bytes_written) << "\n";
        return CLI_OK;
    }
    io.err << "veltranic-cli: upgrade: " << text_printf("Upgrade failed after %u bytes (%d)", out.bytes_written, 1);
    if (out.error == UPGRADE_ERR_FILE) {
        io.err << ": " << o.image << " could not be read\n";
        return CLI_USAGE;
    }
    if (out.error == UPGRADE_ERR_CHANGED) {
        io.err << ": " << o.image << " changed size while it was sent\n";
        return CLI_USAGE;
    }
    if (out.error == ERR_LINK_FAILED) {
        io.err << ": no answer from the instrument (link failure: was it unplugged?)\n";
        return CLI_LINK_FAILED;
    }
    io.err << ": the instrument refused a block (result code " << out.error << ")\n";
    return CLI_REFUSED;
}

// The first word of the command line that is neither an option, nor an option's value, nor a
// command: a mistyped command deserves a message that names it.
const char* unknown_command(const CLI::App& app, int argc, const char* const* argv) {
    static const char* const WITH_VALUE[] = {"--device", "--serial", "--name", "--timeout", "-o", "--output"};
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg.rfind("-", 0) == 0) {
            for (const char* option : WITH_VALUE)
                if (arg == option) ++i;  // its value follows
            continue;
        }
        for (const CLI::App* sub : app.get_subcommands([](const CLI::App*) { return true; }))
            if (sub->get_name() == arg) return nullptr;
        return argv[i];
    }
    return nullptr;
}

}  // namespace

bool cli_stdout_is_terminal() {
#ifdef _WIN32
    return _isatty(_fileno(stdout)) != 0;
#else
    return ::isatty(STDOUT_FILENO) != 0;
#endif
}

int cli_run(int argc, const char* const* argv, cli_io& io) {
    options o;
    CLI::App app{"The VELTRANIC water sampler from a terminal and from scripts.", "veltranic-cli"};
    app.set_version_flag("--version", "veltranic-cli " VELTRANIC_VERSION);
    app.require_subcommand(1, 1);
    app.fallthrough();  // the options below may follow the subcommand
    app.add_option("--device", o.choice.device, "the instrument at this device path (as `list` shows it)")
        ->type_name("PATH");
    app.add_option("--serial", o.choice.serial, "the instrument with this serial number")
        ->type_name("N")
        ->check(CLI::Range(0, 65535));
    app.add_option("--name", o.choice.name, "the instrument with this name")->type_name("NAME");
    app.add_option("--timeout", o.timeout_ms, "how long to wait for each answer, in milliseconds (default 3000)")
        ->type_name("MS")
        ->check(CLI::Range(1u, 600000u));
    app.add_flag("--json", o.json, "machine-readable output (list, info, status, sample-log, diag-log, clock get, schedule get)");
    app.footer("With exactly one instrument attached, no choice is needed.\n"
               "Exit codes: 0 success, 1 the instrument refused or answered an error, 2 usage,\n"
               "3 no such or no reachable instrument, 4 link failure.");

    CLI::App* list = app.add_subcommand("list", "every attached instrument: name, serial number, state, type, path");
    CLI::App* info = app.add_subcommand("info", "device and firmware information of one instrument, and its version");
    CLI::App* status = app.add_subcommand("status", "the sampler's live state, in the run view's words");
    CLI::App* sample_log = app.add_subcommand("sample-log", "the sample log, as File > Save Log... writes it");
    sample_log->add_option("-o,--output", o.output, "write to FILE instead of standard output")->type_name("FILE");
    CLI::App* diag_log = app.add_subcommand("diag-log", "the diagnostic log records waiting, as Save Diagnostics writes them "
                                                        "(at most 10000)");
    diag_log->add_option("-o,--output", o.output, "write to FILE instead of standard output")->type_name("FILE");
    CLI::App* clock = app.add_subcommand("clock", "the instrument's clock");
    clock->require_subcommand(1, 1);
    CLI::App* clock_get = clock->add_subcommand("get", "the clock as the instrument reads it");
    CLI::App* clock_set = clock->add_subcommand("set", "set the clock to the PC's local time or to a moment");
    clock_set->add_flag("--pc", o.clock.pc, "the PC's local time, now");
    clock_set->add_option("TIME", o.clock.when, "the moment, as \"YYYY-MM-DD HH:MM:SS\"");
    CLI::App* schedule = app.add_subcommand("schedule", "the sampling schedule stored on the instrument");
    schedule->require_subcommand(1, 1);
    CLI::App* schedule_get = schedule->add_subcommand("get", "the schedule, as the Sampling Schedule dialog shows it");
    CLI::App* schedule_set = schedule->add_subcommand("set", "store a schedule given as JSON (the form `schedule get --json` writes)");
    schedule_set->add_option("FILE", o.schedule_file, "the schedule as JSON")->required()->check(CLI::ExistingFile);
    CLI::App* upgrade = app.add_subcommand("upgrade", "write a firmware (or bootloader) image into the instrument");
    upgrade->add_option("FILE", o.image, "the image")->required()->check(CLI::ExistingFile);
    upgrade->add_flag("--bootloader", o.bootloader, "a bootloader image (only for an instrument that allows it)");
    upgrade->add_flag("-y,--yes", o.yes, "do not ask for confirmation");

    if (const char* word = unknown_command(app, argc, argv)) {
        io.err << "veltranic-cli: unknown command \"" << word << "\" (see veltranic-cli --help)\n";
        return CLI_USAGE;
    }
    try {
        app.parse(argc, argv);
    } catch (const CLI::CallForVersion& e) {
        io.out << e.what() << "\n";
        return CLI_OK;
    } catch (const CLI::ParseError& e) {
        app.exit(e, io.out, io.err);
        return e.get_exit_code() == 0 ? CLI_OK : CLI_USAGE;
    }

    int rc;
    if (list->parsed()) {
        rc = run_list(io, o);
    } else {
        std::string path;
        rc = cli_open(o.choice, o.timeout_ms, io.err, &path);
        if (rc == CLI_OK) {
            if (info->parsed()) rc = run_info(io, o, path);
            else if (status->parsed()) rc = run_status(io, o);
            else if (sample_log->parsed()) rc = run_sample_log(io, o);
            else if (upgrade->parsed()) rc = run_upgrade(io, o, path);
            else if (diag_log->parsed()) rc = run_diag_log(io, o);
            else if (clock_get->parsed()) rc = cli_clock_get(io, o.json);
            else if (clock_set->parsed()) rc = cli_clock_set(io, o.clock);
            else if (schedule_get->parsed()) rc = cli_schedule_get(io, o.json);
            else if (schedule_set->parsed()) rc = cli_schedule_set(io, o.schedule_file);
        }
    }
    link_close();
    return rc;
}
