// The main window connected to a virtual instrument with the diagnostics view on show.
#pragma once

#include "app_fixture.h"
#include "instrument/sim_bus.h"
#include "link/commands.h"

#include <QCheckBox>
#include <QDialog>
#include <QLineEdit>
#include <QTimer>

#include <functional>
#include <string>
#include <vector>

class DiagViewTest : public AppTest {
protected:
    // Connects (the run view comes first, as for the operator); a stepped clock keeps the
    // instrument's readings and log still unless the test moves time on.
    void connect_to(const sim_device_config& config = {}, bool stepped = true) {
        dev = sim_bus_add(config);
        if (stepped) dev->use_stepped_clock(true);
        open_window();
        ASSERT_NO_FATAL_FAILURE(connect_first_row());
    }
    void show_diagnostics() {
        main_command(ID_VIEW_DIAGNOSTICS);
        ASSERT_EQ(view_id(), VIEW_DIAGNOSTICS);
    }
    template <typename T = QWidget>
    T* child(const char* name) {
        return main_current_view() ? main_current_view()->findChild<T*>(QString::fromUtf8(name)) : nullptr;
    }
    std::string field(const char* name) {
        auto* e = child<QLineEdit>(name);
        return e ? e->text().toStdString() : "(none)";
    }
    QTreeWidget* log() { return child<QTreeWidget>("log_list"); }
    int rows() { return log() ? log()->topLevelItemCount() : -1; }
    // The counters of the rows that show records (a row that says records were lost has none).
    std::vector<int> counters() {
        std::vector<int> out;
        for (int r = 0; r < rows(); ++r)
            if (!log()->topLevelItem(r)->text(0).isEmpty()) out.push_back(log()->topLevelItem(r)->text(0).toInt());
        return out;
    }
    int last_counter() { return rows() > 0 ? log()->topLevelItem(rows() - 1)->text(0).toInt() : 0; }
    std::string row_text(int r) {
        std::string line;
        for (int c = 0; c < 6; ++c) line += (c ? "," : "") + log()->topLevelItem(r)->text(c).toStdString();
        return line;
    }
    // The newest record the instrument has written.
    int newest() {
        int n = 0;
        dev->with_firmware([&](sim_firmware& fw) { n = fw.diag.next_counter - 1; });
        return n;
    }
    void add_records(int n) {
        dev->with_firmware([&](sim_firmware& fw) { sim_diag_fill(fw.diag, n); });
    }
    std::vector<command_frame> sent(uint16_t code) {
        std::vector<command_frame> out;
        for (const auto& f : dev->requests())
            if (frame_code(f) == code) out.push_back(f);
        return out;
    }
    void start_run() {
        dev->with_firmware([](sim_firmware& fw) {
            const uint8_t settings[10] = {0, 1, 1, 10, 0, 0};
            fw.sampler.start_run(settings, fw.now_ms);
        });
    }
    bool configure_enabled() { return action_enabled(ID_CONFIGURE_MOTORS) && action_enabled(ID_FILE_DISCONNECT); }
    bool configure_grey() { return !action_enabled(ID_CONFIGURE_MOTORS) && !action_enabled(ID_FILE_DISCONNECT); }

    // Opens the Tasks dialog with the view's button and runs body inside it, then closes it.
    // Returns whether the dialog opened.
    bool with_tasks_dialog(const std::function<void(QDialog*)>& body) {
        bool opened = false;
        QTimer timer;
        QObject::connect(&timer, &QTimer::timeout, [&] {
            auto* d = qobject_cast<QDialog*>(QApplication::activeModalWidget());
            if (!d || opened || d->objectName() != QStringLiteral("tasks_dialog")) return;
            opened = true;
            body(d);
            d->reject();
        });
        timer.start(10);
        child<QPushButton>("tasks_button")->click();
        return opened;
    }

    std::shared_ptr<sim_device> dev;
};
