// Every decoder of the instrument's answers on arbitrary bytes: the records the commands return
// (status, sample log, diagnostic log, clock, identity, tasks, every block of settings), their
// texts and the JSON documents made of them. Nothing may crash or abort, and what `settings get`
// writes of any block, `settings set` must take back as the same settings.
#include "backup/settings_blocks.h"
#include "cli/cli_documents.h"
#include "config/cleaning.h"
#include "config/motor.h"
#include "config/pressure.h"
#include "config/rs232.h"
#include "fuzz_support.h"
#include "maintenance/diagnostics.h"
#include "maintenance/tasks.h"
#include "sampler/schedule.h"

#include <algorithm>
#include <cstring>

namespace {

// Fills a record from the input, cycling through it, starting at the input's `offset`.
template <size_t N>
void fill(uint8_t (&record)[N], const uint8_t* data, size_t size, size_t offset) {
    for (size_t i = 0; i < N; ++i) record[i] = size ? data[(offset + i) % size] : 0;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    size_t at = 0;

    status_record status;
    fill(status.bytes, data, size, at++);
    (void)json_text(cli_status_json(status));
    diag_status_cache cache{}, fresh;
    fill(fresh.bytes, data, size, at++);
    (void)diag_readings_compare(cache, fresh);

    std::vector<sample_log_record> samples(2);
    fill(samples[0].bytes, data, size, at++);
    fill(samples[1].bytes, data, size, at++);
    (void)json_text(cli_sample_log_json(samples));
    const sample_log_row row = sample_log_cells(samples[0]);
    (void)text_table_line(std::vector<std::string>(std::begin(row.cells), std::end(row.cells)));

    std::vector<log_record> logs(1);
    fill(logs[0].bytes, data, size, at++);
    (void)json_text(cli_diag_log_json(logs));
    (void)diag_log_file_text({diag_row_from_record(logs[0])});

    clock_time clock;
    fill(clock.bytes, data, size, at++);
    (void)json_text(cli_clock_json(clock));

    cli_instrument one;
    one.path = "sim:1";
    one.identified = true;
    fill(one.info.bytes, data, size, at++);
    fill(one.fw.bytes, data, size, at++);
    char version[26];
    fill(reinterpret_cast<uint8_t(&)[26]>(version), data, size, at++);
    version[25] = '\0';
    (void)json_text(cli_info_json(one, version));
    (void)json_text(cli_list_json({one}, {"/dev/hidraw9"}));

    task_details task;
    fill(task.bytes, data, size, at++);
    (void)task_row_format(unsigned(at % 17), task);

    // Every block of settings as the instrument may hold it.
    for (int id = 0; id < SETTINGS_BLOCK_COUNT; ++id) {
        settings_block block = fuzz_plain_instrument().blocks[id];
        for (size_t i = 0; i < block.bytes.size(); ++i) block.bytes[i] = size ? data[(at + i) % size] : 0;
        ++at;
        fuzz_expect_round_trip(block);
    }
    pressure_calibration c;
    fill(c.bytes, data, size, at++);
    pressure_point points[PRESSURE_POINTS];
    pressure_points_of(c, points);
    double gain = 0, offset = 0, residual = 0;
    if (pressure_fit(points, &gain, &offset) == 0) (void)pressure_largest_residual(points, gain, offset, &residual);
    char line[64];
    (void)pressure_line_text(line, sizeof line, pressure_gain(c), pressure_offset(c));
    rs232_config rs;
    fill(rs.bytes, data, size, at++);
    bool retired = false;
    (void)rs232_build(rs232_shown_settings(rs, &retired));
    return 0;
}
