#include "cli/cli.h"

#include "cli/cli_commands.h"
#include "cli/cli_documents.h"
#include "cli/cli_instruments.h"
#include "link/field_text.h"
#include "link/link.h"
#include "recording/recorder.h"
#include "recording/replay.h"

#include <CLI/CLI.hpp>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <exception>
#include <functional>
#include <istream>
#include <new>
#include <ostream>
#include <string>
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

int run_list(cli_io& io, const cli_options& o) {
    const std::vector<cli_instrument> all = cli_scan();
    const std::vector<std::string> denied = cli_denied();
    if (o.json) {
        io.out << json_text(cli_list_json(all, denied));
    } else {
        io.out << cli_list_caption() << "\n";
        for (const cli_instrument& one : all) io.out << cli_list_line(one) << "\n";
    }
    // An instrument this user may not open is there all the same: say so, and how to fix it.
    for (const std::string& path : denied) io.err << "veltranic-cli: " << cli_denied_text(path) << "\n";
    return denied.empty() ? CLI_OK : CLI_NO_INSTRUMENT;
}

// One command of the table: where it hangs in the parser, what runs it, and whether --json means
// anything for it.
struct command {
    CLI::App* app;
    int (*run)(cli_session&);
    bool json;
};

// The options that take a value, so that the word after one is never taken for a command.
const char* const WITH_VALUE[] = {"--device", "--serial", "--name", "--timeout", "-o", "--output", "--mode",
                                  "--cartridges", "--volume", "--minutes", "--password-file", "--wait", "--record"};

