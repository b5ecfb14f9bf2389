// The instrument is unplugged while a dialog of the diagnostics view is open: the real
// QMessageBox, QFileDialog and Tasks dialog run their own event loops here, the removal arrives
// inside them, and the view is retired under them. Nothing may crash, nothing may be sent to the
// instrument that has gone, and the operator sees "Sensor Disconnected". Run under
// AddressSanitizer too.
#include "diag_fixture.h"
#include "unplug_watch.h"

namespace {

class DiagDialogSafetyTest : public DiagViewTest {
protected:
    void SetUp() override {
        DiagViewTest::SetUp();
        ui_set_message_hook({});
        ui_set_file_hook({});
        connect_to();
        show_diagnostics();
        ASSERT_TRUE(wait_until([&] { return rows() == 1; }));
        view = main_current_view();
    }
    void act_and_wait(const unplug_watch& watch, std::function<void()> action) {
        run_until_back_at_connect_view(watch, std::move(action));
        EXPECT_TRUE(view.isNull()) << "the retired diagnostics view was never freed";
    }
    // The questions on the way are answered Yes, the other boxes OK.
    static void answer_yes(QWidget* w) {
        if (auto* box = qobject_cast<QMessageBox*>(w))
            box->button(box->button(QMessageBox::Yes) ? QMessageBox::Yes : QMessageBox::Ok)->click();
    }
    QPointer<QPushButton> push(const char* name) { return view->findChild<QPushButton*>(QString::fromUtf8(name)); }

    QPointer<app_view> view;
};

const char* const QUESTION = "This will permanently wipe the diagnostic log on the sensor. Are you sure you want to do this?";

TEST_F(DiagDialogSafetyTest, UnplugWhileTheClearQuestionIsOpen) {
    unplug_watch watch(dev, [](QWidget* w) { return shows(w, QUESTION); });
    QPointer<QPushButton> clear = push("clear_button");
    act_and_wait(watch, [clear] { clear->click(); });
    EXPECT_EQ(watch.shown(), (std::vector<std::string>{QUESTION, "Sensor Disconnected"}));
    EXPECT_TRUE(sent(CMD_CLEAR_LOG).empty());
}

TEST_F(DiagDialogSafetyTest, UnplugWhileAFailedClearIsReported) {
    dev->force_result(CMD_CLEAR_LOG, 4);
    unplug_watch watch(dev, [](QWidget* w) { return shows(w, "Unable to clear log"); }, answer_yes);
    QPointer<QPushButton> clear = push("clear_button");
    act_and_wait(watch, [clear] { clear->click(); });
    EXPECT_EQ(watch.shown(), (std::vector<std::string>{QUESTION, "Unable to clear log", "Sensor Disconnected"}));
}

TEST_F(DiagDialogSafetyTest, UnplugWhileTheTasksDialogIsOpen) {
    unplug_watch watch(dev, [](QWidget* w) { return named_window(w, "tasks_dialog"); });
    QPointer<QPushButton> tasks = push("tasks_button");
    act_and_wait(watch, [tasks] { tasks->click(); });
    EXPECT_EQ(watch.shown(), (std::vector<std::string>{"tasks_dialog", "Sensor Disconnected"}));
}

TEST_F(DiagDialogSafetyTest, UnplugWhileTheTasksDialogReportsItsSave) {
    // The Tasks dialog opens, its Save is pressed, and the cable goes while "Settings saved" is
    // shown over it: both close, nothing more is sent.
    unplug_watch watch(
        dev, [](QWidget* w) { return shows(w, "Settings saved"); },
        [](QWidget* w) {
            if (named_window(w, "tasks_dialog")) click_later(w, "save_button");
        });
    QPointer<QPushButton> tasks = push("tasks_button");
    act_and_wait(watch, [tasks] { tasks->click(); });
    EXPECT_EQ(watch.shown(), (std::vector<std::string>{"tasks_dialog", "Settings saved", "Sensor Disconnected"}));
    EXPECT_EQ(sent(CMD_SET_LOG_FILTERS).size(), 1u);
}

}  // namespace
