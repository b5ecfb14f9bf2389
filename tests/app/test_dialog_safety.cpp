// The instrument is unplugged while a dialog of the run view is open: the real QMessageBox and
// QFileDialog run their own event loops here, the removal arrives inside them, and the view is
// retired under them. Nothing may crash, nothing may run on for the instrument that has gone,
// and the operator sees "Sensor Disconnected". Run under AddressSanitizer too.
#include "app_fixture.h"
#include "link/commands.h"
#include "ui/modal.h"

#include <QComboBox>
#include <QFileDialog>
#include <QLabel>
#include <QMessageBox>
#include <QPointer>
#include <QTimer>

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
        click_row(0);
        QTest::mouseClick(button(0), Qt::LeftButton);
        ASSERT_TRUE(wait_until([&] { return view_id() == VIEW_RUN; }));
        ASSERT_TRUE(wait_until([&] {
            auto* state = main_current_view()->findChild<QLabel*>(QStringLiteral("state_line"));
            return state && state->text() == QStringLiteral("Sampler State: Idle");
        }));
        run_view = main_current_view();
    }
    void TearDown() override {
        delete watcher;
        watcher = nullptr;
        AppTest::TearDown();
    }

    // Looks at the dialog on top every 20 ms: notes what it shows, pulls the cable when `pull`
    // recognises it, and answers "Sensor Disconnected" as the operator would. Anything else
    // still open after the cable has gone is closed, so a fault shows as a failure, not a hang.
    void watch(std::function<bool(QWidget*)> pull) {
        watcher = new QTimer;
        QObject::connect(watcher, &QTimer::timeout, [this, pull] {
            QWidget* top = QApplication::activeModalWidget();
            if (!top || top == last_seen) return;
            if (auto* box = qobject_cast<QMessageBox*>(top)) {
                shown.push_back(box->text().toStdString());
                if (box->text() == QStringLiteral("Sensor Disconnected")) {
                    box->button(QMessageBox::Ok)->click();
                    return;
                }
            } else if (auto* files = qobject_cast<QFileDialog*>(top)) {
                shown.push_back("file chooser: " + files->windowTitle().toStdString());
            }
            last_seen = top;
            if (!pulled && pull(top)) {
                pulled = true;
                dev->unplug();
            } else if (pulled) {
                ADD_FAILURE() << "still open after the removal: " << shown.back();
                if (auto* d = qobject_cast<QDialog*>(top)) d->reject();
            }
        });
        watcher->start(20);
    }

    // Runs the operator's action as a click would, and waits until the tool is back at the
    // connect view with no dialog open.
    void act_and_wait(std::function<void()> action) {
        QTimer::singleShot(0, action);
        ASSERT_TRUE(wait_until([&] { return pulled && view_id() == VIEW_CONNECT && ui_open_dialog_count() == 0 &&
                                            !QApplication::activeModalWidget(); },
                               10000));
        settle(100);
        EXPECT_TRUE(run_view.isNull()) << "the retired run view was never freed";
        EXPECT_FALSE(link_is_open());
    }

    static bool shows(QWidget* w, const char* text) {
        auto* box = qobject_cast<QMessageBox*>(w);
        return box && box->text() == QString::fromUtf8(text);
    }

    std::shared_ptr<sim_device> dev;
    QPointer<app_view> run_view;
    QTimer* watcher = nullptr;
    QWidget* last_seen = nullptr;
    bool pulled = false;
    std::vector<std::string> shown;
};

TEST_F(DialogSafetyTest, UnplugWhileTheSaveLogFileChooserIsOpen) {
    watch([](QWidget* w) { return qobject_cast<QFileDialog*>(w) != nullptr; });
    act_and_wait([] { main_command(ID_FILE_SAVE_LOG); });
    EXPECT_EQ(shown, (std::vector<std::string>{"file chooser: Sample Log File", "Sensor Disconnected"}));
}

TEST_F(DialogSafetyTest, UnplugWhileTheClearLogQuestionIsOpen) {
    const char* question = "This will clear the log on the sampler. Do you want to continue?";
    watch([question](QWidget* w) { return shows(w, question); });
    QPointer<QPushButton> clear = run_view->findChild<QPushButton*>(QStringLiteral("clear_button"));
    act_and_wait([clear] { clear->click(); });
    EXPECT_EQ(shown, (std::vector<std::string>{question, "Sensor Disconnected"}));
    for (const auto& f : dev->requests()) EXPECT_NE(frame_code(f), CMD_CLEAR_SAMPLE_LOG);
}

TEST_F(DialogSafetyTest, UnplugWhileAStartFailureIsShown) {
    dev->force_result(CMD_START_RUN, 2);
    const char* failure = "Unable to start device - check power supply";
    watch([failure](QWidget* w) { return shows(w, failure); });
    run_view->findChild<QComboBox*>(QStringLiteral("mode_box"))->setCurrentIndex(1);
    QPointer<QPushButton> start = run_view->findChild<QPushButton*>(QStringLiteral("start_button"));
    act_and_wait([start] { start->click(); });
    EXPECT_EQ(shown, (std::vector<std::string>{failure, "Sensor Disconnected"}));
}

TEST_F(DialogSafetyTest, UnplugWhileTheAboutBoxIsOpen) {
    // A dialog of the main window, not of a view: it closes with the instrument too.
    watch([](QWidget* w) { return w->objectName() == QStringLiteral("about_dialog"); });
    act_and_wait([] { main_command(ID_HELP_ABOUT); });
    EXPECT_EQ(shown, (std::vector<std::string>{"Sensor Disconnected"}));
}

}  // namespace
