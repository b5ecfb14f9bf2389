// veltranic-demo: the tool with the virtual instrument's bus attached, one instrument plugged
// in, and the "Virtual Instrument" window beside it.
//
//   veltranic-demo              run it
//   veltranic-demo --tour DIR   walk through every window and save a PNG of each into DIR
//   veltranic-demo --measure-cpu S  connect, start a long sampling run, and report the CPU time
//                               the process used over the next S seconds
//   veltranic-demo --first-paint  print the wall-clock time (ns since 1970) of the main window's
//                               first paint and the peak resident memory, then quit
//   veltranic-demo --record FILE  record every frame to and from the instruments into FILE
//   veltranic-demo --replay FILE  the recording FILE (FILE?fast: without its pacing) in place of
//                               the virtual instruments, which the "Virtual Instrument" window
//                               then drives unattached (with --tour: the tour played back)
#include "app/connect_view.h"
#include "app/main_window.h"
#include "app/record_menu.h"
#include "demo/panel.h"
#include "demo/tour.h"
#include "instrument/sim_bus.h"
#include "link/link.h"
#include "link/worker_thread.h"
#include "platform/hid_system.h"
#include "ui/app_messages.h"
#include "ui/dialog_helpers.h"

#include <QApplication>
#include <QComboBox>
#include <QDir>
#include <QElapsedTimer>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTimer>
#include <QTreeWidget>

#include <chrono>
#include <clocale>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <functional>
#include <string>
#include <vector>

#ifdef _WIN32
#include <windows.h>
#else
#include <sys/resource.h>
#endif

namespace {

std::vector<tour_step> g_steps;
size_t g_step = 0;

void next_step() {
    if (g_step >= g_steps.size()) {
        QApplication::exit(tour_saved_count() > 0 ? 0 : 1);
        return;
    }
    auto step = g_steps[g_step++];
    QTimer::singleShot(600, [step] {
        step();
        next_step();
    });
}

void build_tour(const tour_context& t) {
    for (auto chapter : {tour_opening, tour_sampler, tour_motors, tour_settings, tour_diagnostics, tour_closing}) {
        std::vector<tour_step> steps = chapter(t);
        g_steps.insert(g_steps.end(), steps.begin(), steps.end());
    }
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
#ifdef _WIN32
    FILETIME created, ended, kernel, user;
    if (!GetProcessTimes(GetCurrentProcess(), &created, &ended, &kernel, &user)) return 0;
    auto seconds = [](const FILETIME& t) {  // in units of 100 ns
        return double((uint64_t(t.dwHighDateTime) << 32) | t.dwLowDateTime) / 1e7;
    };
    return seconds(kernel) + seconds(user);
#else
    rusage u{};
    getrusage(RUSAGE_SELF, &u);
    return double(u.ru_utime.tv_sec + u.ru_stime.tv_sec) + double(u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
#endif
}

// Runs then once ready holds, looking every 50 ms on the event loop; after limit_ms it says what
// it waited for and ends the program.
void when_ready(std::function<bool()> ready, std::function<void()> then, const char* what, int limit_ms = 15000) {
    if (ready()) return then();
    if (limit_ms <= 0) {
        std::fprintf(stderr, "measure-cpu: gave up waiting for %s\n", what);
        QApplication::exit(1);
        return;
    }
    QTimer::singleShot(50, [=] { when_ready(ready, then, what, limit_ms - 50); });
}

void measure_cpu(int seconds) {
    // The instruments are listed, and connected to, while the event loop runs: wait for each.
    auto listed = [] {
        QTreeWidget* list = connect_view_list(main_current_view());
        return list && list->topLevelItemCount() > 0;
    };
    auto run_view_shown = [] {
        auto* v = main_current_view();
        return v && v->view_id() == VIEW_RUN && v->findChild<QComboBox*>(QStringLiteral("mode_box"));
    };
    when_ready(listed, [=] {
        tour_click_row(connect_view_list(main_current_view()), 0, true);
        when_ready(run_view_shown, [seconds] {
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
                auto* state_line = view ? view->findChild<QLabel*>(QStringLiteral("state_line")) : nullptr;
                const QString state = state_line ? state_line->text() : QStringLiteral("(no run view)");
                std::printf("cpu %.3f s over %.1f s = %.3f%% of one core (last state: %s)\n", cpu, secs, 100.0 * cpu / secs,
                            state.toUtf8().constData());
                QApplication::exit(0);
            });
        }, "the run view");
    }, "the instrument in the list");
}

}  // namespace

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    // Qt has applied the desktop's locale to the C library; numbers stay in the C conventions.
    std::setlocale(LC_NUMERIC, "C");
    QApplication::setApplicationName(QStringLiteral("veltranic-demo"));
    const QStringList args = QApplication::arguments();
    const int tour = int(args.indexOf(QStringLiteral("--tour")));
    QString tour_dir;
    if (tour > 0) {
        if (tour + 1 >= args.size()) {
            std::fprintf(stderr, "usage: veltranic-demo [--tour DIR]\n");
            return 2;
        }
        tour_dir = args[tour + 1];
        QDir().mkpath(tour_dir);
        tour_set_dir(tour_dir);
    }

    record_options recording;
    QString error;
    if (!record_parse_args(args, recording, &error)) {
        std::fprintf(stderr, "veltranic-demo: %s\n", error.toLocal8Bit().constData());
        return 2;
    }
    hid_bus_register(hid_system_backend());
    // A replay stands in for the virtual instruments: they are made as usual, but not attached.
    if (recording.replays.isEmpty()) sim_bus_install();
    if (const int rc = record_begin(recording, "veltranic-demo"); rc != 0) return rc;
    app_register_windows();
    QWidget* panel = instrument_panel_create();  // plugs in the first instrument
    if (!tour_dir.isEmpty()) {
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

    if (!tour_dir.isEmpty()) {
        build_tour({main, panel, tour_dir});
        next_step();
    }
    if (const int at = int(args.indexOf(QStringLiteral("--measure-cpu"))); at > 0 && at + 1 < args.size())
        measure_cpu(args[at + 1].toInt());
    const int rc = QApplication::exec();
    // Pollers that the windows stopped end their last exchange before the instruments go.
    link_close();
    worker_thread_join_all(2000);
    const int result = record_end("veltranic-demo", rc);
    sim_bus_reset();
    return result;
}
