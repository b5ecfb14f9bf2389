// The windows while an instrument is slow or silent: one test per kind of wait (a dialog's
// opening read, a save with read-back, a view's button, the connect view's list), each showing
// that the GUI thread runs on during the wait, that input meant for the waiting window is
// dropped rather than delivered later, and that pulling the cable ends the wait with the window
// closed safely. Then the dialogs' modality and the views' stale readings.
#include "app_fixture.h"
#include "config/cleaning.h"
#include "link/commands.h"
#include "ui/await.h"
#include "ui/modal.h"
#include "ui/stale_watch.h"
#include "ui/window_table.h"

#include <QCheckBox>
#include <QDialog>
#include <QLabel>
#include <QLineEdit>
#include <QPointer>
#include <QTimer>

#include <functional>

namespace {

// Counts the GUI thread's timer ticks: a wait that blocked the thread would stop them.
struct heartbeat {
    heartbeat() {
        QObject::connect(&timer, &QTimer::timeout, [this] { ++ticks; });
        timer.start(5);
    }
    QTimer timer;
    int ticks = 0;
};

QWidget* overlay_of(QWidget* window) { return window ? window->findChild<QWidget*>(QStringLiteral("ui_wait_overlay")) : nullptr; }

bool note_shown(QWidget* window) {
    QWidget* o = overlay_of(window);
    return o && o->isVisible() && o->toolTip() == QString::fromUtf8(UI_AWAIT_NOTE) && o->cursor().shape() == Qt::WaitCursor;
}

class ResponsiveTest : public AppTest {
protected:
    void connect_idle(sim_device_config config = named("UNIT-A")) {
        dev = sim_bus_add(config);
        open_window();
        ASSERT_NO_FATAL_FAILURE(connect_first_row());
        ASSERT_TRUE(wait_until([&] {
            auto* state = main_current_view()->findChild<QLabel*>(QStringLiteral("state_line"));
            return state && state->text() == QStringLiteral("Sampler State: Idle");
        }));
    }
    size_t sent(uint16_t code) const {
        size_t n = 0;
        for (const auto& f : dev->requests()) n += frame_code(f) == code;
        return n;
    }
    bool back_at_connect_view() {
        return view_id() == VIEW_CONNECT && ui_await_count() == 0 && ui_open_dialog_count() == 0 && !link_is_open();
    }
    // Runs `action` from the event loop, as a click would, and `during` from the first event
    // that the action's wait handles; returns once the action has.
    static void run_from_event_loop(std::function<void()> during, std::function<void()> action) {
        bool acted = false;
        QTimer::singleShot(0, [&] {
            QTimer::singleShot(0, during);
            action();
            acted = true;
        });
        ASSERT_TRUE(wait_until([&] { return acted; }, 20000));
    }
    bool shown(const char* text) {
        for (const auto& m : messages)
            if (m.text == text) return true;
        return false;
    }

