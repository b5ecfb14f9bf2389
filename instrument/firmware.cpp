#include "instrument/firmware.h"

#include "link/bytes.h"
#include "link/commands.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

namespace {

void put_name(uint8_t* field, size_t field_len, const std::string& name) {
    std::memset(field, 0, field_len);
    std::memcpy(field, name.data(), std::min(name.size(), field_len));
}

std::string take_name(const uint8_t* field, size_t field_len) {
    size_t n = 0;
    while (n < field_len && field[n] != 0) ++n;
    return std::string(reinterpret_cast<const char*>(field), n);
}

// The version an installed firmware image reports: the text after "FWVER:" in the image, or
// its checksum.
std::string image_version(const std::vector<uint8_t>& image, uint32_t crc) {
    static const char marker[] = "FWVER:";
    auto it = std::search(image.begin(), image.end(), marker, marker + 6);
    if (it != image.end()) {
        std::string v;
        for (it += 6; it != image.end() && v.size() < 20 && *it >= 0x20 && *it < 0x7F; ++it) v.push_back(char(*it));
        if (!v.empty()) return v;
    }
    char text[26];
    std::snprintf(text, sizeof text, "build %08X", crc);
    return text;
}

}  // namespace

uint32_t sim_crc32(const uint8_t* data, size_t size) {
    uint32_t crc = 0xFFFFFFFFu;
    for (size_t i = 0; i < size; ++i) {
        crc ^= data[i];
        for (int k = 0; k < 8; ++k) crc = (crc >> 1) ^ (0xEDB88320u & (0u - (crc & 1u)));
    }
    return ~crc;
}

bool sim_expect_length(const sim_request& rq, uint8_t length, sim_answer& an) {
    if (rq.length == length) return true;
    an.result = SIM_RESULT_BAD_LENGTH;
    return false;
}

namespace {

// What the bootloader answers: identity, firmware start and image writing (0x0100-0x0106).
bool bootloader_command(uint16_t code) { return code >= CMD_GET_INFO_LEGACY && code <= CMD_GET_FIRMWARE_INFO; }

bool (*const HANDLERS[])(sim_firmware&, const sim_request&, sim_answer&) = {
    sim_identity_handle, sim_sampler_handle, sim_schedule_handle, sim_motor_handle, sim_settings_handle, sim_diag_handle,
};

}  // namespace

bool sim_firmware::handle(const command_frame& request, command_frame& response) {
    const uint16_t code = frame_code(request);
    if (silent_commands.count(code)) return false;
    std::memset(response.bytes, 0, FRAME_SIZE);
    response.bytes[FRAME_REPORT_ID] = request.bytes[FRAME_REPORT_ID];
    put_u16le(response.bytes + FRAME_CODE, code);
    response.bytes[FRAME_SEQUENCE] = request.bytes[FRAME_SEQUENCE];

    // A forced result is a refusal: the command does not take effect.
    if (auto it = forced_results.find(code); it != forced_results.end()) {
        response.bytes[FRAME_RESULT] = uint8_t(it->second);
        response.bytes[FRAME_LENGTH] = 0;
        return true;
    }

    const sim_request rq{code, frame_payload(request), request.bytes[FRAME_LENGTH], now_ms};
    sim_answer an{frame_payload(response)};
    bool handled = false;
    if (mode != sim_mode::bootloader || bootloader_command(code)) {
        for (auto* handler : HANDLERS) {
            if ((handled = handler(*this, rq, an))) break;
        }
    }
    if (!handled) {
        an.result = RESULT_UNSUPPORTED;
        an.length = 0;
    }
    sim_diag_after_request(*this, now_ms);
    response.bytes[FRAME_RESULT] = an.result;
    response.bytes[FRAME_LENGTH] = an.length;
    return true;
}

void sim_firmware::powered_up(uint64_t now) {
    now_ms = now;
    sim_schedule_powered_up(*this, now);
    sim_diag_powered_up(*this, now);
}

