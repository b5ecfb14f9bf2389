#include "sampler/run_view.h"

#include "link/worker_thread.h"
#include "sampler/cartridge_dialog.h"
#include "sampler/run_control.h"
#include "sampler/sample_log.h"
#include "ui/app_messages.h"
#include "link/link.h"
#include "ui/await.h"
#include "ui/dialog_helpers.h"
#include "ui/field_rules.h"
#include "ui/modal.h"
#include "ui/poller.h"
#include "ui/stale_watch.h"
#include "ui/trend_plot.h"
#include "ui_run_view.h"

#include <QTreeWidget>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>

namespace {

constexpr int POLL_PERIOD_MS = 1000;

run_view_dialog_fn g_cartridge_dialog = nullptr;
QString g_save_path;  // the last chosen file, offered again for the rest of the program run

int run_view_poll(worker_thread* self);

// The run's trend: what the status lines show, against time since the run started.
const std::vector<trend_curve> RUN_TREND_CURVES = {
    {"Volume", "litre", "%.3f", 0},
    {"Flow rate", "litre/min", "%.2f", 1},
    {"Max pressure", "bar", "%.3f", 2},
};
const char* const RUN_TREND_EMPTY = "The trend of a run shows here once it starts";

class run_view : public app_view {
public:
    explicit run_view(QWidget* parent) : app_view(parent, VIEW_RUN) {
        ui.setupUi(this);
        init_layout(ui.panel_label, ui.sample_list, ui.trend);
        for (const run_mode_row& m : RUN_MODES) ui.mode_box->addItem(QString::fromUtf8(m.text));
        ui_list_columns(ui.sample_list, SAMPLE_LOG_COLUMNS, SAMPLE_LOG_COLUMN_COUNT);
        ui.trend->set_curves(RUN_TREND_CURVES);
        ui.trend->set_empty_note(QString::fromLatin1(RUN_TREND_EMPTY));
        // Nothing typed is dropped: "12,5" or "2,5" is red and keeps Start disabled.
        ui_number_field(ui.cartridges_edit, FORM_COUNT_RULE);
        ui_number_field(ui.volume_edit, FORM_VOLUME_RULE);
        ui_number_field(ui.timeout_edit, FORM_MINUTES_RULE);
        std::memset(run_status.bytes, 0, sizeof run_status.bytes);
        run_settings_to_form(this, run_settings_load());
        connect(ui.mode_box, &QComboBox::currentIndexChanged, this, [this] { run_view_update_controls(this); });
        ui_on_fields_changed(this, this, [this] { run_view_update_controls(this); });
        connect(ui.start_button, &QPushButton::clicked, this, [this] { on_start(); });
        connect(ui.stop_button, &QPushButton::clicked, this, [this] { on_stop(); });
        connect(ui.clear_button, &QPushButton::clicked, this, [this] { on_clear_log(); });
        connect(ui.cartridge_display, &large_text_display::doubleClicked, this, [this] { on_cartridge_double_click(); });
        run_view_update_controls(this);
        stale = new ui_stale_watch(this, POLL_PERIOD_MS, [this](bool s) { show_stale(s); });
        start_poller();
    }

    // No answer for a while: the status shown is not the instrument's now, and says so.
    void show_stale(bool s) {
        if (alive) ui_show_stale(s, ui.stale_label, {ui.status_group, ui.cartridge_display}, ui.trend, trend_running);
    }

    // A status of the poller, on the trend: a run that starts empties it, and every status
    // during the run adds the volume, the flow rate from its slope and the maximum pressure. The
    // last run stays on show once it has ended.
    void take_trend_sample(const status_record& s) {
        const bool running = run_enable_rules(s, 0).running == 1;
        if (!running) {
            trend_running = false;
            return;
        }
        if (!trend_running) {
            ui.trend->restart();
            flow_slope.reset();
            trend_running = true;
        }
        const double t = ui.trend->now();
        const float volume = status_flow_volume(s), pressure = status_max_pressure(s);
        const float values[3] = {volume, flow_slope.add(t, volume), pressure};
        ui.trend->add_at(t, values);
    }

    void shutdown() override {
        alive = false;
        poller.stop();
    }

    void command(int id) override {
        if (id == ID_FILE_SAVE_LOG) sample_log_save(this);
        if (id == ID_FILE_SAVE_TREND) trend_plot_save_csv(this, ui.trend);
    }

    // Rows arrive from the poller in record order: a new row at index n, or the newest row
    // rewritten in place.
    void show_row(int n, bool rewrite, const sample_log_row& row) {
        stale->answered();
        QTreeWidget* list = ui.sample_list;
        const int first = ui_list_cell_fmt(list, n, rewrite ? -1 : 0, 0, "%s", row.cells[0].c_str());
        if (!rewrite && first != n) return;
        for (int c = 1; c < SAMPLE_LOG_COLUMN_COUNT; ++c) ui_list_cell_fmt(list, n, c, 0, "%s", row.cells[c].c_str());
        if (QTreeWidgetItem* item = list->topLevelItem(n)) list->scrollToItem(item);
        if (!rewrite && n < 3) ui_list_fit_columns(list);  // the first rows show what widths it takes
    }

