// The instrument is unplugged while the schedule, clock or cartridge dialog, or one of their
// message boxes, runs its own event loop (real QMessageBox and QDialog loops). Nothing may
// crash or run on for the instrument that has gone, and the operator sees "Sensor
// Disconnected". Run under AddressSanitizer too.
#include "app_fixture.h"
#include "link/commands.h"
#include "ui/large_text.h"
#include "ui/modal.h"

#include <QLabel>
#include <QMessageBox>
#include <QPointer>
#include <QTimer>

namespace {

class SamplerDialogSafetyTest : public AppTest {
protected:
    void SetUp() override {
        AppTest::SetUp();
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

    // Looks at the window on top every 20 ms: `pull` sees each new one (and may act on it) and
    // says when to pull the cable; "Sensor Disconnected" is answered; anything still open after
    // the removal is a failure, and is closed so that it shows as one rather than a hang.
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
            } else {
                shown.push_back(top->objectName().toStdString());
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

    void act_and_wait(std::function<void()> action) {
        QTimer::singleShot(0, action);
        ASSERT_TRUE(wait_until([&] { return pulled && view_id() == VIEW_CONNECT && ui_open_dialog_count() == 0 &&
                                            !QApplication::activeModalWidget(); },
                               10000));
        settle(300);  // a poller's late post, if any, would land here
        EXPECT_TRUE(run_view.isNull()) << "the retired run view was never freed";
        EXPECT_FALSE(link_is_open());
    }

    static bool is(QWidget* w, const char* name) { return w->objectName() == QString::fromUtf8(name); }
    static bool shows(QWidget* w, const char* text) {
        auto* box = qobject_cast<QMessageBox*>(w);
        return box && box->text() == QString::fromUtf8(text);
    }
    // Clicks a button of a dialog once the watcher's turn is over (a click that opens a message
    // box runs its loop, which the watcher must not sit inside).
    static void click_later(QWidget* dialog, const char* button) {
        QPointer<QPushButton> b = dialog->findChild<QPushButton*>(QString::fromUtf8(button));
        QTimer::singleShot(0, [b] {
            if (b) b->click();
        });
    }
    void double_click_cartridge() {
        QPointer<large_text_display> display = run_view->findChild<large_text_display*>(QStringLiteral("cartridge_display"));
        act_and_wait([display] {
            if (display) QTest::mouseDClick(display, Qt::LeftButton);
        });
    }

    std::shared_ptr<sim_device> dev;
    QPointer<app_view> run_view;
    QTimer* watcher = nullptr;
    QWidget* last_seen = nullptr;
    bool pulled = false;
    std::vector<std::string> shown;
};

TEST_F(SamplerDialogSafetyTest, UnplugWhileTheScheduleDialogIsOpen) {
    watch([](QWidget* w) { return is(w, "schedule_dialog"); });
    act_and_wait([] { main_command(ID_CONFIGURE_SCHEDULE); });
    EXPECT_EQ(shown, (std::vector<std::string>{"schedule_dialog", "Sensor Disconnected"}));
}

TEST_F(SamplerDialogSafetyTest, UnplugWhileScheduleSavedIsShown) {
    watch([](QWidget* w) {
        if (is(w, "schedule_dialog")) click_later(w, "save_button");
        return shows(w, "Schedule saved");
    });
    act_and_wait([] { main_command(ID_CONFIGURE_SCHEDULE); });
    EXPECT_EQ(shown, (std::vector<std::string>{"schedule_dialog", "Schedule saved", "Sensor Disconnected"}));
}

TEST_F(SamplerDialogSafetyTest, UnplugWhileTheClockDialogPolls) {
    watch([this](QWidget* w) {
        if (!is(w, "clock_dialog")) return false;
        auto* display = w->findChild<large_text_display*>(QStringLiteral("clock_display"));
        // Once the poller has shown the clock: the next pass is under way or due.
        return wait_until([display] { return display && !display->text().isEmpty(); }) && dev->plugged();
    });
    act_and_wait([] { main_command(ID_CONFIGURE_CLOCK); });
    EXPECT_EQ(shown, (std::vector<std::string>{"clock_dialog", "Sensor Disconnected"}));
}

TEST_F(SamplerDialogSafetyTest, UnplugWhileTheCartridgeDialogIsOpen) {
    watch([](QWidget* w) { return is(w, "cartridge_dialog"); });
    double_click_cartridge();
    EXPECT_EQ(shown, (std::vector<std::string>{"cartridge_dialog", "Sensor Disconnected"}));
    for (const auto& f : dev->requests()) EXPECT_NE(frame_code(f), CMD_SET_CARTRIDGE);
}

TEST_F(SamplerDialogSafetyTest, UnplugWhileACartridgeFailureIsShown) {
    dev->force_result(CMD_SET_CARTRIDGE, 6);
    watch([](QWidget* w) {
        if (is(w, "cartridge_dialog")) click_later(w, "ok_button");
        return shows(w, "Failed to reset cartridge ID");
    });
    double_click_cartridge();
    EXPECT_EQ(shown, (std::vector<std::string>{"cartridge_dialog", "Failed to reset cartridge ID", "Sensor Disconnected"}));
}

}  // namespace
