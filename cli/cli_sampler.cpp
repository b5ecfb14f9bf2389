#include "cli/cli_sampler.h"

#include "link/command_frame.h"
#include "link/device_time.h"
#include "link/field_text.h"
#include "platform/pc_clock.h"
#include "sampler/clock.h"
#include "sampler/schedule.h"

#include <nlohmann/json.hpp>

#include <cmath>
#include <fstream>
#include <ostream>
#include <sstream>

namespace {

using json = nlohmann::ordered_json;

// "YYYY-MM-DD HH:MM:SS", nothing more or less; false when the text is not that.
bool parse_moment(const std::string& text, calendar_fields& f) {
    int used = 0;
    if (std::sscanf(text.c_str(), "%4d-%2d-%2d %2d:%2d:%2d%n", &f.year, &f.month, &f.day, &f.hour, &f.minute, &f.second,
                    &used) != 6)
        return false;
    return size_t(used) == text.size();
}

std::string moment_text(const calendar_fields& f) {
    return text_printf("%04d-%02d-%02d %02d:%02d:%02d", f.year, f.month, f.day, f.hour, f.minute, f.second);
}

int usage(cli_io& io, const std::string& what) {
    io.err << "veltranic-cli: " << what << "\n";
    return CLI_USAGE;
}

// A field of a waypoint in the JSON form: a number in [0, max], given as a number or as text.
bool json_number(const json& row, const char* key, double max, bool integral, std::string& out, std::string& error) {
    if (!row.contains(key)) {
        out = "0";
        return true;
    }
    const json& v = row[key];
    double d;
    if (v.is_number()) {
        d = v.get<double>();
    } else if (v.is_string() && field_double(v.get<std::string>(), &d)) {
    } else {
        error = std::string("\"") + key + "\" must be a number";
        return false;
    }
    if (!std::isfinite(d) || d < 0 || d > max || (integral && d != std::floor(d))) {
        error = text_printf("\"%s\" must be %s from 0 to %g", key, integral ? "a whole number" : "a number", max);
        return false;
    }
    out = integral ? text_printf("%.0f", d) : text_printf("%.1f", d);
    return true;
}

}  // namespace

int cli_failed(cli_io& io, const char* what, int code) {
    if (code == ERR_LINK_FAILED) {
        io.err << "veltranic-cli: " << what << ": no answer from the instrument (link failure: was it unplugged?)\n";
        return CLI_LINK_FAILED;
    }
    if (code == ERR_SHORT_RESPONSE) {
        io.err << "veltranic-cli: " << what << ": the instrument's answer was too short\n";
        return CLI_REFUSED;
    }
    io.err << "veltranic-cli: " << what << ": the instrument refused (result code " << code << ")\n";
    return CLI_REFUSED;
}

int cli_clock_get(cli_io& io, bool as_json) {
    clock_time c;
    if (const int r = clock_read(c); r != 0) return cli_failed(io, "clock get", r);
    if (!as_json) {
        io.out << clock_time_text(c) << "\n";
        return CLI_OK;
    }
    const calendar_fields f = clock_time_fields(c);
    uint32_t device = 0;
    json j;
    j["clock"] = clock_time_text(c);
    j["time"] = moment_text(f);
    j["device_time"] = clock_time_to_device(c, &device) ? json(device) : json(nullptr);
    io.out << j.dump(2) << "\n";
    return CLI_OK;
}

int cli_clock_set(cli_io& io, const cli_clock_options& o) {
    calendar_fields f{};
    if (o.pc == !o.when.empty()) return usage(io, "clock set: give either --pc or a time \"YYYY-MM-DD HH:MM:SS\"");
    if (o.pc) {
        // The instrument keeps wall-clock time: the PC's local time, not UTC.
        const pc_local_time now = pc_clock_local();
        f = {now.year, now.month, now.day, now.hour, now.minute, now.second};
    } else if (!parse_moment(o.when, f) || !clock_fields_valid(f)) {
        return usage(io, "clock set: \"" + o.when +
                             "\" is not a moment the clock can hold (YYYY-MM-DD HH:MM:SS, 1970-01-01 00:00:00 to "
                             "2038-01-19 03:14:07)");
    }
    const clock_time c = clock_time_make(f);
    if (const int r = clock_write(c); r != 0) return cli_failed(io, "clock set", r);
    io.out << "Clock set to " << clock_time_text(c) << "\n";
    return CLI_OK;
}

