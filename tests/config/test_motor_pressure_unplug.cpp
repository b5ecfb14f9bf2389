// The instrument is unplugged while "Configure Motors" or "Configure Pressure Sensor", or one of
// their message boxes, is open: the real dialogs and QMessageBox run their own event loops here
// and the removal arrives inside them. Nothing may crash or go on talking to the instrument that
// has gone, and the operator sees "Sensor Disconnected". Run under AddressSanitizer too.
#include "app_fixture.h"
#include "link/commands.h"
#include "ui/modal.h"

#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QMessageBox>
#include <QTimer>

namespace {

class ConfigUnplugTest : public AppTest {
protected:
    void SetUp() override {
        AppTest::SetUp();
        ui_set_message_hook({});  // the real message boxes
        dev = sim_bus_add(named("UNIT-A"));
        open_window();
        click_row(0);
        QTest::mouseClick(button(0), Qt::LeftButton);
        ASSERT_TRUE(wait_until([&] { return view_id() == VIEW_RUN; }));
    }
    void TearDown() override {
        delete watcher;
        watcher = nullptr;
        AppTest::TearDown();
    }

    // Looks at the window on top every 20 ms: `act` may work the dialog once it shows (through a
    // queued call, as a click would), `pull` says when to pull the cable; "Sensor Disconnected"
    // is answered as the operator would. Anything still open after the removal is a failure.
    void watch(const char* dialog_name, std::function<void(QDialog*)> act, std::function<bool(QWidget*)> pull) {
        watcher = new QTimer;
        QObject::connect(watcher, &QTimer::timeout, [this, dialog_name, act, pull] {
            QWidget* top = QApplication::activeModalWidget();
            if (!top || top == last_seen) return;
            last_seen = top;
            if (auto* box = qobject_cast<QMessageBox*>(top)) {
                shown.push_back(box->text().toStdString());
                if (box->text() == QStringLiteral("Sensor Disconnected")) {
                    box->button(QMessageBox::Ok)->click();
                    return;
                }
            }
            if (pulled) {
                ADD_FAILURE() << "still open after the removal: " << top->objectName().toStdString();
                if (auto* d = qobject_cast<QDialog*>(top)) d->reject();
                return;
            }
            if (top->objectName() == QString::fromUtf8(dialog_name) && !acted) {
                acted = true;
                auto* d = qobject_cast<QDialog*>(top);
                QTimer::singleShot(0, [act, d] { act(d); });
            }
            if (pull(top)) {
                pulled = true;
                dev->unplug();
            }
        });
        watcher->start(20);
    }
    void open_and_wait(int command) {
        QTimer::singleShot(0, [command] { main_command(command); });
        ASSERT_TRUE(wait_until([&] { return pulled && view_id() == VIEW_CONNECT && ui_open_dialog_count() == 0 &&
                                            !QApplication::activeModalWidget(); },
                               10000));
        settle(100);
        EXPECT_FALSE(link_is_open());
    }
    static bool shows(QWidget* w, const char* text) {
        auto* box = qobject_cast<QMessageBox*>(w);
        return box && box->text() == QString::fromUtf8(text);
    }
    static bool named_as(QWidget* w, const char* name) { return w->objectName() == QString::fromUtf8(name); }
    template <typename T>
    static T* in(QDialog* d, const char* name) {
        return d->findChild<T*>(QString::fromUtf8(name));
    }

    std::shared_ptr<sim_device> dev;
    QTimer* watcher = nullptr;
    QWidget* last_seen = nullptr;
    bool pulled = false;
    bool acted = false;
    std::vector<std::string> shown;
};

TEST_F(ConfigUnplugTest, WhileTheMotorDialogIsOpen) {
    watch("motor_dialog", [](QDialog*) {}, [](QWidget* w) { return named_as(w, "motor_dialog"); });
    open_and_wait(ID_CONFIGURE_MOTORS);
    EXPECT_EQ(shown, std::vector<std::string>{"Sensor Disconnected"});
}

TEST_F(ConfigUnplugTest, WhileAFailedHallSampleIsShown) {
    dev->force_result(CMD_READ_SENSORS, 3);
    const char* failure = "Failed to get sample from sensor.";
    watch("motor_dialog", [](QDialog* d) { in<QPushButton>(d, "engaged_sample_button")->click(); },
          [failure](QWidget* w) { return shows(w, failure); });
    open_and_wait(ID_CONFIGURE_MOTORS);
    EXPECT_EQ(shown, (std::vector<std::string>{failure, "Sensor Disconnected"}));
}

TEST_F(ConfigUnplugTest, WhileTheUnsavedChangesQuestionIsOpen) {
    const char* question = "Exit without saving changes?";
    watch("motor_dialog",
          [](QDialog* d) {
              in<QComboBox>(d, "autostop_combo")->setCurrentIndex(4);
              d->reject();
          },
          [question](QWidget* w) { return shows(w, question); });
    open_and_wait(ID_CONFIGURE_MOTORS);
    EXPECT_EQ(shown, (std::vector<std::string>{question, "Sensor Disconnected"}));
    for (const auto& f : dev->requests()) EXPECT_NE(frame_code(f), CMD_MOTOR_CLOSE);
}

TEST_F(ConfigUnplugTest, WhileTheMotorRunsAndItsStopIsNotConfirmed) {
    const char* question = "Can't stop motor on device (check power supply).\nClose anyway?";
    watch("motor_dialog",
          [this](QDialog* d) {
              in<QPushButton>(d, "forwards_button")->click();
              dev->force_result(CMD_MOTOR_STOP, 3);
              d->reject();
          },
          [question](QWidget* w) { return shows(w, question); });
    open_and_wait(ID_CONFIGURE_MOTORS);
    EXPECT_EQ(shown, (std::vector<std::string>{question, "Sensor Disconnected"}));
    for (const auto& f : dev->requests()) EXPECT_NE(frame_code(f), CMD_MOTOR_CLOSE);
}

TEST_F(ConfigUnplugTest, WhileThePressureDialogIsOpen) {
    watch("pressure_dialog", [](QDialog*) {}, [](QWidget* w) { return named_as(w, "pressure_dialog"); });
    open_and_wait(ID_CONFIGURE_PRESSURE);
    EXPECT_EQ(shown, std::vector<std::string>{"Sensor Disconnected"});
}

TEST_F(ConfigUnplugTest, WhileConfigSavedIsShown) {
    watch("pressure_dialog",
          [](QDialog* d) {
              in<QPushButton>(d, "calculate_button")->click();
              in<QPushButton>(d, "save_button")->click();
          },
          [](QWidget* w) { return shows(w, "Config Saved"); });
    open_and_wait(ID_CONFIGURE_PRESSURE);
    EXPECT_EQ(shown, (std::vector<std::string>{"Config Saved", "Sensor Disconnected"}));
}

}  // namespace
