// The instrument is unplugged while a dialog of the run view is open: the real QMessageBox and
// QFileDialog run their own event loops here, the removal arrives inside them, and the view is
// retired under them. Nothing may crash, nothing may run on for the instrument that has gone,
// and the operator sees "Sensor Disconnected". Run under AddressSanitizer too.
#include "link/commands.h"
#include "unplug_watch.h"

#include <QComboBox>
#include <QLabel>

namespace {

class DialogSafetyTest : public AppTest {
protected:
    void SetUp() override {
        AppTest::SetUp();
        // The real message boxes and file chooser, each with its own event loop.
        ui_set_message_hook({});
        ui_set_file_hook({});
        dev = sim_bus_add(named("UNIT-A"));
        open_window();
        ASSERT_NO_FATAL_FAILURE(connect_first_row());
        ASSERT_TRUE(wait_until([&] {
            auto* state = main_current_view()->findChild<QLabel*>(QStringLiteral("state_line"));
            return state && state->text() == QStringLiteral("Sampler State: Idle");
        }));
        run_view = main_current_view();
    }
    // The operator's action, and everything that follows until the tool is back at the
    // connect view; the run view that was retired under its dialogs is freed by then.
    void act_and_wait(const unplug_watch& watch, std::function<void()> action) {
        run_until_back_at_connect_view(watch, std::move(action));
        EXPECT_TRUE(run_view.isNull()) << "the retired run view was never freed";
    }
    QPointer<QPushButton> push(const char* name) { return run_view->findChild<QPushButton*>(QString::fromUtf8(name)); }

    std::shared_ptr<sim_device> dev;
    QPointer<app_view> run_view;
};

TEST_F(DialogSafetyTest, UnplugWhileTheSaveLogFileChooserIsOpen) {
    unplug_watch watch(dev, [](QWidget* w) { return qobject_cast<QFileDialog*>(w) != nullptr; });
    act_and_wait(watch, [] { main_command(ID_FILE_SAVE_LOG); });
    EXPECT_EQ(watch.shown(), (std::vector<std::string>{"file chooser: Sample Log File", "Sensor Disconnected"}));
}

TEST_F(DialogSafetyTest, UnplugWhileTheClearLogQuestionIsOpen) {
    const char* question = "This will clear the log on the sampler. Do you want to continue?";
    unplug_watch watch(dev, [question](QWidget* w) { return shows(w, question); });
    QPointer<QPushButton> clear = push("clear_button");
    act_and_wait(watch, [clear] { clear->click(); });
    EXPECT_EQ(watch.shown(), (std::vector<std::string>{question, "Sensor Disconnected"}));
    for (const auto& f : dev->requests()) EXPECT_NE(frame_code(f), CMD_CLEAR_SAMPLE_LOG);
}

TEST_F(DialogSafetyTest, UnplugWhileAStartFailureIsShown) {
    dev->force_result(CMD_START_RUN, 2);
    const char* failure = "Unable to start device - check power supply";
    unplug_watch watch(dev, [failure](QWidget* w) { return shows(w, failure); });
    run_view->findChild<QComboBox*>(QStringLiteral("mode_box"))->setCurrentIndex(1);
    QPointer<QPushButton> start = push("start_button");
    act_and_wait(watch, [start] { start->click(); });
    EXPECT_EQ(watch.shown(), (std::vector<std::string>{failure, "Sensor Disconnected"}));
}

TEST_F(DialogSafetyTest, UnplugWhileTheAboutBoxIsOpen) {
    // A dialog of the main window, not of a view: it closes with the instrument too.
    unplug_watch watch(dev, [](QWidget* w) { return named_window(w, "about_dialog"); });
    act_and_wait(watch, [] { main_command(ID_HELP_ABOUT); });
    EXPECT_EQ(watch.shown(), (std::vector<std::string>{"about_dialog", "Sensor Disconnected"}));
}

}  // namespace