    Ui::run_view_form ui;
    status_record run_status;
    bool alive = true;
    ui_stale_watch* stale = nullptr;
    bool trend_running = false;  // the trend holds the run in progress
    trend_slope flow_slope;

private:
    void start_poller() {
        // A new poller reads the log again from record 0: start from an empty list, whatever
        // happened before, so no row is ever shown twice.
        ui.sample_list->clear();
        poller.start(this, run_view_poll);
    }

    void on_start() {
        if (!ui_fields_ok(this)) return;
        run_settings s = run_settings_from_form(this);
        const bool remembered = run_settings_save(s) == 0;
        send_start(s);
        // Said after the start: settings that cannot be stored never hold a run up.
        if (!remembered) ui_message_fmt(this, "Start", UI_MB_OK | UI_MB_ICONWARNING, "%s", RUN_SETTINGS_NOT_SAVED);
    }

    void send_start(const run_settings& s) {
        const bool schedule = s.bytes[1] == SCHEDULE_CONTROL;
        if (ui_await(this, [&] { return schedule ? run_schedule_start() : run_start(s); }) != 0)
            ui_message_fmt(this, "Start", UI_MB_OK, "%s", schedule ? RUN_SCHEDULE_START_FAILED : RUN_START_FAILED);
    }

    void on_stop() {
        const bool schedule = run_stop_choice(run_status) == run_stop_kind::schedule;
        if (ui_await(this, [&] { return schedule ? run_schedule_stop() : run_stop(); }) != 0)
            ui_message_fmt(this, "Stop", UI_MB_OK, "%s", schedule ? RUN_SCHEDULE_STOP_FAILED : RUN_STOP_FAILED);
    }

    void on_clear_log() {
        if (ui_message_fmt(this, "Clear Log", UI_MB_YESNO | UI_MB_ICONQUESTION, "%s", SAMPLE_LOG_CLEAR_QUESTION) !=
            UI_IDYES)
            return;
        // Rows it read and posted before now are dropped; its last exchange goes before the clear.
        ui_poller_end last_read = poller.stop();
        const int r = ui_await(this, [&] {
            last_read.wait(LINK_TIMEOUT_SERVICE_MS);
            return sample_log_clear();
        });
        if (ui_window_gone(this)) return;
        if (r == 0)
            ui.sample_list->clear();
        else
            ui_message_fmt(this, "Clear Log", UI_MB_OK, "%s", SAMPLE_LOG_CLEAR_FAILED);
        if (alive) start_poller();
    }

    void on_cartridge_double_click() {
        if (status_state(run_status) > STATE_IDLE) return;
        if (g_cartridge_dialog) g_cartridge_dialog(this);  // a test's stand-in
        else cartridge_dialog_run(this);
        if (alive) poller.wake();  // the new ID shows at once
    }

    ui_poller poller;
};

run_view* as_run(app_view* v) { return v && v->view_id() == VIEW_RUN ? static_cast<run_view*>(v) : nullptr; }

// Reads new sample log records one at a time with a short pause before each; the newest
// record is read again on every pass so its row follows the instrument.
// The window is only named on the poller's thread, never looked at: it may be gone by now, and
// the calls posted to it run only while it is there.
void sample_log_fetch(worker_thread* self, QObject* window, sample_log_cursor& cursor) {
    for (;;) {
        if (worker_thread_pause(self)) return;
        sample_log_record record;
        const int r = sample_log_read(cursor.next, record);
        if (r == 0) {
            const int n = cursor.next;
            const bool rewrite = cursor.rewrite;
            sample_log_row row = sample_log_cells(record);
            ui_poll_post(self, [window, n, rewrite, row] { static_cast<run_view*>(window)->show_row(n, rewrite, row); });
            cursor.next = uint16_t(cursor.next + 1);
            cursor.rewrite = false;
            continue;
        }
        if (r == RESULT_UNSUPPORTED && cursor.next > 0) {
            cursor.next = uint16_t(cursor.next - 1);
            cursor.rewrite = true;
        }
        return;
    }
}

int run_view_poll(worker_thread* self) {
    QObject* window = ui_poll_window(self);
    sample_log_cursor cursor;
    for (;;) {
        status_record s;
        if (status_read(s) == 0) ui_poll_post(self, [window, s] { run_view_take_status(static_cast<run_view*>(window), s); });
        sample_log_fetch(self, window, cursor);
        if (worker_thread_stopping(self)) return 0;
        worker_thread_wait(self, POLL_PERIOD_MS);
        if (worker_thread_stopping(self)) return 0;
    }
}

}  // namespace

