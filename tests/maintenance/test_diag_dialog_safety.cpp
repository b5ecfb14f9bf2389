// The instrument is unplugged while a dialog of the diagnostics view is open: the real
// QMessageBox, QFileDialog and Tasks dialog run their own event loops here, the removal arrives
// inside them, and the view is retired under them. Nothing may crash, nothing may be sent to the
// instrument that has gone, and the operator sees "Sensor Disconnected". Run under
// AddressSanitizer too.
#include "diag_fixture.h"
#include "ui/modal.h"

#include <QFileDialog>
#include <QMessageBox>
#include <QPointer>

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
    void TearDown() override {
        delete watcher;
        watcher = nullptr;
        DiagViewTest::TearDown();
    }

    // Looks at the dialog on top every 20 ms: notes what it shows, pulls the cable when `pull`
    // recognises it, answers "Sensor Disconnected" as the operator would, and says Yes to the
    // questions on the way. Anything still open after the cable has gone is a failure.
    void watch(std::function<bool(QWidget*)> pull) {
        watcher = new QTimer;
        QObject::connect(watcher, &QTimer::timeout, [this, pull] {
            QWidget* top = QApplication::activeModalWidget();
            if (!top || top == last_seen.data()) return;
            auto* box = qobject_cast<QMessageBox*>(top);
            if (box) {
                shown.push_back(box->text().toStdString());
                if (box->text() == QStringLiteral("Sensor Disconnected")) {
                    box->button(QMessageBox::Ok)->click();
                    return;
                }
            } else if (auto* files = qobject_cast<QFileDialog*>(top)) {
                shown.push_back("file chooser: " + files->windowTitle().toStdString());
            } else {
                shown.push_back("dialog: " + top->windowTitle().toStdString());
            }
            last_seen = top;
            if (!pulled && pull(top)) {
                pulled = true;
                dev->unplug();
            } else if (pulled) {
                ADD_FAILURE() << "still open after the removal: " << shown.back();
                if (auto* d = qobject_cast<QDialog*>(top)) d->reject();
            } else if (box && box->button(QMessageBox::Yes)) {
                box->button(QMessageBox::Yes)->click();
            } else if (box) {
                box->button(QMessageBox::Ok)->click();
            }
        });
        watcher->start(20);
    }

    void act_and_wait(std::function<void()> action) {
        QTimer::singleShot(0, action);
        ASSERT_TRUE(wait_until([&] { return pulled && view_id() == VIEW_CONNECT && ui_open_dialog_count() == 0 &&
                                            !QApplication::activeModalWidget(); },
                               10000));
        settle(100);
        EXPECT_TRUE(view.isNull()) << "the retired diagnostics view was never freed";
        EXPECT_FALSE(link_is_open());
    }

    static bool shows(QWidget* w, const char* text) {
        auto* box = qobject_cast<QMessageBox*>(w);
        return box && box->text() == QString::fromUtf8(text);
    }
    QPointer<QPushButton> push(const char* name) { return view->findChild<QPushButton*>(QString::fromUtf8(name)); }

    QPointer<app_view> view;
    QTimer* watcher = nullptr;
    // A box that follows another may take the very address of the one before: a guarded
    // pointer forgets a box once it is gone.
    QPointer<QWidget> last_seen;
    bool pulled = false;
    std::vector<std::string> shown;
};

const char* const QUESTION = "This will permanently wipe the diagnostic log on the sensor. Are you sure you want to do this?";

TEST_F(DiagDialogSafetyTest, UnplugWhileTheClearQuestionIsOpen) {
    watch([](QWidget* w) { return shows(w, QUESTION); });
    QPointer<QPushButton> clear = push("clear_button");
    act_and_wait([clear] { clear->click(); });
    EXPECT_EQ(shown, (std::vector<std::string>{QUESTION, "Sensor Disconnected"}));
    EXPECT_TRUE(sent(CMD_CLEAR_LOG).empty());
}

TEST_F(DiagDialogSafetyTest, UnplugWhileAFailedClearIsReported) {
    dev->force_result(CMD_CLEAR_LOG, 4);
    watch([](QWidget* w) { return shows(w, "Unable to clear log"); });
    QPointer<QPushButton> clear = push("clear_button");
    act_and_wait([clear] { clear->click(); });
    EXPECT_EQ(shown, (std::vector<std::string>{QUESTION, "Unable to clear log", "Sensor Disconnected"}));
}

TEST_F(DiagDialogSafetyTest, UnplugWhileTheTasksDialogIsOpen) {
    watch([](QWidget* w) { return w->objectName() == QStringLiteral("tasks_dialog"); });
    QPointer<QPushButton> tasks = push("tasks_button");
    act_and_wait([tasks] { tasks->click(); });
    EXPECT_EQ(shown, (std::vector<std::string>{"dialog: Tasks", "Sensor Disconnected"}));
}

TEST_F(DiagDialogSafetyTest, UnplugWhileTheTasksDialogReportsItsSave) {
    // The Tasks dialog opens, its Save is pressed, and the cable goes while "Settings saved" is
    // shown over it: both close, nothing more is sent.
    watch([](QWidget* w) {
        if (w->objectName() == QStringLiteral("tasks_dialog")) {
            QTimer::singleShot(0, w, [w] { w->findChild<QPushButton*>(QStringLiteral("save_button"))->click(); });
            return false;
        }
        return shows(w, "Settings saved");
    });
    QPointer<QPushButton> tasks = push("tasks_button");
    act_and_wait([tasks] { tasks->click(); });
    EXPECT_EQ(shown, (std::vector<std::string>{"dialog: Tasks", "Settings saved", "Sensor Disconnected"}));
    EXPECT_EQ(sent(CMD_SET_LOG_FILTERS).size(), 1u);
}

}  // namespace
