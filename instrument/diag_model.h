// The instrument's diagnostic log and its task table with the log filters.
#pragma once

struct sim_diagnostics {};
