// The tour's chapter of the diagnostics view and the task monitor: the instrument's log during a
// run, with a restart, information, an error and (once the Tasks dialog has turned Debug on for
// one task) its debug records; the Tasks dialog; the readings' trend across a silence of the
// instrument; the saved log; the LED on the panel; the panel's Faults tab with faults aimed at
// commands the view does not poll.
#include "app/main_window.h"
#include "demo/tour.h"
#include "instrument/sim_bus.h"
#include "link/commands.h"
#include "ui/dialog_helpers.h"
#include "ui/view.h"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDialog>
#include <QMessageBox>
#include <QPushButton>
#include <QSpinBox>
#include <QTabWidget>
#include <QTimer>

namespace {

QPushButton* view_button(const char* name) {
    app_view* v = main_current_view();
    return v ? v->findChild<QPushButton*>(QString::fromUtf8(name)) : nullptr;
}

void with_instrument(const std::function<void(sim_firmware&)>& fn) {
    if (auto dev = sim_bus_find("sim:1")) dev->with_firmware(fn);
}

bool message_box_shown() { return qobject_cast<QMessageBox*>(QApplication::activeModalWidget()) != nullptr; }

}  // namespace

std::vector<tour_step> tour_diagnostics(const tour_context& t) {
    main_window* main = t.main;
    QWidget* panel = t.panel;
    return {
        [=] {
            // A run of two cartridges, a start refused while it runs (an error), debug records
            // written twice a second by every task (kept once a task's Debug filter is on).
            with_instrument([](sim_firmware& fw) {
                fw.diag.debug_rate = 2;
                const uint8_t run[10] = {0, 1, 2, 15, 0, 0};
                if (!fw.sampler.running()) fw.sampler.start_run(run, fw.now_ms);
                fw.sampler.start_run(run, fw.now_ms);
            });
            main_command(ID_VIEW_DIAGNOSTICS);
        },
        [=] { tour_wait_ms(2500); },
        [=] {
            // The Tasks dialog: Debug on for the sampler's task, saved, then closed.
            QTimer::singleShot(400, [] {
                auto* d = qobject_cast<QDialog*>(QApplication::activeModalWidget());
                if (!d || d->objectName() != QStringLiteral("tasks_dialog")) return;
                if (auto* debug = d->findChild<QCheckBox*>(QStringLiteral("debug_3"))) debug->click();
                tour_save(d, "51-tasks-dialog");
                tour_save_modal_when(message_box_shown, "52-tasks-settings-saved");
                d->findChild<QPushButton*>(QStringLiteral("save_button"))->click();
                d->close();
            });
            if (QPushButton* tasks = view_button("tasks_button")) tasks->click();
        },
        [=] { tour_wait_ms(3500); },
        [=] { tour_save(main, "50-diagnostics-view"); },
        [=] {
            // The instrument falls silent for a while: the readings go stale, and their trend
            // breaks there rather than drawing a line across the silence.
            if (auto dev = sim_bus_find("sim:1")) dev->set_never_answer(true);
        },
        [=] { tour_wait_ms(2500); },
        [=] {
            if (auto dev = sim_bus_find("sim:1")) dev->set_never_answer(false);
        },
        [=] { tour_wait_ms(4000); },
        [=] { tour_save(main, "55-diagnostics-view-trend"); },
        [=] {
            ui_set_file_hook([](QWidget*, const ui_file_request&) { return tour_file("diagnostics.log"); });
            tour_save_next_modal("53-diagnostics-saved");
            if (QPushButton* save = view_button("save_button")) save->click();
            ui_set_file_hook({});
        },
        [=] {
            if (QPushButton* led = view_button("led_button")) led->click();
        },
        [=] { tour_wait_ms(600); },
        [=] {
            // The panel's own tab shows the LED, the log's figures and the task count.
            auto* tabs = panel ? panel->findChild<QTabWidget*>() : nullptr;
            if (!tabs) return;
            for (int i = 0; i < tabs->count(); ++i)
                if (tabs->tabText(i) == QStringLiteral("Diagnostics")) tabs->setCurrentIndex(i);
            tour_wait_ms(600);
            tour_save(panel, "54-virtual-instrument-diagnostics");
            tabs->setCurrentIndex(0);
        },
        [=] {
            // The Faults tab with faults aimed at commands the diagnostics view's poller never
            // sends: they stay pending while it polls. Set through the panel's own controls.
            auto* tabs = panel ? panel->findChild<QTabWidget*>() : nullptr;
            if (!tabs) return;
            if (auto* humidity = panel->findChild<QComboBox*>(QStringLiteral("reading_2"))) humidity->setCurrentIndex(2);
            if (auto* counts = panel->findChild<QPushButton*>(QStringLiteral("arm_task_counts"))) counts->click();
            auto* command = panel->findChild<QComboBox*>(QStringLiteral("fault_command"));
            auto* result = panel->findChild<QSpinBox*>(QStringLiteral("fault_result"));
            auto aim = [&](uint16_t code, const char* button) {
                command->setCurrentIndex(command->findData(code));
                if (auto* b = panel->findChild<QPushButton*>(QString::fromUtf8(button))) b->click();
            };
            if (!command || !result) return;
            aim(CMD_GET_RS232_CONFIG, "fault_drop");
            aim(CMD_GET_SCHEDULE, "fault_delay_button");
            result->setValue(8);
            aim(CMD_SET_DEVICE_INFO, "fault_refuse");
            result->setValue(4);
            aim(CMD_CLEAR_LOG, "fault_force");
            for (int i = 0; i < tabs->count(); ++i)
                if (tabs->tabText(i) == QStringLiteral("Faults")) tabs->setCurrentIndex(i);
            tour_wait_ms(1500);
            tour_save(panel, "55-virtual-instrument-faults");
            if (auto* clear = panel->findChild<QPushButton*>(QStringLiteral("fault_clear_all"))) clear->click();
            tabs->setCurrentIndex(0);
        },
        [=] {
            // Back as it was for the chapters after this one.
            with_instrument([](sim_firmware& fw) {
                fw.sampler.stop_run(fw.now_ms);
                fw.diag.filters[3] &= uint8_t(~4u);
                fw.diag.debug_rate = 1;
            });
            main_command(ID_VIEW_RUN);
        },
    };
}
