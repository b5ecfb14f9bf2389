// The tour's chapter of the sampling schedule, the real-time clock and the cartridge ID reset:
// plan a two-waypoint schedule, look at the clock, correct the top cartridge's ID, then start
// the schedule from the run view and step the instrument's clock until the samples are in the
// log.
#include "app/main_window.h"
#include "demo/tour.h"
#include "instrument/sim_bus.h"
#include "ui/large_text.h"
#include "ui/view.h"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDialog>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QMouseEvent>
#include <QPushButton>
#include <QRadioButton>
#include <QTabWidget>
#include <QTimer>

namespace {

template <typename T>
T* find(QWidget* in, const QString& name) {
    return in ? in->findChild<T*>(name) : nullptr;
}

bool message_box_up() { return qobject_cast<QMessageBox*>(QApplication::activeModalWidget()) != nullptr; }

// The plan: a minute after the start, two samples of a litre with cleaning; three minutes after
// it, one sample of a litre and a half.
void fill_schedule(QDialog* d) {
    struct row {
        const char *offset, *samples, *volume, *timeout;
        bool clean;
    };
    const row plan[] = {{"1", "2", "1.0", "5", true}, {"3", "1", "1.5", "5", false}};
    find<QCheckBox>(d, QStringLiteral("autostart_check"))->setChecked(false);
    find<QRadioButton>(d, QStringLiteral("start_next_radio"))->click();
    for (int n = 1; n <= 15; ++n) {
        const QString i = QString::number(n);
        auto* used = find<QCheckBox>(d, QStringLiteral("row_check_") + i);
        used->setChecked(n <= 2);
        if (n > 2) continue;
        const row& r = plan[n - 1];
        find<QLineEdit>(d, QStringLiteral("offset_edit_") + i)->setText(QString::fromUtf8(r.offset));
        find<QLineEdit>(d, QStringLiteral("samples_edit_") + i)->setText(QString::fromUtf8(r.samples));
        find<QLineEdit>(d, QStringLiteral("volume_edit_") + i)->setText(QString::fromUtf8(r.volume));
        find<QLineEdit>(d, QStringLiteral("timeout_edit_") + i)->setText(QString::fromUtf8(r.timeout));
        find<QCheckBox>(d, QStringLiteral("clean_check_") + i)->setChecked(r.clean);
    }
}

// The chapter before may have left a run going: the schedule and the cartridge ID wait for the
// sampler to be idle.
void wait_for_idle() {
    for (int waited = 0; waited < 60000; waited += 250) {
        auto* line = find<QLabel>(main_current_view(), QStringLiteral("state_line"));
        if (line && line->text() == QStringLiteral("Sampler State: Idle")) return;
        tour_wait_ms(250);
    }
}

void step_clock(int seconds) {
    if (auto dev = sim_bus_find("sim:1")) dev->advance_clock(uint64_t(seconds) * 1000);
}

}  // namespace

std::vector<tour_step> tour_sampler(const tour_context& t) {
    main_window* main = t.main;
    QWidget* panel = t.panel;
    auto view = [] { return main_current_view(); };
    return {
        [=] { wait_for_idle(); },
        [=] {
            // Plan the schedule and save it: the dialog reads back what the instrument now holds.
            QTimer::singleShot(400, [] {
                auto* d = qobject_cast<QDialog*>(QApplication::activeModalWidget());
                if (!d) return;
                fill_schedule(d);
                tour_save(d, "20-schedule-dialog-edited");
                tour_save_modal_when(message_box_up, "20b-schedule-saved");
                find<QPushButton>(d, QStringLiteral("save_button"))->click();
                tour_save(d, "20-schedule-dialog");
                d->close();
            });
            main_command(ID_CONFIGURE_SCHEDULE);
        },
        [=] {
            // The clock display follows the instrument once a second.
            QTimer::singleShot(1600, [] {
                QWidget* d = QApplication::activeModalWidget();
                tour_save(d, "21-clock-dialog");
                if (d) d->close();
            });
            main_command(ID_CONFIGURE_CLOCK);
        },
        [=] {
            // A double-click on the cartridge display while idle: correct the top cartridge's ID.
            QTimer::singleShot(400, [] {
                auto* d = qobject_cast<QDialog*>(QApplication::activeModalWidget());
                if (!d) return;
                find<QLineEdit>(d, QStringLiteral("id_edit"))->setText(QStringLiteral("501"));
                tour_save(d, "22-cartridge-dialog");
                find<QPushButton>(d, QStringLiteral("ok_button"))->click();
            });
            auto* display = find<large_text_display>(view(), QStringLiteral("cartridge_display"));
            const QPoint at = display->rect().center();
            QMouseEvent dbl(QEvent::MouseButtonDblClick, at, display->mapToGlobal(at), Qt::LeftButton, Qt::LeftButton,
                            Qt::NoModifier);
            QApplication::sendEvent(display, &dbl);
        },
        [=] {
            // Hand control to the schedule.
            auto* v = view();
            find<QComboBox>(v, QStringLiteral("mode_box"))->setCurrentIndex(3);
            find<QPushButton>(v, QStringLiteral("start_button"))->click();
        },
        [=] { tour_wait_ms(1500); },
        [=] { tour_save(main, "23-run-view-schedule-waiting"); },
        // A minute and a second later by the instrument's clock: the first waypoint runs.
        [=] { step_clock(61); },
        [=] { tour_wait_ms(4000); },
        [=] { tour_save(main, "24-run-view-first-waypoint"); },
        // Three minutes on: both waypoints have run and their samples are in the log.
        [=] { step_clock(180); },
        [=] { tour_wait_ms(2500); },
        [=] { tour_save(main, "25-run-view-schedule-samples"); },
        [=] {
            // The instrument's side of it, on the "Virtual Instrument" window.
            auto* tabs = panel ? panel->findChild<QTabWidget*>() : nullptr;
            QWidget* mine = panel ? panel->findChild<QWidget*>(QStringLiteral("panel_sampler")) : nullptr;
            if (!tabs || !mine) return;
            const int before = tabs->currentIndex();
            tabs->setCurrentWidget(mine);
            tour_wait_ms(600);
            tour_save(panel, "26-virtual-instrument-clock-tab");
            tabs->setCurrentIndex(before);
        },
        [=] {
            auto* v = view();
            find<QPushButton>(v, QStringLiteral("stop_button"))->click();
            find<QComboBox>(v, QStringLiteral("mode_box"))->setCurrentIndex(1);
        },
        [=] { tour_wait_ms(1500); },
    };
}
