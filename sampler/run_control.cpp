#include "sampler/run_control.h"

#include "link/bytes.h"
#include "link/command_frame.h"
#include "link/commands.h"
#include "platform/pc_clock.h"

#include <cstring>

namespace {

int bare(uint16_t code) {
    command_frame f;
    frame_prepare(f, code, 0);
    return command_exchange(f);
}

}  // namespace

int run_start(const run_settings& settings) {
    run_settings s = settings;
    put_u32le(s.bytes + 6, pc_clock_utc_seconds());
    command_frame f;
    frame_prepare(f, CMD_START_RUN, RUN_SETTINGS_SIZE);
    std::memcpy(frame_payload(f), s.bytes, RUN_SETTINGS_SIZE);
    return command_exchange(f);
}

int run_schedule_start() { return bare(CMD_START_SCHEDULE); }
int run_schedule_stop() { return bare(CMD_STOP_SCHEDULE); }
int run_stop() { return bare(CMD_STOP_RUN); }
int sample_log_clear() { return bare(CMD_CLEAR_SAMPLE_LOG); }

run_stop_kind run_stop_choice(const status_record& s) {
    if (status_control(s) == SCHEDULE_CONTROL) return run_stop_kind::schedule;
    return run_enable_rules(s, 0).stop ? run_stop_kind::run : run_stop_kind::none;
}

bool run_start_ready(const status_record& s) { return run_enable_rules(s, 0).start; }
