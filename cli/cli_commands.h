// The commands of the command line, each on the instrument its session has opened. Each returns
// its exit code after writing its output to out and any error as one line to err.
#pragma once

#include "cli/cli_common.h"

// cli_sampler.cpp
int cli_status(cli_session& s);
int cli_sample_log(cli_session& s);
int cli_sample_log_clear(cli_session& s);
int cli_clock_get(cli_session& s);
int cli_clock_set(cli_session& s);
int cli_schedule_get(cli_session& s);
int cli_schedule_set(cli_session& s);
int cli_run_start(cli_session& s);
int cli_run_stop(cli_session& s);

// cli_maintenance.cpp
int cli_info(cli_session& s);
int cli_diag_log(cli_session& s);
int cli_led(cli_session& s);
int cli_upgrade(cli_session& s);
int cli_boot(cli_session& s);

// cli_settings.cpp
int cli_settings_get(cli_session& s);
int cli_settings_set(cli_session& s);
int cli_backup(cli_session& s);
int cli_restore(cli_session& s);
