// The Tasks dialog against the virtual instrument: the grid, its limits, the filter check boxes
// and Save, and the filters taking effect in the diagnostics view.
#include "diag_fixture.h"
#include "maintenance/tasks.h"

#include <array>

namespace {

class TasksDialogTest : public DiagViewTest {
protected:
    void open_with(int tasks) {
        sim_device_config c;
        sim_diag_set_task_count(c.firmware.diag, tasks);
        connect_to(c);
        show_diagnostics();
    }
    static QLineEdit* cell(QDialog* d, const char* column, int row) {
        return d->findChild<QLineEdit*>(QStringLiteral("%1_%2").arg(QLatin1String(column)).arg(row));
    }
    static QCheckBox* box(QDialog* d, const char* column, int row) {
        return d->findChild<QCheckBox*>(QStringLiteral("%1_%2").arg(QLatin1String(column)).arg(row));
    }
    static QCheckBox* column_box(QDialog* d, const char* column) {
        return d->findChild<QCheckBox*>(QStringLiteral("%1_all").arg(QLatin1String(column)));
    }
    static std::string text(QDialog* d, const char* column, int row) { return cell(d, column, row)->text().toStdString(); }
    std::vector<uint8_t> last_filters_payload() {
        const auto f = sent(CMD_SET_LOG_FILTERS);
        if (f.empty()) return {};
        return {frame_payload(f.back()), frame_payload(f.back()) + f.back().bytes[FRAME_LENGTH]};
    }
    // Stack figures of every entry as the instrument would send them.
    void set_stacks(int entry, uint32_t start, uint32_t end, uint32_t top, bool active) {
        dev->with_firmware([=](sim_firmware& fw) {
            sim_task& t = fw.diag.tasks[size_t(entry)];
            t.stack_start = start;
            t.stack_end = end;
            t.stack_top = top;
            t.active = active;
        });
    }
};

TEST_F(TasksDialogTest, FifteenTasksFillEverySixteenRowsAndSaveSendsEachEntry) {
    open_with(15);
    dev->with_firmware([](sim_firmware& fw) {
        fw.diag.tasks[4].name = std::string(33, 'Q');  // fills its field: no terminator is sent
        for (int i = 0; i <= 15; ++i) fw.diag.filters[i] = uint8_t(i % 8);
    });
    set_stacks(0, 0x1000, 0x1FFF, 0x1800, true);
    set_stacks(1, 0x1000, 0x1FFF, 0x1800, true);
    set_stacks(2, 0x20003000, 0x200033FF, 0x20003300, false);
    const bool opened = with_tasks_dialog([&](QDialog* d) {
        EXPECT_EQ(d->windowTitle(), QStringLiteral("Tasks"));
        for (int r = 0; r < TASK_ROWS; ++r) {
            EXPECT_TRUE(cell(d, "usage", r)->isEnabled()) << r;
            EXPECT_TRUE(box(d, "debug", r)->isEnabled()) << r;
            EXPECT_EQ(text(d, "id", r), std::to_string(r));
            EXPECT_EQ(box(d, "error", r)->isChecked(), (r % 8 & 1) != 0) << r;
            EXPECT_EQ(box(d, "info", r)->isChecked(), (r % 8 & 2) != 0) << r;
            EXPECT_EQ(box(d, "debug", r)->isChecked(), (r % 8 & 4) != 0) << r;
        }
        EXPECT_EQ(text(d, "name", 0), "Interrupts");
        EXPECT_EQ(text(d, "usage", 0), "----/4096");
        EXPECT_EQ(text(d, "state", 0), "Not a task");
        EXPECT_EQ(text(d, "top", 1), "1800");
        EXPECT_EQ(text(d, "usage", 1), "2048/4096");
        EXPECT_EQ(text(d, "state", 2), "Inactive");
        EXPECT_EQ(text(d, "name", 4), std::string(33, 'Q'));
        // Only a name its field cuts carries the whole name as its tooltip.
        EXPECT_EQ(cell(d, "name", 4)->toolTip().toStdString(), std::string(33, 'Q'));
        EXPECT_TRUE(cell(d, "name", 0)->toolTip().isEmpty());
        EXPECT_EQ(text(d, "name", 15), "Display");
        for (const char* c : {"error", "info", "debug"}) EXPECT_FALSE(column_box(d, c)->isChecked()) << c;

        d->findChild<QPushButton*>(QStringLiteral("save_button"))->click();
        EXPECT_TRUE(d->isVisible()) << "Save keeps the dialog open";
    });
    ASSERT_TRUE(opened);
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_EQ(messages[0].caption, "Save");
    EXPECT_EQ(messages[0].text, "Settings saved");
    std::vector<uint8_t> expected(26, 0);
    for (int i = 0; i <= 15; ++i) expected[size_t(1 + i)] = uint8_t(i % 8);
    EXPECT_EQ(last_filters_payload(), expected);
    EXPECT_EQ(sent(CMD_GET_TASK_COUNT).size(), 2u);
    EXPECT_EQ(sent(CMD_GET_TASK_DETAILS).size(), 16u);
}

TEST_F(TasksDialogTest, NoTasksShowsOnlyEntryZero) {
    open_with(0);
    ASSERT_TRUE(with_tasks_dialog([&](QDialog* d) {
        EXPECT_EQ(text(d, "state", 0), "Not a task");
        for (int r = 1; r < TASK_ROWS; ++r) {
            for (const char* c : {"id", "name", "start", "end", "top", "usage", "state"}) {
                EXPECT_FALSE(cell(d, c, r)->isEnabled()) << c << r;
                EXPECT_TRUE(cell(d, c, r)->text().isEmpty()) << c << r;
            }
            for (const char* c : {"error", "info", "debug"}) EXPECT_FALSE(box(d, c, r)->isEnabled()) << c << r;
        }
        // Entry 0 alone decides the column boxes.
        EXPECT_TRUE(column_box(d, "error")->isChecked());
        EXPECT_TRUE(column_box(d, "info")->isChecked());
        EXPECT_FALSE(column_box(d, "debug")->isChecked());
        box(d, "debug", 0)->click();
        EXPECT_TRUE(column_box(d, "debug")->isChecked());
        d->findChild<QPushButton*>(QStringLiteral("save_button"))->click();
    }));
    std::vector<uint8_t> expected(26, 0);
    expected[1] = 7;
    EXPECT_EQ(last_filters_payload(), expected);
}

TEST_F(TasksDialogTest, CountsPastTheGridAreRefusedFirstOrSecond) {
    open_with(3);
    struct attempt {
        std::deque<uint8_t> counts;
        const char* text;
    } attempts[] = {
        {{16}, "Your firmware has 16 tasks and this GUI can only display 15"},
        {{3, 16}, "Your firmware has 16 tasks and this GUI can only display 15"},
        {{15, 255}, "Your firmware has 255 tasks and this GUI can only display 15"},
    };
    for (const attempt& a : attempts) {
        messages.clear();
        dev->clear_requests();
        dev->with_firmware([&](sim_firmware& fw) { fw.diag.task_count_answers = a.counts; });
        EXPECT_FALSE(with_tasks_dialog([](QDialog*) {}));
        ASSERT_EQ(messages.size(), 1u);
        EXPECT_EQ(messages[0].caption, "Tasks");
        EXPECT_EQ(messages[0].text, a.text);
        EXPECT_EQ(sent(CMD_GET_TASK_COUNT).size(), a.counts.size());
        EXPECT_TRUE(sent(CMD_GET_TASK_DETAILS).empty());
    }
}

TEST_F(TasksDialogTest, ReadFailuresCloseTheDialogWithTheirMessages) {
    open_with(5);
    dev->fail_next(CMD_GET_TASK_COUNT, 1, 4);
    EXPECT_FALSE(with_tasks_dialog([](QDialog*) {}));
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_EQ(messages[0].caption, "Tasks");
    EXPECT_EQ(messages[0].text, "Failed to get number of tasks from device");

    messages.clear();
    dev->clear_requests();
    dev->fail_next(CMD_GET_TASK_DETAILS, 1, 2);
    EXPECT_FALSE(with_tasks_dialog([](QDialog*) {}));
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_EQ(messages[0].caption, "Task Details");
    EXPECT_EQ(messages[0].text, "Failed to get task details from device");
    EXPECT_EQ(sent(CMD_GET_TASK_DETAILS).size(), 1u) << "the load stops at the first failure";
}

TEST_F(TasksDialogTest, ColumnAndRowCheckBoxesAgreeAndAFailedSaveKeepsTheChoices) {
    open_with(4);
    dev->force_result(CMD_SET_LOG_FILTERS, 4);
    ASSERT_TRUE(with_tasks_dialog([&](QDialog* d) {
        QCheckBox* debug = column_box(d, "debug");
        EXPECT_FALSE(debug->isChecked());
        debug->click();
        for (int r = 0; r <= 4; ++r) EXPECT_TRUE(box(d, "debug", r)->isChecked()) << r;
        EXPECT_FALSE(box(d, "debug", 5)->isChecked()) << "rows past the count are left alone";
        box(d, "debug", 3)->click();
        EXPECT_FALSE(debug->isChecked());
        box(d, "debug", 3)->click();
        EXPECT_TRUE(debug->isChecked());
        column_box(d, "info")->click();  // all off
        for (int r = 0; r <= 4; ++r) EXPECT_FALSE(box(d, "info", r)->isChecked()) << r;

        d->findChild<QPushButton*>(QStringLiteral("save_button"))->click();
        EXPECT_TRUE(d->isVisible());
        EXPECT_TRUE(box(d, "debug", 2)->isChecked());
        EXPECT_FALSE(box(d, "info", 2)->isChecked());
    }));
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_EQ(messages[0].caption, "Save");
    EXPECT_EQ(messages[0].text, "Failed to save settings");
    std::vector<uint8_t> expected(26, 0);
    for (int i = 0; i <= 4; ++i) expected[size_t(1 + i)] = LOG_FILTER_ERROR | LOG_FILTER_DEBUG;
    EXPECT_EQ(last_filters_payload(), expected);
    dev->with_firmware([](sim_firmware& fw) { EXPECT_EQ(fw.diag.filters[2], SIM_DEFAULT_FILTER) << "refused: no effect"; });
}

// Debug on for one task: its debug records appear in the view, and only its; off again: none.
TEST_F(TasksDialogTest, DebugForOneTaskBringsItsRecordsIntoTheView) {
    open_with(7);
    dev->with_firmware([](sim_firmware& fw) { fw.diag.debug_rate = 4; });
    ASSERT_TRUE(wait_until([&] { return rows() == 1; }));
    auto debug_rows = [&](int after) {
        std::vector<std::string> tasks;
        for (int r = 0; r < rows(); ++r)
            if (log()->topLevelItem(r)->text(0).toInt() > after && log()->topLevelItem(r)->text(2) == QStringLiteral("D"))
                tasks.push_back(log()->topLevelItem(r)->text(1).toStdString());
        return tasks;
    };
    auto set_debug = [&](int task, bool on) {
        ASSERT_TRUE(with_tasks_dialog([&](QDialog* d) {
            if (box(d, "debug", task)->isChecked() != on) box(d, "debug", task)->click();
            d->findChild<QPushButton*>(QStringLiteral("save_button"))->click();
        }));
    };
    dev->advance_clock(1000);
    settle(700);
    EXPECT_TRUE(debug_rows(0).empty());

    set_debug(2, true);
    dev->advance_clock(1000);
    ASSERT_TRUE(wait_until([&] { return debug_rows(0).size() == 4; }));
    EXPECT_EQ(debug_rows(0), std::vector<std::string>(4, "02"));
    EXPECT_EQ(log()->topLevelItem(rows() - 1)->text(3), QStringLiteral("task_loop"));

    set_debug(2, false);
    const int mark = newest();
    dev->advance_clock(1000);
    settle(1200);
    EXPECT_TRUE(debug_rows(mark).empty());
}

}  // namespace
