#include "maintenance/diagnostics_view.h"

#include "link/link.h"
#include "link/worker_thread.h"
#include "maintenance/diagnostics.h"
#include "maintenance/tasks_dialog.h"
#include "ui/app_messages.h"
#include "ui/await.h"
#include "ui/dialog_helpers.h"
#include "ui/modal.h"
#include "ui/poller.h"
#include "ui/stale_watch.h"
#include "ui/trend_plot.h"
#include "ui_diagnostics_view.h"

#include <QFile>
#include <QScrollBar>
#include <QTimer>
#include <QTreeWidget>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <cstring>
#include <vector>

namespace {

using steady = std::chrono::steady_clock;
constexpr auto READINGS_PERIOD = std::chrono::milliseconds(500);

QString g_save_path;  // the last chosen file, offered again for the rest of the program run
// "Pause Display" as the poller sees it: kept by the GUI thread, never read from the widget.
std::atomic<bool> g_pause_display{false};

int diag_poller(worker_thread* self);

// Rows that arrive wait and reach the list together, at most this often: a list repainted for
// every record of a flood took most of a core.
constexpr int ROW_BATCH_MS = 33;

// The readings the view shows, plotted since it opened.
const std::vector<trend_curve> DIAG_TREND_CURVES = {
    {"Voltage", "V", "%.2f", 0},
    {"Temperature", "C", "%.2f", 1},
    {"Humidity", "%", "%.2f", 2},
};

class diagnostics_view : public app_view {
public:
    diagnostics_view(QWidget* parent, uintptr_t param) : app_view(parent, VIEW_DIAGNOSTICS), creation_param(param) {
        ui.setupUi(this);
        init_layout(ui.panel_label, ui.log_list, ui.trend);
        // No running flag yet: the main window keeps the configuration items grey until this
        // view's first status read says whether the instrument runs.
        ui_add_tooltip(ui.voltage_edit, "Supply voltage (V)");
        ui_add_tooltip(ui.temp_edit, "System board temperature (C)");
        ui_add_tooltip(ui.rh_edit, "System board humidity");
        ui_add_tooltip(ui.state_edit, "Firmware run state");
        ui_list_columns(ui.log_list, DIAG_LOG_COLUMNS, DIAG_LOG_COLUMN_COUNT);
        std::memset(cache.bytes, 0, sizeof cache.bytes);
        ui_set_text_fmt(ui.rh_edit, "%s", "unavailable");
        g_pause_display.store(false);
        ui.trend->set_curves(DIAG_TREND_CURVES);
        ui.trend->set_empty_note(QStringLiteral("The readings show here as they arrive"));
        row_timer.setSingleShot(true);
        row_timer.setInterval(ROW_BATCH_MS);
        connect(&row_timer, &QTimer::timeout, this, [this] { flush_rows(); });
        // Whether the list follows the newest row is the operator's choice, made by scrolling: away
        // from the end it stops, back at the end it follows again. A list that grows or shrinks
        // meanwhile keeps following.
        QScrollBar* bar = ui.log_list->verticalScrollBar();
        connect(bar, &QScrollBar::valueChanged, this, [this, bar](int value) {
            if (!scrolling_list) follow_rows = value >= bar->maximum();
        });
        connect(bar, &QScrollBar::rangeChanged, this, [this, bar](int, int maximum) {
            if (!follow_rows || scrolling_list) return;
            scrolling_list = true;
            bar->setValue(maximum);
            scrolling_list = false;
        });
        connect(ui.pause_check, &QCheckBox::toggled, this, [this](bool on) {
            g_pause_display.store(on);
            ui.trend->set_held(on);  // the plot holds as the fields do
            if (!on) poller.wake();  // deliver what waited meanwhile now, not at the next cycle
        });
        connect(ui.save_button, &QPushButton::clicked, this, [this] { on_save(); });
        connect(ui.clear_button, &QPushButton::clicked, this, [this] { on_clear(); });
        connect(ui.tasks_button, &QPushButton::clicked, this, [this] { tasks_dialog_run(this, creation_param); });
        stale = new ui_stale_watch(this, int(READINGS_PERIOD.count()), [this](bool s) {
            if (alive)
                ui_show_stale(s, ui.stale_label, {ui.state_edit, ui.voltage_edit, ui.temp_edit, ui.rh_edit}, ui.trend,
                              true);
        });
        connect(ui.led_button, &QPushButton::clicked, this, [this] { ui_await(this, [] { diag_toggle_led(); }); });
        poller.start(this, diag_poller);
    }

    void shutdown() override {
        alive = false;
        poller.stop();
        row_timer.stop();
        pending_rows.clear();
    }

    void command(int id) override {
        if (id == ID_FILE_SAVE_TREND) trend_plot_save_csv(this, ui.trend);
    }

