// The faults of the virtual instrument as a list: what is pending (the next answer of a command
// dropped, late or refused) and what is in force until cleared (forced results, silence,
// readings answered as set), for the instrument panel and for tests. Also the command codes by
// their names, so a fault can be aimed at a command the operator picks by name.
#pragma once

#include "instrument/sampler_model.h"
#include "link/commands.h"

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

enum class sim_fault_kind : uint8_t {
    // Aimed at one command, or at whatever command comes next when `command` is 0.
    drop,            // the next `count` answers are lost (the requests take effect)
    delay,           // the next answer comes `value` ms late
    refuse,          // the next `count` requests are refused with result `value`, without effect,
                     // after `after` of them have been answered normally
    force,           // in force: every request is refused with result `value`, without effect
    silence,         // in force: requests get no answer at all
    // The link as a whole.
    wrong_sequence,  // the next `count` answers carry a wrong sequence number
    never_answer,    // in force: no request is answered
    unplug,          // the instrument leaves the bus at the next request
    stall_writes,    // in force: a write blocks like a wedged device
    // One subsystem's.
    refuse_block,    // in force: image block `value` is refused (CMD_WRITE_IMAGE_BLOCK)
    task_counts,     // the next CMD_GET_TASK_COUNT reads answer `answers`, oldest first
    ignore_motor_config,  // in force: motor configuration writes are acknowledged and ignored
    reading,         // in force: status reading `value` (sim_reading) is answered as `reading`
};

struct sim_fault {
    sim_fault_kind kind;
    uint16_t command = 0;  // 0: any command
    uint32_t value = 0;
    int count = 0;
    int after = 0;
    std::vector<uint8_t> answers;  // task_counts
    float reading = 0;             // reading

    // Lasts until cleared, rather than being used up by the answers it spoils.
    bool in_force() const;
};

// "supply voltage", "humidity", ...
const char* sim_reading_name(sim_reading reading);

using sim_command_entry = command_entry;  // name: the constant's name in link/commands.h
// Every command code the tool sends, in code order.
std::span<const sim_command_entry> sim_command_names();
// The name of a code, or nullptr for a code the tool does not send.
const char* sim_command_name(uint16_t code);

// One line for the panel: "CMD_GET_STATUS (0x0127): next answer dropped". Cut to fit `size`.
void sim_fault_text(const sim_fault& fault, char* out, size_t size);
