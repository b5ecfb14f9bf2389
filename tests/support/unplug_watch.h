// Pulling the cable while the tool's real dialogs run their own event loops (QMessageBox,
// QFileDialog, the feature dialogs), and watching what the operator sees: the removal arrives
// inside those loops, as it does for a user. Used by every window test of that kind.
#pragma once

#include "app_fixture.h"
#include "ui/modal.h"

#include <QFileDialog>
#include <QLabel>
#include <QMessageBox>
#include <QPointer>
#include <QTimer>

#include <functional>
#include <memory>
#include <string>
#include <vector>

// A message box that shows exactly this text.
inline bool shows(const QWidget* w, const char* text) {
    auto* box = qobject_cast<const QMessageBox*>(w);
    return box && box->text() == QString::fromUtf8(text);
}

// A window with this object name.
inline bool named_window(const QWidget* w, const char* name) { return w->objectName() == QString::fromUtf8(name); }

// Clicks a push button of a window once the current event has been handled: a click that opens
// a message box runs that box's loop, which the watch must not sit inside.
inline void click_later(QWidget* window, const char* button) {
    QPointer<QPushButton> b = window->findChild<QPushButton*>(QString::fromUtf8(button));
    QTimer::singleShot(0, [b] {
        if (b) b->click();
    });
}

// Every 20 ms the watch looks at the modal window on top and notes each new one once in
// shown(): a message box by its text, a file chooser as "file chooser: <title>", any other
// dialog by its object name. "Sensor Disconnected" is answered as the operator would. Before the
// removal, `act` may work each new window (through a queued call, as a click would), and the
// cable is pulled when `pull` recognises one. A window that comes up after the removal is a
// failure, and is closed so that a fault shows as a failure, not as a hang.
class unplug_watch {
public:
    using recognise = std::function<bool(QWidget*)>;
    using work = std::function<void(QWidget*)>;

    unplug_watch(std::shared_ptr<sim_device> dev, recognise pull, work act = {})
        : dev_(std::move(dev)), pull_(std::move(pull)), act_(std::move(act)) {
        QObject::connect(&timer_, &QTimer::timeout, [this] { look(); });
        timer_.start(20);
    }
    bool pulled() const { return pulled_; }
    const std::vector<std::string>& shown() const { return shown_; }

private:
    void look() {
        QWidget* top = QApplication::activeModalWidget();
        // A window that follows another may take the very address of the one before: a guarded
        // pointer forgets a window once it is gone.
        if (!top || top == last_seen_.data()) return;
        last_seen_ = top;
        auto* box = qobject_cast<QMessageBox*>(top);
        if (box) shown_.push_back(box->text().toStdString());
        else if (auto* files = qobject_cast<QFileDialog*>(top)) shown_.push_back("file chooser: " + files->windowTitle().toStdString());
        else shown_.push_back(top->objectName().toStdString());
        if (box && box->text() == QStringLiteral("Sensor Disconnected")) {
            box->button(QMessageBox::Ok)->click();
        } else if (pulled_) {
            ADD_FAILURE() << "still open after the removal: " << shown_.back();
            if (auto* d = qobject_cast<QDialog*>(top)) d->reject();
        } else if (pull_(top)) {
            pulled_ = true;
            dev_->unplug();
        } else if (act_) {
            QPointer<QWidget> window(top);
            work act = act_;
            QTimer::singleShot(0, [act, window] {
                if (window) act(window);
            });
        }
    }

    std::shared_ptr<sim_device> dev_;
    recognise pull_;
    work act_;
    QTimer timer_;
    QPointer<QWidget> last_seen_;
    bool pulled_ = false;
    std::vector<std::string> shown_;
};

// Runs `start` from the event loop, as a click would, and waits until the cable has been pulled
// and the tool is back at the connect view with no dialog open and the link closed.
inline void run_until_back_at_connect_view(const unplug_watch& watch, std::function<void()> start) {
    QTimer::singleShot(0, std::move(start));
    ASSERT_TRUE(wait_until(
        [&] {
            return watch.pulled() && main_current_view() && main_current_view()->view_id() == VIEW_CONNECT &&
                   ui_open_dialog_count() == 0 && !QApplication::activeModalWidget();
        },
        10000));
    settle(300);  // a poller's late post, if any, would land here
    EXPECT_FALSE(link_is_open());
}

// Connected to an idle instrument in the run view, with the real message boxes and file
// chooser (each with its own event loop), ready to pull the cable under them.
class RunViewUnplugTest : public AppTest {
protected:
    void SetUp() override {
        AppTest::SetUp();
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

    std::shared_ptr<sim_device> dev;
    QPointer<app_view> run_view;
};
