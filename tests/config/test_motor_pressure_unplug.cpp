// The instrument is unplugged while "Configure Motors" or "Configure Pressure Sensor", or one of
// their message boxes, is open: the real dialogs and QMessageBox run their own event loops here
// and the removal arrives inside them. Nothing may crash or go on talking to the instrument that
// has gone, and the operator sees "Sensor Disconnected". Run under AddressSanitizer too.
#include "link/commands.h"
#include "unplug_watch.h"

#include <QComboBox>

namespace {

class ConfigUnplugTest : public AppTest {
protected:
    void SetUp() override {
        AppTest::SetUp();
        ui_set_message_hook({});  // the real message boxes
        dev = sim_bus_add(named("UNIT-A"));
        open_window();
        ASSERT_NO_FATAL_FAILURE(connect_first_row());
    }
    // Works the dialog called `name` once it shows (as the operator would, through a queued
    // call); other windows are left to the watch.
    static unplug_watch::work on(const char* name, std::function<void(QDialog*)> act) {
        return [name, act](QWidget* w) {
            if (named_window(w, name)) act(static_cast<QDialog*>(w));
        };
    }
    template <typename T>
    static T* in(QDialog* d, const char* name) {
        return d->findChild<T*>(QString::fromUtf8(name));
    }

    std::shared_ptr<sim_device> dev;
};

TEST_F(ConfigUnplugTest, WhileTheMotorDialogIsOpen) {
    unplug_watch watch(dev, [](QWidget* w) { return named_window(w, "motor_dialog"); });
    run_until_back_at_connect_view(watch, [] { main_command(ID_CONFIGURE_MOTORS); });
    EXPECT_EQ(watch.shown(), (std::vector<std::string>{"motor_dialog", "Sensor Disconnected"}));
}

TEST_F(ConfigUnplugTest, WhileAFailedHallSampleIsShown) {
    dev->force_result(CMD_READ_SENSORS, 3);
    const char* failure = "Failed to get sample from sensor.";
    unplug_watch watch(dev, [failure](QWidget* w) { return shows(w, failure); },
                       on("motor_dialog", [](QDialog* d) { in<QPushButton>(d, "engaged_sample_button")->click(); }));
    run_until_back_at_connect_view(watch, [] { main_command(ID_CONFIGURE_MOTORS); });
    EXPECT_EQ(watch.shown(), (std::vector<std::string>{"motor_dialog", failure, "Sensor Disconnected"}));
}

TEST_F(ConfigUnplugTest, WhileTheUnsavedChangesQuestionIsOpen) {
    const char* question = "Exit without saving changes?";
    unplug_watch watch(dev, [question](QWidget* w) { return shows(w, question); },
                       on("motor_dialog", [](QDialog* d) {
                           in<QComboBox>(d, "autostop_combo")->setCurrentIndex(4);
                           d->reject();
                       }));
    run_until_back_at_connect_view(watch, [] { main_command(ID_CONFIGURE_MOTORS); });
    EXPECT_EQ(watch.shown(), (std::vector<std::string>{"motor_dialog", question, "Sensor Disconnected"}));
    for (const auto& f : dev->requests()) EXPECT_NE(frame_code(f), CMD_MOTOR_CLOSE);
}

TEST_F(ConfigUnplugTest, WhileTheMotorRunsAndItsStopIsNotConfirmed) {
    const char* question = "Can't stop motor on device (check power supply).\nClose anyway?";
    unplug_watch watch(dev, [question](QWidget* w) { return shows(w, question); },
                       on("motor_dialog", [this](QDialog* d) {
                           in<QPushButton>(d, "forwards_button")->click();
                           dev->force_result(CMD_MOTOR_STOP, 3);
                           d->reject();
                       }));
    run_until_back_at_connect_view(watch, [] { main_command(ID_CONFIGURE_MOTORS); });
    EXPECT_EQ(watch.shown(), (std::vector<std::string>{"motor_dialog", question, "Sensor Disconnected"}));
    for (const auto& f : dev->requests()) EXPECT_NE(frame_code(f), CMD_MOTOR_CLOSE);
}

TEST_F(ConfigUnplugTest, WhileThePressureDialogIsOpen) {
    unplug_watch watch(dev, [](QWidget* w) { return named_window(w, "pressure_dialog"); });
    run_until_back_at_connect_view(watch, [] { main_command(ID_CONFIGURE_PRESSURE); });
    EXPECT_EQ(watch.shown(), (std::vector<std::string>{"pressure_dialog", "Sensor Disconnected"}));
}

TEST_F(ConfigUnplugTest, WhileConfigSavedIsShown) {
    unplug_watch watch(dev, [](QWidget* w) { return shows(w, "Config Saved"); },
                       on("pressure_dialog", [](QDialog* d) {
                           in<QPushButton>(d, "calculate_button")->click();
                           in<QPushButton>(d, "save_button")->click();
                       }));
    run_until_back_at_connect_view(watch, [] { main_command(ID_CONFIGURE_PRESSURE); });
    EXPECT_EQ(watch.shown(), (std::vector<std::string>{"pressure_dialog", "Config Saved", "Sensor Disconnected"}));
}

}  // namespace
