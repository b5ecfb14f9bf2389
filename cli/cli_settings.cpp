// Every stored setting: settings get/set, backup and restore, on the backup core.
#include "backup/backup.h"
#include "cli/cli_commands.h"
#include "config/factory.h"
#include "link/command_frame.h"
#include "link/field_text.h"
#include "platform/file_replace.h"

#include <algorithm>
#include <cstring>
#include <fstream>
#include <istream>
#include <ostream>

namespace {

// A block's fields as "name: value" lines for reading on a terminal; an entry of a list (a
// motor, a calibration point) on one line of its own.
void print_fields(std::ostream& out, const json& j, const std::string& path) {
    if (j.is_object()) {
        for (auto it = j.begin(); it != j.end(); ++it) print_fields(out, it.value(), path.empty() ? it.key() : path + "." + it.key());
    } else if (j.is_array()) {
        for (size_t i = 0; i < j.size(); ++i) {
            out << "  " << path << text_printf("[%u]:", unsigned(i + 1));
            if (j[i].is_object())
                for (auto it = j[i].begin(); it != j[i].end(); ++it)
                    out << " " << it.key() << "=" << json_value_text(it.value());
            else
                out << " " << json_value_text(j[i]);
            out << "\n";
        }
    } else {
        out << "  " << path << ": " << json_value_text(j) << "\n";
    }
}

std::string change_text(const field_change& c) { return c.field + " " + c.old_text + " -> " + c.new_text; }

// The maintenance password, from --password-file or a line of standard input. CLI_OK when it is
// the right one; otherwise the exit code after saying why (nothing has been sent then).
int check_password(cli_session& s, const char* what, bool stdin_taken) {
    std::string typed;
    if (!s.o.password_file.empty()) {
        std::ifstream in(s.o.password_file, std::ios::binary);
        if (!in) return cli_usage(s.io, std::string(what) + ": cannot read " + s.o.password_file);
        std::getline(in, typed);
    } else {
        if (stdin_taken)
            return cli_usage(s.io, std::string(what) + ": the document comes on standard input; give the maintenance "
                                                        "password with --password-file");
        if (s.io.in_tty) s.io.err << "Maintenance password: " << std::flush;
        std::getline(s.io.in, typed);
    }
    if (!typed.empty() && typed.back() == '\r') typed.pop_back();
    if (!factory_password_matches(typed))
        return cli_usage(s.io, std::string(what) + ": that is not the maintenance password; nothing was sent");
    return CLI_OK;
}

// The outcome of a write as one line on err, and its exit code.
int write_failed(cli_session& s, const std::string& what, const settings_write_result& w, const settings_block& wanted) {
    if (w.code == ERR_LINK_FAILED || w.code == RESULT_UNSUPPORTED) {
        const std::string step = what + (std::strcmp(w.step, "read-back") == 0 ? " (reading it back)" : "");
        return cli_failed(s, step.c_str(), w.code);
    }
    s.io.err << "veltranic-cli: " << what << ": " << settings_write_text(w, wanted) << "\n";
    return w.code == SETTINGS_NEEDS_FACTORY ? CLI_USAGE : CLI_REFUSED;
}

}  // namespace

int cli_settings_get(cli_session& s) {
    std::vector<settings_block_id> ids;
    if (s.o.block == "schedule" && !s.o.json) return cli_schedule_get(s);  // the dialog's own view of it
    if (s.o.block.empty()) {
        // On a terminal the schedule is left to `schedule get`, which shows it as its dialog does.
        for (int i = 0; i < SETTINGS_BLOCK_COUNT; ++i)
            if (s.o.json || i != BLOCK_SCHEDULE) ids.push_back(settings_block_id(i));
    } else {
        settings_block_id id;
        if (!settings_block_find(s.o.block, &id)) return cli_usage(s.io, "settings get: there is no block \"" + s.o.block + "\"");
        ids.push_back(id);
    }
    std::vector<settings_block> blocks;
    for (const settings_block_id id : ids) {
        settings_block b;
        if (const int r = settings_block_read(id, b); r != 0)
            return cli_failed(s, ("settings get " + std::string(settings_block_name(id))).c_str(), r);
        blocks.push_back(std::move(b));
    }
    if (s.o.json) {
        if (!s.o.block.empty()) {
            s.io.out << json_text(settings_block_document(blocks.front()));
            return CLI_OK;
        }
        json doc = json_document();
        json all;
        for (const settings_block& b : blocks) all[settings_block_name(b.id)] = settings_block_fields(b);
        doc["blocks"] = all;
        s.io.out << json_text(doc);
        return CLI_OK;
    }
    for (const settings_block& b : blocks) {
        s.io.out << settings_block_name(b.id) << ":\n";
        print_fields(s.io.out, settings_block_fields(b), "");
    }
    return CLI_OK;
}

