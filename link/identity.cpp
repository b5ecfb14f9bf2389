#include "link/identity.h"

#include "link/bytes.h"
#include "link/command_frame.h"
#include "link/commands.h"
#include "link/link.h"

#include <cstdio>
#include <cstring>

namespace {

struct device_type {
    uint16_t code;
    const char* name;
};

// Product types by code. The demonstration unit was re-coded once, so two codes share its name.
constexpr device_type DEVICE_TYPES[DEVICE_TYPE_COUNT] = {
    {1100, "Cartridge Sampler"},      {1101, "Cartridge Sampler Mk II"},
    {1102, "Cartridge Sampler XL"},   {1110, "Twin Cartridge Sampler"},
    {1120, "Vehicle Sampler"},        {1121, "Vehicle Sampler Deep"},
    {1130, "Mooring Sampler"},        {1131, "Mooring Sampler LT"},
    {1140, "Buoy Sampler"},           {1150, "Profiling Sampler"},
    {1160, "Drift Sampler"},          {1170, "Benchtop Sampler"},
    {1180, "Flow-Through Sampler"},   {1190, "Sediment Trap Sampler"},
    {1200, "Borehole Sampler"},       {1210, "Stream Sampler"},
    {1220, "Meltwater Sampler"},      {1230, "Ballast Water Sampler"},
    {1240, "Outfall Sampler"},        {1250, "Reservoir Sampler"},
    {1260, "Estuary Sampler"},        {1270, "Plankton Filter Sampler"},
    {1280, "eDNA Filter Sampler"},    {1290, "Microplastics Filtration Sampler"},
    {1300, "Trace Metal Sampler"},    {1310, "Nutrient Sampler"},
    {1320, "Hydrocarbon Sampler"},    {1330, "Radionuclide Sampler"},
    {1340, "Filter Test Rig"},        {1350, "Service Bench Unit"},
    {1360, "Demonstration Unit"},     {1361, "Demonstration Unit"},
};

// Device kinds 1-12 of the older identity block.
constexpr uint16_t KIND_CODES[12] = {1100, 1101, 1102, 1110, 1120, 1121, 1130, 1131, 1140, 1150, 1160, 1170};

}  // namespace

void device_info_name(const device_info& info, char out[SENSOR_NAME_MAX + 1]) {
    get_text_field(info.bytes + DEVICE_INFO_NAME, SENSOR_NAME_MAX, out, SENSOR_NAME_MAX + 1);
}
uint16_t device_info_serial(const device_info& info) { return get_u16le(info.bytes + DEVICE_INFO_SERIAL); }
uint16_t device_info_board_serial(const device_info& info) {
    return get_u16le(info.bytes + DEVICE_INFO_BOARD_SERIAL);
}
uint8_t firmware_info_mode(const firmware_info& info) { return info.bytes[1]; }
uint16_t firmware_info_type(const firmware_info& info) { return get_u16le(info.bytes + 2); }
uint8_t firmware_info_bootloader_version(const firmware_info& info) { return info.bytes[4]; }

namespace {

constexpr size_t LEGACY_BLOCK_SIZE = 27;

// The older identity block: 0 and the block in f, RESULT_UNSUPPORTED when the exchange fails at
// the link or the block comes back short (never taken for the instrument's bytes), otherwise
// the instrument's result.
int read_legacy_block(command_frame& f) {
    frame_prepare(f, CMD_GET_INFO_LEGACY, 0);
    const int r = command_read(f, LEGACY_BLOCK_SIZE);
    return r == ERR_LINK_FAILED || r == ERR_SHORT_RESPONSE ? int(RESULT_UNSUPPORTED) : r;
}

}  // namespace

int identity_get_device_info(device_info& out) {
    command_frame f;
    frame_prepare(f, CMD_GET_DEVICE_INFO, 0);
    const int result = command_read(f, DEVICE_INFO_SIZE);
    if (result == 0) {
        std::memcpy(out.bytes, frame_payload(f), DEVICE_INFO_SIZE);
        return 0;
    }
    if (result != RESULT_UNSUPPORTED) return result;

    if (read_legacy_block(f) != 0) return RESULT_UNSUPPORTED;
    const uint8_t* p = frame_payload(f);
    device_info converted{};
    std::memcpy(converted.bytes, p, LEGACY_BLOCK_SIZE);
    if (p[0] == 0) put_u16le(converted.bytes + DEVICE_INFO_SERIAL, 0);  // serial not set
    put_u16le(converted.bytes, 3);
    converted.bytes[23] = 0;
    converted.bytes[26] = 0;
    put_u16le(converted.bytes + DEVICE_INFO_BOARD_SERIAL, 0);
    out = converted;
    return 0;
}

