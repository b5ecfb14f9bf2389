// The command line's clock and schedule commands, on the sampler's cores.
#pragma once

#include "cli/cli.h"

#include <string>

struct cli_clock_options {
    bool pc = false;   // clock set --pc: the PC's local time, as the clock dialog sends it
    std::string when;  // clock set "YYYY-MM-DD HH:MM:SS"
};

int cli_clock_get(cli_io& io, bool json);
int cli_clock_set(cli_io& io, const cli_clock_options& o);
// The schedule as the dialog shows it; --json gives the form that `schedule set` reads.
int cli_schedule_get(cli_io& io, bool json);
int cli_schedule_set(cli_io& io, const std::string& file);

// One line on err that names what failed, and the exit code for it (shared by every command).
int cli_failed(cli_io& io, const char* what, int code);
