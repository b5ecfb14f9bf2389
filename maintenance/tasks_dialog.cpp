#include "maintenance/tasks_dialog.h"

#include "maintenance/tasks.h"
#include "ui/await.h"
#include "ui/dialog_helpers.h"
#include "ui/modal.h"
#include "ui_tasks_dialog.h"

#include <QCheckBox>
#include <QDialog>
#include <QLineEdit>

namespace {

constexpr int TEXT_COLUMNS = 7;
constexpr int FILTER_COLUMNS = 3;
const char* const TEXT_NAMES[TEXT_COLUMNS] = {"id", "name", "start", "end", "top", "usage", "state"};
const char* const FILTER_NAMES[FILTER_COLUMNS] = {"error", "info", "debug"};

class tasks_dialog : public QDialog {
public:
    tasks_dialog(QWidget* owner, const task_table& table) : QDialog(owner), count_(table.count) {
        ui.setupUi(this);
        setObjectName(QStringLiteral("tasks_dialog"));
        ui_no_default_buttons(this);
        for (int r = 0; r < TASK_ROWS; ++r) {
            for (int c = 0; c < TEXT_COLUMNS; ++c)
                fields_[r][c] = findChild<QLineEdit*>(QStringLiteral("%1_%2").arg(QLatin1String(TEXT_NAMES[c])).arg(r));
            for (int b = 0; b < FILTER_COLUMNS; ++b) {
                boxes_[r][b] = findChild<QCheckBox*>(QStringLiteral("%1_%2").arg(QLatin1String(FILTER_NAMES[b])).arg(r));
                connect(boxes_[r][b], &QCheckBox::clicked, this, [this] { update_column_boxes(); });
            }
        }
        for (int b = 0; b < FILTER_COLUMNS; ++b) {
            columns_[b] = findChild<QCheckBox*>(QStringLiteral("%1_all").arg(QLatin1String(FILTER_NAMES[b])));
            connect(columns_[b], &QCheckBox::clicked, this, [this, b](bool checked) { set_column(b, checked); });
        }
        connect(ui.save_button, &QPushButton::clicked, this, [this] { on_save(); });
        // Rows 0 to the count; the others stay disabled and empty. The count was held to the
        // grid when it was read; it is held here once more, so no loop can ever pass the grid.
        for (int r = 0; r <= rows_last(); ++r) show_row(r, table.entries[r]);
        update_column_boxes();
    }

    Ui::tasks_dialog_form ui;

private:
    int rows_last() const { return count_ > TASKS_MAX ? TASKS_MAX : count_; }

    void show_row(int r, const task_details& d) {
        const task_row_texts t = task_row_format(unsigned(r), d);
        const std::string* texts[TEXT_COLUMNS] = {&t.id, &t.name, &t.start, &t.end, &t.top, &t.usage, &t.state};
        for (int c = 0; c < TEXT_COLUMNS; ++c) {
            fields_[r][c]->setEnabled(true);
            ui_set_text_fmt(fields_[r][c], "%s", texts[c]->c_str());
        }
        // A long task name is cut by its field; the whole name is one hover away.
        QLineEdit* name = fields_[r][1];
        name->setToolTip(name->fontMetrics().horizontalAdvance(name->text()) > name->contentsRect().width() - 8 ? name->text() : QString());
        const uint8_t flags = task_filters(d);
        for (int b = 0; b < FILTER_COLUMNS; ++b) {
            boxes_[r][b]->setEnabled(true);
            ui_set_check(boxes_[r][b], flags & LOG_FILTER_BITS[b]);
        }
    }

    void collect(uint8_t (&flags)[TASK_ROWS]) const {
        for (int r = 0; r < TASK_ROWS; ++r) {
            flags[r] = 0;
            if (r > rows_last()) continue;
            for (int b = 0; b < FILTER_COLUMNS; ++b)
                if (ui_is_checked(boxes_[r][b])) flags[r] |= LOG_FILTER_BITS[b];
        }
    }

    // Each column box is checked when every row's box of its column is.
    void update_column_boxes() {
        uint8_t flags[TASK_ROWS];
        collect(flags);
        for (int b = 0; b < FILTER_COLUMNS; ++b)
            ui_set_check(columns_[b], log_filters_all(flags, unsigned(count_), LOG_FILTER_BITS[b]) ? 1 : 0);
    }

    void set_column(int b, bool checked) {
        for (int r = 0; r <= rows_last(); ++r) ui_set_check(boxes_[r][b], checked ? 1 : 0);
    }

    void on_save() {
        uint8_t flags[TASK_ROWS];
        collect(flags);
        const unsigned count = unsigned(count_);
        const int r = ui_await(this, [&] { return tasks_set_log_filters(flags, count); });
        if (r == 0)
            ui_message_fmt(this, "Save", UI_MB_OK, "%s", "Settings saved");
        else
            ui_message_fmt(this, "Save", UI_MB_OK, "%s", "Failed to save settings");
    }

    int count_;
    QLineEdit* fields_[TASK_ROWS][TEXT_COLUMNS] = {};
    QCheckBox* boxes_[TASK_ROWS][FILTER_COLUMNS] = {};
    QCheckBox* columns_[FILTER_COLUMNS] = {};
};

}  // namespace

int tasks_dialog_run(QWidget* owner, uintptr_t) {
    task_table table;
    unsigned refused = 0;
    switch (ui_await(owner, [&] { return tasks_read_table(table, &refused); })) {
        case TASKS_READ_OK: break;
        case TASKS_READ_NO_COUNT:
            ui_message_fmt(owner, "Tasks", UI_MB_OK, "%s", "Failed to get number of tasks from device");
            return 0;
        case TASKS_READ_TOO_MANY:
            ui_message_fmt(owner, "Tasks", UI_MB_OK, "%s", tasks_too_many_text(refused).c_str());
            return 0;
        case TASKS_READ_NO_DETAILS:
            ui_message_fmt(owner, "Task Details", UI_MB_OK, "%s", "Failed to get task details from device");
            return 0;
    }
    // Nothing is opened for a window that went away while the table was read.
    if (ui_window_gone(owner)) return 0;
    tasks_dialog dialog(owner, table);
    return ui_exec(dialog);
}