    std::shared_ptr<sim_device> dev;
};

TEST_F(ResponsiveTest, AnOpeningReadWaitsInTheMainWindowHoldsItsInputAndEndsWhenTheCableIsPulled) {
    ASSERT_NO_FATAL_FAILURE(connect_idle());
    QPointer<app_view> run_view = main_current_view();
    QPushButton* start = run_view->findChild<QPushButton*>(QStringLiteral("start_button"));
    ASSERT_TRUE(start->isEnabled());
    dev->set_never_answer(true);
    heartbeat beat;
    bool waited = false, noted = false, pulled = false;
    int ticks_during = 0;
    // Runs inside the wait, as the operator's clicks and the removal would arrive.
    auto during = [&] {
        waited = ui_awaiting(window);
        const int ticks = beat.ticks;
        // The wait shows itself: the wait cursor, then the note.
        noted = wait_until([&] { return note_shown(window); });
        ticks_during = beat.ticks - ticks;
        // The run view lives in the waiting main window: its Start is held, not queued.
        QTest::mouseClick(start, Qt::LeftButton);
        dev->unplug();
        pulled = true;
    };
    run_from_event_loop(during, [] { main_command(ID_CONFIGURE_FLOW); });
    EXPECT_TRUE(waited);
    EXPECT_TRUE(noted);
    EXPECT_GT(ticks_during, 20) << "the GUI thread's timers stopped during the wait";
    ASSERT_TRUE(pulled);
    ASSERT_TRUE(wait_until([&] { return back_at_connect_view(); }));
    EXPECT_EQ(overlay_of(window), nullptr);
    EXPECT_EQ(sent(CMD_START_RUN), 0u);
    EXPECT_TRUE(shown("Sensor Disconnected"));
    EXPECT_FALSE(shown("Can't get flow meter config from device."));  // said to a window that went
    settle(100);
    EXPECT_TRUE(run_view.isNull()) << "the run view retired under the wait was never freed";
}

TEST_F(ResponsiveTest, ASaveWithReadBackThatIsNeverAnsweredKeepsTheProgramRunningAndSavesOnce) {
    dev = sim_bus_add(named("UNIT-A"));
    ASSERT_EQ(link_open(dev->path().c_str(), 1500), 0);
    heartbeat beat;
    bool during_wait = false, cursor_shown = false;
    int ticks_during = 0;
    QTimer driver;
    driver.setInterval(5);
    QObject::connect(&driver, &QTimer::timeout, [&] {
        auto* d = qobject_cast<QDialog*>(QApplication::activeModalWidget());
        if (!d) return;
        driver.stop();
        auto* save = d->findChild<QPushButton*>(QStringLiteral("save_button"));
        dev->set_never_answer(true);
        const int ticks = beat.ticks;
        QTimer::singleShot(0, [&, d, save, ticks] {
            during_wait = wait_until([&] { return ui_awaiting(d); });
            cursor_shown = wait_until([&] { return overlay_of(d) && overlay_of(d)->cursor().shape() == Qt::WaitCursor; });
            ticks_during = beat.ticks - ticks;
            QTest::mouseClick(save, Qt::LeftButton);  // a second Save while the first waits
            QTest::keyClick(d, Qt::Key_Escape);       // and an Escape: neither is kept for later
        });
        save->click();  // returns once the save has failed on the link's timeout
        dev->set_never_answer(false);
        settle(200);
        EXPECT_TRUE(d->isVisible());
        d->reject();
    });
    driver.start();
    ui_open_dialog(DIALOG_CLEANING, nullptr, 0);
    EXPECT_TRUE(during_wait);
    EXPECT_TRUE(cursor_shown);
    EXPECT_GT(ticks_during, 10);
    EXPECT_EQ(sent(CMD_SET_CLEANING_CONFIG), 1u);
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_EQ(messages[0].text, CLEANING_SAVE_FAILED);
}

TEST_F(ResponsiveTest, AViewButtonWaitsWithTheViewHeldAndTheViewIsFreedAfterTheCableIsPulled) {
    ASSERT_NO_FATAL_FAILURE(connect_idle());
    main_command(ID_VIEW_DIAGNOSTICS);
    QPointer<app_view> diag = main_current_view();
    ASSERT_EQ(diag->view_id(), VIEW_DIAGNOSTICS);
    QPushButton* led = diag->findChild<QPushButton*>(QStringLiteral("led_button"));
    // Everything else is answered; the LED's answer would come after the link's timeout.
    dev->delay_next_of(CMD_TOGGLE_LED, 10000);
    const size_t before = sent(CMD_TOGGLE_LED);
    heartbeat beat;
    bool waited = false, ticked = false;
    auto during = [&] {
        waited = ui_awaiting(window);
        const int ticks = beat.ticks;
        QTest::mouseClick(led, Qt::LeftButton);  // dropped
        ticked = wait_until([&] { return beat.ticks > ticks + 20; });
        dev->unplug();
    };
    run_from_event_loop(during, [led] { led->click(); });
    EXPECT_TRUE(waited);
    EXPECT_TRUE(ticked);
    ASSERT_TRUE(wait_until([&] { return back_at_connect_view(); }));
    settle(100);
    EXPECT_TRUE(diag.isNull()) << "the diagnostics view retired under the wait was never freed";
    EXPECT_EQ(sent(CMD_TOGGLE_LED), before + 1);
}

TEST_F(ResponsiveTest, TheConnectViewListsWhileSilentInstrumentsTimeOutAndTakesARemovalAfterwards) {
    auto silent = sim_bus_add(named("MUTE"));
    silent->set_never_answer(true);
    auto healthy = sim_bus_add(named("UNIT-B"));
    heartbeat beat;
    bool waited = false;
    int ticks_during = 0;
    window = new main_window;
    window->show();
    // The list is read after the view is in place, off the GUI thread, while this runs.
    QTimer::singleShot(0, [&] {
        waited = ui_awaiting(window);
        const int ticks = beat.ticks;
        QTest::mouseClick(button(0), Qt::LeftButton);  // held: it would say "Nothing selected"
        settle(200);
        ticks_during = beat.ticks - ticks;
        silent->unplug();  // taken once the list is read, as the removal it is
    });
    ASSERT_TRUE(wait_until([&] { return ui_await_count() == 0 && list()->topLevelItemCount() == 1; }));
    EXPECT_TRUE(waited);
    EXPECT_GT(ticks_during, 10);
    EXPECT_EQ(list()->topLevelItem(0)->text(0), QStringLiteral("UNIT-B"));
    EXPECT_TRUE(messages.empty());  // "Nothing selected" was never asked for
    dev = healthy;
    ASSERT_NO_FATAL_FAILURE(connect_first_row());
}

TEST_F(ResponsiveTest, DialogsAreModalToTheMainWindowOnlySoOtherWindowsStayUsable) {
    ASSERT_NO_FATAL_FAILURE(connect_idle());
    QPushButton other(QStringLiteral("Unplug"));
    other.setWindowTitle(QStringLiteral("Virtual Instrument"));
    other.show();
    int other_clicks = 0;
    QObject::connect(&other, &QPushButton::clicked, [&] { ++other_clicks; });
    bool main_blocked_click = false;
    QTimer::singleShot(100, [&] {
        auto* d = qobject_cast<QDialog*>(QApplication::activeModalWidget());
        if (!d) return;
        EXPECT_EQ(d->windowModality(), Qt::WindowModal);
        // Clicks as the window system delivers them, where modality is applied.
        QTest::mouseClick(other.windowHandle(), Qt::LeftButton, {}, other.rect().center());
        // The main window under the dialog takes no click.
        auto* start = main_current_view()->findChild<QPushButton*>(QStringLiteral("start_button"));
        QTest::mouseClick(window->windowHandle(), Qt::LeftButton, {}, start->mapTo(window, start->rect().center()));
        settle(50);
        main_blocked_click = sent(CMD_START_RUN) == 0;
        d->reject();
    });
    main_command(ID_CONFIGURE_CLOCK);
    EXPECT_EQ(other_clicks, 1);
    EXPECT_TRUE(main_blocked_click);
}

TEST_F(ResponsiveTest, ReadingsThatStopComingAreMarkedUntilAnswersComeBack) {
    ASSERT_NO_FATAL_FAILURE(connect_idle());
    for (const int view : {VIEW_RUN, VIEW_DIAGNOSTICS}) {
        SCOPED_TRACE(view);
        main_command(view == VIEW_RUN ? ID_VIEW_RUN : ID_VIEW_DIAGNOSTICS);
        app_view* v = main_current_view();
        auto* label = v->findChild<QLabel*>(QStringLiteral("stale_label"));
        QWidget* reading = v->findChild<QWidget*>(view == VIEW_RUN ? QStringLiteral("state_line") : QStringLiteral("voltage_edit"));
        ASSERT_TRUE(wait_until([&] { return reading->isEnabled() && !label->isVisible(); }));
        dev->set_never_answer(true);
        ASSERT_TRUE(wait_until([&] { return label->isVisible(); }, 10000));
        EXPECT_EQ(label->text(), QString::fromUtf8(UI_STALE_TEXT));
        EXPECT_FALSE(reading->isEnabled());  // greyed: not the instrument's value now
        dev->set_never_answer(false);
        ASSERT_TRUE(wait_until([&] { return !label->isVisible(); }, 10000));
        EXPECT_TRUE(reading->isEnabled());
    }
}

}  // namespace
