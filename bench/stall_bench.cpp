// How long the GUI thread stops: a heartbeat timer on the GUI thread records the longest gap
// between its ticks while a script opens, saves and closes every dialog and presses every view
// button, once against a healthy instrument under the USB latency model and once against
// instruments that never answer. Prints one row per action: the longest stall in each case.
//
//   ./build/ci/bench/stall_bench            both tours
//   ./build/ci/bench/stall_bench healthy    only the healthy tour (or: silent)
#include "app/connect_view.h"
#include "app/main_window.h"
#include "instrument/sim_bus.h"
#include "link/discovery.h"
#include "ui/app_messages.h"
#include "ui/dialog_helpers.h"
#include "ui/view.h"

#include <QApplication>
#include <QDialog>
#include <QElapsedTimer>
#include <QLineEdit>
#include <QMessageBox>
#include <QMouseEvent>
#include <QPointer>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTimer>
#include <QTreeWidget>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <functional>
#include <map>
#include <string>
#include <vector>

namespace {

using steady = std::chrono::steady_clock;

// Ticks every millisecond on the GUI thread; the longest gap between two ticks since the last
// reset is how long the thread could not run its timers.
class heartbeat {
public:
    heartbeat() {
        timer_.setTimerType(Qt::PreciseTimer);
        timer_.setInterval(1);
        QObject::connect(&timer_, &QTimer::timeout, [this] { tick(); });
        timer_.start();
        reset();
    }
    void reset() {
        last_ = steady::now();
        longest_ms_ = 0;
    }
    // The gap up to now counts too: an action that blocks until its very end has no tick after it.
    double longest_ms() {
        tick();
        return longest_ms_;
    }

private:
    void tick() {
        const auto now = steady::now();
        longest_ms_ = std::max(longest_ms_, std::chrono::duration<double, std::milli>(now - last_).count());
        last_ = now;
    }
    QTimer timer_;
    steady::time_point last_;
    double longest_ms_ = 0;
};

void pump(int ms) {
    QElapsedTimer t;
    t.start();
    while (t.elapsed() < ms) QApplication::processEvents(QEventLoop::AllEvents, 5);
}

QDialog* top_dialog() {
    auto* d = qobject_cast<QDialog*>(QApplication::activeModalWidget());
    return d && !qobject_cast<QMessageBox*>(d) ? d : nullptr;
}

// Runs `inside` on the next dialog that comes up (within `limit_ms`), then closes it if inside
// left it open. A dialog that never comes up (its opening read failed) is not waited for beyond
// the action.
class dialog_driver {
public:
    explicit dialog_driver(std::function<void(QDialog*)> inside) : inside_(std::move(inside)) {
        timer_.setInterval(10);
        QObject::connect(&timer_, &QTimer::timeout, [this] {
            QDialog* d = top_dialog();
            if (!d || done_) return;
            done_ = true;
            timer_.stop();
            QPointer<QDialog> p(d);
            if (inside_) inside_(d);
            if (p && p->isVisible()) p->reject();
        });
        timer_.start();
    }

private:
    std::function<void(QDialog*)> inside_;
    QTimer timer_;
    bool done_ = false;
};

void click(QWidget* w, const char* name) {
    if (!w) return;
    if (auto* b = w->findChild<QPushButton*>(QString::fromUtf8(name)); b && b->isEnabled()) b->click();
}

int row_of(const char* path) {
    QTreeWidget* list = connect_view_list(main_current_view());
    if (!list) return -1;
    for (int r = 0; r < list->topLevelItemCount(); ++r) {
        auto* entry = reinterpret_cast<device_entry*>(list->topLevelItem(r)->data(0, Qt::UserRole).toULongLong());
        if (entry && entry->path && std::strcmp(entry->path, path) == 0) return r;
    }
    return -1;
}

void select_row(const char* path) {
    QTreeWidget* list = connect_view_list(main_current_view());
    const int row = row_of(path);
    if (!list || row < 0) return;
    const QPoint at = list->visualItemRect(list->topLevelItem(row)).center();
    list->setCurrentItem(list->topLevelItem(row));
    QMouseEvent release(QEvent::MouseButtonRelease, at, list->viewport()->mapToGlobal(at), Qt::LeftButton, Qt::NoButton,
                        Qt::NoModifier);
    QApplication::sendEvent(list->viewport(), &release);
}

struct action {
    const char* window;
    const char* what;
    std::function<void()> run;
    std::function<void()> before = {};  // not measured
};

// An action that opens a dialog from the menu and works inside it.
action dialog_action(const char* window, const char* what, int command, std::function<void(QDialog*)> inside) {
    return {window, what, [command, inside] {
                dialog_driver driver(inside);
                main_command(command);
            }};
}

QPushButton* view_button(const char* name) {
    app_view* v = main_current_view();
    return v ? v->findChild<QPushButton*>(QString::fromUtf8(name)) : nullptr;
}

std::vector<action> tour() {
    auto press = [](const char* name) {
        return [name] {
            if (QPushButton* b = view_button(name)) b->click();
        };
    };
    auto save_and_close = [](QDialog* d) { click(d, "save_button"); };
    return {
        {"Connect view", "list rebuild",
         [] {
             if (app_view* v = main_current_view()) {
                 device_change_event e(0x8000, DEVICE_NOTIFY_INTERFACE, QStringLiteral("sim:2"));
                 v->device_changed(&e);
             }
         }},
        {"Connect view", "Connect",
         [] {
             select_row("sim:1");
             if (QPushButton* b = connect_view_button(main_current_view(), 0)) b->click();
             pump(50);
         }},
        {"Main window", "title refresh", [] { main_show_identity(1); }},
        {"Run view", "Start", press("start_button")},
        {"Run view", "Stop", press("stop_button"), [] { pump(1500); }},
        {"Run view", "Clear Log", press("clear_button")},
        {"Run view", "Save Log", [] { main_command(ID_FILE_SAVE_LOG); }},
        {"Cartridge", "open, OK",
         [] {
             dialog_driver driver([](QDialog* d) { click(d, "ok_button"); });
             app_view* v = main_current_view();
             QWidget* display = v ? v->findChild<QWidget*>(QStringLiteral("cartridge_display")) : nullptr;
             if (!display) return;
             QMouseEvent dbl(QEvent::MouseButtonDblClick, QPointF(5, 5), display->mapToGlobal(QPointF(5, 5)), Qt::LeftButton,
                             Qt::LeftButton, Qt::NoModifier);
             QApplication::sendEvent(display, &dbl);
         },
         [] { pump(3000); }},
        dialog_action("Identification", "open, Save (OK), title", ID_CONFIGURE_IDENTIFICATION, save_and_close),
        dialog_action("Clock", "open, Set Now, close", ID_CONFIGURE_CLOCK, [](QDialog* d) {
            click(d, "set_button");
            pump(100);
        }),
        dialog_action("Motors", "open, Save, close", ID_CONFIGURE_MOTORS, save_and_close),
        dialog_action("Pressure", "open, Test, close", ID_CONFIGURE_PRESSURE, [](QDialog* d) { click(d, "test_button"); }),
        dialog_action("Flow Meter", "open, Save, close", ID_CONFIGURE_FLOW, save_and_close),
        dialog_action("RS232", "open, Save, close", ID_CONFIGURE_RS232, save_and_close),
        dialog_action("Cleaning", "open, Save, close", ID_CONFIGURE_CLEANING, save_and_close),
        dialog_action("Schedule", "open, Save, close", ID_CONFIGURE_SCHEDULE, save_and_close),
        {"Diagnostics view", "switch to", [] {
             main_command(ID_VIEW_DIAGNOSTICS);
             pump(100);
         }},
        {"Diagnostics view", "Toggle LED", press("led_button")},
        {"Diagnostics view", "Clear", press("clear_button")},
        {"Diagnostics view", "Save", press("save_button")},
        {"Tasks", "open, Save, close",
         [] {
             dialog_driver driver([](QDialog* d) { click(d, "save_button"); });
             if (QPushButton* b = view_button("tasks_button")) b->click();
         }},
        {"Run view", "switch to", [] {
             main_command(ID_VIEW_RUN);
             pump(100);
         }},
        dialog_action("About", "open, close", ID_HELP_ABOUT, {}),
        {"Main window", "Disconnect", [] { main_command(ID_FILE_DISCONNECT); }},
        {"Factory Settings", "open, Save, close",
         [] {
             select_row("sim:1");
             dialog_driver driver([](QDialog* d) {
                 if (auto* p = d->findChild<QLineEdit*>(QStringLiteral("password_edit"))) p->setText(QStringLiteral("quoll"));
                 click(d, "save_button");
             });
             if (QPushButton* b = connect_view_button(main_current_view(), 2)) b->click();
         }},
        {"Upgrade", "whole upgrade",
         [] {
             select_row("sim:2");
             if (QPushButton* b = connect_view_button(main_current_view(), 1)) b->click();
         }},
    };
}

struct row {
    std::string window, what;
    double healthy = -1, silent = -1;
};

// The whole of each tour, from its first action's start to its last action's end.
double g_tour_ms[2] = {0, 0};

void run_tour(bool silent, std::vector<row>& rows) {
    sim_bus_reset();
    sim_device_config one;
    one.firmware.identity.name = "SAMPLER-01";
    auto dev1 = sim_bus_add(one);
    sim_device_config two;
    two.firmware.identity.name = "HARBOUR-2";
    two.firmware.mode = sim_mode::bootloader;
    auto dev2 = sim_bus_add(two);
    for (auto& d : {dev1, dev2}) d->set_latency(sim_latency::usb_full_speed);

    auto* window = new main_window;
    window->show();
    pump(200);
    heartbeat beat;
    const std::vector<action> actions = tour();
    for (size_t i = 0; i < actions.size(); ++i) {
        const action& a = actions[i];
        // Against silent instruments, the connect view's buttons act on a list read while the
        // instruments still answered, as after a cable that went bad while the tool was open.
        const bool on_list = std::strcmp(a.window, "Factory Settings") == 0 || std::strcmp(a.window, "Upgrade") == 0 ||
                             std::strcmp(a.what, "Connect") == 0;
        dev1->set_never_answer(false);
        dev2->set_never_answer(false);
        if (silent && on_list) {
            if (app_view* v = main_current_view(); v && v->view_id() == VIEW_CONNECT) {
                device_change_event e(0x8000, DEVICE_NOTIFY_INTERFACE, QStringLiteral("sim:2"));
                v->device_changed(&e);
                pump(300);
            }
        }
        if (silent) {
            dev1->set_never_answer(true);
            dev2->set_never_answer(true);
        }
        if (a.before) a.before();
        pump(20);
        beat.reset();
        QElapsedTimer took;
        took.start();
        bool finished = false;
        QTimer::singleShot(0, [&] {
            a.run();
            finished = true;
        });
        while (!finished) QApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents, 5);
        const double stall = beat.longest_ms();
        g_tour_ms[silent ? 1 : 0] += double(took.nsecsElapsed()) / 1e6;
        std::fprintf(stderr, "%-18s %-26s %8.1f ms stall, %8.0f ms in all\n", a.window, a.what, stall, double(took.elapsed()));
        if (rows.size() <= i) rows.push_back({a.window, a.what});
        (silent ? rows[i].silent : rows[i].healthy) = stall;
    }
    delete window;
    pump(50);
    sim_bus_reset();
}

}  // namespace

