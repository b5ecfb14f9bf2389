// The instrument's firmware as the tool sees it: answers command frames with plausible state.
//
// Not thread-safe by itself: the simulated bus serialises every call under its device lock.
#pragma once

#include "instrument/sampler_model.h"
#include "link/command_frame.h"

#include <cstdint>
#include <map>
#include <set>
#include <vector>
#include <string>

struct sim_identity {
    std::string name = "SAMPLER-01";   // at most 20 characters are sent
    uint16_t serial = 1234;
    uint16_t board_serial = 5678;
    uint16_t type_code = 1100;         // product type, see device_type_text
    uint8_t kind = 1;                  // the same type as an older-firmware device kind
    uint8_t bootloader_version = 3;
    bool serial_set = true;            // older identity block: byte 0
    std::string version_text = "2.4.1 (sim)";
};

// The firmware mode byte. The tool reads 0 as "not identified", so running firmware reports a
// value other than 0, 1 and 2.
enum class sim_mode : uint8_t {
    firmware = 3,
    bootloader = 1,               // the bootloader runs
    firmware_bootloader_upgrade = 2,  // firmware that allows a bootloader upgrade
};

uint32_t sim_crc32(const uint8_t* data, size_t size);

struct sim_firmware {
    sim_identity identity;
    sim_mode mode = sim_mode::firmware;
    sim_mode mode_after_start = sim_mode::firmware;  // what CMD_START_FIRMWARE comes back as
    bool older_firmware = false;  // answers 9 to the current identity commands
    uint8_t info_format = 2;      // byte 0 of device_info as stored
    std::map<uint16_t, int> forced_results;  // command -> result byte (fault injection)
    std::set<uint16_t> silent_commands;       // commands that get no answer at all

    sim_sampler sampler;

    // The bootloader: image blocks are assembled in order and installed by the end block.
    std::vector<uint8_t> image_in_progress;
    uint32_t next_block = 0;
    int refuse_block = -1;           // fault injection: refuse the block with this index
    std::vector<uint8_t> installed_firmware;
    std::vector<uint8_t> installed_bootloader;
    uint32_t installed_crc = 0;      // of the last image installed
    uint32_t blocks_received = 0;
    uint64_t now_ms = 0;  // the device's time for the request being handled (set by the bus)

    // Set by the model when the instrument is to leave the bus and come back (start firmware).
    bool reenumerate_requested = false;

    // Fills the response for one request. Returns false when the instrument does not answer.
    bool handle(const command_frame& request, command_frame& response);
};
