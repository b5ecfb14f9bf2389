// The diagnostic log, task and LED commands against the virtual instrument: the exact bytes the
// tool sends, and the instrument's log, filters and task table that the windows rely on.
#include "link/bytes.h"
#include "maintenance/diagnostics.h"
#include "maintenance/tasks.h"
#include "tests/link/sim_fixture.h"

#include <map>
#include <string>
#include <vector>

namespace {

class DiagCommandsTest : public SimLinkTest {
protected:
    std::shared_ptr<sim_device> open(sim_device_config config = {}) {
        auto dev = plug(config);
        dev->use_stepped_clock(true);
        EXPECT_EQ(link_open(dev->path().c_str(), 500), 0);
        return dev;
    }
    // Everything the instrument hands out now, oldest first.
    static std::vector<diag_row> drain() {
        std::vector<diag_row> rows;
        log_record r;
        while (diag_log_read(r) == 0) rows.push_back(diag_row_from_record(r));
        return rows;
    }
    static std::vector<uint8_t> payload(const command_frame& f) {
        return {f.bytes + FRAME_PAYLOAD, f.bytes + FRAME_PAYLOAD + f.bytes[FRAME_LENGTH]};
    }
    static int start_run(uint8_t cartridges) {
        command_frame f;
        frame_prepare(f, CMD_START_RUN, 10);
        const uint8_t settings[10] = {0, 1, cartridges, 10, 0, 0};
        std::memcpy(frame_payload(f), settings, sizeof settings);
        return command_exchange(f);
    }
};

TEST_F(DiagCommandsTest, EachCommandSendsItsExactBytes) {
    auto dev = open();
    dev->clear_requests();
    log_record record;
    task_details details;
    uint8_t count = 0;
    const uint8_t flags[TASK_ROWS] = {1, 3, 7};
    EXPECT_EQ(diag_log_read_start(), 0);
    EXPECT_EQ(diag_log_read(record), 0);
    EXPECT_EQ(diag_clear_log(), 0);
    EXPECT_EQ(diag_toggle_led(), 0);
    EXPECT_EQ(tasks_get_count(count), 0);
    EXPECT_EQ(tasks_get_details(5, details), 0);
    EXPECT_EQ(tasks_set_log_filters(flags, 2), 0);
    diag_status_cache status;
    EXPECT_EQ(diag_get_status(status), 0);

    std::vector<uint8_t> filters(26, 0);
    filters[1] = 1;
    filters[2] = 3;
    filters[3] = 7;
    const std::vector<std::pair<uint16_t, std::vector<uint8_t>>> expected = {
        {0x0135, {0xFF, 0xFF}}, {0x0133, {}}, {0x0134, {}}, {0x0128, {1}}, {0x0136, {}}, {0x0132, {5}}, {0x0131, filters},
        {0x0127, {}},
    };
    const auto sent = dev->requests();
    ASSERT_EQ(sent.size(), expected.size());
    for (size_t i = 0; i < sent.size(); ++i) {
        EXPECT_EQ(frame_code(sent[i]), expected[i].first) << i;
        EXPECT_EQ(payload(sent[i]), expected[i].second) << i;
    }
}

TEST_F(DiagCommandsTest, LogIsARingReadThroughACursorWithCountersThatOnlyRise) {
    sim_device_config c;
    c.firmware.diag.capacity = 10;
    auto dev = open(c);
    log_record r;
    EXPECT_NE(diag_log_read(r), 0) << "records before the read was started";

    // Power-up left one record.
    ASSERT_EQ(diag_log_read_start(), 0);
    std::vector<diag_row> rows = drain();
    ASSERT_EQ(rows.size(), 1u);
    EXPECT_EQ(rows[0].cells[0], "00000001");
    EXPECT_EQ(rows[0].cells[1], "01");
    EXPECT_EQ(rows[0].cells[2], "I");
    EXPECT_EQ(rows[0].cells[5], "Restarted after reset");
    EXPECT_EQ(rows[0].colour, DIAG_COLOUR_RESET);

    // 25 more into a ring of 10: the 16 oldest are gone before they could be read.
    dev->with_firmware([](sim_firmware& fw) { sim_diag_fill(fw.diag, 25); });
    rows = drain();
    ASSERT_EQ(rows.size(), 10u);
    for (int i = 0; i < 10; ++i) EXPECT_EQ(rows[size_t(i)].counter, 17 + i);

    // A new start reads the ring again from its oldest record.
    ASSERT_EQ(diag_log_read_start(), 0);
    EXPECT_EQ(drain().size(), 10u);

    // Clear empties the ring; the numbers go on.
    ASSERT_EQ(diag_clear_log(), 0);
    ASSERT_EQ(diag_log_read_start(), 0);
    EXPECT_TRUE(drain().empty());
    dev->with_firmware([](sim_firmware& fw) { sim_diag_fill(fw.diag, 2); });
    rows = drain();
    ASSERT_EQ(rows.size(), 2u);
    EXPECT_EQ(rows[0].counter, 27);
    EXPECT_EQ(rows[1].counter, 28);
    dev->with_firmware([](sim_firmware& fw) {
        EXPECT_EQ(fw.diag.written, 28u);
        EXPECT_EQ(fw.diag.dropped, 16u);
    });
}

TEST_F(DiagCommandsTest, SamplerEventsAndRestartsAreLogged) {
    auto dev = open();
    ASSERT_EQ(diag_log_read_start(), 0);
    drain();
    dev->with_firmware([](sim_firmware& fw) { fw.sampler.set_power(false, fw.now_ms); });
    EXPECT_EQ(start_run(1), 2);
    dev->with_firmware([](sim_firmware& fw) { fw.sampler.set_power(true, fw.now_ms); });
    EXPECT_EQ(start_run(1), 0);
    dev->advance_clock(1600);  // loading ends, engaging the sample begins
    std::vector<std::string> messages;
    for (const diag_row& row : drain()) messages.push_back(row.cells[2] + " " + row.cells[5]);
    EXPECT_EQ(messages, (std::vector<std::string>{"E Power lost", "E Start refused (2)", "I Power restored",
                                                  "I Run started: mode 1, 1 cartridges", "I Cartridge 1: Loading Cartridge",
                                                  "I Phase: Engaging Sample"}));

    link_close();
    dev->restart({});
    ASSERT_EQ(link_open(dev->path().c_str(), 500), 0);
    log_record r;
    EXPECT_NE(diag_log_read(r), 0) << "a restart forgets the read cursor";
    ASSERT_EQ(diag_log_read_start(), 0);
    const std::vector<diag_row> after = drain();
    ASSERT_FALSE(after.empty());
    EXPECT_EQ(after.back().cells[5], "Restarted after reset");
}

TEST_F(DiagCommandsTest, ARecordIsKeptOnlyWhenItsTasksFilterHasItsSeverity) {
    sim_device_config c;
    c.firmware.diag.debug_rate = 10;
    auto dev = open(c);
    ASSERT_EQ(diag_log_read_start(), 0);
    drain();
    uint8_t flags[TASK_ROWS] = {3, 3, 3 | LOG_FILTER_DEBUG, 3, 3, 3, 3, LOG_FILTER_ERROR};
    ASSERT_EQ(tasks_set_log_filters(flags, 7), 0);
    dev->advance_clock(1000);
    dev->with_firmware([](sim_firmware& fw) {
        sim_diag_write(fw.diag, 7, SIM_SEVERITY_INFO, "f", 1, "not kept");
        sim_diag_write(fw.diag, 7, SIM_SEVERITY_ERROR, "f", 2, "kept");
    });
    std::map<std::string, int> kept;  // task and severity -> records
    for (const diag_row& row : drain()) ++kept[row.cells[1] + row.cells[2]];
    EXPECT_EQ(kept, (std::map<std::string, int>{{"02D", 10}, {"07E", 1}}));
}

TEST_F(DiagCommandsTest, TaskTableAndItsCountsHeldToTheGrid) {
    sim_device_config c;
    sim_diag_set_task_count(c.firmware.diag, 15);
    c.firmware.diag.tasks[4].name = std::string(33, 'Q');
    auto dev = open(c);
    task_table table;
    unsigned refused = 0;
    ASSERT_EQ(tasks_read_table(table, &refused), TASKS_READ_OK);
    EXPECT_EQ(table.count, 15);
    EXPECT_EQ(task_name(table.entries[0]), "Interrupts");
    EXPECT_EQ(task_name(table.entries[4]), std::string(33, 'Q'));
    EXPECT_EQ(task_row_format(15, table.entries[15]).id, "15");

    auto details_requests = [&] {
        int n = 0;
        for (const auto& f : dev->requests()) n += frame_code(f) == CMD_GET_TASK_DETAILS;
        return n;
    };
    // A second count past the grid is refused like the first, before any entry is read.
    for (uint8_t second : {16, 255}) {
        dev->clear_requests();
        dev->with_firmware([&](sim_firmware& fw) { fw.diag.task_count_answers = {3, second}; });
        EXPECT_EQ(tasks_read_table(table, &refused), TASKS_READ_TOO_MANY) << int(second);
        EXPECT_EQ(refused, second);
        EXPECT_EQ(details_requests(), 0);
        EXPECT_EQ(table.count, 0);
    }
    // So is the first, without asking again.
    dev->clear_requests();
    dev->with_firmware([](sim_firmware& fw) { sim_diag_set_task_count(fw.diag, 16); });
    EXPECT_EQ(tasks_read_table(table, &refused), TASKS_READ_TOO_MANY);
    EXPECT_EQ(refused, 16u);
    EXPECT_EQ(dev->requests().size(), 1u);

    dev->with_firmware([](sim_firmware& fw) { sim_diag_set_task_count(fw.diag, 2); });
    dev->fail_next(CMD_GET_TASK_COUNT, 1, 4);
    EXPECT_EQ(tasks_read_table(table, &refused), TASKS_READ_NO_COUNT);
    dev->fail_next(CMD_GET_TASK_DETAILS, 1, 2);
    EXPECT_EQ(tasks_read_table(table, &refused), TASKS_READ_NO_DETAILS);
    EXPECT_EQ(tasks_read_table(table, &refused), TASKS_READ_OK);
    EXPECT_EQ(table.count, 2);
}

TEST_F(DiagCommandsTest, StackTopsReachDeeperDuringARun) {
    auto dev = open();
    task_details before, during, after;
    ASSERT_EQ(tasks_get_details(3, before), 0);
    ASSERT_EQ(start_run(2), 0);
    for (int i = 0; i < 20; ++i) {
        dev->advance_clock(700);
        ASSERT_EQ(tasks_get_details(3, during), 0);
    }
    EXPECT_LT(task_stack_top(during), task_stack_top(before));
    EXPECT_GE(task_stack_top(during), task_stack_start(during));
    dev->with_firmware([](sim_firmware& fw) { fw.sampler.stop_run(fw.now_ms); });
    dev->advance_clock(5000);
    ASSERT_EQ(tasks_get_details(3, after), 0);
    EXPECT_EQ(task_stack_top(after), task_stack_top(during)) << "the deepest point reached stays";
}

TEST_F(DiagCommandsTest, TheBootloaderAnswersNineToEveryOne) {
    sim_device_config c;
    c.firmware.mode = sim_mode::bootloader;
    open(c);
    log_record r;
    task_details d;
    uint8_t count;
    const uint8_t flags[TASK_ROWS] = {};
    EXPECT_EQ(diag_log_read_start(), RESULT_UNSUPPORTED);
    EXPECT_EQ(diag_log_read(r), RESULT_UNSUPPORTED);
    EXPECT_EQ(diag_clear_log(), RESULT_UNSUPPORTED);
    EXPECT_EQ(diag_toggle_led(), RESULT_UNSUPPORTED);
    EXPECT_EQ(tasks_get_count(count), RESULT_UNSUPPORTED);
    EXPECT_EQ(tasks_get_details(0, d), RESULT_UNSUPPORTED);
    EXPECT_EQ(tasks_set_log_filters(flags, 0), RESULT_UNSUPPORTED);
}

}  // namespace
