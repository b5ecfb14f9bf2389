// The main window against the virtual instrument, offscreen, with message boxes answered by
// the test and recorded.
#pragma once

#include "app/connect_view.h"
#include "app/main_window.h"
#include "instrument/sim_bus.h"
#include "link/discovery.h"
#include "link/link.h"
#include "link/worker_thread.h"
#include "ui/app_messages.h"
#include "ui/dialog_helpers.h"
#include "ui/view.h"

#include <QAction>
#include <QApplication>
#include <QPushButton>
#include <QStatusBar>
#include <QTemporaryDir>
#include <QTest>
#include <QTreeWidget>

#include <gtest/gtest.h>

#include <chrono>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

struct shown_message {
    std::string caption, text;
};

// Processes events until pred holds or the limit passes; returns pred().
inline bool wait_until(const std::function<bool()>& pred, int limit_ms = 5000) {
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(limit_ms);
    while (!pred() && std::chrono::steady_clock::now() < end) {
        QApplication::processEvents();
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return pred();
}

inline void settle(int ms = 50) {
    wait_until([] { return false; }, ms);
}

class AppTest : public ::testing::Test {
protected:
    void SetUp() override {
        // Settings go to a folder of the test's own, never the user's.
        config_dir = std::make_unique<QTemporaryDir>();
        qputenv("XDG_CONFIG_HOME", config_dir->path().toUtf8());
        app_register_windows();
        sim_bus_install();
        sim_bus_reset();
        messages.clear();
        ui_set_message_hook([this](QWidget*, const QString& caption, const QString& text, unsigned type) {
            messages.push_back({caption.toStdString(), text.toStdString()});
            return (type & 0x0F) == UI_MB_YESNO ? answer : UI_IDOK;
        });
        // A file chooser nobody answers would wait for ever: a test that expects one sets its
        // own hook (or the real dialog and something that closes it).
        ui_set_file_hook([](QWidget*, const ui_file_request& r) {
            ADD_FAILURE() << "unexpected file dialog: " << r.title.toStdString();
            return QString();
        });
    }
    void TearDown() override {
        delete window;
        window = nullptr;
        settle(10);
        ui_set_message_hook({});
        ui_set_file_hook({});
        link_close();
        // Pollers stopped by the windows finish their last exchange on their own threads.
        EXPECT_TRUE(worker_thread_join_all(5000));
        sim_bus_reset();
    }
    void open_window() {
        window = new main_window;
        window->show();
        settle(20);
    }
    static sim_device_config named(const std::string& name, sim_mode mode = sim_mode::firmware) {
        sim_device_config c;
        c.firmware.identity.name = name;
        c.firmware.mode = mode;
        return c;
    }
    QTreeWidget* list() { return connect_view_list(main_current_view()); }
    QPushButton* button(int i) { return connect_view_button(main_current_view(), i); }
    std::vector<bool> buttons() { return {button(0)->isEnabled(), button(1)->isEnabled(), button(2)->isEnabled()}; }
    void click_row(int row) {
        QTreeWidget* l = list();
        QRect r = row < l->topLevelItemCount() ? l->visualItemRect(l->topLevelItem(row)) : QRect(10, l->viewport()->height() - 10, 1, 1);
        QTest::mouseClick(l->viewport(), Qt::LeftButton, {}, r.center());
    }
    void double_click_row(int row) {
        QTreeWidget* l = list();
        QTest::mouseDClick(l->viewport(), Qt::LeftButton, {}, l->visualItemRect(l->topLevelItem(row)).center());
    }
    int view_id() { return main_current_view() ? main_current_view()->view_id() : -1; }
    // Connects to the first listed instrument as an operator would: its row, then Connect.
    void connect_first_row() {
        click_row(0);
        QTest::mouseClick(button(0), Qt::LeftButton);
        ASSERT_TRUE(wait_until([&] { return view_id() == VIEW_RUN; }));
    }
    bool action_enabled(int id) { return main_menu_action(id)->isEnabled(); }

    std::unique_ptr<QTemporaryDir> config_dir;
    main_window* window = nullptr;
    std::vector<shown_message> messages;
    int answer = UI_IDYES;
};
