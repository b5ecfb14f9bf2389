// Starting and stopping runs and the schedule, and erasing the sample log: the requests of the
// run view's Start, Stop and Clear Log, so the command line sends exactly what the view sends.
#pragma once

#include "sampler/run_settings.h"
#include "sampler/run_status.h"

// Start of a manual run: the record with its start time (bytes 6-9) set to the PC's clock, in
// UTC seconds, as CMD_START_RUN. 0, ERR_LINK_FAILED or the instrument's result.
int run_start(const run_settings& settings);
// CMD_START_SCHEDULE / CMD_STOP_SCHEDULE / CMD_STOP_RUN / CMD_CLEAR_SAMPLE_LOG, each without a
// payload: 0, ERR_LINK_FAILED or the instrument's result.
int run_schedule_start();
int run_schedule_stop();
int run_stop();
int sample_log_clear();

// What Stop sends follows the instrument, not the mode chosen: the schedule's stop while the
// schedule is in control, otherwise the run's. `none` when nothing runs (Stop is disabled then).
enum class run_stop_kind { none, run, schedule };
run_stop_kind run_stop_choice(const status_record& status);

// Start is allowed only on an idle instrument under manual control (the run view's rule).
bool run_start_ready(const status_record& status);

// The messages of the run view's failures.
constexpr const char* RUN_START_FAILED = "Unable to start device - check power supply";
constexpr const char* RUN_SCHEDULE_START_FAILED = "Unable to start schedule - check power supply";
constexpr const char* RUN_STOP_FAILED = "Unable to stop device - turn off the power";
constexpr const char* RUN_SCHEDULE_STOP_FAILED = "Unable to stop schedule - check power supply";
constexpr const char* SAMPLE_LOG_CLEAR_QUESTION = "This will clear the log on the sampler. Do you want to continue?";
constexpr const char* SAMPLE_LOG_CLEAR_FAILED = "Failed to clear log";