int cli_settings_set(cli_session& s) {
    settings_block_id id;
    if (!settings_block_find(s.o.block, &id)) return cli_usage(s.io, "settings set: there is no block \"" + s.o.block + "\"");
    const std::string what = "settings set " + s.o.block;
    json doc;
    int rc = CLI_OK;
    if (!cli_read_document(s, what.c_str(), s.o.file, doc, &rc)) return rc;
    settings_block current, wanted;
    if (const int r = settings_block_read(id, current); r != 0) return cli_failed(s, what.c_str(), r);
    std::string error;
    if (!settings_block_apply(doc, current, wanted, true, error)) return cli_usage(s.io, what + ": " + error);
    const bool factory = settings_block_needs_factory(current, wanted);
    if (factory && !s.o.factory)
        return cli_usage(s.io, what + ": board_serial is a factory setting: give --factory and the maintenance password");
    if (s.o.factory && (rc = check_password(s, what.c_str(), s.o.file == "-")) != CLI_OK) return rc;
    const std::vector<field_change> changes = settings_block_changes(current, wanted);
    if (changes.empty()) {
        if (s.o.json) s.io.out << json_text(settings_block_document(current));
        else s.io.out << "Nothing to change: the instrument holds these settings already\n";
        return CLI_OK;
    }
    const settings_write_result w = settings_block_write(current, wanted, s.o.factory);
    if (w.code != 0) return write_failed(s, what, w, wanted);
    if (s.o.json) {
        s.io.out << json_text(settings_block_document(w.stored));
        return CLI_OK;
    }
    for (const field_change& c : changes) s.io.out << s.o.block << ": " << change_text(c) << "\n";
    s.io.out << "Settings saved and read back\n";
    return CLI_OK;
}

int cli_backup(cli_session& s) {
    instrument_snapshot snapshot;
    int failed = -1;
    if (const int r = backup_read_instrument(snapshot, &failed); r != 0) {
        const std::string what = failed < 0 ? std::string("backup (identity)")
                                            : "backup (" + std::string(settings_block_name(settings_block_id(failed))) + ")";
        return cli_failed(s, what.c_str(), r);
    }
    const std::string text = backup_file_text(snapshot);
    if (s.o.file == "-") {
        s.io.out << text;
        return CLI_OK;
    }
    if (const int error = file_replace(s.o.file.c_str(), text); error != 0)
        return cli_usage(s.io, "backup: cannot write " + s.o.file + ": " + std::strerror(error));
    char name[SENSOR_NAME_MAX + 1];
    device_info_name(snapshot.info, name);
    s.io.out << "Backup of \"" << name << "\" (serial " << device_info_serial(snapshot.info) << ") written to "
             << s.o.file << "\n";
    return CLI_OK;
}