int cli_schedule_get(cli_io& io, bool as_json) {
    schedule_record s;
    if (const int r = schedule_read(s); r != 0) return cli_failed(io, "schedule get", r);
    const schedule_form form = schedule_form_texts(s);
    const uint32_t start = schedule_start(s);
    calendar_fields at{};
    const bool start_shown = form.start_option == START_AT_OR_AFTER && device_time_to_fields(start, at);
    if (as_json) {
        json j;
        j["autostart"] = form.autostart;
        json start_json;
        start_json["option"] = form.start_option == START_NEXT_TIME ? "next" : "at_or_after";
        if (form.start_option == START_AT_OR_AFTER) {
            start_json["time"] = start_shown ? json(moment_text(at)) : json(nullptr);
            start_json["device_time"] = start;
        }
        j["start"] = start_json;
        json rows = json::array();
        for (int i = 0; i < SCHEDULE_WAYPOINTS; ++i) {
            const schedule_waypoint w = schedule_entry(s, i);
            json row;
            row["row"] = i + 1;
            row["used"] = form.rows[i].used;
            row["offset_minutes"] = waypoint_offset(w);
            row["samples"] = w.bytes[1];
            row["volume_litre"] = text_to_double(form.rows[i].volume.c_str());
            row["timeout_minutes"] = w.bytes[3];
            row["clean"] = form.rows[i].clean;
            rows.push_back(row);
        }
        j["waypoints"] = rows;
        io.out << j.dump(2) << "\n";
        return CLI_OK;
    }
    io.out << "Autostart: " << (form.autostart ? "yes" : "no") << "\n";
    if (form.start_option == START_NEXT_TIME)
        io.out << "Start: " << START_OPTIONS[0].text << "\n";
    else
        io.out << "Start: " << START_OPTIONS[1].text << " " << (start_shown ? moment_text(at) : text_printf("invalid (%u)", start))
               << "\n";
    io.out << text_printf("%-4s %-14s %-18s %-22s %-22s %s", "W/P", "Offset (mins)", "Number of Samples",
                          "Sample Volume (litre)", "Sample Timeout (mins)", "clean")
           << "\n";
    for (int i = 0; i < SCHEDULE_WAYPOINTS; ++i) {
        const schedule_row_form& r = form.rows[i];
        if (!r.used) continue;
        io.out << text_printf("%-4d %-14s %-18s %-22s %-22s %s", i + 1, r.offset.c_str(), r.samples.c_str(),
                              r.volume.c_str(), r.timeout.c_str(), r.clean ? "yes" : "no")
               << "\n";
    }
    return CLI_OK;
}

int cli_schedule_set(cli_io& io, const std::string& file) {
    std::ifstream in(file, std::ios::binary);
    if (!in) return usage(io, "schedule set: cannot read " + file);
    std::stringstream text;
    text << in.rdbuf();
    const json j = json::parse(text.str(), nullptr, false);
    if (j.is_discarded() || !j.is_object()) return usage(io, "schedule set: " + file + " is not a JSON object");

    // The instrument's schedule first: a start the file does not mention goes back unchanged.
    schedule_record current;
    if (const int r = schedule_read(current); r != 0) return cli_failed(io, "schedule set", r);

    schedule_form form;
    form.autostart = j.value("autostart", false);
    const json rows = j.value("waypoints", json::array());
    if (!rows.is_array() || rows.size() > size_t(SCHEDULE_WAYPOINTS))
        return usage(io, "schedule set: \"waypoints\" must be a list of at most 15 rows");
    for (size_t i = 0; i < rows.size(); ++i) {
        const json& row = rows[i];
        const int index = row.contains("row") && row["row"].is_number_integer() ? row["row"].get<int>() - 1 : int(i);
        if (index < 0 || index >= SCHEDULE_WAYPOINTS) return usage(io, "schedule set: \"row\" must be 1 to 15");
        schedule_row_form& r = form.rows[index];
        r.used = row.value("used", true);
        r.clean = row.value("clean", false);
        std::string error;
        if (!json_number(row, "offset_minutes", 65535, true, r.offset, error) ||
            !json_number(row, "samples", 255, true, r.samples, error) ||
            !json_number(row, "volume_litre", 25.5, false, r.volume, error) ||
            !json_number(row, "timeout_minutes", 255, true, r.timeout, error))
            return usage(io, text_printf("schedule set: waypoint row %d: ", index + 1) + error);
    }

    uint32_t start = 0;
    uint32_t option = START_NEXT_TIME;
    uint32_t picked = 0;
    const bool start_given = j.contains("start");
    if (start_given) {
        const json& st = j["start"];
        const std::string name = st.is_object() ? st.value("option", "") : "";
        if (name == "at_or_after") {
            option = START_AT_OR_AFTER;
            calendar_fields f{};
            if (st.contains("time") && st["time"].is_string()) {
                if (!parse_moment(st["time"].get<std::string>(), f))
                    return usage(io, "schedule set: \"time\" must read YYYY-MM-DD HH:MM:SS");
                picked = device_time_from_fields(f);
            } else if (st.contains("device_time") && st["device_time"].is_number_unsigned()) {
                picked = st["device_time"].get<uint32_t>();
            } else {
                return usage(io, "schedule set: an \"at_or_after\" start needs its \"time\"");
            }
        } else if (name != "next") {
            return usage(io, "schedule set: \"start\" must have the \"option\" \"next\" or \"at_or_after\"");
        }
    }
    if (schedule_save_start(start_given, schedule_start(current), option, picked, &start) != 0)
        return usage(io, "schedule set: " + schedule_start_range_text());

    const schedule_record record = schedule_build(form, start);
    if (const int r = schedule_write(record); r != 0) return cli_failed(io, "schedule set", r);
    // What the instrument holds now, as the dialog shows it after a save.
    schedule_record saved;
    if (const int r = schedule_read(saved); r != 0) return cli_failed(io, "schedule set", r);
    io.out << "Schedule saved\n";
    return CLI_OK;
}
