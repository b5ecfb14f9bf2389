// A configuration dialog opened straight on the virtual instrument (no main window), shown
// without its own event loop so a test can press its buttons; message boxes are answered and
// recorded by AppTest.
#pragma once

#include "app_fixture.h"
#include "instrument/sim_bus.h"
#include "link/commands.h"
#include "link/link.h"

#include <QComboBox>
#include <QDialog>
#include <QLineEdit>
#include <QPushButton>

#include <memory>
#include <string>
#include <vector>

class ConfigDialogTest : public AppTest {
protected:
    void SetUp() override {
        AppTest::SetUp();
        dev = sim_bus_add();
        dev->use_stepped_clock(true);
    }
    void TearDown() override {
        dialog.reset();
        AppTest::TearDown();
    }
    // Opens the link; a short timeout for tests that lose answers on purpose.
    void connect_link(uint32_t timeout_ms = LINK_TIMEOUT_CONNECT_MS) {
        ASSERT_EQ(link_open(dev->path().c_str(), timeout_ms), 0);
    }
    // Takes a freshly opened dialog (nullptr when it refused to open) and shows it.
    bool take(QDialog* d) {
        dialog.reset(d);
        if (!dialog) return false;
        dialog->show();
        dev->clear_requests();
        messages.clear();
        return true;
    }
    template <typename T = QWidget>
    T* w(const char* name) {
        T* found = dialog->findChild<T*>(QString::fromUtf8(name));
        EXPECT_TRUE(found) << name;
        return found;
    }
    QPushButton* button(const char* name) { return w<QPushButton>(name); }
    void click(const char* name) { button(name)->click(); }
    void type(const char* name, const char* text) { w<QLineEdit>(name)->setText(QString::fromUtf8(text)); }
    std::string text(const char* name) {
        QWidget* x = w(name);
        if (auto* e = qobject_cast<QLineEdit*>(x)) return e->text().toStdString();
        if (auto* b = qobject_cast<QAbstractButton*>(x)) return b->text().toStdString();
        if (auto* c = qobject_cast<QComboBox*>(x)) return c->currentText().toStdString();
        return x->property("text").toString().toStdString();
    }
    bool red(const char* name) { return w<QLineEdit>(name)->palette().color(QPalette::Text) == QColor(255, 0, 0); }
    std::vector<uint16_t> codes() {
        std::vector<uint16_t> out;
        for (const auto& f : dev->requests()) out.push_back(frame_code(f));
        return out;
    }
    std::vector<command_frame> sent(uint16_t code) {
        std::vector<command_frame> out;
        for (const auto& f : dev->requests())
            if (frame_code(f) == code) out.push_back(f);
        return out;
    }
    static std::vector<uint8_t> payload(const command_frame& f) {
        return {frame_payload(f), frame_payload(f) + f.bytes[FRAME_LENGTH]};
    }
    std::vector<std::string> texts() {
        std::vector<std::string> out;
        for (const auto& m : messages) out.push_back(m.caption + ": " + m.text);
        return out;
    }

    std::shared_ptr<sim_device> dev;
    std::unique_ptr<QDialog> dialog;
};
