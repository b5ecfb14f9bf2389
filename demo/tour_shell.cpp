// The tour's first and last chapters: the connect view, the run view during a run with its
// trend, and the About box; then the removal of the connected instrument and a firmware upgrade.
#include "app/connect_view.h"
#include "app/main_window.h"
#include "demo/tour.h"
#include "instrument/sim_bus.h"
#include "ui/dialog_helpers.h"
#include "ui/trend_plot.h"
#include "ui/view.h"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QFile>
#include <QLineEdit>
#include <QMessageBox>
#include <QMouseEvent>
#include <QPushButton>
#include <QTimer>

std::vector<tour_step> tour_opening(const tour_context& t) {
    main_window* main = t.main;
    auto view = [] { return main_current_view(); };
    return {
        [=] { tour_save(main, "01-connect-view"); },
        [=] { tour_click_row(connect_view_list(view()), 0, false); },
        [=] { tour_save(main, "02-connect-view-selected"); },
        [=] {
            tour_save_next_modal("03-about-not-connected");
            main_command(ID_HELP_ABOUT);
        },
        [=] { tour_click_row(connect_view_list(view()), 0, true); },
        [=] { tour_save(main, "04-run-view"); },
        [=] {
            // A two-cartridge sample run of 1.5 litres with cleaning.
            auto* v = view();
            v->findChild<QComboBox*>(QStringLiteral("mode_box"))->setCurrentIndex(1);
            v->findChild<QLineEdit*>(QStringLiteral("cartridges_edit"))->setText(QStringLiteral("2"));
            v->findChild<QLineEdit*>(QStringLiteral("volume_edit"))->setText(QStringLiteral("1.5"));
            v->findChild<QLineEdit*>(QStringLiteral("timeout_edit"))->setText(QStringLiteral("10"));
            v->findChild<QCheckBox*>(QStringLiteral("clean_check"))->setChecked(true);
            v->findChild<QPushButton*>(QStringLiteral("start_button"))->click();
        },
        [=] { tour_wait_ms(4500); },
        [=] { tour_save(main, "04b-run-view-pumping"); },
        [=] { tour_wait_ms(14000); },
        [=] { tour_save(main, "04c-run-view-log-record"); },
        [=] {
            // The run's trend with the mouse over it: the time there and the values under it.
            if (auto* plot = view()->findChild<trend_plot*>(QStringLiteral("trend"))) {
                const QPointF at(plot->width() * 0.3, plot->height() / 2.0);
                QMouseEvent move(QEvent::MouseMove, at, plot->mapToGlobal(at), Qt::NoButton, Qt::NoButton, Qt::NoModifier);
                QApplication::sendEvent(plot, &move);
            }
            tour_save(main, "04d-run-view-trend");
            if (auto* plot = view()->findChild<trend_plot*>(QStringLiteral("trend"))) {
                QEvent leave(QEvent::Leave);  // the mouse goes: the later pictures show no cursor
                QApplication::sendEvent(plot, &leave);
            }
        },
        [=] {
            // File > Save Trend... writes it as comma-separated text.
            ui_set_file_hook([](QWidget*, const ui_file_request&) { return tour_file("run-trend.csv"); });
            tour_save_next_modal("04e-run-view-trend-saved");
            main_command(ID_FILE_SAVE_TREND);
            ui_set_file_hook({});
        },
        [=] {
            tour_save_next_modal("05-about-connected");
            main_command(ID_HELP_ABOUT);
        },
    };
}

std::vector<tour_step> tour_closing(const tour_context& t) {
    main_window* main = t.main;
    QWidget* panel = t.panel;
    auto view = [] { return main_current_view(); };
    return {
        [=] { main_command(ID_VIEW_RUN); },
        [=] {
            // The instrument falls silent while a dialog reads it: the window waits, painting,
            // and says so; the run view marks its readings as stale; then the read fails.
            auto dev = sim_bus_find("sim:1");
            if (!dev) return;
            dev->set_never_answer(true);
            QTimer::singleShot(2500, [main] { tour_save(main, "06-waiting-for-the-instrument"); });
            tour_save_modal_when([] { return qobject_cast<QMessageBox*>(QApplication::activeModalWidget()) != nullptr; },
                                 "06b-read-failed");
            main_command(ID_CONFIGURE_FLOW);
            dev->set_never_answer(false);
        },
        [=] { tour_wait_ms(2500); },
        [=] {
            tour_save_next_modal("07-sensor-disconnected");
            if (auto dev = sim_bus_find("sim:1")) dev->unplug();
        },
        [=] { tour_save(main, "08-connect-view-after-removal"); },
        [=] {
            // Upgrade the instrument whose bootloader runs, with a made-up firmware image.
            const QString path = tour_file("firmware-2.5.0.bin");
            QFile image(path);
            if (image.open(QIODevice::WriteOnly)) {
                QByteArray bytes(24 * 1024, '\0');
                for (int i = 0; i < bytes.size(); ++i) bytes[i] = char(i * 31 + 7);
                bytes.replace(1024, 23, "FWVER:2.5.0 (upgraded)\0");
                image.write(bytes);
            }
            ui_set_file_hook([path](QWidget*, const ui_file_request&) { return path; });
            if (auto dev = sim_bus_find("sim:2")) dev->set_latency(sim_latency::usb_full_speed);
            tour_click_row(connect_view_list(view()), 0, false);
            QTimer::singleShot(1500, [] { tour_save(QApplication::activeModalWidget(), "10-upgrade-running"); });
            tour_save_modal_when([] { return qobject_cast<QMessageBox*>(QApplication::activeModalWidget()) != nullptr; },
                                 "11-upgrade-complete");
            connect_view_button(view(), 1)->click();
            ui_set_file_hook({});
        },
        [=] { connect_view_button(view(), 0)->click(); },
        [=] { tour_wait_ms(1500); },
        [=] {
            tour_save_next_modal("12-about-after-upgrade");
            main_command(ID_HELP_ABOUT);
        },
        [=] { tour_save(panel, "09-virtual-instrument"); },
    };
}
