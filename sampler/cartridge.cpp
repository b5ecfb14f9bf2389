#include "sampler/cartridge.h"

#include "link/bytes.h"
#include "link/command_frame.h"
#include "link/commands.h"
#include "link/field_text.h"

#include <cstring>

uint16_t cartridge_id(const cartridge_record& c) { return get_u16le(c.bytes + 2); }
void cartridge_set_id(cartridge_record& c, uint16_t id) { put_u16le(c.bytes + 2, id); }

bool cartridge_id_parse(const std::string& text, uint16_t* id) {
    if (!field_rule_accepts(CARTRIDGE_ID_RULE, text)) return false;
    *id = uint16_t(field_unsigned(text));
    return true;
}

int cartridge_read(cartridge_record& out) {
    command_frame f;
    frame_prepare(f, CMD_GET_CARTRIDGE, 0);
    const int r = command_read(f, CARTRIDGE_RECORD_SIZE);
    if (r == 0) std::memcpy(out.bytes, frame_payload(f), CARTRIDGE_RECORD_SIZE);
    return r;
}

int cartridge_write(const cartridge_record& c) {
    command_frame f;
    frame_prepare(f, CMD_SET_CARTRIDGE, CARTRIDGE_RECORD_SIZE);
    std::memcpy(frame_payload(f), c.bytes, CARTRIDGE_RECORD_SIZE);
    return command_exchange(f);
}

int cartridge_reset_id(uint16_t id) {
    cartridge_record now;
    if (const int r = cartridge_read(now); r != 0) return r;
    cartridge_set_id(now, id);
    return cartridge_write(now);
}
