// Every setting the instrument stores, block by block, as JSON: read a block, show it as fields,
// take fields from a document over what the instrument holds, and write it back through the
// feature cores with their limits and a read-back check. The command line's `settings` and
// `schedule` commands, its backup and restore, and the settings export and import of the
// windows all go through here.
#pragma once

#include "backup/json_io.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

enum settings_block_id : int {
    BLOCK_FLOW_METER,
    BLOCK_CLEANING,
    BLOCK_RS232,
    BLOCK_IDENTIFICATION,  // name, sensor serial and (a factory setting) the board serial
    BLOCK_MOTORS,          // all five motors
    BLOCK_PRESSURE,        // the pressure sensor's calibration
    BLOCK_SCHEDULE,
};
constexpr int SETTINGS_BLOCK_COUNT = 7;

// "flow-meter", "cleaning", "rs232", "identification", "motors", "pressure", "schedule".
const char* settings_block_name(settings_block_id id);
// The block as a window names it ("Flow Meter", "Stabilization & Cleaning", ...).
const char* settings_block_title(settings_block_id id);
// The bytes a block's records take (the motors' five records together).
size_t settings_block_size(settings_block_id id);
bool settings_block_find(std::string_view name, settings_block_id* out);

// A block as the instrument holds it: its record's bytes (the motors' five records one after
// another).
struct settings_block {
    settings_block_id id = BLOCK_FLOW_METER;
    std::vector<uint8_t> bytes;
};
bool operator==(const settings_block& a, const settings_block& b);

// Reads a block: 0, or the failure of the first read that failed (ERR_LINK_FAILED, the
// instrument's result, ERR_SHORT_RESPONSE); out is untouched on failure.
int settings_block_read(settings_block_id id, settings_block& out);

// The block's fields (the form `settings get BLOCK --json` shows inside its document).
json settings_block_fields(const settings_block& block);
// The document of one block: {"format": 1, "block": name, fields...}.
json settings_block_document(const settings_block& block);

// Takes the fields of `fields` over `current` into `out`. Fields left out keep what the
// instrument holds; a field that changes must be of its type and in its window's range (a
// value equal to the stored one goes back unchanged, whatever it is). With `document`, the
// object may also carry "format" (1) and "block" (this block's name). False and a message
// naming the field otherwise; nothing is sent by this.
bool settings_block_apply(const json& fields, const settings_block& current, settings_block& out, bool document,
                          std::string& error, const std::string& path = "");

// One field whose text differs, old -> new ("motors[2].speed_percent", "50", "60").
struct field_change {
    std::string field, old_text, new_text;
};
std::vector<field_change> settings_block_changes(const settings_block& before, const settings_block& after);

// Whether writing `wanted` over `current` changes the board serial, a factory setting.
bool settings_block_needs_factory(const settings_block& current, const settings_block& wanted);

// Outcome of a write, besides 0, ERR_LINK_FAILED and the instrument's results.
constexpr int SETTINGS_READ_BACK_DIFFERS = -10;  // written, but the instrument holds something else
constexpr int SETTINGS_NEEDS_FACTORY = -11;      // the board serial changes and that was not allowed
constexpr int SETTINGS_NOT_A_BLOCK = -12;        // the two blocks are not of one kind and size
struct settings_write_result {
    int code = 0;
    const char* step = "";  // "write" or "read-back": where a failure happened
    bool read_back = false;  // `stored` holds what the instrument holds afterwards
    settings_block stored;
};
// Writes `wanted` (made by settings_block_apply over `current`) as the block's window saves it,
// then reads it back and compares the fields. Motors are written one by one, and only those
// that change. A board serial that changes is written only with `factory_allowed` (the
// maintenance password was given), through the factory settings' own save.
settings_write_result settings_block_write(const settings_block& current, const settings_block& wanted,
                                           bool factory_allowed);