int cli_restore(cli_session& s) {
    const cli_options& o = s.o;
    std::string text, error;
    const bool from_stdin = o.file == "-";
    backup_file file;
    if (!(from_stdin ? json_read_stream(s.io.in, text, error) : json_read_file(o.file, text, error)) ||
        !backup_parse(text, file, error))
        return cli_usage(s.io, "restore: " + (from_stdin ? std::string("standard input") : o.file) + " cannot be used: " + error);
    instrument_snapshot current;
    int failed = -1;
    if (const int r = backup_read_instrument(current, &failed); r != 0) return cli_failed(s, "restore (reading the instrument)", r);
    if (backup_other_type(file, current) && !o.force)
        return cli_usage(s.io, text_printf("restore: the backup comes from an instrument of type %u, this one is of type "
                                           "%u; give --force to restore it anyway. Nothing was sent",
                                           unsigned(file.type_code), unsigned(firmware_info_type(current.fw))));
    std::vector<restore_block> plan;
    if (!backup_plan(file, current, plan, error)) return cli_usage(s.io, "restore: " + error + "; nothing was sent");

    // The preview: block by block, what would change.
    std::ostream& preview = o.json ? s.io.err : s.io.out;
    const bool show_preview = !o.json || (!o.yes && s.io.in_tty);
    std::vector<const restore_block*> to_write;
    const bool factory_needed = backup_needs_factory(plan, o.identity);
    bool identity_held_back = false;
    for (const restore_block& b : plan) {
        const char* name = settings_block_name(b.id);
        const bool chosen = backup_block_chosen(b, o.identity);
        const bool held_back = !chosen && !b.changes.empty();
        if (show_preview) {
            if (!b.in_file) preview << name << ": not in the backup\n";
            else if (b.changes.empty()) preview << name << ": no change\n";
            for (const field_change& c : b.changes)
                preview << name << ": " << change_text(c) << (held_back ? " (left alone: give --identity)" : "") << "\n";
        }
        if (held_back) identity_held_back = true;
        if (chosen) to_write.push_back(&b);
    }
    json outcome = json_document();
    json blocks = json::array();
    // What became of a block that is not written.
    auto not_written = [](const restore_block& b) {
        return !b.in_file ? "not_in_backup" : b.changes.empty() ? "unchanged" : "left_alone";
    };
    auto report = [&](const restore_block& b, const char* result, const std::string& message) {
        json j;
        j["block"] = settings_block_name(b.id);
        j["outcome"] = result;
        json changes = json::array();
        for (const field_change& c : b.changes) changes.push_back({{"field", c.field}, {"old", c.old_text}, {"new", c.new_text}});
        j["changes"] = changes;
        j["message"] = message.empty() ? json(nullptr) : json(message);
        blocks.push_back(j);
    };
    if (to_write.empty()) {
        if (o.json) {
            for (const restore_block& b : plan)
                report(b, not_written(b), "");
            outcome["blocks"] = blocks;
            s.io.out << json_text(outcome);
        } else {
            s.io.out << "Nothing to change: the instrument holds every setting of the backup"
                     << (identity_held_back ? " but its identification (left alone: give --identity)" : "") << "\n";
        }
        return CLI_OK;
    }
    if (factory_needed) {
        if (const int rc = check_password(s, "restore", from_stdin); rc != CLI_OK) return rc;
    }
    const std::string question = text_printf("Write %u block%s to the instrument at %s?", unsigned(to_write.size()),
                                             to_write.size() == 1 ? "" : "s", s.path.c_str());
    if (const int rc = cli_confirm(s, "restore", question); rc != CLI_OK) return rc;

    int rc = CLI_OK;
    for (const restore_block& b : plan) {
        const char* name = settings_block_name(b.id);
        const bool chosen = std::find(to_write.begin(), to_write.end(), &b) != to_write.end();
        if (!chosen) {
            report(b, not_written(b), "");
            continue;
        }
        if (rc == CLI_LINK_FAILED) {
            report(b, "not_written", "the link failed before");
            if (!o.json) s.io.out << name << ": not written (the link failed before)\n";
            continue;
        }
        const settings_write_result w = backup_restore_block(b, factory_needed);
        if (w.code == 0) {
            report(b, "written", "");
            if (!o.json) s.io.out << name << ": written and read back\n";
            continue;
        }
        const std::string message = std::string("restore ") + name + ": " + settings_write_text(w, b.wanted);
        const int code = w.code == ERR_LINK_FAILED ? CLI_LINK_FAILED
                         : w.code == SETTINGS_NEEDS_FACTORY ? CLI_USAGE
                                                            : CLI_REFUSED;
        report(b, "failed", settings_write_text(w, b.wanted));
        if (!o.json) s.io.out << name << ": FAILED\n";
        s.io.err << "veltranic-cli: " << message << "\n";
        if (rc == CLI_OK || code == CLI_LINK_FAILED) rc = code;
    }
    if (o.json) {
        outcome["blocks"] = blocks;
        s.io.out << json_text(outcome);
    }
    return rc;
}
