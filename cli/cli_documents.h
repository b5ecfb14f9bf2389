// The JSON documents of the command line's reading commands, made from the records as the
// instrument sent them (no I/O here: what `--json` prints, and what the fuzz targets feed with
// arbitrary bytes). Their layout is docs/json.md; every document carries "format": 1.
#pragma once

#include "backup/json_io.h"
#include "cli/cli_instruments.h"
#include "maintenance/diagnostics.h"
#include "sampler/clock.h"
#include "sampler/run_status.h"
#include "sampler/sample_log.h"

#include <vector>

// One entry of `list`.
json cli_instrument_json(const cli_instrument& one, bool accessible = true);
// `list`: the instruments that were opened, then those this user may not open.
json cli_list_json(const std::vector<cli_instrument>& all, const std::vector<std::string>& denied);
// `info`: version is nullptr when the instrument has no version text.
json cli_info_json(const cli_instrument& one, const char* version);
json cli_status_json(const status_record& s);
json cli_sample_log_json(const std::vector<sample_log_record>& records);
json cli_diag_log_json(const std::vector<log_record>& records);
json cli_clock_json(const clock_time& c);
