// The instrument's firmware as the tool sees it: answers command frames with plausible state.
//
// One subsystem per file, each with its state and its handler of the commands it owns:
// identity and the bootloader (firmware.cpp), the sampler with its runs and sample log
// (sampler_model), clock, schedule and cartridge (schedule_model), motors and sensors
// (motor_model), stored settings: configuration blocks, cleaning, RS-232 (settings_model),
// and the diagnostic log and task table (diag_model).
//
// Not thread-safe by itself: the simulated bus serialises every call under its device lock.
#pragma once

#include "instrument/diag_model.h"
#include "instrument/motor_model.h"
#include "instrument/sampler_model.h"
#include "instrument/schedule_model.h"
#include "instrument/settings_model.h"
#include "link/command_frame.h"

#include <array>
#include <cstdint>
#include <map>
#include <set>
#include <string>
#include <vector>

struct sim_identity {
    // Bytes as stored, not necessarily ASCII. Names are written with at most 20 characters; a
    // longer one (left by another program) is answered with its 21st byte where the terminator
    // belongs and no NUL.
    std::string name = "SAMPLER-01";
    uint16_t serial = 1234;
    uint16_t board_serial = 5678;
    uint16_t type_code = 1100;         // product type, see device_type_text
    uint8_t kind = 1;                  // the same type as an older-firmware device kind
    uint8_t bootloader_version = 3;
    bool serial_set = true;            // older identity block: byte 0
    // The device information record as last written, whole: the bytes the tool does not set
    // (1, 23, 26, the name field after its terminator) are answered back as they were written.
    // The name and serial numbers above are what the instrument goes by; where they differ
    // from the record (changed by a test or the panel) they win.
    std::array<uint8_t, 29> info_record{};
    // How many bytes CMD_GET_DEVICE_INFO says it carries (fewer: a firmware that answers short).
    uint8_t info_answer_length = 29;
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

// One request as a subsystem sees it, and the answer it fills.
struct sim_request {
    uint16_t code;
    const uint8_t* in;  // the request's payload (123 bytes)
    uint8_t length;     // the request's payload length byte
    uint64_t now_ms;    // the device's time
};
struct sim_answer {
    uint8_t* out;  // the response's payload, all zero to begin with
    uint8_t length = 0;
    uint8_t result = RESULT_OK;
};

// Result of a request whose length byte is not the command's own: the command is refused.
constexpr uint8_t SIM_RESULT_BAD_LENGTH = 5;
// Checks the request's length byte; refuses the request (and returns false) when it differs.
bool sim_expect_length(const sim_request& rq, uint8_t length, sim_answer& an);

struct sim_firmware {
    sim_identity identity;
    sim_mode mode = sim_mode::firmware;
    sim_mode mode_after_start = sim_mode::firmware;  // what CMD_START_FIRMWARE comes back as
    bool older_firmware = false;  // answers 9 to the current identity commands
    uint8_t info_format = 2;      // byte 0 of device_info as stored
    std::map<uint16_t, int> forced_results;  // command -> result byte (fault injection)
    std::set<uint16_t> silent_commands;       // commands that get no answer at all

    sim_sampler sampler;
    sim_schedule schedule;
    sim_motors motors;
    sim_settings settings;
    sim_diagnostics diag;

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
    // The instrument is powered up: plugged in, or back after a restart.
    void powered_up(uint64_t now_ms);
};

// The handlers, one per subsystem, tried in turn: each returns false for a command that is not
// its own. In bootloader mode only the identity and bootloader commands are answered.
bool sim_identity_handle(sim_firmware& fw, const sim_request& rq, sim_answer& an);
bool sim_sampler_handle(sim_firmware& fw, const sim_request& rq, sim_answer& an);
bool sim_schedule_handle(sim_firmware& fw, const sim_request& rq, sim_answer& an);
bool sim_motor_handle(sim_firmware& fw, const sim_request& rq, sim_answer& an);
bool sim_settings_handle(sim_firmware& fw, const sim_request& rq, sim_answer& an);
bool sim_diag_handle(sim_firmware& fw, const sim_request& rq, sim_answer& an);

// Hooks of the subsystems that keep time of their own.
// After every request (the sampler's events have been produced by then: the diagnostic log
// takes them).
void sim_diag_after_request(sim_firmware& fw, uint64_t now_ms);
// At power-up (after sim_firmware::powered_up has reset what a restart resets).
void sim_schedule_powered_up(sim_firmware& fw, uint64_t now_ms);
void sim_diag_powered_up(sim_firmware& fw, uint64_t now_ms);
