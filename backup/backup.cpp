#include "backup/backup.h"

#include "link/command_frame.h"
#include "link/field_text.h"
#include "platform/pc_clock.h"

#include <cstring>

#ifndef VELTRANIC_VERSION
#define VELTRANIC_VERSION "unknown"
#endif

namespace {

constexpr const char* BACKUP_KIND = "veltranic-settings-backup";

}  // namespace

std::string backup_local_time() {
    const pc_local_time t = pc_clock_local();
    return text_printf("%04d-%02d-%02dT%02d:%02d:%02d", t.year, t.month, t.day, t.hour, t.minute, t.second);
}

int backup_read_instrument(instrument_snapshot& out, int* failed) {
    instrument_snapshot s;
    int r = identity_get_device_info(s.info);
    if (r == 0) r = identity_get_firmware_info(s.fw);
    if (r != 0) {
        if (failed) *failed = -1;
        return r;
    }
    s.has_version = identity_get_version_text(s.version) == 0;
    for (int i = 0; i < SETTINGS_BLOCK_COUNT; ++i) {
        if (settings_block_id(i) == BLOCK_IDENTIFICATION) {
            // Read just above: the same record.
            s.blocks[i] = {BLOCK_IDENTIFICATION, std::vector<uint8_t>(s.info.bytes, s.info.bytes + sizeof s.info.bytes)};
            continue;
        }
        r = settings_block_read(settings_block_id(i), s.blocks[i]);
        if (r != 0) {
            if (failed) *failed = i;
            return r;
        }
    }
    out = std::move(s);
    return 0;
}

json backup_document(const instrument_snapshot& s, const std::string& tool_version, uint32_t created_utc,
                     const std::string& created_local) {
    json doc = json_document();
    doc["document"] = BACKUP_KIND;
    doc["created"] = created_local;
    doc["created_utc_seconds"] = created_utc;
    doc["tool_version"] = tool_version;
    char name[SENSOR_NAME_MAX + 1];
    device_info_name(s.info, name);
    json instrument;
    instrument["name"] = name;
    instrument["serial"] = device_info_serial(s.info);
    instrument["board_serial"] = device_info_board_serial(s.info);
    instrument["type_code"] = firmware_info_type(s.fw);
    instrument["type"] = device_type_text(firmware_info_type(s.fw));
    instrument["firmware_version"] = s.has_version ? json(s.version) : json(nullptr);
    doc["instrument"] = instrument;
    json blocks;
    for (const settings_block& b : s.blocks) blocks[settings_block_name(b.id)] = settings_block_fields(b);
    doc["blocks"] = blocks;
    return doc;
}

std::string backup_file_text(const instrument_snapshot& snapshot) {
    return json_text(backup_document(snapshot, VELTRANIC_VERSION, pc_clock_utc_seconds(), backup_local_time()));
}

bool backup_parse(std::string_view text, backup_file& out, std::string& error) {
    json doc;
    if (!json_parse_object(text, doc, error)) return false;
    json_fields f(doc, "");
    std::string kind;
    if (!json_check_format(f) || !f.get_string("document", &kind)) {
        error = f.error;
        return false;
    }
    if (kind != BACKUP_KIND) {
        error = "it is not a settings backup (its \"document\" is not \"" + std::string(BACKUP_KIND) + "\")";
        return false;
    }
    for (const char* key : {"created", "created_utc_seconds", "tool_version"}) f.allow(key);
    backup_file file;
    if (const json* instrument = f.get("instrument")) {
        json_fields i(*instrument, "instrument");
        uint64_t type = 0, serial = 0;
        std::string name;
        if (!i.get_uint("type_code", 0xFFFF, &type) || !i.get_uint("serial", 0xFFFF, &serial) ||
            !i.get_string("name", &name)) {
            error = i.error;
            return false;
        }
        file.has_type = i.has("type_code");
        file.type_code = uint16_t(type);
        file.source = "\"" + name + "\"" + " (serial " + std::to_string(serial) + ")";
    }
    const json* blocks = f.get("blocks");
    if (!blocks || !blocks->is_object()) {
        error = "it holds no \"blocks\"";
        return false;
    }
    for (auto it = blocks->begin(); it != blocks->end(); ++it) {
        settings_block_id id;
        if (!settings_block_find(it.key(), &id)) {
            error = "blocks." + it.key() + " is not a block of settings this tool knows";
            return false;
        }
    }
    if (!f.finish()) {
        error = f.error;
        return false;
    }
    file.blocks = *blocks;
    out = std::move(file);
    return true;
}

bool backup_plan(const backup_file& file, const instrument_snapshot& instrument, std::vector<restore_block>& out,
                 std::string& error) {
    std::vector<restore_block> plan;
    for (int i = 0; i < SETTINGS_BLOCK_COUNT; ++i) {
        restore_block b;
        b.id = settings_block_id(i);
        b.current = instrument.blocks[i];
        b.wanted = b.current;
        b.identity = b.id == BLOCK_IDENTIFICATION;
        const char* name = settings_block_name(b.id);
        const auto it = file.blocks.find(name);
        if (it != file.blocks.end()) {
            b.in_file = true;
            if (!settings_block_apply(*it, b.current, b.wanted, false, error, std::string("blocks.") + name))
                return false;
            b.changes = settings_block_changes(b.current, b.wanted);
            b.needs_factory = settings_block_needs_factory(b.current, b.wanted);
        }
        plan.push_back(std::move(b));
    }
    out = std::move(plan);
    return true;
}

bool backup_block_chosen(const restore_block& b, bool identity) {
    return b.in_file && !b.changes.empty() && (!b.identity || identity);
}

bool backup_any_chosen(const std::vector<restore_block>& plan, bool identity) {
    for (const restore_block& b : plan)
        if (backup_block_chosen(b, identity)) return true;
    return false;
}

bool backup_needs_factory(const std::vector<restore_block>& plan, bool identity) {
    for (const restore_block& b : plan)
        if (backup_block_chosen(b, identity) && b.needs_factory) return true;
    return false;
}

bool backup_other_type(const backup_file& file, const instrument_snapshot& instrument) {
    return file.has_type && file.type_code != firmware_info_type(instrument.fw);
}

settings_write_result backup_restore_block(const restore_block& block, bool factory_allowed) {
    return settings_block_write(block.current, block.wanted, factory_allowed);
}

std::string settings_write_text(const settings_write_result& w, const settings_block& wanted) {
    if (w.code == 0) return "written and read back";
    if (w.code == SETTINGS_READ_BACK_DIFFERS) {
        std::string text = "saved, but the instrument holds other values";
        if (w.read_back) {
            const char* separator = ": ";
            for (const field_change& c : settings_block_changes(wanted, w.stored)) {
                text += separator + c.field + " sent " + c.old_text + ", holds " + c.new_text;
                separator = "; ";
            }
        }
        return text;
    }
    if (w.code == SETTINGS_NEEDS_FACTORY) return "the board serial is a factory setting: it needs the maintenance password";
    if (w.code == SETTINGS_NOT_A_BLOCK) return "not a block of this kind";
    const std::string step = std::strcmp(w.step, "read-back") == 0 ? " while reading it back" : "";
    if (w.code == ERR_LINK_FAILED) return "no answer from the instrument" + step + " (link failure: was it unplugged?)";
    if (w.code == ERR_SHORT_RESPONSE) return "the instrument's answer was too short" + step;
    return "the instrument refused" + step + text_printf(" (result code %d)", w.code);
}
