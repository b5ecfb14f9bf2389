// The instrument is unplugged while the schedule, clock or cartridge dialog, or one of their
// message boxes, runs its own event loop (real QMessageBox and QDialog loops). Nothing may
// crash or run on for the instrument that has gone, and the operator sees "Sensor
// Disconnected". Run under AddressSanitizer too.
#include "link/commands.h"
#include "ui/large_text.h"
#include "unplug_watch.h"

#include <QLabel>

namespace {

class SamplerDialogSafetyTest : public RunViewUnplugTest {
protected:
    void double_click_cartridge(const unplug_watch& watch) {
        QPointer<large_text_display> display = run_view->findChild<large_text_display*>(QStringLiteral("cartridge_display"));
        act_and_wait(watch, [display] {
            if (display) QTest::mouseDClick(display, Qt::LeftButton);
        });
    }
};

TEST_F(SamplerDialogSafetyTest, UnplugWhileTheScheduleDialogIsOpen) {
    unplug_watch watch(dev, [](QWidget* w) { return named_window(w, "schedule_dialog"); });
    act_and_wait(watch, [] { main_command(ID_CONFIGURE_SCHEDULE); });
    EXPECT_EQ(watch.shown(), (std::vector<std::string>{"schedule_dialog", "Sensor Disconnected"}));
}

TEST_F(SamplerDialogSafetyTest, UnplugWhileScheduleSavedIsShown) {
    unplug_watch watch(
        dev, [](QWidget* w) { return shows(w, "Schedule saved"); },
        [](QWidget* w) {
            if (named_window(w, "schedule_dialog")) click_later(w, "save_button");
        });
    act_and_wait(watch, [] { main_command(ID_CONFIGURE_SCHEDULE); });
    EXPECT_EQ(watch.shown(), (std::vector<std::string>{"schedule_dialog", "Schedule saved", "Sensor Disconnected"}));
}

TEST_F(SamplerDialogSafetyTest, UnplugWhileTheClockDialogPolls) {
    unplug_watch watch(dev, [this](QWidget* w) {
        if (!named_window(w, "clock_dialog")) return false;
        auto* display = w->findChild<large_text_display*>(QStringLiteral("clock_display"));
        // Once the poller has shown the clock: the next pass is under way or due.
        return wait_until([display] { return display && !display->text().isEmpty(); }) && dev->plugged();
    });
    act_and_wait(watch, [] { main_command(ID_CONFIGURE_CLOCK); });
    EXPECT_EQ(watch.shown(), (std::vector<std::string>{"clock_dialog", "Sensor Disconnected"}));
}

TEST_F(SamplerDialogSafetyTest, UnplugWhileTheCartridgeDialogIsOpen) {
    unplug_watch watch(dev, [](QWidget* w) { return named_window(w, "cartridge_dialog"); });
    double_click_cartridge(watch);
    EXPECT_EQ(watch.shown(), (std::vector<std::string>{"cartridge_dialog", "Sensor Disconnected"}));
    for (const auto& f : dev->requests()) EXPECT_NE(frame_code(f), CMD_SET_CARTRIDGE);
}

TEST_F(SamplerDialogSafetyTest, UnplugWhileACartridgeFailureIsShown) {
    dev->force_result(CMD_SET_CARTRIDGE, 6);
    unplug_watch watch(
        dev, [](QWidget* w) { return shows(w, "Failed to reset cartridge ID"); },
        [](QWidget* w) {
            if (named_window(w, "cartridge_dialog")) click_later(w, "ok_button");
        });
    double_click_cartridge(watch);
    EXPECT_EQ(watch.shown(),
              (std::vector<std::string>{"cartridge_dialog", "Failed to reset cartridge ID", "Sensor Disconnected"}));
}

}  // namespace
