// The command line's JSON readers on arbitrary text: `schedule set`, `settings set BLOCK` and
// `restore` read a document over what an instrument holds. Nothing may crash or abort, and
// whatever a reader accepts must be taken back unchanged when it is read again.
#include "backup/backup.h"
#include "fuzz_support.h"

#include <cstddef>
#include <cstdint>
#include <string_view>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    json doc;
    std::string error;
    if (json_parse_object(text, doc, error)) {
        for (const instrument_snapshot* held : {&fuzz_plain_instrument(), &fuzz_odd_instrument()}) {
            for (const settings_block& current : held->blocks) {
                settings_block out;
                if (settings_block_apply(doc, current, out, true, error)) {
                    fuzz_expect_stable(out);
                    (void)settings_block_changes(current, out);
                    (void)json_text(settings_block_document(out));
                }
            }
        }
    }
    backup_file file;
    if (backup_parse(text, file, error)) {
        std::vector<restore_block> plan;
        if (backup_plan(file, fuzz_plain_instrument(), plan, error))
            for (const restore_block& b : plan) fuzz_expect_stable(b.wanted);
    }
    return 0;
}