bool sim_identity_handle(sim_firmware& fw, const sim_request& rq, sim_answer& an) {
    const uint8_t* in = rq.in;
    uint8_t* out = an.out;
    sim_identity& identity = fw.identity;
    const bool boot = fw.mode == sim_mode::bootloader;
    switch (rq.code) {
        case CMD_GET_DEVICE_INFO: {
            if (fw.older_firmware) { an.result = RESULT_UNSUPPORTED; break; }
            std::memcpy(out, identity.info_record.data(), 29);
            out[0] = fw.info_format;
            // The name as stored, tail included, unless the instrument has been renamed since.
            // A name stored longer than its 20 bytes (by another program) runs on into byte 22,
            // where the terminator belongs.
            if (take_name(out + 2, 20) != identity.name.substr(0, 20)) put_name(out + 2, 20, identity.name);
            out[22] = identity.name.size() > 20 ? uint8_t(identity.name[20]) : 0;
            put_u16le(out + 24, identity.serial);
            put_u16le(out + 27, identity.board_serial);
            an.length = std::min<uint8_t>(identity.info_answer_length, 29);
            break;
        }
        case CMD_SET_DEVICE_INFO:
            if (fw.older_firmware) { an.result = RESULT_UNSUPPORTED; break; }
            if (!sim_expect_length(rq, 29, an)) break;
            std::memcpy(identity.info_record.data(), in, 29);
            fw.info_format = in[0];
            identity.name = take_name(in + 2, 20);
            identity.serial = get_u16le(in + 24);
            identity.board_serial = get_u16le(in + 27);
            identity.serial_set = true;
            break;
        case CMD_GET_FIRMWARE_INFO:
            if (fw.older_firmware) { an.result = RESULT_UNSUPPORTED; break; }
            out[0] = 1;
            out[1] = uint8_t(fw.mode);
            put_u16le(out + 2, identity.type_code);
            out[4] = identity.bootloader_version;
            an.length = 5;
            break;
        case CMD_GET_INFO_LEGACY:
            out[0] = identity.serial_set ? 1 : 0;
            out[1] = uint8_t(fw.mode);
            put_name(out + 2, 21, identity.name);  // 21 bytes, with no NUL left for a longer name
            out[23] = identity.kind;
            put_u16le(out + 24, identity.serial_set ? identity.serial : 0xFFFF);
            out[26] = identity.serial_set ? identity.bootloader_version : 0xFF;
            an.length = 27;
            break;
        case CMD_SET_INFO_LEGACY:
            // The older block is stored as written: the set flag, the name, the serial number,
            // and also the device kind and bootloader version it carries. Zeros written there
            // turn the instrument into an unknown device. The mode byte is what runs, not
            // something stored.
            if (!sim_expect_length(rq, 27, an)) break;
            identity.serial_set = in[0] != 0;
            identity.name = take_name(in + 2, 20);
            identity.kind = in[23];
            identity.serial = get_u16le(in + 24);
            identity.bootloader_version = in[26];
            break;
        case CMD_GET_VERSION_TEXT:
            put_name(out + 1, 25, identity.version_text);
            an.length = 26;
            break;
        case CMD_WRITE_IMAGE_BLOCK: {
            // The bootloader takes firmware images (base 40960); firmware that allows it takes
            // bootloader images (base 0).
            const uint32_t expected_base = boot ? 40960u : 0u;
            if (!boot && fw.mode != sim_mode::firmware_bootloader_upgrade) { an.result = RESULT_UNSUPPORTED; break; }
            const uint32_t index = get_u32le(in + 1), count = get_u32le(in + 5), base = get_u32le(in + 73);
            ++fw.blocks_received;
            if (in[0] != 1 || base != expected_base || count > 64) { an.result = 5; break; }
            if (fw.refuse_block >= 0 && index == uint32_t(fw.refuse_block)) { an.result = 6; break; }
            if (index == 0) {  // a new image: whatever came before is dropped
                fw.image_in_progress.clear();
                fw.next_block = 0;
            }
            if (index != fw.next_block) { an.result = 7; break; }  // out of order or a gap
            if (count == 0) {
                (boot ? fw.installed_firmware : fw.installed_bootloader) = fw.image_in_progress;
                fw.installed_crc = sim_crc32(fw.image_in_progress.data(), fw.image_in_progress.size());
                if (boot) identity.version_text = image_version(fw.image_in_progress, fw.installed_crc);
                fw.image_in_progress.clear();
                fw.next_block = 0;
                break;
            }
            fw.image_in_progress.insert(fw.image_in_progress.end(), in + 9, in + 9 + count);
            ++fw.next_block;
            break;
        }
        case CMD_START_FIRMWARE:
            if (boot) fw.reenumerate_requested = true;
            break;
        default:
            return false;
    }
    return true;
}
