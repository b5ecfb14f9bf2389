#include "instrument/sim_faults.h"

#include "link/commands.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <string>

namespace {

const char* const READING_NAMES[SIM_READING_COUNT] = {"supply voltage", "board temperature", "humidity",
                                                      "flow volume", "max pressure"};

// "CMD_GET_STATUS (0x0127)", "0x0199" for a code without a name, "Any command" for 0.
std::string command_text(uint16_t code) {
    char text[48];
    if (code == 0) return "Any command";
    if (const char* name = sim_command_name(code)) std::snprintf(text, sizeof text, "%s (0x%04X)", name, unsigned(code));
    else std::snprintf(text, sizeof text, "0x%04X", unsigned(code));
    return text;
}

// "next answer" or "next 3 answers".
std::string next(int count, const char* one, const char* many) {
    char text[48];
    if (count == 1) std::snprintf(text, sizeof text, "next %s", one);
    else std::snprintf(text, sizeof text, "next %d %s", count, many);
    return text;
}

}  // namespace

bool sim_fault::in_force() const {
    switch (kind) {
        case sim_fault_kind::force:
        case sim_fault_kind::silence:
        case sim_fault_kind::never_answer:
        case sim_fault_kind::stall_writes:
        case sim_fault_kind::refuse_block:
        case sim_fault_kind::ignore_motor_config:
        case sim_fault_kind::reading:
            return true;
        default:
            return false;
    }
}

const char* sim_reading_name(sim_reading reading) {
    return reading < SIM_READING_COUNT ? READING_NAMES[reading] : "reading";
}

std::span<const sim_command_entry> sim_command_names() { return command_table(); }

const char* sim_command_name(uint16_t code) { return command_name(code); }

void sim_fault_text(const sim_fault& f, char* out, size_t size) {
    if (size == 0) return;
    const std::string who = command_text(f.command);
    std::string what;
    char text[160];
    switch (f.kind) {
        case sim_fault_kind::drop:
            what = next(f.count, "answer dropped", "answers dropped");
            break;
        case sim_fault_kind::delay:
            std::snprintf(text, sizeof text, "next answer %u ms late", unsigned(f.value));
            what = text;
            break;
        case sim_fault_kind::refuse:
            std::snprintf(text, sizeof text, "%s with result %u", next(f.count, "request refused", "requests refused").c_str(),
                          unsigned(f.value));
            what = text;
            if (f.after > 0) {
                std::snprintf(text, sizeof text, ", after %d answered normally", f.after);
                what += text;
            }
            break;
        case sim_fault_kind::force:
            std::snprintf(text, sizeof text, "every request refused with result %u", unsigned(f.value));
            what = text;
            break;
        case sim_fault_kind::silence:
        case sim_fault_kind::never_answer:
            what = "never answered";
            break;
        case sim_fault_kind::wrong_sequence:
            what = next(f.count, "answer with a wrong sequence number", "answers with a wrong sequence number");
            break;
        case sim_fault_kind::unplug:
            what = "unplugged at the next request";
            break;
        case sim_fault_kind::stall_writes:
            what = "writes stall";
            break;
        case sim_fault_kind::refuse_block:
            std::snprintf(text, sizeof text, "image block %u refused", unsigned(f.value));
            what = text;
            break;
        case sim_fault_kind::task_counts:
            what = "next reads answer";
            for (size_t i = 0; i < f.answers.size(); ++i) {
                std::snprintf(text, sizeof text, "%s %u", i ? "," : "", unsigned(f.answers[i]));
                what += text;
            }
            break;
        case sim_fault_kind::ignore_motor_config:
            what = "writes acknowledged and ignored";
            break;
        case sim_fault_kind::reading:
            if (std::isnan(f.reading)) std::snprintf(text, sizeof text, "%s answered as NaN", sim_reading_name(sim_reading(f.value)));
            else std::snprintf(text, sizeof text, "%s answered as %g", sim_reading_name(sim_reading(f.value)), double(f.reading));
            what = text;
            break;
    }
    std::snprintf(out, size, "%s: %s", who.c_str(), what.c_str());
}
