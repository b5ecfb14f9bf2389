// veltranic-demo: the tool with the virtual instrument's bus attached, one instrument plugged
// in, and the "Virtual Instrument" window beside it.
//
//   veltranic-demo              run it
//   veltranic-demo --tour DIR   walk through every window and save a PNG of each into DIR
//   veltranic-demo --measure-cpu S  connect, start a long sampling run, and report the CPU time
//                               the process used over the next S seconds
//   veltranic-demo --first-paint  print the wall-clock time (ns since 1970) of the main window's
//                               first paint and the peak resident memory, then quit
#include "app/connect_view.h"
#include "app/main_window.h"
#include "demo/instrument_panel.h"
#include "instrument/sim_bus.h"
#include "platform/hid_linux.h"
#include "ui/app_messages.h"
#include "ui/dialog_helpers.h"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QElapsedTimer>
#include <QLabel>
#include <QLineEdit>
#include <QDir>
#include <QFile>
#include <QMessageBox>
#include <QMouseEvent>
#include <QPushButton>
#include <QTimer>
#include <QTreeWidget>

#include <chrono>
#include <clocale>
#include <cstdio>
#include <fstream>

#include <sys/resource.h>
#include <functional>
#include <string>
#include <vector>

namespace {

QString g_tour_dir;
std::vector<std::function<void()>> g_steps;
size_t g_step = 0;
int g_saved = 0;

void save(QWidget* w, const char* name) {
    if (!w) return;
    const QString path = QDir(g_tour_dir).filePath(QString::fromUtf8(name) + QStringLiteral(".png"));
    if (w->grab().save(path)) {
        std::printf("%s\n", path.toUtf8().constData());
        ++g_saved;
    } else {
        std::fprintf(stderr, "could not save %s\n", path.toUtf8().constData());
    }
}

// Saves the modal window that the next step opens, then closes it.
void save_next_modal(const char* name) {
    QTimer::singleShot(400, [name] {
        QWidget* modal = QApplication::activeModalWidget();
        save(modal, name);
        if (modal) modal->close();
    });
}

// Saves and closes the first modal window for which `ready` holds.
void save_modal_when(std::function<bool()> ready, const char* name) {
    QTimer::singleShot(100, [ready, name] {
        if (!ready()) return save_modal_when(ready, name);
        QWidget* modal = QApplication::activeModalWidget();
        save(modal, name);
        modal->close();
    });
}

void click_row(QTreeWidget* list, int row, bool twice) {
    if (!list || !list->topLevelItem(row)) return;
    const QPoint at = list->visualItemRect(list->topLevelItem(row)).center();
    list->setCurrentItem(list->topLevelItem(row));
    QMouseEvent release(QEvent::MouseButtonRelease, at, list->viewport()->mapToGlobal(at), Qt::LeftButton, Qt::NoButton, Qt::NoModifier);
    QApplication::sendEvent(list->viewport(), &release);
    if (twice) {
        QMouseEvent dbl(QEvent::MouseButtonDblClick, at, list->viewport()->mapToGlobal(at), Qt::LeftButton, Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(list->viewport(), &dbl);
    }
}

// Lets the program run for a while (the instrument works in real time).
void wait_ms(int ms) {
    QElapsedTimer t;
    t.start();
    while (t.elapsed() < ms) QApplication::processEvents(QEventLoop::AllEvents, 20);
}

void next_step() {
    if (g_step >= g_steps.size()) {
        QApplication::exit(g_saved > 0 ? 0 : 1);
        return;
    }
    auto step = g_steps[g_step++];
    QTimer::singleShot(600, [step] {
        step();
        next_step();
    });
}

void build_tour(main_window* main, QWidget* panel) {
    auto view = [] { return main_current_view(); };
    g_steps = {
        [=] { save(main, "01-connect-view"); },
        [=] { click_row(connect_view_list(view()), 0, false); },
        [=] { save(main, "02-connect-view-selected"); },
        [=] {
            save_next_modal("03-about-not-connected");
            main_command(ID_HELP_ABOUT);
        },
        [=] { click_row(connect_view_list(view()), 0, true); },
        [=] { save(main, "04-run-view"); },
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
        [=] { wait_ms(4500); },
        [=] { save(main, "04b-run-view-pumping"); },
        [=] { wait_ms(14000); },
        [=] { save(main, "04c-run-view-log-record"); },
        [=] {
            save_next_modal("05-about-connected");
            main_command(ID_HELP_ABOUT);
        },
        [=] { main_command(ID_VIEW_DIAGNOSTICS); },
        [=] { save(main, "06-diagnostics-view"); },
        [=] { main_command(ID_VIEW_RUN); },
        [=] {
            save_next_modal("07-sensor-disconnected");
            if (auto dev = sim_bus_find("sim:1")) dev->unplug();
        },
        [=] { save(main, "08-connect-view-after-removal"); },
        [=] {
            // Upgrade the instrument whose bootloader runs, with a made-up firmware image.
            const QString path = QDir(g_tour_dir).filePath(QStringLiteral("firmware-2.5.0.bin"));
            QFile image(path);
            if (image.open(QIODevice::WriteOnly)) {
                QByteArray bytes(24 * 1024, '\0');
                for (int i = 0; i < bytes.size(); ++i) bytes[i] = char(i * 31 + 7);
                bytes.replace(1024, 23, "FWVER:2.5.0 (upgraded)\0");
                image.write(bytes);
            }
            ui_set_file_hook([path](QWidget*, const ui_file_request&) { return path; });
            if (auto dev = sim_bus_find("sim:2")) dev->set_latency(sim_latency::usb_full_speed);
            click_row(connect_view_list(view()), 0, false);
            QTimer::singleShot(1500, [] { save(QApplication::activeModalWidget(), "10-upgrade-running"); });
            save_modal_when([] { return qobject_cast<QMessageBox*>(QApplication::activeModalWidget()) != nullptr; },
                            "11-upgrade-complete");
            connect_view_button(view(), 1)->click();
            ui_set_file_hook({});
        },
        [=] { connect_view_button(view(), 0)->click(); },
        [=] { wait_ms(1500); },
        [=] {
            save_next_modal("12-about-after-upgrade");
            main_command(ID_HELP_ABOUT);
        },
        [=] { save(panel, "09-virtual-instrument"); },
    };
}

// Quits at the main window's first paint, reporting when it happened and the peak memory.
class first_paint_probe : public QObject {
protected:
    bool eventFilter(QObject* watched, QEvent* e) override {
        if (e->type() == QEvent::Paint && !done_) {
            done_ = true;
            const auto now = std::chrono::system_clock::now().time_since_epoch();
            std::ifstream status("/proc/self/status");
            std::string line, peak = "?";
            while (std::getline(status, line))
                if (line.rfind("VmHWM:", 0) == 0) peak = line.substr(6);
            std::printf("first_paint_ns %lld\npeak_rss %s\n",
                        static_cast<long long>(std::chrono::duration_cast<std::chrono::nanoseconds>(now).count()),
                        peak.c_str());
            std::fflush(stdout);
            QTimer::singleShot(0, [] { QApplication::exit(0); });
        }
        return QObject::eventFilter(watched, e);
    }

private:
    bool done_ = false;
};

double cpu_seconds() {
    rusage u{};
    getrusage(RUSAGE_SELF, &u);
    return double(u.ru_utime.tv_sec + u.ru_stime.tv_sec) + double(u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
}

void measure_cpu(int seconds) {
    click_row(connect_view_list(main_current_view()), 0, true);
    QTimer::singleShot(1500, [seconds] {
        auto* v = main_current_view();
        v->findChild<QComboBox*>(QStringLiteral("mode_box"))->setCurrentIndex(1);
        v->findChild<QLineEdit*>(QStringLiteral("cartridges_edit"))->setText(QStringLiteral("200"));
        v->findChild<QLineEdit*>(QStringLiteral("volume_edit"))->setText(QStringLiteral("20"));
        v->findChild<QPushButton*>(QStringLiteral("start_button"))->click();
        const double cpu0 = cpu_seconds();
        QElapsedTimer wall;
        wall.start();
        QTimer::singleShot(seconds * 1000, [cpu0, wall] {
            const double cpu = cpu_seconds() - cpu0;
            const double secs = double(wall.elapsed()) / 1000.0;
            auto* view = main_current_view();
            const QString state = view->findChild<QLabel*>(QStringLiteral("state_line"))->text();
            std::printf("cpu %.3f s over %.1f s = %.3f%% of one core (last state: %s)\n", cpu, secs, 100.0 * cpu / secs,
                        state.toUtf8().constData());
            QApplication::exit(0);
        });
    });
}

}  // namespace

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    // Qt has applied the desktop's locale to the C library; numbers stay in the C conventions.
    std::setlocale(LC_NUMERIC, "C");
    QApplication::setApplicationName(QStringLiteral("veltranic-demo"));
    const QStringList args = QApplication::arguments();
    const int tour = int(args.indexOf(QStringLiteral("--tour")));
    if (tour > 0) {
        if (tour + 1 >= args.size()) {
            std::fprintf(stderr, "usage: veltranic-demo [--tour DIR]\n");
            return 2;
        }
        g_tour_dir = args[tour + 1];
        QDir().mkpath(g_tour_dir);
    }

    hid_bus_register(hid_linux_backend());
    sim_bus_install();
    app_register_windows();
    QWidget* panel = instrument_panel_create();  // plugs in the first instrument
    if (!g_tour_dir.isEmpty()) {
        // A second instrument, in bootloader mode, so the list shows both kinds of row.
        sim_device_config boot;
        boot.firmware.mode = sim_mode::bootloader;
        boot.firmware.identity.name = "HARBOUR-2";
        boot.firmware.identity.serial = 2002;
        boot.firmware.identity.type_code = 1130;
        sim_bus_add(boot);
    }
    first_paint_probe probe;
    const bool first_paint = args.contains(QStringLiteral("--first-paint"));
    main_window* main = main_window_create();
    if (first_paint) {
        main->installEventFilter(&probe);
        for (QWidget* child : main->findChildren<QWidget*>()) child->installEventFilter(&probe);
    }
    panel->move(main->frameGeometry().right() + 8, 0);
    panel->show();
    QObject::connect(main, &QObject::destroyed, panel, [panel] { panel->close(); });
    panel->setAttribute(Qt::WA_DeleteOnClose);

    if (!g_tour_dir.isEmpty()) {
        build_tour(main, panel);
        next_step();
    }
    if (const int at = int(args.indexOf(QStringLiteral("--measure-cpu"))); at > 0 && at + 1 < args.size())
        measure_cpu(args[at + 1].toInt());
    const int rc = QApplication::exec();
    sim_bus_reset();
    return rc;
}
