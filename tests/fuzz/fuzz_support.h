// What the fuzz targets share: instruments to read documents over, and the property that every
// block of settings shown as JSON is taken back as the same settings.
#pragma once

#include "backup/backup.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

// An instrument whose every stored byte is 0, and one whose every byte is 0xFF (a fresh one).
inline instrument_snapshot make_fuzz_instrument(uint8_t fill) {
    instrument_snapshot s;
    std::memset(s.info.bytes, fill, sizeof s.info.bytes);
    std::memset(s.fw.bytes, fill, sizeof s.fw.bytes);
    for (int i = 0; i < SETTINGS_BLOCK_COUNT; ++i) {
        s.blocks[i].id = settings_block_id(i);
        s.blocks[i].bytes.assign(settings_block_size(settings_block_id(i)), fill);
    }
    return s;
}
inline const instrument_snapshot& fuzz_plain_instrument() {
    static const instrument_snapshot s = make_fuzz_instrument(0);
    return s;
}
inline const instrument_snapshot& fuzz_odd_instrument() {
    static const instrument_snapshot s = make_fuzz_instrument(0xFF);
    return s;
}

// The block's fields as text, read back over the block itself.
inline settings_block fuzz_reread(const settings_block& block) {
    json doc;
    std::string error;
    settings_block out;
    if (!json_parse_object(json_text(settings_block_fields(block)), doc, error) ||
        !settings_block_apply(doc, block, out, false, error)) {
        // What the tool writes of a block, it must read.
        std::fprintf(stderr, "%s: %s\n%s", settings_block_name(block.id), error.c_str(),
                     json_text(settings_block_fields(block)).c_str());
        std::abort();
    }
    return out;
}

// Read back once more, a block the tool made changes nothing.
inline void fuzz_expect_stable(const settings_block& block) {
    if (json_text(settings_block_fields(fuzz_reread(block))) != json_text(settings_block_fields(block))) std::abort();
}

// Whatever an instrument holds: shown and read back, it is the same settings. A schedule is
// saved in use-and-time order, so only its saved form has to stay as it is.
inline void fuzz_expect_round_trip(const settings_block& block) {
    const settings_block back = fuzz_reread(block);
    if (block.id == BLOCK_SCHEDULE) fuzz_expect_stable(back);
    else if (json_text(settings_block_fields(back)) != json_text(settings_block_fields(block))) std::abort();
}