int main(int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    QTemporaryDir dir;
    qputenv("XDG_CONFIG_HOME", dir.path().toUtf8());
    app_register_windows();
    sim_bus_install();

    const QString image = dir.filePath(QStringLiteral("image.bin"));
    {
        std::ofstream f(image.toStdString(), std::ios::binary);
        f << std::string(4096, '\x5A');
    }
    ui_set_message_hook([](QWidget*, const QString&, const QString&, unsigned type) {
        return (type & 0x0F) == UI_MB_YESNO ? UI_IDYES : UI_IDOK;
    });
    ui_set_file_hook([&](QWidget*, const ui_file_request& r) {
        return r.save ? dir.filePath(QStringLiteral("saved.log")) : image;
    });

    const std::string which = argc > 1 ? argv[1] : "";
    std::vector<row> rows;
    if (which.empty() || which == "healthy") run_tour(false, rows);
    if (which.empty() || which == "silent") run_tour(true, rows);

    std::printf("| Window | Action | Healthy (USB model) | Never answers |\n|---|---|---|---|\n");
    auto cell = [](double ms) { return ms < 0 ? std::string("-") : std::to_string(int(ms + 0.5)) + " ms"; };
    for (const row& r : rows)
        std::printf("| %s | %s | %s | %s |\n", r.window.c_str(), r.what.c_str(), cell(r.healthy).c_str(), cell(r.silent).c_str());
    std::printf("\nHealthy tour: %.0f ms of actions; silent tour: %.0f ms of actions.\n", g_tour_ms[0], g_tour_ms[1]);
    ui_set_message_hook({});
    ui_set_file_hook({});
    return 0;
}
