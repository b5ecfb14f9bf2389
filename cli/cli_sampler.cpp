// The sampler's commands: status, the sample log, the clock, the schedule, and runs.
#include "backup/settings_blocks.h"
#include "cli/cli_commands.h"
#include "cli/cli_documents.h"
#include "link/bytes.h"
#include "link/command_frame.h"
#include "link/device_time.h"
#include "link/field_text.h"
#include "platform/pc_clock.h"
#include "sampler/clock.h"
#include "sampler/run_control.h"
#include "sampler/schedule.h"

#include <chrono>
#include <cstring>
#include <cmath>
#include <cstdlib>
#include <ostream>
#include <thread>

namespace {

// A whole number as typed on the command line (the fields' rule), at most max.
bool whole_number(const std::string& text, uint64_t max, uint64_t* out) {
    uint64_t v = 0;
    if (!field_whole(text, &v) || v > max) return false;
    *out = v;
    return true;
}

// Why Start is not allowed in this state, as the run view's disabled button would have it.
std::string not_ready_reason(const status_record& st) {
    if (status_control(st) == SCHEDULE_CONTROL) return "the schedule is in control";
    if (status_state(st) == STATE_UNPOWERED) return "the sampler is unpowered";
    if (status_state(st) > STATE_IDLE) return "a run is going (" + run_state_text(status_state(st), status_cartridge(st)) + ")";
    return "the sampler's state is not known";
}

// The instrument's failure as one line: the window's message, then the code.
int failed_with(cli_session& s, const char* what, const char* message, int code) {
    if (code == ERR_LINK_FAILED || code == RESULT_UNSUPPORTED) return cli_failed(s, what, code);
    s.io.err << "veltranic-cli: " << what << ": " << message << " (result code " << code << ")\n";
    return CLI_REFUSED;
}

// The schedule's document: its "format", then the schedule's fields.
json schedule_document(const settings_block& block) {
    json doc = json_document();
    const json fields = settings_block_fields(block);
    for (auto& [key, value] : fields.items()) doc[key] = value;
    return doc;
}

}  // namespace

int cli_status(cli_session& s) {
    status_record st;
    if (const int r = status_read(st); r != 0) return cli_failed(s, "status", r);
    if (s.o.json) {
        s.io.out << json_text(cli_status_json(st));
        return CLI_OK;
    }
    const run_status_texts t = run_status_format(st);
    for (const std::string* line : {&t.cartridge, &t.clock, &t.control, &t.waypoint, &t.state, &t.run_status, &t.flow,
                                    &t.pressure})
        s.io.out << *line << "\n";
    return CLI_OK;
}

int cli_sample_log(cli_session& s) {
    // Read as the run view reads it: record after record, with the same short pause between.
    std::vector<sample_log_record> records;
    for (uint16_t index = 0;; ++index) {
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
        sample_log_record record;
        const int r = sample_log_read(index, record);
        if (r == RESULT_UNSUPPORTED) break;  // no such record: the end of the log
        if (r != 0) return cli_failed(s, "sample-log", r);
        records.push_back(record);
        if (index == UINT16_MAX) break;
    }
    if (s.o.json) return cli_deliver(s, json_text(cli_sample_log_json(records)));
    // Exactly the file that File > Save Log... writes.
    std::vector<std::string> captions;
    for (const list_column& c : SAMPLE_LOG_COLUMNS) captions.emplace_back(c.caption);
    std::string text = text_table_line(captions);
    for (const sample_log_record& r : records) {
        const sample_log_row row = sample_log_cells(r);
        text += text_table_line(std::vector<std::string>(std::begin(row.cells), std::end(row.cells)));
    }
    return cli_deliver(s, text);
}

int cli_sample_log_clear(cli_session& s) {
    // Clear Log is there only while the sampler is idle (or unpowered) under manual control.
    status_record st;
    if (const int r = status_read(st); r != 0) return cli_failed(s, "sample-log clear", r);
    if (!run_enable_rules(st, 0).clear_log) {
        s.io.err << "veltranic-cli: sample-log clear: " << not_ready_reason(st)
                 << "; the log is cleared only while the sampler is idle. Nothing was sent\n";
        return CLI_REFUSED;
    }
    if (const int rc = cli_confirm(s, "sample-log clear", SAMPLE_LOG_CLEAR_QUESTION); rc != CLI_OK) return rc;
    if (const int r = sample_log_clear(); r != 0) return failed_with(s, "sample-log clear", SAMPLE_LOG_CLEAR_FAILED, r);
    s.io.out << "Sample log cleared\n";
    return CLI_OK;
}