    // A status record read by the poller. While the display is paused the fields stay as they
    // are, but the running flag still reaches the menus: a run that starts meanwhile must grey
    // the configuration items all the same.
    void show_status(const diag_status_cache& fresh) {
        stale->answered();
        take_trend_sample(fresh);
        if (!ui.pause_check->isChecked()) {
            const diag_readings_update u = diag_readings_compare(cache, fresh);
            if (u.state) ui_set_text_fmt(ui.state_edit, "%s", u.state_text.c_str());
            if (u.voltage) ui_set_text_fmt(ui.voltage_edit, "%s", u.voltage_text.c_str());
            if (u.temperature) ui_set_text_fmt(ui.temp_edit, "%s", u.temperature_text.c_str());
            if (u.humidity) ui_set_text_fmt(ui.rh_edit, "%s", u.humidity_text.c_str());
            cache = fresh;
        }
        post_menu_state(diag_running_flag(fresh));
    }

    // A log record read by the poller: appended as the newest row. After a failed Clear the new
    // poller reads the log from its oldest record again: until a record newer than the last one
    // shown arrives, those are rows shown already and are skipped, so no record is shown twice
    // and the rows stay in order. At any other time every record is shown, whatever its number
    // (an instrument may number its records afresh).
    // Records the instrument dropped before they were read show as a row of their own.
    void show_row(const diag_row& row) {
        stale->answered();
        if (rereading_after_failed_clear) {
            if (row.counter <= last_counter) return;
            rereading_after_failed_clear = false;
        }
        diag_row gap;
        if (shown_any && diag_gap_row(last_counter, row.counter, gap)) append_row(gap);
        shown_any = true;
        last_counter = row.counter;
        append_row(row);
    }

    // A row waits for the next batch.
    void append_row(const diag_row& row) {
        pending_rows.push_back(row);
        if (!row_timer.isActive()) row_timer.start();
    }

    // The rows that waited, appended in the order they came; the oldest rows go so that the list
    // keeps its newest DIAG_LOG_MAX_ROWS. The list follows the newest row only while the operator
    // has not scrolled away from the end: scrolled up to read, the rows on show stay put.
    void flush_rows() {
        row_timer.stop();
        if (pending_rows.empty()) return;
        QTreeWidget* list = ui.log_list;
        const bool follow = follow_rows;
        QTreeWidgetItem* top = follow ? nullptr : list->itemAt(QPoint(1, 1));
        const int before = list->topLevelItemCount();
        const size_t first = pending_rows.size() > size_t(DIAG_LOG_MAX_ROWS) ? pending_rows.size() - DIAG_LOG_MAX_ROWS : 0;
        const int keep = DIAG_LOG_MAX_ROWS - int(pending_rows.size() - first);
        list->setUpdatesEnabled(false);
        while (list->topLevelItemCount() > keep) {
            QTreeWidgetItem* gone = list->takeTopLevelItem(0);
            if (gone == top) top = nullptr;
            delete gone;
        }
        QList<QTreeWidgetItem*> items;
        items.reserve(qsizetype(pending_rows.size() - first));
        for (size_t i = first; i < pending_rows.size(); ++i) items.append(make_item(pending_rows[i]));
        pending_rows.clear();
        list->addTopLevelItems(items);
        if (before < 3) ui_list_fit_columns(list);  // the first rows show what widths the texts take
        list->setUpdatesEnabled(true);
        scrolling_list = true;
        if (follow) list->scrollToBottom();
        else if (top) list->scrollToItem(top, QAbstractItemView::PositionAtTop);
        else list->scrollToTop();
        scrolling_list = false;
    }

    Ui::diagnostics_view_form ui;


private:
    // A row of the list, as the operator sees it: its six cells, its colour, its row value.
    static QTreeWidgetItem* make_item(const diag_row& row) {
        auto* item = new QTreeWidgetItem;
        const diag_rgb rgb = diag_colour_rgb(row.colour);
        const QBrush brush{QColor(rgb.red, rgb.green, rgb.blue)};
        for (int c = 0; c < DIAG_LOG_COLUMN_COUNT; ++c) {
            item->setText(c, QString::fromUtf8(row.cells[c].c_str()));
            item->setForeground(c, brush);
        }
        item->setData(0, Qt::UserRole, QVariant::fromValue<qulonglong>(row.colour));
        return item;
    }

    // Every status read adds the readings to the trend, paused or not (a paused plot holds its
    // picture and shows what came meanwhile on release). A reading its field cannot show (not
    // finite, or too wide for it) is a gap, never a spike.
    void take_trend_sample(const diag_status_cache& s) {
        const diag_reading kinds[3] = {diag_reading::voltage, diag_reading::temperature, diag_reading::humidity};
        float values[3];
        for (int i = 0; i < 3; ++i) {
            const float v = diag_status_reading(s, kinds[i]);
            values[i] = diag_reading_text(kinds[i], v) == "----" ? NAN : v;
        }
        ui.trend->add(values);
    }

