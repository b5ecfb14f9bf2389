// The instrument is unplugged while a dialog of the run view is open: the real QMessageBox and
// QFileDialog run their own event loops here, the removal arrives inside them, and the view is
// retired under them. Nothing may crash, nothing may run on for the instrument that has gone,
// and the operator sees "Sensor Disconnected". Run under AddressSanitizer too.
#include "link/commands.h"
#include "unplug_watch.h"

#include <QComboBox>
#include <QLabel>

namespace {

class DialogSafetyTest : public RunViewUnplugTest {
protected:
    QPointer<QPushButton> push(const char* name) { return run_view->findChild<QPushButton*>(QString::fromUtf8(name)); }
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