int cli_clock_get(cli_session& s) {
    clock_time c;
    if (const int r = clock_read(c); r != 0) return cli_failed(s, "clock get", r);
    if (s.o.json) s.io.out << json_text(cli_clock_json(c));
    else s.io.out << clock_time_text(c) << "\n";
    return CLI_OK;
}

int cli_clock_set(cli_session& s) {
    calendar_fields f{};
    if (s.o.pc == !s.o.when.empty()) return cli_usage(s.io, "clock set: give either --pc or a time \"YYYY-MM-DD HH:MM:SS\"");
    if (s.o.pc) {
        // The instrument keeps wall-clock time: the PC's local time, not UTC.
        const pc_local_time now = pc_clock_local();
        f = {now.year, now.month, now.day, now.hour, now.minute, now.second};
    } else {
        uint32_t t = 0;
        if (!json_parse_moment(s.o.when, &t) || !device_time_to_fields(t, f))
            return cli_usage(s.io, "clock set: \"" + s.o.when +
                                       "\" is not a moment the clock can hold (YYYY-MM-DD HH:MM:SS, 1970-01-01 00:00:00 to "
                                       "2038-01-19 03:14:07)");
    }
    const clock_time c = clock_time_make(f);
    if (const int r = clock_write(c); r != 0) return cli_failed(s, "clock set", r);
    if (s.o.json) s.io.out << json_text(cli_clock_json(c));
    else s.io.out << "Clock set to " << clock_time_text(c) << "\n";
    return CLI_OK;
}

int cli_schedule_get(cli_session& s) {
    settings_block block;
    if (const int r = settings_block_read(BLOCK_SCHEDULE, block); r != 0) return cli_failed(s, "schedule get", r);
    if (s.o.json) {
        s.io.out << json_text(schedule_document(block));
        return CLI_OK;
    }
    schedule_record rec;
    std::memcpy(rec.bytes, block.bytes.data(), SCHEDULE_RECORD_SIZE);
    const schedule_form form = schedule_form_texts(rec);
    const uint32_t start = schedule_start(rec);
    calendar_fields at{};
    const bool start_shown = form.start_option == START_AT_OR_AFTER && device_time_to_fields(start, at);
    s.io.out << "Autostart: " << (form.autostart ? "yes" : "no") << "\n";
    if (form.start_option == START_NEXT_TIME)
        s.io.out << "Start: " << START_OPTIONS[0].text << "\n";
    else
        s.io.out << "Start: " << START_OPTIONS[1].text << " "
                 << (start_shown ? text_printf("%04d-%02d-%02d %02d:%02d:%02d", at.year, at.month, at.day, at.hour,
                                               at.minute, at.second)
                                 : text_printf("invalid (%u)", start))
                 << "\n";
    s.io.out << text_printf("%-4s %-14s %-18s %-22s %-22s %s", "W/P", "Offset (mins)", "Number of Samples",
                            "Sample Volume (litre)", "Sample Timeout (mins)", "clean")
             << "\n";
    for (int i = 0; i < SCHEDULE_WAYPOINTS; ++i) {
        const schedule_row_form& r = form.rows[i];
        if (!r.used) continue;
        s.io.out << text_printf("%-4d %-14s %-18s %-22s %-22s %s", i + 1, r.offset.c_str(), r.samples.c_str(),
                                r.volume.c_str(), r.timeout.c_str(), r.clean ? "yes" : "no")
                 << "\n";
    }
    return CLI_OK;
}

int cli_schedule_set(cli_session& s) {
    json doc;
    int rc = CLI_OK;
    if (!cli_read_document(s, "schedule set", s.o.file, doc, &rc)) return rc;
    // What the instrument holds first: whatever the document leaves out stays as it is.
    settings_block current, wanted;
    if (const int r = settings_block_read(BLOCK_SCHEDULE, current); r != 0) return cli_failed(s, "schedule set", r);
    std::string error;
    if (!settings_block_apply(doc, current, wanted, true, error)) return cli_usage(s.io, "schedule set: " + error);
    const settings_write_result w = settings_block_write(current, wanted, false);
    if (w.code == SETTINGS_READ_BACK_DIFFERS) {
        s.io.err << "veltranic-cli: schedule set: the instrument holds another schedule than the one sent\n";
        return CLI_REFUSED;
    }
    if (w.code != 0) return cli_failed(s, "schedule set", w.code);
    if (s.o.json) {
        s.io.out << json_text(schedule_document(w.stored));
    } else {
        s.io.out << "Schedule saved\n";
    }
    return CLI_OK;
}

