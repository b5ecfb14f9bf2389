// The stored-settings dialogs against the virtual instrument: opened through the window table
// with the link open (or from the main window's menu), driven while their own event loop runs.
#pragma once

#include "app_fixture.h"
#include "decimal_comma.h"
#include "link/commands.h"
#include "link/identity.h"
#include "ui/window_table.h"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDialog>
#include <QLineEdit>
#include <QPointer>
#include <QPushButton>
#include <QTimer>

#include <functional>
#include <memory>
#include <vector>

class SettingsDialogTest : public AppTest {
protected:
    void SetUp() override {
        AppTest::SetUp();
        // Every dialog here runs on a decimal-comma desktop.
        comma = std::make_unique<decimal_comma_locale>();
        ASSERT_DECIMAL_COMMA(*comma);
    }
    void TearDown() override {
        comma.reset();
        AppTest::TearDown();
    }

    // An instrument with the link open on it, as the main window or the connect view has it.
    void plug_and_open(const sim_device_config& config = {}) {
        dev = sim_bus_add(config);
        ASSERT_EQ(link_open(dev->path().c_str(), LINK_TIMEOUT_SERVICE_MS), 0);
    }

    // Runs `open` (which shows a modal dialog) and hands the dialog to `act` once it is up.
    // A dialog that act leaves open is closed as Escape would. False when no dialog came up.
    bool drive(const std::function<void()>& open, const std::function<void(QDialog*)>& act) {
        bool shown = false;
        QTimer timer;
        timer.setInterval(5);
        QObject::connect(&timer, &QTimer::timeout, [&] {
            auto* d = qobject_cast<QDialog*>(QApplication::activeModalWidget());
            if (!d || shown) return;
            shown = true;
            timer.stop();
            QPointer<QDialog> p(d);
            act(d);
            if (p && p->isVisible()) p->reject();
        });
        timer.start();
        open();
        return shown;
    }
    bool drive(int dialog_id, const std::function<void(QDialog*)>& act, uintptr_t param = 0) {
        return drive([&] { ui_open_dialog(dialog_id, nullptr, param); }, act);
    }

    // The requests of one command, oldest first.
    std::vector<command_frame> sent(uint16_t code) const {
        std::vector<command_frame> out;
        for (const auto& f : dev->requests())
            if (frame_code(f) == code) out.push_back(f);
        return out;
    }
    static std::vector<uint8_t> payload(const command_frame& f) {
        return std::vector<uint8_t>(frame_payload(f), frame_payload(f) + f.bytes[FRAME_LENGTH]);
    }

    template <typename W>
    static W* child(QWidget* w, const char* name) {
        W* c = w->findChild<W*>(QString::fromUtf8(name));
        EXPECT_NE(c, nullptr) << name;
        return c;
    }
    static QLineEdit* edit(QWidget* w, const char* name) { return child<QLineEdit>(w, name); }
    static QPushButton* push(QWidget* w, const char* name) { return child<QPushButton>(w, name); }
    static QComboBox* combo(QWidget* w, const char* name) { return child<QComboBox>(w, name); }
    static bool red(QLineEdit* e) { return e->palette().color(QPalette::Text) == QColor(255, 0, 0); }

    void expect_message(size_t index, const char* caption, const char* text) {
        ASSERT_GT(messages.size(), index);
        EXPECT_EQ(messages[index].caption, caption);
        EXPECT_EQ(messages[index].text, text);
    }

    std::shared_ptr<sim_device> dev;
    std::unique_ptr<decimal_comma_locale> comma;
};