    void on_clear() {
        flush_rows();  // what arrived before the question is shown, and cleared or kept with the rest
        if (ui_message_fmt(this, "Clear", UI_MB_YESNO | UI_MB_ICONQUESTION, "%s",
                           "This will permanently wipe the diagnostic log on the sensor. Are you sure you want to do this?") !=
            UI_IDYES)
            return;
        // No record is read between here and the clear (the stopped poller's last exchange goes
        // before it); what the poller posted is dropped.
        ui_poller_end last_read = poller.stop();
        const int result = ui_await(this, [&] {
            last_read.wait(LINK_TIMEOUT_SERVICE_MS);
            return diag_clear_log();
        });
        if (ui_window_gone(this)) return;
        if (result == 0) {
            pending_rows.clear();
            ui.log_list->clear();
            shown_any = false;
        }
        flush_rows();
        rereading_after_failed_clear = result != 0 && ui.log_list->topLevelItemCount() > 0;
        if (alive) poller.start(this, diag_poller);
        if (result != 0) ui_message_fmt(this, "Clear", UI_MB_OK, "%s", "Unable to clear log");
    }

    void on_save() {
        ui_file_request request;
        request.save = true;
        request.title = QStringLiteral("Diagnostics Log File");
        request.filter = QStringLiteral("LOG Files (*.log);;All Files (*.*)");
        request.default_suffix = QStringLiteral("log");
        request.start_path = g_save_path;
        const QString path = ui_file_dialog(this, request);
        if (path.isEmpty()) return;
        g_save_path = path;
        flush_rows();
        // The rows exactly as shown.
        std::vector<diag_row> rows;
        const QTreeWidget* list = ui.log_list;
        for (int r = 0; r < list->topLevelItemCount(); ++r) {
            diag_row row;
            for (int c = 0; c < DIAG_LOG_COLUMN_COUNT; ++c) row.cells[c] = list->topLevelItem(r)->text(c).toStdString();
            rows.push_back(std::move(row));
        }
        const QByteArray name = ui_path_for_message(path);
        // Success only once the whole file is on disk under its name.
        if (diag_log_save(QFile::encodeName(path).constData(), rows) != 0) {
            ui_message_fmt(this, "Save Diagnostics", UI_MB_OK, "Unable to open %s for write", name.constData());
            return;
        }
        if (rows.empty()) return;
        ui_message_fmt(this, "Save Diagnostics", UI_MB_OK, "Diagnostics saved to %s", name.constData());
    }

    uintptr_t creation_param;
    diag_status_cache cache;
    bool rereading_after_failed_clear = false;
    int32_t last_counter = 0;
    bool shown_any = false;  // last_counter belongs to a row shown since the list was last emptied
    bool alive = true;
    ui_stale_watch* stale = nullptr;
    std::vector<diag_row> pending_rows;  // arrived, not in the list yet
    bool follow_rows = true;              // the list shows its newest row
    bool scrolling_list = false;          // the view itself scrolls the list, not the operator
    QTimer row_timer;
    ui_poller poller;
};

// One status read, handed to the view: 0, or 1 when the read failed (then nothing changes).
int diag_refresh_readings(worker_thread* self) {
    diag_status_cache status;
    if (diag_get_status(status) != 0) return 1;
    QObject* window = ui_poll_window(self);  // named here, looked at only on the GUI thread
    ui_poll_post(self, [window, status] { static_cast<diagnostics_view*>(window)->show_status(status); });
    return 0;
}

// Every cycle: the readings, then (once the instrument has agreed to hand out its log) every
// record it has waiting, 2 ms apart, then a 500 ms wait. A drain can last as long as the
// instrument writes faster than the link reads, so the readings are refreshed within it too.
int diag_poller(worker_thread* self) {
    // The view may be gone by the time this runs: it is only named here, and the calls posted
    // to it run only while it is there.
    QObject* window = ui_poll_window(self);
    bool started = false;
    for (;;) {
        if (!started) started = diag_log_read_start() == 0;
        if (worker_thread_stopping(self)) return 0;
        diag_refresh_readings(self);
        steady::time_point refreshed = steady::now();
        bool drained = false;
        while (started) {
            if (worker_thread_pause(self)) return 0;
            if (g_pause_display.load()) break;
            if (steady::now() - refreshed >= READINGS_PERIOD) {
                diag_refresh_readings(self);
                refreshed = steady::now();
            }
            log_record record;
            if (diag_log_read(record) != 0) break;
            diag_row row = diag_row_from_record(record);
            ui_poll_post(self, [window, row = std::move(row)] { static_cast<diagnostics_view*>(window)->show_row(row); });
            drained = true;
        }
        // The instrument has nothing more for now: the last rows show at once.
        if (drained) ui_poll_post(self, [window] { static_cast<diagnostics_view*>(window)->flush_rows(); });
        if (worker_thread_stopping(self)) return 0;
        worker_thread_wait(self, 500);
        if (worker_thread_stopping(self)) return 0;
    }
}

}  // namespace

app_view* diagnostics_view_create(QWidget* parent) { return new diagnostics_view(parent, 0); }