int cli_run_start(cli_session& s) {
    const cli_options& o = s.o;
    uint8_t code = 0;
    if (o.mode == "sample") code = 1;
    else if (o.mode == "load") code = 0;
    else if (o.mode == "prime") code = 2;
    else if (o.mode == "schedule") code = SCHEDULE_CONTROL;
    else return cli_usage(s.io, "run start: --mode must be sample, load, prime or schedule");

    // The run view's form: the fields its mode enables, and nothing else.
    const bool takes_cartridges = code != SCHEDULE_CONTROL, takes_sample = code == 1;
    if (!takes_cartridges && !o.cartridges.empty()) return cli_usage(s.io, "run start: --mode schedule takes no --cartridges");
    if (!takes_sample && (!o.volume.empty() || !o.minutes.empty() || o.clean))
        return cli_usage(s.io, "run start: --volume, --minutes and --clean belong to --mode sample");
    if (takes_cartridges && o.cartridges.empty()) return cli_usage(s.io, "run start: --cartridges N is needed");
    if (takes_sample && (o.volume.empty() || o.minutes.empty()))
        return cli_usage(s.io, "run start: --mode sample needs --volume LITRES and --minutes MIN");
    run_settings settings{};
    settings.bytes[1] = code;
    uint64_t n = 0;
    if (takes_cartridges) {
        if (!whole_number(o.cartridges, 255, &n)) return cli_usage(s.io, "run start: --cartridges must be a whole number from 0 to 255");
        settings.bytes[2] = uint8_t(n);
    }
    if (takes_sample) {
        double litres = 0;
        uint8_t tenths = 0;
        if (!field_decimal(o.volume, &litres) || litres < 0 || !volume_litres_to_tenths(litres, &tenths))
            return cli_usage(s.io, "run start: --volume must be a number of litres from 0 to 25.5");
        settings.bytes[3] = tenths;
        if (!whole_number(o.minutes, 255, &n)) return cli_usage(s.io, "run start: --minutes must be a whole number from 0 to 255");
        settings.bytes[4] = uint8_t(n);
        settings.bytes[5] = o.clean ? 1 : 0;
    }

    // Start is there only on an idle instrument under manual control.
    status_record st;
    if (const int r = status_read(st); r != 0) return cli_failed(s, "run start", r);
    if (!run_start_ready(st)) {
        s.io.err << "veltranic-cli: run start: " << not_ready_reason(st) << "; nothing was started\n";
        return CLI_REFUSED;
    }
    if (code == SCHEDULE_CONTROL) {
        if (const int r = run_schedule_start(); r != 0) return failed_with(s, "run start", RUN_SCHEDULE_START_FAILED, r);
        s.io.out << "Schedule started\n";
        return CLI_OK;
    }
    if (const int r = run_start(settings); r != 0) return failed_with(s, "run start", RUN_START_FAILED, r);
    s.io.out << "Run started\n";
    return CLI_OK;
}

int cli_run_stop(cli_session& s) {
    status_record st;
    if (const int r = status_read(st); r != 0) return cli_failed(s, "run stop", r);
    switch (run_stop_choice(st)) {
        case run_stop_kind::none:
            s.io.out << "Nothing is running; nothing was sent\n";
            return CLI_OK;
        case run_stop_kind::schedule:
            if (const int r = run_schedule_stop(); r != 0) return failed_with(s, "run stop", RUN_SCHEDULE_STOP_FAILED, r);
            s.io.out << "Schedule stopped\n";
            return CLI_OK;
        case run_stop_kind::run:
            if (const int r = run_stop(); r != 0) return failed_with(s, "run stop", RUN_STOP_FAILED, r);
            s.io.out << "Run stopped\n";
            return CLI_OK;
    }
    return CLI_OK;
}
