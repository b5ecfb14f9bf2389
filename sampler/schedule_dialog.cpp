#include "sampler/schedule_dialog.h"

#include "sampler/clock.h"
#include "sampler/run_settings.h"
#include "sampler/schedule.h"
#include "ui/await.h"
#include "ui/dialog_helpers.h"
#include "ui/field_rules.h"
#include "ui/modal.h"
#include "ui_schedule_dialog.h"

#include <QCheckBox>
#include <QDateEdit>
#include <QLineEdit>
#include <QPointer>
#include <QPushButton>
#include <QRadioButton>
#include <QTimeEdit>

namespace {

struct row_controls {
    QCheckBox* used;
    QLineEdit* offset;
    QLineEdit* samples;
    QLineEdit* volume;
    QLineEdit* timeout;
    QCheckBox* clean;
};

class schedule_dialog : public QDialog {
public:
    explicit schedule_dialog(QWidget* owner) : QDialog(owner) {
        ui.setupUi(this);
        setObjectName(QStringLiteral("schedule_dialog"));
        ui_no_default_buttons(this);  // no OK button: Enter saves nothing
        ui_limit_to_device_time(ui.start_date);
        for (int i = 0; i < SCHEDULE_WAYPOINTS; ++i) {
            const QString n = QString::number(i + 1);
            row_controls& r = rows[i];
            r.used = findChild<QCheckBox*>(QStringLiteral("row_check_") + n);
            r.offset = findChild<QLineEdit*>(QStringLiteral("offset_edit_") + n);
            r.samples = findChild<QLineEdit*>(QStringLiteral("samples_edit_") + n);
            r.volume = findChild<QLineEdit*>(QStringLiteral("volume_edit_") + n);
            r.timeout = findChild<QLineEdit*>(QStringLiteral("timeout_edit_") + n);
            r.clean = findChild<QCheckBox*>(QStringLiteral("clean_check_") + n);
            // Nothing typed is dropped: "12,5" is red and blocks Save, never sent as 125.
            ui_number_field(r.offset, SCHEDULE_OFFSET_RULE);
            ui_number_field(r.samples, FORM_COUNT_RULE);
            ui_number_field(r.volume, FORM_VOLUME_RULE);
            ui_number_field(r.timeout, FORM_MINUTES_RULE);
            connect(r.used, &QCheckBox::toggled, this, [this] { schedule_update_controls(this); });
        }
        // Only the rows in use are sent, and only their fields count.
        ui_fields_gate(this, ui.save_button);
        for (QRadioButton* radio : {ui.start_next_radio, ui.start_at_radio}) {
            connect(radio, &QRadioButton::clicked, this, [this] { schedule_update_controls(this); });
            connect(radio, &QRadioButton::toggled, this, [this] { start_touched(); });
        }
        // schedule_load fills the start controls too and clears the flag after it.
        connect(ui.start_date, &QDateEdit::dateChanged, this, [this] { start_touched(); });
        connect(ui.start_time, &QTimeEdit::timeChanged, this, [this] { start_touched(); });
        connect(ui.save_button, &QPushButton::clicked, this, [this] { on_save(); });
        connect(ui.now_button, &QPushButton::clicked, this, [this] { on_now(); });
    }

    // The start option of the first checked radio, in table order; none checked counts as 0.
    uint32_t start_option() const {
        if (ui.start_next_radio->isChecked()) return START_OPTIONS[0].value;
        if (ui.start_at_radio->isChecked()) return START_OPTIONS[1].value;
        return START_NEXT_TIME;
    }

    Ui::schedule_dialog_form ui;
    row_controls rows[SCHEDULE_WAYPOINTS];
    // The start as the instrument holds it, sent back unchanged until the operator touches the
    // start controls: the pickers cannot show every start the instrument may hold.
    uint32_t start_as_read = 0;
    bool start_changed = false;
    // Once touched, the start is what the controls show: no word about the one read is left.
    void start_touched() {
        start_changed = true;
        ui.start_date->setToolTip(QString());
        ui.start_time->setToolTip(QString());
    }

private:
    void on_save() {
        if (!ui_fields_ok(this)) return;
        int r = schedule_save(this);
        if (r == SCHEDULE_START_OUT_OF_RANGE) {
            ui_message_fmt(this, "Save", UI_MB_OK, "%s", schedule_start_range_text().c_str());
            return;
        }
        if (ui_window_gone(this)) return;
        // Shows the schedule as the instrument now holds it: used rows first, in time order.
        if (r == 0) r = schedule_load(this);
        if (ui_window_gone(this)) return;
        if (r != 0) {
            ui_message_fmt(this, "Save", UI_MB_OK, "%s", "Failed to save schedule");
            return;
        }
        schedule_update_controls(this);
        ui_message_fmt(this, "Save", UI_MB_OK, "%s", "Schedule saved");
    }

    // Presets the start from the instrument's own clock, which is what the start is compared
    // with. A clock whose fields name no moment is as useless as one that cannot be read.
    void on_now() {
        clock_time c;
        uint32_t t = 0;
        const int r = ui_await(this, [&] { return clock_read(c); });
        if (ui_window_gone(this)) return;
        if (r != 0 || !clock_time_to_device(c, &t) ||
            !schedule_set_start_pickers(ui.start_date, ui.start_time, t)) {
            ui_message_fmt(this, "NOW", UI_MB_OK, "%s", "Can't get time from sample.");
            return;
        }
        start_changed = true;
    }
};

schedule_dialog* as_schedule(QDialog* d) { return dynamic_cast<schedule_dialog*>(d); }

}  // namespace