int identity_set_device_info(const device_info& info) {
    command_frame f;
    frame_prepare(f, CMD_SET_DEVICE_INFO, DEVICE_INFO_SIZE);
    std::memcpy(frame_payload(f), info.bytes, DEVICE_INFO_SIZE);
    if (link_transact(f) != LINK_OK) return ERR_LINK_FAILED;
    if (frame_result(f) != RESULT_UNSUPPORTED) return frame_result(f);

    // The older block also carries the instrument's mode, device kind and bootloader version,
    // which a record converted from it holds as 0: writing those back would leave an unknown
    // device. They are taken from the block as it stands now, and nothing is written when it
    // cannot be read.
    const int read = read_legacy_block(f);
    if (read != 0) return read;
    uint8_t kept[LEGACY_BLOCK_SIZE];
    std::memcpy(kept, frame_payload(f), LEGACY_BLOCK_SIZE);

    frame_prepare(f, CMD_SET_INFO_LEGACY, uint8_t(LEGACY_BLOCK_SIZE));
    uint8_t* p = frame_payload(f);
    std::memcpy(p, info.bytes, LEGACY_BLOCK_SIZE);
    p[0] = 1;
    p[1] = kept[1];    // mode
    p[23] = kept[23];  // device kind
    p[26] = kept[26];  // bootloader version
    if (link_transact(f) != LINK_OK) return RESULT_UNSUPPORTED;
    return frame_result(f);
}

int identity_get_firmware_info(firmware_info& out) {
    command_frame f;
    frame_prepare(f, CMD_GET_FIRMWARE_INFO, 0);
    const int result = command_read(f, FIRMWARE_INFO_SIZE);
    if (result == 0) {
        std::memcpy(out.bytes, frame_payload(f), FIRMWARE_INFO_SIZE);
        return 0;
    }
    if (result != RESULT_UNSUPPORTED) return result;

    const int legacy = read_legacy_block(f);
    if (legacy != 0) return legacy;
    const uint8_t* p = frame_payload(f);
    firmware_info converted{};
    converted.bytes[1] = p[1];
    put_u16le(converted.bytes + 2, device_kind_code(p[23]));
    converted.bytes[4] = p[0] != 0 ? p[26] : 0;
    out = converted;
    return 0;
}

int identity_get_version_text(char out[26]) {
    out[0] = '\0';
    command_frame f;
    frame_prepare(f, CMD_GET_VERSION_TEXT, 0);
    const int r = command_exchange(f);
    if (r == 0) get_text_field(frame_payload(f) + 1, 25, out, 26);
    return r;
}

probe_result identity_probe(const char* path, device_info& info, firmware_info& fw) {
    link_close();
    if (link_open(path, LINK_TIMEOUT_LIST_MS) != 0) return probe_result::unreachable;
    int a = identity_get_device_info(info);
    if (a != 0) a = identity_get_device_info(info);
    int b = identity_get_firmware_info(fw);
    if (b != 0) b = identity_get_firmware_info(fw);
    link_close();
    return a == 0 && b == 0 ? probe_result::identified : probe_result::unidentified;
}

const char* firmware_state_text(const firmware_info& info, char out[20]) {
    if (firmware_info_mode(info) == FIRMWARE_MODE_BOOTLOADER)
        std::snprintf(out, 20, "Bootloader (v%u)", unsigned(firmware_info_bootloader_version(info)));
    else
        std::snprintf(out, 20, "Firmware");
    return out;
}

const char* device_type_text(uint32_t code) {
    thread_local char text[40];
    const uint16_t key = uint16_t(code & 0xFFFF);
    const char* name = "Unknown Device";
    for (const device_type& t : DEVICE_TYPES) {
        if (t.code == key) {
            name = t.name;
            break;
        }
    }
    std::snprintf(text, sizeof text, "A%04u %s", unsigned(key), name);
    return text;
}

uint16_t device_kind_code(uint8_t kind) { return kind >= 1 && kind <= 12 ? KIND_CODES[kind - 1] : 0; }

uint16_t device_type_code_at(size_t index) { return index < DEVICE_TYPE_COUNT ? DEVICE_TYPES[index].code : 0; }

int identity_start_firmware() {
    command_frame f;
    frame_prepare(f, CMD_START_FIRMWARE, 0);
    return command_exchange(f);
}
