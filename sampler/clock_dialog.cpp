#include "sampler/clock_dialog.h"

#include "platform/pc_clock.h"
#include "sampler/clock.h"
#include "ui/await.h"
#include "ui/dialog_helpers.h"
#include "ui/modal.h"
#include "ui/poller.h"
#include "ui_clock_dialog.h"

#include <QDateEdit>
#include <QPointer>
#include <QPushButton>
#include <QRadioButton>
#include <QTimeEdit>

#include <string>

namespace {

int clock_poll(worker_thread* self);

class clock_dialog : public QDialog {
public:
    explicit clock_dialog(QWidget* owner) : QDialog(owner) {
        ui.setupUi(this);
        setObjectName(QStringLiteral("clock_dialog"));
        ui_no_default_buttons(this);
        ui.set_button->setDefault(true);
        ui_limit_to_device_time(ui.date_edit);
        const pc_local_time now = pc_clock_local();
        ui.date_edit->setDate(QDate(now.year, now.month, now.day));
        ui.time_edit->setTime(QTime(now.hour, now.minute, now.second));
        ui.this_time_radio->setChecked(true);
        update_pickers();
        ui_add_tooltip(ui.this_time_radio, "Set sensor's RTC to this time when you hit Set Now");
        ui_add_tooltip(ui.pc_time_radio, "Set sensor's RTC to this PC's time when you hit Set Now");
        ui_add_tooltip(ui.set_button, "Set the RTC time now");
        for (QRadioButton* radio : {ui.this_time_radio, ui.pc_time_radio})
            connect(radio, &QRadioButton::clicked, this, [this] { update_pickers(); });
        connect(ui.set_button, &QPushButton::clicked, this, [this] { clock_set(this); });
        // The display stays empty when the poller cannot start; setting still works.
        poller.start(this, clock_poll);
    }

    ~clock_dialog() override { poller.stop(); }

    void show_clock(const std::string& text) { ui.clock_display->setText(QString::fromStdString(text)); }

    void update_pickers() {
        const bool picked = ui.this_time_radio->isChecked();
        ui.date_edit->setEnabled(picked);
        ui.time_edit->setEnabled(picked);
    }

    Ui::clock_dialog_form ui;
    ui_poller poller;
};

// Runs on the poller's thread: the text reaches the display on the GUI thread, and only while
// the dialog's poller runs. The window is not even looked at here: by the time a late answer
// arrives the dialog may be gone.
void post_clock_text(worker_thread* self, const std::string& text) {
    QObject* window = ui_poll_window(self);
    ui_poll_post(self, [window, text] { static_cast<clock_dialog*>(window)->show_clock(text); });
}

int clock_poll(worker_thread* self) { return clock_poll_run(self, post_clock_text); }

}  // namespace

int clock_set(QDialog* dialog) {
    auto* d = dynamic_cast<clock_dialog*>(dialog);
    if (!d) return 1;
    calendar_fields f;
    if (d->ui.this_time_radio->isChecked()) {
        const QDate date = d->ui.date_edit->date();
        const QTime time = d->ui.time_edit->time();
        f = {date.year(), date.month(), date.day(), time.hour(), time.minute(), time.second()};
    } else {
        // The instrument keeps wall-clock time: the PC's local time, not UTC.
        const pc_local_time now = pc_clock_local();
        f = {now.year, now.month, now.day, now.hour, now.minute, now.second};
    }
    // A moment past 19/01/2038 03:14:07 (the last day's evening, or a PC clock set years ahead)
    // is refused here, named, rather than sent for the instrument to refuse.
    if (!clock_fields_valid(f)) {
        ui_message_fmt(d, "Save", UI_MB_OK, "%s", clock_range_text().c_str());
        return CLOCK_ERR_RANGE;
    }
    const clock_time t = clock_time_make(f);
    const int r = ui_await(d, [&] { return clock_write(t); });
    if (ui_window_gone(d)) return r;
    if (r != 0) {
        ui_message_fmt(d, "Save", UI_MB_OK, "%s", "Failed to set RTC time");
        return r;
    }
    d->poller.wake();  // the display shows the new time at once
    return 0;
}

QDialog* clock_dialog_open(QWidget* owner) { return new clock_dialog(owner); }

int clock_dialog_run(QWidget* owner) {
    QPointer<QDialog> d = clock_dialog_open(owner);
    ui_exec(*d);
    delete d.data();
    return 0;
}
