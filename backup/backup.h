// A backup of every stored setting of one instrument, and its restore: what a technician makes
// before a repair or uses to set up a replacement. One JSON document holds the instrument's
// identity and firmware version, the tool's version, the time, and every block of
// settings_blocks.h; restoring compares it block by block with what an instrument holds, writes
// only the blocks that differ, and reads each back.
//
// Qt-free, so the command line and the windows (File > Export Settings... / Import Settings...)
// share it: read the instrument, plan against a file (per block the changed fields, old -> new),
// then write the blocks chosen, each with its own outcome.
#pragma once

#include "backup/settings_blocks.h"
#include "link/identity.h"

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

// What a backup records of an instrument.
struct instrument_snapshot {
    device_info info{};
    firmware_info fw{};
    bool has_version = false;
    char version[26] = "";
    settings_block blocks[SETTINGS_BLOCK_COUNT];
};

// Reads identity, version and every block. 0, or the failure of the first read that failed
// (*failed names the block, or -1 for the identity).
int backup_read_instrument(instrument_snapshot& out, int* failed);

// The PC's local time now as ISO 8601 ("2026-12-08T14:30:00"), a backup's `created_local`.
std::string backup_local_time();

// The backup document. `created_utc` is the PC's clock in UTC seconds, `created_local` its
// local time as ISO 8601.
json backup_document(const instrument_snapshot& snapshot, const std::string& tool_version, uint32_t created_utc,
                     const std::string& created_local);
// The text of a backup file made now, by this build of the tool.
std::string backup_file_text(const instrument_snapshot& snapshot);

// A backup as read from a file.
struct backup_file {
    json blocks;            // block name -> fields, for the blocks the file holds
    bool has_type = false;  // the file names the device type it came from
    uint16_t type_code = 0;
    std::string source;     // "NAME (serial N)", for messages
};
// False with a one-line reason when the text is no backup this tool reads.
bool backup_parse(std::string_view text, backup_file& out, std::string& error);

// One block of a restore: what the file asks for, and whether that changes anything.
struct restore_block {
    settings_block_id id = BLOCK_FLOW_METER;
    bool in_file = false;       // the file holds this block
    bool identity = false;      // identification: left alone unless identity is restored too
    bool needs_factory = false; // changes the board serial (maintenance password)
    std::vector<field_change> changes;  // empty: the instrument holds what the file does
    settings_block current, wanted;
};
// Compares the file with what the instrument holds, block by block in the order of
// settings_block_id. False (and why) when a block of the file is not one the tool would write.
bool backup_plan(const backup_file& file, const instrument_snapshot& instrument, std::vector<restore_block>& out,
                 std::string& error);
// Whether a restore writes the block: the file holds it and it differs from what the instrument
// holds; the identification only when `identity` (the identity is restored too).
bool backup_block_chosen(const restore_block& block, bool identity);
bool backup_any_chosen(const std::vector<restore_block>& plan, bool identity);
// Whether a block a restore writes changes the board serial: the maintenance password is needed.
bool backup_needs_factory(const std::vector<restore_block>& plan, bool identity);
// Whether the file comes from another type of instrument than this one.
bool backup_other_type(const backup_file& file, const instrument_snapshot& instrument);

// Writes one block of the plan and reads it back (settings_block_write).
settings_write_result backup_restore_block(const restore_block& block, bool factory_allowed);
// The outcome of writing `wanted` in words, for a message or a table cell: "written and read
// back", or what failed ("saved, but the instrument holds other values: motors[2].speed_percent
// sent 60, holds 50", "no answer from the instrument (link failure)", "the instrument refused
// (result code 4)", ...).
std::string settings_write_text(const settings_write_result& result, const settings_block& wanted);

// The texts of File > Export Settings... and Import Settings....
constexpr const char* BACKUP_EXPORT_CAPTION = "Export Settings";
constexpr const char* BACKUP_IMPORT_CAPTION = "Import Settings";
constexpr const char* BACKUP_FILE_TITLE = "Settings Backup File";
constexpr const char* BACKUP_FILE_FILTER = "Settings Backups (*.json);;All Files (*.*)";
constexpr const char* BACKUP_READ_FAILED = "Can't read the settings from the instrument.";
constexpr const char* BACKUP_NOTHING_TO_CHANGE = "Nothing to change: the instrument holds every setting of the backup.";
constexpr const char* BACKUP_ALL_WRITTEN = "Every block written and read back.";
constexpr const char* BACKUP_NOT_ALL_WRITTEN = "Not every block was written: the list says which and why.";
