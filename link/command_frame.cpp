#include "link/command_frame.h"

#include "link/bytes.h"
#include "link/link.h"

#include <cstring>

void frame_prepare(command_frame& f, uint16_t code, uint8_t length) {
    std::memset(f.bytes, 0, sizeof f.bytes);
    put_u16le(f.bytes + FRAME_CODE, code);
    f.bytes[FRAME_LENGTH] = length;
}

uint16_t frame_code(const command_frame& f) { return get_u16le(f.bytes + FRAME_CODE); }

int command_exchange(command_frame& f) {
    if (link_transact(f) != LINK_OK) return ERR_LINK_FAILED;
    return frame_result(f);
}

int command_read(command_frame& f, size_t size) {
    const int r = command_exchange(f);
    if (r == 0 && f.bytes[FRAME_LENGTH] < size) return ERR_SHORT_RESPONSE;
    return r;
}