app_view* run_view_create(QWidget* parent) { return new run_view(parent); }

void run_view_register_cartridge_dialog(run_view_dialog_fn open) { g_cartridge_dialog = open; }

void run_view_take_status(app_view* view, const status_record& status) {
    run_view* v = as_run(view);
    if (!v) return;
    v->run_status = status;
    v->stale->answered();
    v->take_trend_sample(status);
    run_view_show_status(v);
    run_view_update_controls(v);
}

void run_view_show_status(app_view* view) {
    run_view* v = as_run(view);
    if (!v) return;
    const run_status_texts t = run_status_format(v->run_status);
    v->ui.cartridge_display->setText(QString::fromStdString(t.cartridge));
    ui_set_text_fmt(v->ui.clock_line, "%s", t.clock.c_str());
    ui_set_text_fmt(v->ui.control_line, "%s", t.control.c_str());
    ui_set_text_fmt(v->ui.waypoint_line, "%s", t.waypoint.c_str());
    ui_set_text_fmt(v->ui.state_line, "%s", t.state.c_str());
    ui_set_text_fmt(v->ui.run_status_line, "%s", t.run_status.c_str());
    ui_set_text_fmt(v->ui.flow_line, "%s", t.flow.c_str());
    ui_set_text_fmt(v->ui.pressure_line, "%s", t.pressure.c_str());
}

void run_view_update_controls(app_view* view) {
    run_view* v = as_run(view);
    if (!v) return;
    const int row = v->ui.mode_box->currentIndex();
    const uint8_t mode = row >= 0 && row < RUN_MODE_COUNT ? RUN_MODES[row].code : 0;
    const run_enables e = run_enable_rules(v->run_status, mode);
    v->ui.mode_box->setEnabled(e.mode_box);
    v->ui.clear_button->setEnabled(e.clear_log);
    v->ui.mode_label->setEnabled(e.mode_label);
    v->ui.cartridges_label->setEnabled(e.cartridges);
    v->ui.cartridges_edit->setEnabled(e.cartridges);
    v->ui.volume_label->setEnabled(e.volume);
    v->ui.volume_edit->setEnabled(e.volume);
    v->ui.timeout_label->setEnabled(e.timeout);
    v->ui.timeout_edit->setEnabled(e.timeout);
    v->ui.clean_check->setEnabled(e.clean);
    // A field that the mode uses and that cannot be sent as typed (red) holds Start back.
    v->ui.start_button->setEnabled(e.start && ui_fields_ok(v));
    v->ui.stop_button->setEnabled(e.stop);
    v->post_menu_state(e.running);
}

void run_settings_to_form(app_view* view, const run_settings& settings) {
    run_view* v = as_run(view);
    if (!v) return;
    const run_form f = run_settings_form_texts(settings);
    v->ui.mode_box->setCurrentIndex(f.mode_row);
    ui_set_text_fmt(v->ui.cartridges_edit, "%s", f.cartridges.c_str());
    ui_set_text_fmt(v->ui.volume_edit, "%s", f.volume.c_str());
    ui_set_text_fmt(v->ui.timeout_edit, "%s", f.timeout.c_str());
    ui_set_check(v->ui.clean_check, f.clean ? 1 : 0);
}

run_settings run_settings_from_form(app_view* view) {
    run_view* v = as_run(view);
    if (!v) return run_settings{};
    run_form f;
    f.mode_row = v->ui.mode_box->currentIndex();
    f.cartridges = v->ui.cartridges_edit->text().toStdString();
    f.volume = v->ui.volume_edit->text().left(23).toStdString();
    f.timeout = v->ui.timeout_edit->text().toStdString();
    f.clean = ui_is_checked(v->ui.clean_check) == 1;
    return run_settings_parse_form(f);
}

int sample_log_save(app_view* view) {
    run_view* v = as_run(view);
    if (!v) return 0;
    ui_file_request request;
    request.save = true;
    request.title = QStringLiteral("Sample Log File");
    request.filter = QStringLiteral("LOG Files (*.log);;All Files (*.*)");
    request.default_suffix = QStringLiteral("log");
    request.start_path = g_save_path;
    const QString path = ui_file_dialog(v, request);
    if (path.isEmpty()) return 0;
    g_save_path = path;
    const QByteArray name = ui_path_for_message(path);
    // Success is reported only once the whole file is on disk under its name.
    int rows = 0;
    if (ui_list_save(v->ui.sample_list, SAMPLE_LOG_COLUMN_COUNT, path, &rows) != 0) {
        ui_message_fmt(v, "Save Sample Log", UI_MB_OK, "Unable to open %s for write", name.constData());
        return 0;
    }
    if (rows == 0) return 0;
    ui_message_fmt(v, "Save Sample Log", UI_MB_OK, "Diagnostics saved to %s", name.constData());
    return 1;
}
