#include "config/motor_dialog.h"

#include "config/motor.h"
#include "link/field_text.h"
#include "ui/await.h"
#include "ui/dialog_helpers.h"
#include "ui/field_rules.h"
#include "ui/modal.h"
#include "ui_motor_dialog.h"

#include <QDialog>
#include <QSignalBlocker>

#include <cfloat>
#include <cmath>
#include <cstring>
#include <memory>

namespace {

constexpr const char* CAPTION = "Configure Motors";
constexpr const char* STOP_FAILED = "Can't stop motor on device (check power supply).";
constexpr const char* START_FAILED = "Can't start motor on device (check power supply).";
constexpr const char* START_UNCONFIRMED =
    "Can't start motor on device (check power supply).\nThe motor did not confirm the stop either: press Stop.";

// Kept between openings of the dialog: the working copies the controls edit, the records as the
// instrument last confirmed them, the motor shown, and whether a motor was started.
motor_config motor_records[MOTOR_ID_LAST + 1];
motor_config motor_snapshot[MOTOR_ID_LAST + 1];
int current_motor = 1;
bool motor_moving = false;
bool motor_fields_invalid = false;
bool motor_id_unsaved_said = false;  // this opening has said that the motor is not remembered

bool motor_unsaved() { return std::memcmp(motor_records, motor_snapshot, sizeof motor_records) != 0; }
motor_config& current_record() { return motor_records[current_motor]; }

class motor_dialog : public QDialog {
public:
    explicit motor_dialog(QWidget* owner);

    // The records have been read: show the current one and set every control.
    void motor_begin() {
        motor_show_record();
        motor_apply_rules();
    }

    Ui::motor_dialog_form ui;

protected:
    // Escape and the close box.
    void reject() override;

private:
    uint32_t autostop() const { return ui_combo_value(ui.autostop_combo, AUTOSTOP_ROWS, AUTOSTOP_ROW_COUNT); }
    uint32_t autostop2() const { return ui_combo_value(ui.autostop2_combo, AUTOSTOP2_ROWS, AUTOSTOP2_ROW_COUNT); }

    void motor_show_record();
    void motor_check_validity();
    void motor_apply_rules();
    motor_field_values motor_typed_values() const;
    motor_field_texts motor_typed_texts() const;
    void motor_read_fields();
    void motor_change(int row);
    void motor_manual(uint8_t direction, const char* action);
    void motor_sample_hall(bool engaged);
    void motor_save();
    void motor_test(bool first);
    bool motor_stop_moving();
    void motor_started(int result, const char* action);