// The first word of the command line that is neither an option, nor an option's value, nor a
// command: a mistyped command deserves a message that names it.
const char* unknown_command(const CLI::App& app, int argc, const char* const* argv) {
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

// --serial as typed: a whole number from 0 to 65535.
bool parse_serial(const std::string& text, long* out) {
    uint64_t v = 0;
    if (!field_whole(text, &v) || v > 65535) return false;
    *out = long(v);
    return true;
}

constexpr const char* GLOBAL_OPTIONS_TEXT =
    "Options of every command (before or after it):\n"
    "  --device PATH    the instrument at this device path (as `list` shows it)\n"
    "  --serial N       the instrument with this serial number\n"
    "  --name NAME      the instrument with this name\n"
    "  --timeout MS     how long to wait for each answer, in milliseconds (default 3000)\n"
    "  --json           machine-readable output (docs/json.md); refused where a command writes no data\n"
    "  --record FILE    record every frame to and from the instrument into FILE (--device replay:FILE\n"
    "                   plays it back)\n"
    "Exit codes: 0 success, 1 the instrument refused or answered an error, 2 usage (or output\n"
    "that could not be written), 3 no such or no reachable instrument, 4 link failure.";

// `record`: the file the session is recorded into (--record), once the recording runs.
int run_parsed(int argc, const char* const* argv, cli_io& io, bool* link_phase, std::string* record) {
    cli_options o;
    std::string serial_text;
    CLI::App app{"The VELTRANIC water sampler from a terminal and from scripts.", "veltranic-cli"};
    app.set_version_flag("--version", "veltranic-cli " VELTRANIC_VERSION);
    app.require_subcommand(1, 1);
    app.fallthrough();  // the options below may follow the command
    app.add_option("--device", o.choice.device, "the instrument at this device path (as `list` shows it)")->type_name("PATH");
    app.add_option("--serial", serial_text, "the instrument with this serial number")->type_name("N");
    app.add_option("--name", o.choice.name, "the instrument with this name")->type_name("NAME");
    app.add_option("--timeout", o.timeout_ms, "how long to wait for each answer, in milliseconds (default 3000)")
        ->type_name("MS")
        ->check(CLI::Range(1u, 600000u));
    app.add_flag("--json", o.json, "machine-readable output (docs/json.md); refused where a command writes no data");
    std::string record_file;
    app.add_option("--record", record_file, "record every frame to and from the instrument into FILE (JSON lines); "
                                            "--device replay:FILE plays it back")
        ->type_name("FILE");
    app.footer("With exactly one instrument attached, no choice is needed.\n"
               "Exit codes: 0 success, 1 the instrument refused or answered an error, 2 usage (or output\n"
               "that could not be written), 3 no such or no reachable instrument, 4 link failure.");

    std::vector<command> commands;
    auto add = [&](CLI::App* parent, const char* name, const char* what, int (*run)(cli_session&), bool json) {
        CLI::App* sub = parent->add_subcommand(name, what);
        sub->footer(GLOBAL_OPTIONS_TEXT);
        if (run) commands.push_back({sub, run, json});
        return sub;
    };
    CLI::App* list = add(&app, "list", "every attached instrument: name, serial number, state, type, path", nullptr, true);
    add(&app, "info", "device and firmware information of one instrument, and its version", cli_info, true);
    add(&app, "status", "the sampler's live state, in the run view's words", cli_status, true);
    CLI::App* sample_log = add(&app, "sample-log", "the sample log, as File > Save Log... writes it", cli_sample_log, true);
    sample_log->add_option("-o,--output", o.output, "write to FILE instead of standard output")->type_name("FILE");
    sample_log->require_subcommand(0, 1);
    CLI::App* clear = add(sample_log, "clear", "erase the sample log on the instrument (asks first)", cli_sample_log_clear, false);
    clear->add_flag("-y,--yes", o.yes, "do not ask for confirmation");
    CLI::App* diag_log = add(&app, "diag-log",
                             "the diagnostic log records waiting, as Save Diagnostics writes them (at most 10000)",
                             cli_diag_log, true);
    diag_log->add_option("-o,--output", o.output, "write to FILE instead of standard output")->type_name("FILE");
    CLI::App* clock = add(&app, "clock", "the instrument's clock", nullptr, true);
    clock->require_subcommand(1, 1);
    add(clock, "get", "the clock as the instrument reads it", cli_clock_get, true);
    CLI::App* clock_set = add(clock, "set", "set the clock to the PC's local time or to a moment", cli_clock_set, true);
    clock_set->add_flag("--pc", o.pc, "the PC's local time, now");
    clock_set->add_option("TIME", o.when, "the moment, as \"YYYY-MM-DD HH:MM:SS\"");
    CLI::App* schedule = add(&app, "schedule", "the sampling schedule stored on the instrument", nullptr, true);
    schedule->require_subcommand(1, 1);
    add(schedule, "get", "the schedule, as the Sampling Schedule dialog shows it", cli_schedule_get, true);
    CLI::App* schedule_set = add(schedule, "set",
                                 "store a schedule given as JSON (the form `schedule get --json` writes; fields left "
                                 "out keep their values)",
                                 cli_schedule_set, true);
    schedule_set->add_option("FILE", o.file, "the schedule as JSON, or - for standard input")->required();
    CLI::App* run = add(&app, "run", "start and stop runs and the schedule, as the run view does", nullptr, false);
    run->require_subcommand(1, 1);
    CLI::App* run_start = add(run, "start", "start a run (--mode sample, load, prime) or the schedule (--mode schedule)",
                              cli_run_start, false);
    run_start->add_option("--mode", o.mode, "sample, load, prime or schedule")->type_name("MODE")->required();
    run_start->add_option("--cartridges", o.cartridges, "number of cartridges, 0-255")->type_name("N");
    run_start->add_option("--volume", o.volume, "sample volume in litres, 0-25.5 (mode sample)")->type_name("LITRES");
    run_start->add_option("--minutes", o.minutes, "sample timeout in minutes, 0-255 (mode sample)")->type_name("MIN");
    run_start->add_flag("--clean", o.clean, "clean after each sample (mode sample)");
    add(run, "stop", "stop whatever runs: a run, or the schedule while it is in control", cli_run_stop, false);
    add(&app, "led", "toggle the instrument's LED", cli_led, false);
    CLI::App* settings = add(&app, "settings",
                             "the stored settings: flow-meter, cleaning, rs232, identification, motors, pressure, "
                             "schedule",
                             nullptr, true);
    settings->require_subcommand(1, 1);
    CLI::App* settings_get = add(settings, "get", "one block of settings, or all of them", cli_settings_get, true);
    settings_get->add_option("BLOCK", o.block, "the block (all when left out)");
    CLI::App* settings_set = add(settings, "set",
                                 "store one block given as JSON (the form `settings get BLOCK --json` writes; fields "
                                 "left out keep their values)",
                                 cli_settings_set, true);
    settings_set->add_option("BLOCK", o.block, "the block")->required();
    settings_set->add_option("FILE", o.file, "the block as JSON, or - for standard input")->required();
    settings_set->add_flag("--factory", o.factory, "also the factory settings (the board serial): asks for the maintenance password");
    settings_set->add_option("--password-file", o.password_file, "read the maintenance password from FILE")->type_name("FILE");
    CLI::App* backup = add(&app, "backup", "write every stored setting, the schedule and the identity to one JSON file",
                           cli_backup, false);
    backup->add_option("FILE", o.file, "the backup file, or - for standard output")->required();
    CLI::App* restore = add(&app, "restore",
                            "show what a backup would change, block by block, and write the blocks that differ",
                            cli_restore, true);
    restore->add_option("FILE", o.file, "the backup file, or - for standard input")->required();
    restore->add_flag("-y,--yes", o.yes, "do not ask for confirmation");
    restore->add_flag("--force", o.force, "restore a backup of another type of instrument");
    restore->add_flag("--identity", o.identity, "also the name and serial numbers (the board serial needs the maintenance password)");
    restore->add_option("--password-file", o.password_file, "read the maintenance password from FILE")->type_name("FILE");
    CLI::App* upgrade = add(&app, "upgrade",
                            "write a firmware (or bootloader) image into the instrument, then start the new firmware",
                            cli_upgrade, false);
    upgrade->add_option("FILE", o.file, "the image")->required()->check(CLI::ExistingFile);
    upgrade->add_flag("--bootloader", o.bootloader, "a bootloader image (only for an instrument that allows it)");
    upgrade->add_flag("-y,--yes", o.yes, "do not ask for confirmation");
    upgrade->add_flag("--progress", o.progress, "report progress on standard error even when it is not a terminal");
    upgrade->add_flag("--stay-in-bootloader", o.stay_in_bootloader, "do not start the new firmware afterwards");
    CLI::App* boot = add(&app, "boot", "start the firmware of an instrument whose bootloader runs, and wait for it",
                         cli_boot, false);
    for (CLI::App* a : {upgrade, boot})
        a->add_option("--wait", o.return_wait_s, "how long the instrument may take to come back, in seconds (default 20)")
            ->type_name("S")
            ->check(CLI::Range(1u, 600u));

    if (const char* word = unknown_command(app, argc, argv))
        return cli_usage(io, std::string("unknown command \"") + word + "\" (see veltranic-cli --help)");
    try {
        app.parse(argc, argv);
    } catch (const CLI::CallForHelp&) {
        io.out << app.help();  // the help of the command asked for, named in full
        return CLI_OK;
    } catch (const CLI::CallForAllHelp&) {
        io.out << app.help("", CLI::AppFormatMode::All);
        return CLI_OK;
    } catch (const CLI::CallForVersion& e) {
        io.out << e.what() << "\n";
        return CLI_OK;
    } catch (const CLI::ParseError& e) {
        std::string message = e.what();
        for (char& c : message)
            if (c == '\n') c = ' ';
        return cli_usage(io, message + " (see veltranic-cli --help)");
    }
    if (!serial_text.empty() && !parse_serial(serial_text, &o.choice.serial))
        return cli_usage(io, "--serial: \"" + serial_text + "\" is not a serial number (a whole number from 0 to 65535)");

    if (!record_file.empty()) {
        if (const int error = recorder_start(record_file.c_str(), "veltranic-cli " VELTRANIC_VERSION); error != 0)
            return cli_usage(io, "cannot record to " + record_file + ": " + std::strerror(error));
        *record = record_file;
    }
    if (list->parsed()) return run_list(io, o);
    const command* chosen = nullptr;
    for (const command& c : commands)
        if (c.app->parsed() && c.app->get_subcommands().empty()) chosen = &c;
    if (!chosen) return cli_usage(io, "no command given (see veltranic-cli --help)");
    if (o.json && !chosen->json)
        return cli_usage(io, "--json: `" + chosen->app->get_name() + "` writes no data to give as JSON; nothing was sent");

    std::string path;
    if (const int rc = cli_open(o.choice, o.timeout_ms, io.err, &path); rc != CLI_OK) return rc;
    *link_phase = true;
    cli_session session{io, o, path};
    return chosen->run(session);
}

}  // namespace

