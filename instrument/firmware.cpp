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

bool sim_firmware::handle(const command_frame& request, command_frame& response) {
    const uint16_t code = frame_code(request);
    if (silent_commands.count(code)) return false;
    const uint8_t* in = frame_payload(request);
    std::memset(response.bytes, 0, FRAME_SIZE);
    response.bytes[FRAME_REPORT_ID] = request.bytes[FRAME_REPORT_ID];
    put_u16le(response.bytes + FRAME_CODE, code);
    response.bytes[FRAME_SEQUENCE] = request.bytes[FRAME_SEQUENCE];
    uint8_t* out = frame_payload(response);
    uint8_t result = RESULT_OK;
    uint8_t length = 0;
    const bool boot = mode == sim_mode::bootloader;

    // A forced result is a refusal: the command does not take effect.
    if (auto it = forced_results.find(code); it != forced_results.end()) {
        response.bytes[FRAME_RESULT] = uint8_t(it->second);
        response.bytes[FRAME_LENGTH] = 0;
        return true;
    }

    switch (code) {
        case CMD_GET_DEVICE_INFO:
            if (older_firmware) { result = RESULT_UNSUPPORTED; break; }
            out[0] = info_format;
            out[1] = 0;
            put_name(out + 2, 20, identity.name);
            put_u16le(out + 24, identity.serial);
            put_u16le(out + 27, identity.board_serial);
            length = 29;
            break;
        case CMD_SET_DEVICE_INFO:
            if (older_firmware) { result = RESULT_UNSUPPORTED; break; }
            info_format = in[0];
            identity.name = take_name(in + 2, 20);
            identity.serial = get_u16le(in + 24);
            identity.board_serial = get_u16le(in + 27);
            identity.serial_set = true;
            break;
        case CMD_GET_FIRMWARE_INFO:
            if (older_firmware) { result = RESULT_UNSUPPORTED; break; }
            out[0] = 1;
            out[1] = uint8_t(mode);
            put_u16le(out + 2, identity.type_code);
            out[4] = identity.bootloader_version;
            length = 5;
            break;
        case CMD_GET_INFO_LEGACY:
            out[0] = identity.serial_set ? 1 : 0;
            out[1] = uint8_t(mode);
            put_name(out + 2, 21, identity.name.substr(0, 20));
            out[23] = identity.kind;
            put_u16le(out + 24, identity.serial_set ? identity.serial : 0xFFFF);
            out[26] = identity.serial_set ? identity.bootloader_version : 0xFF;
            length = 27;
            break;
        case CMD_SET_INFO_LEGACY:
            identity.name = take_name(in + 2, 20);
            identity.serial = get_u16le(in + 24);
            identity.serial_set = true;
            break;
        case CMD_GET_VERSION_TEXT:
            if (boot) { result = RESULT_UNSUPPORTED; break; }
            put_name(out + 1, 25, identity.version_text);
            length = 26;
            break;
        case CMD_GET_STATUS:
            if (boot) { result = RESULT_UNSUPPORTED; break; }
            sampler.fill_status(out, now_ms);
            length = 36;
            break;
        case CMD_START_RUN:
            if (boot) { result = RESULT_UNSUPPORTED; break; }
            result = sampler.start_run(in, now_ms);
            break;
        case CMD_STOP_RUN:
            if (boot) { result = RESULT_UNSUPPORTED; break; }
            result = sampler.stop_run(now_ms);
            break;
        case CMD_START_SCHEDULE:
            if (boot) { result = RESULT_UNSUPPORTED; break; }
            result = sampler.start_schedule(now_ms);
            break;
        case CMD_STOP_SCHEDULE:
            if (boot) { result = RESULT_UNSUPPORTED; break; }
            result = sampler.stop_schedule(now_ms);
            break;
        case CMD_READ_SAMPLE_RECORD: {
            if (boot) { result = RESULT_UNSUPPORTED; break; }
            sampler.advance(now_ms);
            const uint16_t index = get_u16le(in);
            if (index >= sampler.log.size()) { result = RESULT_UNSUPPORTED; break; }
            sampler.fill_record(index, out);
            length = 34;
            break;
        }
        case CMD_CLEAR_SAMPLE_LOG:
            if (boot) { result = RESULT_UNSUPPORTED; break; }
            sampler.log.clear();
            break;
        case CMD_WRITE_IMAGE_BLOCK: {
            // The bootloader takes firmware images (base 40960); firmware that allows it takes
            // bootloader images (base 0).
            const uint32_t expected_base = boot ? 40960u : 0u;
            if (!boot && mode != sim_mode::firmware_bootloader_upgrade) { result = RESULT_UNSUPPORTED; break; }
            const uint32_t index = get_u32le(in + 1), count = get_u32le(in + 5), base = get_u32le(in + 73);
            ++blocks_received;
            if (in[0] != 1 || base != expected_base || count > 64) { result = 5; break; }
            if (refuse_block >= 0 && index == uint32_t(refuse_block)) { result = 6; break; }
            if (index == 0) {  // a new image: whatever came before is dropped
                image_in_progress.clear();
                next_block = 0;
            }
            if (index != next_block) { result = 7; break; }  // out of order or a gap
            if (count == 0) {
                (boot ? installed_firmware : installed_bootloader) = image_in_progress;
                installed_crc = sim_crc32(image_in_progress.data(), image_in_progress.size());
                if (boot) identity.version_text = image_version(image_in_progress, installed_crc);
                image_in_progress.clear();
                next_block = 0;
                break;
            }
            image_in_progress.insert(image_in_progress.end(), in + 9, in + 9 + count);
            ++next_block;
            break;
        }
        case CMD_START_FIRMWARE:
            if (boot) reenumerate_requested = true;
            break;
        default:
            result = RESULT_UNSUPPORTED;
            break;
    }
    response.bytes[FRAME_RESULT] = result;
    response.bytes[FRAME_LENGTH] = length;
    return true;
}