int schedule_load(QDialog* dialog) {
    schedule_dialog* d = as_schedule(dialog);
    if (!d) return 1;
    schedule_record s;
    if (const int r = ui_await(d, [&] { return schedule_read(s); }); r != 0) return r;
    if (ui_window_gone(d)) return 1;
    const schedule_form form = schedule_form_texts(s);
    const uint32_t start = schedule_start(s);
    bool shown = true;
    if (start == 0) {
        d->ui.start_next_radio->setChecked(true);
        schedule_set_start_pickers(d->ui.start_date, d->ui.start_time, 0);
    } else {
        d->ui.start_at_radio->setChecked(true);
        shown = schedule_set_start_pickers(d->ui.start_date, d->ui.start_time, start) == 1;
    }
    // A start the pickers cannot show is still the one kept; say which it is where it is asked.
    QString held;
    if (!shown) {
        calendar_fields f;
        held = device_time_to_fields(start, f)
                   ? QString::asprintf("The instrument holds %02d/%02d/%04d %02d:%02d:%02d, which these pickers cannot "
                                       "show; it is kept unless the start is changed",
                                       f.day, f.month, f.year, f.hour, f.minute, f.second)
                   : QString::asprintf("The instrument holds start time %u, which these pickers cannot show; it is "
                                       "kept unless the start is changed",
                                       unsigned(start));
    }
    d->ui.start_date->setToolTip(held);
    d->ui.start_time->setToolTip(held);
    ui_set_check(d->ui.autostart_check, form.autostart ? 1 : 0);
    for (int i = 0; i < SCHEDULE_WAYPOINTS; ++i) {
        const schedule_row_form& f = form.rows[i];
        const row_controls& r = d->rows[i];
        ui_set_check(r.used, f.used ? 1 : 0);
        ui_set_text_fmt(r.offset, "%s", f.offset.c_str());
        ui_set_text_fmt(r.samples, "%s", f.samples.c_str());
        ui_set_text_fmt(r.volume, "%s", f.volume.c_str());
        ui_set_text_fmt(r.timeout, "%s", f.timeout.c_str());
        ui_set_check(r.clean, f.clean ? 1 : 0);
    }
    d->start_as_read = start;
    d->start_changed = false;
    return 0;
}

int schedule_save(QDialog* dialog) {
    schedule_dialog* d = as_schedule(dialog);
    if (!d) return 1;
    schedule_form form;
    form.autostart = ui_is_checked(d->ui.autostart_check) == 1;
    form.start_option = d->start_option();
    for (int i = 0; i < SCHEDULE_WAYPOINTS; ++i) {
        const row_controls& r = d->rows[i];
        schedule_row_form& f = form.rows[i];
        f.used = ui_is_checked(r.used) == 1;
        f.offset = r.offset->text().toStdString();
        f.samples = r.samples->text().toStdString();
        f.volume = r.volume->text().toStdString();
        f.timeout = r.timeout->text().toStdString();
        f.clean = ui_is_checked(r.clean) == 1;
    }
    uint32_t start = 0;
    const uint32_t picked = schedule_get_start_pickers(d->ui.start_date, d->ui.start_time);
    if (schedule_save_start(d->start_changed, d->start_as_read, form.start_option, picked, &start) != 0)
        return SCHEDULE_START_OUT_OF_RANGE;
    const schedule_record record = schedule_build(form, start);
    return ui_await(d, [&] { return schedule_write(record); }) == 0 ? 0 : 1;
}

void schedule_update_controls(QDialog* dialog) {
    schedule_dialog* d = as_schedule(dialog);
    if (!d) return;
    for (const row_controls& r : d->rows) {
        const bool on = r.used->isChecked();
        for (QWidget* w : {static_cast<QWidget*>(r.offset), static_cast<QWidget*>(r.samples),
                           static_cast<QWidget*>(r.volume), static_cast<QWidget*>(r.timeout),
                           static_cast<QWidget*>(r.clean)})
            w->setEnabled(on);
    }
    const bool at = d->start_option() == START_AT_OR_AFTER;
    d->ui.start_date->setEnabled(at);
    d->ui.start_time->setEnabled(at);
    d->ui.save_button->setEnabled(ui_fields_ok(d));
}

QDialog* schedule_dialog_open(QWidget* owner) {
    auto* d = new schedule_dialog(owner);
    if (schedule_load(d) != 0) {
        delete d;
        ui_message_fmt(owner, "Schedule", UI_MB_OK, "%s", "Unable to retrieve schedule from device");
        return nullptr;
    }
    ui_add_tooltip(d->ui.now_button, "reset to PC time");
    schedule_update_controls(d);
    return d;
}

int schedule_dialog_run(QWidget* owner) {
    QPointer<QDialog> d = schedule_dialog_open(owner);
    if (!d) return 0;
    ui_exec(*d);
    delete d.data();
    return 0;
}