bool cli_stdout_is_terminal() {
#ifdef _WIN32
    return _isatty(_fileno(stdout)) != 0;
#else
    return ::isatty(STDOUT_FILENO) != 0;
#endif
}

bool cli_stdin_is_terminal() {
#ifdef _WIN32
    return _isatty(_fileno(stdin)) != 0;
#else
    return ::isatty(STDIN_FILENO) != 0;
#endif
}

bool cli_stderr_is_terminal() {
#ifdef _WIN32
    return _isatty(_fileno(stderr)) != 0;
#else
    return ::isatty(STDERR_FILENO) != 0;
#endif
}

int cli_run(int argc, const char* const* argv, cli_io& io) {
    bool link_phase = false;
    std::string record;
    replay_clear_problem();
    int rc;
    try {
        rc = run_parsed(argc, argv, io, &link_phase, &record);
    } catch (const std::bad_alloc&) {
        io.err << "veltranic-cli: out of memory\n";
        rc = link_phase ? CLI_LINK_FAILED : CLI_USAGE;
    } catch (const std::exception& e) {
        // Nothing should get here; if something does, it is one line and an exit code, never
        // an abort that takes every line of output with it.
        io.err << "veltranic-cli: unexpected failure: " << e.what() << "\n";
        rc = link_phase ? CLI_LINK_FAILED : CLI_USAGE;
    } catch (...) {
        io.err << "veltranic-cli: unexpected failure\n";
        rc = link_phase ? CLI_LINK_FAILED : CLI_USAGE;
    }
    link_close();
    if (const std::string problem = replay_problem(); !problem.empty()) io.err << "veltranic-cli: replay: " << problem << "\n";
    if (!record.empty()) {
        // The command's own result stands; a recording that was asked for and is not whole
        // makes it a failure all the same.
        if (const int error = recorder_stop(); error != 0) {
            io.err << "veltranic-cli: recording to " << record << " failed: " << std::strerror(error) << "\n";
            if (rc == CLI_OK) rc = CLI_USAGE;
        }
    }
    // Output that never arrived is no success.
    io.out.flush();
    if (!io.out) {
        io.err << "veltranic-cli: cannot write standard output\n";
        if (rc == CLI_OK) rc = CLI_USAGE;
    }
    return rc;
}

int cli_finish_stdout(int rc) {
    // A stream that failed inside cli_run has been reported there already.
    const bool reported = std::ferror(stdout) != 0 && rc != CLI_OK;
    errno = 0;
    const bool flushed = std::fflush(stdout) == 0 && !std::ferror(stdout);
    const int flush_error = errno;
    errno = 0;
    const bool closed = std::fclose(stdout) == 0;
    const int close_error = errno;
    if ((flushed && closed) || reported) return rc;
    const int error = flush_error ? flush_error : close_error;
    std::fprintf(stderr, "veltranic-cli: cannot write standard output%s%s\n", error ? ": " : "",
                 error ? std::strerror(error) : "");
    return rc == CLI_OK ? CLI_USAGE : rc;
}