    bool showing_ = false;  // the controls are being filled from the record, not edited
};

motor_dialog::motor_dialog(QWidget* owner) : QDialog(owner) {
    ui.setupUi(this);
    setObjectName(QStringLiteral("motor_dialog"));
    setFixedSize(size());  // the template places every control: a larger window adds only space
    ui_no_default_buttons(this);
    ui_combo_fill(ui.motor_combo, MOTOR_ROWS, MOTOR_ROW_COUNT);
    ui_combo_fill(ui.direction_combo, MOTOR_DIRECTION_ROWS, MOTOR_DIRECTION_ROW_COUNT);
    ui_combo_fill(ui.autostop_combo, AUTOSTOP_ROWS, AUTOSTOP_ROW_COUNT);
    ui_combo_fill(ui.autostop2_combo, AUTOSTOP2_ROWS, AUTOSTOP2_ROW_COUNT);
    ui.speed_slider->setRange(0, int(MOTOR_SPEED_MAX));
    ui_set_text_fmt(ui.slider_zero_label, "%s", "0");
    ui_set_text_fmt(ui.slider_max_label, "%s", "MAX");
    ui_add_tooltip(ui.save_button, "Save settings for current motor to sampler.");
    // Nothing typed is dropped: a text that is no number of its field's kind ("50,5", "-1") is
    // red, and blocks Save or the pump test.
    ui_number_field(ui.speed_edit, MOTOR_SPEED_RULE);
    ui_number_field(ui.engaged_edit, MOTOR_HALL_RULE);
    ui_number_field(ui.disengaged_edit, MOTOR_HALL_RULE);
    ui_number_field(ui.max_pressure_edit, MOTOR_PRESSURE_RULE);
    ui_number_field(ui.timeout_edit, MOTOR_TIMEOUT_RULE);
    ui_number_field(ui.flow_volume_edit, MOTOR_FLOW_VOLUME_RULE);
    ui_number_field(ui.flow_timeout_edit, MOTOR_FLOW_TIMEOUT_RULE);

    connect(ui.motor_combo, &QComboBox::currentIndexChanged, this, [this](int row) { motor_change(row); });
    connect(ui.speed_slider, &QSlider::valueChanged, this,
            [this](int v) { ui_set_text_fmt(ui.speed_percent_label, "%u%%", unsigned(v)); });
    connect(ui.forwards_button, &QPushButton::clicked, this, [this] { motor_manual(0, "Forwards"); });
    connect(ui.reverse_button, &QPushButton::clicked, this, [this] { motor_manual(1, "Reverse"); });
    connect(ui.direction_combo, &QComboBox::currentIndexChanged, this, [this] {
        if (showing_) return;
        current_record().bytes[MOTOR_DIRECTION] =
            uint8_t(ui_combo_value(ui.direction_combo, MOTOR_DIRECTION_ROWS, MOTOR_DIRECTION_ROW_COUNT));
    });
    // Only a change the operator makes reaches the record: a code the tool has no row for
    // stays as the instrument sent it.
    connect(ui.autostop_combo, &QComboBox::currentIndexChanged, this, [this] {
        if (showing_) return;
        current_record().bytes[MOTOR_AUTOSTOP] = uint8_t(autostop());
        motor_check_validity();
        motor_apply_rules();
    });
    connect(ui.autostop2_combo, &QComboBox::currentIndexChanged, this, [this] {
        if (showing_) return;
        current_record().bytes[MOTOR_AUTOSTOP2] = uint8_t(autostop2());
        motor_check_validity();
        motor_apply_rules();
    });
    ui_on_fields_changed(this, this, [this] {
        motor_check_validity();
        motor_apply_rules();
    });
    connect(ui.engaged_sample_button, &QPushButton::clicked, this, [this] { motor_sample_hall(true); });
    connect(ui.disengaged_sample_button, &QPushButton::clicked, this, [this] { motor_sample_hall(false); });
    connect(ui.save_button, &QPushButton::clicked, this, [this] { motor_save(); });
    connect(ui.test1_button, &QPushButton::clicked, this, [this] { motor_test(true); });
    connect(ui.test2_button, &QPushButton::clicked, this, [this] { motor_test(false); });
}

void motor_dialog::motor_show_record() {
    const motor_config& c = current_record();
    const motor_field_values v = motor_field_values_of(c);
    showing_ = true;
    {
        const QSignalBlocker block(ui.motor_combo);
        ui.motor_combo->setCurrentIndex(combo_row_index(MOTOR_ROWS, MOTOR_ROW_COUNT, uint32_t(current_motor)));
    }
    ui_set_text_fmt(ui.speed_edit, "%u", unsigned(v.speed));
    ui_set_text_fmt(ui.engaged_edit, "%u", unsigned(v.hall_engaged));
    ui_set_text_fmt(ui.disengaged_edit, "%u", unsigned(v.hall_disengaged));
    ui_set_text_fmt(ui.max_pressure_edit, "%u", unsigned(v.max_pressure));
    ui_set_text_fmt(ui.timeout_edit, "%u", unsigned(v.overpressure_timeout));
    // A code without a row shows as itself ("(not set)" in a fresh record), not as the first row.
    ui_combo_show_value(ui.direction_combo, MOTOR_DIRECTION_ROWS, MOTOR_DIRECTION_ROW_COUNT, c.bytes[MOTOR_DIRECTION],
                        MOTOR_BLANK_CODE);
    ui_combo_show_value(ui.autostop_combo, AUTOSTOP_ROWS, AUTOSTOP_ROW_COUNT, c.bytes[MOTOR_AUTOSTOP], MOTOR_BLANK_CODE);
    ui_combo_show_value(ui.autostop2_combo, AUTOSTOP2_ROWS, AUTOSTOP2_ROW_COUNT, c.bytes[MOTOR_AUTOSTOP2],
                        MOTOR_BLANK_CODE);
    showing_ = false;
    motor_check_validity();
}

motor_field_values motor_dialog::motor_typed_values() const {
    motor_field_values v;
    v.speed = ui_get_unsigned(ui.speed_edit);
    v.hall_engaged = ui_get_unsigned(ui.engaged_edit);
    v.hall_disengaged = ui_get_unsigned(ui.disengaged_edit);
    v.max_pressure = ui_get_unsigned(ui.max_pressure_edit);
    v.overpressure_timeout = ui_get_unsigned(ui.timeout_edit);
    return v;
}

motor_field_texts motor_dialog::motor_typed_texts() const {
    motor_field_texts t;
    t.speed = ui.speed_edit->text().toStdString();
    t.hall_engaged = ui.engaged_edit->text().toStdString();
    t.hall_disengaged = ui.disengaged_edit->text().toStdString();
    t.max_pressure = ui.max_pressure_edit->text().toStdString();
    t.overpressure_timeout = ui.timeout_edit->text().toStdString();
    return t;
}

// The fields paint themselves (ui/field_rules.h); this decides what they block.
void motor_dialog::motor_check_validity() {
    motor_fields_invalid = motor_check_fields(current_motor, autostop2(), motor_typed_texts()).any();
}

void motor_dialog::motor_apply_rules() {
    const motor_controls c = motor_control_rules(current_motor, autostop(), autostop2(), motor_moving, motor_fields_invalid,
                                                 ui_field_ok(ui.flow_volume_edit), ui_field_ok(ui.flow_timeout_edit));
    ui.motor_combo->setEnabled(c.motor_combo);
    ui.save_button->setEnabled(c.save);
    for (QWidget* w : {static_cast<QWidget*>(ui.speed_slider), static_cast<QWidget*>(ui.slider_zero_label),
                       static_cast<QWidget*>(ui.slider_max_label), static_cast<QWidget*>(ui.speed_percent_label)})
        w->setEnabled(c.slider);
    ui.autostop_combo->setEnabled(c.left_autostop);
    ui.autostop2_combo->setEnabled(c.right_autostop);
    for (QWidget* w : {static_cast<QWidget*>(ui.engaged_edit), static_cast<QWidget*>(ui.engaged_label),
                       static_cast<QWidget*>(ui.engaged_sample_button), static_cast<QWidget*>(ui.disengaged_edit),
                       static_cast<QWidget*>(ui.disengaged_label), static_cast<QWidget*>(ui.disengaged_sample_button)})
        w->setEnabled(c.hall_fields);
    for (QWidget* w : {static_cast<QWidget*>(ui.max_pressure_edit), static_cast<QWidget*>(ui.max_pressure_label),
                       static_cast<QWidget*>(ui.timeout_edit), static_cast<QWidget*>(ui.timeout_label)})
        w->setEnabled(c.pressure_fields);
    ui.test1_button->setEnabled(c.test1);
    ui.test2_button->setEnabled(c.test2);
    ui.flow_volume_edit->setEnabled(c.flow_volume);
    ui.flow_volume_label->setEnabled(c.flow_volume);
    ui.flow_timeout_edit->setEnabled(c.flow_timeout);
    ui.flow_timeout_label->setEnabled(c.flow_timeout);
    ui_set_text_fmt(ui.direction_label, "%s", c.direction_label);
    ui_set_text_fmt(ui.forwards_button, "%s", c.forwards_text);
    ui_set_text_fmt(ui.reverse_button, "%s", c.reverse_text);
    ui_set_text_fmt(ui.test1_button, "%s", c.test1_text);
    ui_set_text_fmt(ui.test2_button, "%s", c.test2_text);
}

void motor_dialog::motor_read_fields() { motor_apply_fields(current_record(), motor_typed_values()); }

void motor_dialog::motor_change(int row) {
    if (showing_ || row < 0 || row >= MOTOR_ROW_COUNT) return;
    current_record() = motor_snapshot[current_motor];  // unsaved changes of the motor left are dropped
    current_motor = int(MOTOR_ROWS[row].value);
    ui.speed_slider->setValue(0);
    ui_set_text_fmt(ui.speed_percent_label, "%u%%", 0u);
    motor_show_record();
    motor_apply_rules();
}

// Stops whatever runs. Only a confirmed stop ends the moving state: a manual run has no
// autostop, so a motor whose stop was lost drives on into its end stop.
bool motor_dialog::motor_stop_moving() {
    const int r = ui_await(this, [] { return motor_stop(); });
    if (ui_window_gone(this)) return false;
    if (r == 0) {
        motor_moving = false;
        return true;
    }
    ui_message_fmt(this, "Stop", UI_MB_OK | UI_MB_ICONWARNING, "%s", STOP_FAILED);
    return false;
}

// After a run, engage, disengage or pump command: a refused or unanswered start is no start.
// The instrument may still have acted on it, so a stop follows; if that is not confirmed
// either, the buttons keep reading "Stop".
void motor_dialog::motor_started(int result, const char* action) {
    if (result == 0) {
        motor_moving = true;
        return;
    }
    const bool stopped = ui_await(this, [] { return motor_stop(); }) == 0;
    motor_moving = !stopped;
    ui_message_fmt(this, action, UI_MB_OK | UI_MB_ICONWARNING, "%s", stopped ? START_FAILED : START_UNCONFIRMED);
}

void motor_dialog::motor_manual(uint8_t direction, const char* action) {
    if (motor_moving) {
        motor_stop_moving();
    } else {
        // Said before the motor moves, and once: nothing runs while the message is open.
        if (motor_id_save(current_motor) != 0 && !motor_id_unsaved_said) {
            motor_id_unsaved_said = true;
            ui_message_fmt(this, action, UI_MB_OK | UI_MB_ICONWARNING, "%s", MOTOR_ID_NOT_SAVED);
            if (ui_window_gone(this)) return;
        }
        const uint8_t id = uint8_t(current_motor);
        const uint16_t speed = uint16_t(ui.speed_slider->value());
        const int r = ui_await(this, [&] { return motor_run(id, direction, speed); });
        if (ui_window_gone(this)) return;
        motor_started(r, action);
    }
    if (!ui_window_gone(this)) motor_apply_rules();
}

void motor_dialog::motor_sample_hall(bool engaged) {
    sensor_sample s;
    const int r = ui_await(this, [&] { return sensors_read(s); });
    if (ui_window_gone(this)) return;
    if (r != 0) {
        ui_message_fmt(this, engaged ? "Engaged Hall Value" : "Disengaged Hall Value", UI_MB_OK, "%s",
                       "Failed to get sample from sensor.");
        return;
    }
    motor_set_u16(current_record(), engaged ? MOTOR_HALL_ENGAGED : MOTOR_HALL_DISENGAGED,
                  motor_hall_reading(s, autostop()));
    // The whole record goes back into the fields, over anything typed since the last save.
    motor_show_record();
    motor_apply_rules();
}

void motor_dialog::motor_save() {
    motor_read_fields();
    const uint8_t id = uint8_t(current_motor);
    const motor_config record = current_record();
    const int r = ui_await(this, [&] { return motor_config_save(id, record); });
    if (ui_window_gone(this)) return;
    switch (r) {
        case 0:
            std::memcpy(motor_snapshot, motor_records, sizeof motor_snapshot);
            // What the instrument holds now: a Hall value of 5000 was saved as 4095.
            motor_show_record();
            motor_apply_rules();
            ui_message_fmt(this, "Save", UI_MB_OK, "%s", "Configuration Saved.");
            break;
        case MOTOR_SAVE_MISMATCH:
            ui_message_fmt(this, "Save", UI_MB_OK | UI_MB_ICONERROR, "%s", "Failed to save motor config (verification failed).");
            break;
        default:
            ui_message_fmt(this, "Save", UI_MB_OK | UI_MB_ICONERROR, "%s", "Can't set motor config on device (check power supply).");
            break;
    }
    if (!ui_window_gone(this)) motor_apply_rules();
}

void motor_dialog::motor_test(bool first) {
    if (motor_moving) {
        motor_stop_moving();
        if (!ui_window_gone(this)) motor_apply_rules();
        return;
    }
    // A test runs the configuration saved in the instrument, so it must be the one shown.
    if (motor_unsaved()) {
        ui_message_fmt(this, "Test", UI_MB_OK, "%s", "You need to save your changes first.");
        if (!ui_window_gone(this)) motor_apply_rules();
        return;
    }
    const bool pump = motor_is_pump(current_motor);
    double litres = 0;
    // A volume that is not a number of litres (nan, inf, too large for the wire's float) is
    // never sent: the instrument would pump without a volume to stop at. Where the volume
    // stops the pump (its field enabled), it must keep its rule too: more than 0 litres.
    if (pump) {
        const std::string text = ui.flow_volume_edit->text().toStdString();
        const bool volume_counts = ui.flow_volume_edit->isEnabled();
        if (!field_double(text, &litres) || std::fabs(litres) > double(FLT_MAX) ||
            (volume_counts && !ui_field_ok(ui.flow_volume_edit)) || !ui_field_ok(ui.flow_timeout_edit)) {
            ui_message_fmt(this, "Test", UI_MB_OK, "%s", "Can't start pump: please check parameters");
            return;
        }
    }
    motor_read_fields();
    const uint8_t id = uint8_t(current_motor);
    const auto flow_timeout = motor_flow_timeout_seconds(ui_get_unsigned(ui.flow_timeout_edit));
    const char* action = pump ? "Pump" : first ? "Engage" : "Disengage";
    const int r = ui_await(this, [&] {
        if (pump) return motor_pump(id, float(litres), flow_timeout);
        return first ? motor_engage(id) : motor_disengage(id);
    });
    if (ui_window_gone(this)) return;
    motor_started(r, action);
    if (!ui_window_gone(this)) motor_apply_rules();
}

void motor_dialog::reject() {
    if (motor_unsaved() &&
        ui_message_fmt(this, "Exit", UI_MB_YESNO | UI_MB_ICONQUESTION, "%s", "Exit without saving changes?") != UI_IDYES)
        return;
    const int stopped = ui_await(this, [] { return motor_stop(); });
    if (ui_window_gone(this)) return;
    if (stopped == 0) {
        motor_moving = false;
    } else if (motor_moving) {
        // The motor was running and did not confirm the stop: say so rather than close as if it
        // had stopped. No keeps the dialog (and its Stop buttons) open.
        if (ui_message_fmt(this, "Exit", UI_MB_YESNO | UI_MB_ICONWARNING, "%s\nClose anyway?", STOP_FAILED) != UI_IDYES) {
            if (!ui_window_gone(this)) motor_apply_rules();
            return;
        }
    }
    ui_await(this, [] {
        motor_close();
        sensors_stop();
    });
    QDialog::reject();
}

}  // namespace

QDialog* motor_dialog_open(QWidget* owner) {
    auto dialog = std::make_unique<motor_dialog>(owner);
    current_motor = motor_id_load();
    motor_id_unsaved_said = false;

    // All five or none: a failed read leaves the records of the last opening alone.
    motor_config read[MOTOR_ID_LAST + 1] = {};
    int read_result = 1, start_result = 1;
    ui_await(owner, [&] {
        for (int id = MOTOR_ID_FIRST; id <= MOTOR_ID_LAST; ++id)
            if ((read_result = motor_config_get(uint8_t(id), read[id])) != 0) return;
        start_result = sensors_start();
    });
    if (ui_window_gone(owner)) return nullptr;
    if (read_result != 0) {
        ui_message_fmt(owner, CAPTION, UI_MB_OK | UI_MB_ICONERROR, "%s", "Can't get motor config from device (check power supply).");
        return nullptr;
    }
    std::memcpy(motor_records, read, sizeof motor_records);
    std::memcpy(motor_snapshot, motor_records, sizeof motor_snapshot);

    motor_dialog& d = *dialog;
    motor_moving = false;
    d.ui.speed_slider->setValue(0);
    ui_set_text_fmt(d.ui.speed_percent_label, "%u%%", 0u);
    ui_set_text_fmt(d.ui.flow_volume_edit, "%u", 0u);
    ui_set_text_fmt(d.ui.flow_timeout_edit, "%u", 0u);
    if (start_result != 0) {
        ui_message_fmt(owner, CAPTION, UI_MB_OK | UI_MB_ICONERROR, "%s", "Can't start sensors on device (check power supply).");
        return nullptr;
    }
    d.motor_begin();
    return dialog.release();
}

int motor_dialog_run(QWidget* owner, uintptr_t) {
    std::unique_ptr<QDialog> dialog(motor_dialog_open(owner));
    if (!dialog) return 0;
    ui_exec(*dialog);
    return 1;
}
