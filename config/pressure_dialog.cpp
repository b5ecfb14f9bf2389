#include "config/pressure_dialog.h"

#include "config/calibration_plot.h"
#include "config/pressure.h"
#include "ui/dialog_helpers.h"
#include "ui/field_rules.h"
#include "ui/modal.h"
#include "ui/await.h"
#include "ui_pressure_dialog.h"

#include <QCheckBox>
#include <QDialog>
#include <QLineEdit>
#include <QPushButton>

#include <memory>

namespace {

constexpr const char* CAPTION = "Configure Pressure Sensor";
constexpr const char* CHECK_PARAMETERS = "Can't calculate calibration: please check parameters";

// The dialog's copy of the calibration block, the block it lives in, and whether a line has
// been calculated and not yet saved.
pressure_calibration calibration_block;
uint8_t calibration_block_id = CONFIG_BLOCK_PRESSURE;
bool calibration_pending = false;
// The line the instrument holds, as last read or saved, for the plot.
double stored_gain = 0, stored_offset = 0;

class pressure_dialog : public QDialog {
public:
    explicit pressure_dialog(QWidget* owner);

    // The block has been read: show it and set every control.
    void pressure_begin() {
        pressure_show_block();
        pressure_apply_rules();
    }

    Ui::pressure_dialog_form ui;

protected:
    void reject() override;

private:
    void pressure_show_block(bool over_refused = true);
    bool pressure_read_fields();
    void pressure_apply_rules();
    void pressure_update_plot();
    void pressure_sample(int i);
    void pressure_calculate();
    void pressure_save();
    void pressure_test();

    QCheckBox* check_[PRESSURE_POINTS];
    QLineEdit* bar_[PRESSURE_POINTS];
    QLineEdit* volt_[PRESSURE_POINTS];
    QPushButton* sample_[PRESSURE_POINTS];
};

pressure_dialog::pressure_dialog(QWidget* owner) : QDialog(owner) {
    ui.setupUi(this);
    setObjectName(QStringLiteral("pressure_dialog"));
    setFixedSize(size());  // the template places every control: a larger window adds only space
    ui_no_default_buttons(this);
    QCheckBox* checks[] = {ui.point_check_1, ui.point_check_2, ui.point_check_3, ui.point_check_4, ui.point_check_5};
    QLineEdit* bars[] = {ui.bar_edit_1, ui.bar_edit_2, ui.bar_edit_3, ui.bar_edit_4, ui.bar_edit_5};
    QLineEdit* volts[] = {ui.volt_edit_1, ui.volt_edit_2, ui.volt_edit_3, ui.volt_edit_4, ui.volt_edit_5};
    QPushButton* samples[] = {ui.sample_button_1, ui.sample_button_2, ui.sample_button_3, ui.sample_button_4,
                              ui.sample_button_5};
    for (int i = 0; i < PRESSURE_POINTS; ++i) {
        check_[i] = checks[i];
        bar_[i] = bars[i];
        volt_[i] = volts[i];
        sample_[i] = samples[i];
        // Ticking a point changes only what may be pressed: the block's flags follow at the next
        // reading of the fields.
        connect(check_[i], &QCheckBox::toggled, this, [this] {
            pressure_apply_rules();
            pressure_update_plot();
        });
        connect(bar_[i], &QLineEdit::textChanged, this, [this] { pressure_update_plot(); });
        connect(volt_[i], &QLineEdit::textChanged, this, [this] { pressure_update_plot(); });
        connect(sample_[i], &QPushButton::clicked, this, [this, i] { pressure_sample(i); });
        ui_number_field(bar_[i], PRESSURE_BAR_RULE);
        ui_number_field(volt_[i], PRESSURE_VOLT_RULE);
    }
    ui_on_fields_changed(this, this, [this] { pressure_apply_rules(); });
    connect(ui.calculate_button, &QPushButton::clicked, this, [this] { pressure_calculate(); });
    connect(ui.save_button, &QPushButton::clicked, this, [this] { pressure_save(); });
    connect(ui.test_button, &QPushButton::clicked, this, [this] { pressure_test(); });
}

// Every field shows its point of the block, except, when over_refused is false, a field whose
// text its rule refuses: that text was not taken into the block and stays as typed, red.
void pressure_dialog::pressure_show_block(bool over_refused) {
    const pressure_calibration& c = calibration_block;
    for (int i = 0; i < PRESSURE_POINTS; ++i) {
        ui_set_check(check_[i], pressure_point_used(c, i) ? 1 : 0);
        if (over_refused || ui_field_ok(bar_[i])) ui_set_text_fmt(bar_[i], "%.3f", double(pressure_point_bar(c, i)));
        if (over_refused || ui_field_ok(volt_[i])) ui_set_text_fmt(volt_[i], "%.3f", double(pressure_point_volt(c, i)));
    }
    char line[256];
    if (pressure_line_text(line, sizeof line, pressure_gain(c), pressure_offset(c)))
        ui_set_text_fmt(ui.status_text, "%s", line);
    pressure_update_plot();
}

// Reads every point from its fields into the block. A text its field's rule refuses (no number,
// nan, out of range) is not stored: the point keeps its value. False when such a text stands in
// a ticked point, which must then take no part in a fit.
bool pressure_dialog::pressure_read_fields() {
    bool usable = true;
    for (int i = 0; i < PRESSURE_POINTS; ++i) {
        float bar = pressure_point_bar(calibration_block, i);
        float volt = pressure_point_volt(calibration_block, i);
        const bool used = ui_is_checked(check_[i]) != 0;
        const bool bar_ok = pressure_field_value(bar_[i]->text().toStdString(), PRESSURE_BAR_RULE, &bar);
        const bool volt_ok = pressure_field_value(volt_[i]->text().toStdString(), PRESSURE_VOLT_RULE, &volt);
        if (used && (!bar_ok || !volt_ok)) usable = false;
        pressure_set_point(calibration_block, i, used, bar, volt);
    }
    return usable;
}

// A ticked point whose field is red keeps Calculate disabled: no line is fitted to a number
// that was not typed.
void pressure_dialog::pressure_apply_rules() {
    bool any = false, sendable = true;
    for (int i = 0; i < PRESSURE_POINTS; ++i) {
        const bool on = ui_is_checked(check_[i]) != 0;
        any = any || on;
        if (on) sendable = sendable && ui_field_ok(bar_[i]) && ui_field_ok(volt_[i]);
        bar_[i]->setEnabled(on);
        volt_[i]->setEnabled(on);
        sample_[i]->setEnabled(on);
    }
    ui.calculate_button->setEnabled(any && sendable);
    ui.save_button->setEnabled(calibration_pending);
    ui.test_button->setEnabled(!calibration_pending);
}

// The plot shows the fields as they stand, so a point typed or ticked shows at once.
void pressure_dialog::pressure_update_plot() {
    calibration_plot_data data;
    for (int i = 0; i < PRESSURE_POINTS; ++i) {
        float bar = 0, volt = 0;
        const bool ok = pressure_field_value(bar_[i]->text().toStdString(), PRESSURE_BAR_RULE, &bar) &&
                        pressure_field_value(volt_[i]->text().toStdString(), PRESSURE_VOLT_RULE, &volt);
        data.points[i] = {double(volt), double(bar), ok && ui_is_checked(check_[i]) != 0};
    }
    data.has_fit = pressure_fit(data.points, &data.fit_gain, &data.fit_offset) == 0;
    data.has_stored = true;
    data.stored_gain = stored_gain;
    data.stored_offset = stored_offset;
    ui.plot->set_data(data);
}

void pressure_dialog::pressure_sample(int i) {
    pressure_read_fields();
    float bar = 0;
    if (!pressure_field_value(bar_[i]->text().toStdString(), PRESSURE_BAR_RULE, &bar)) {
        // A pressure this point cannot hold: the voltage would be paired with the old one.
        ui_message_fmt(this, "Sample", UI_MB_OK | UI_MB_ICONWARNING, "%s", CHECK_PARAMETERS);
        return;
    }
    sensor_sample s;
    const int r = ui_await(this, [&] { return sensors_read(s); });
    if (ui_window_gone(this)) return;
    if (r != 0) {
        // The voltage shown is an older reading: it must not become this pressure's point.
        pressure_set_point(calibration_block, i, false, pressure_point_bar(calibration_block, i),
                           pressure_point_volt(calibration_block, i));
        pressure_show_block(false);
        pressure_apply_rules();
        ui_message_fmt(this, "Sample", UI_MB_OK | UI_MB_ICONWARNING, "%s", "Failed to get sample from sensor.");
        return;
    }
    pressure_set_point(calibration_block, i, pressure_point_used(calibration_block, i),
                       pressure_point_bar(calibration_block, i), float(pressure_sensor_voltage(s)));
    pressure_show_block(false);
    pressure_apply_rules();
}

void pressure_dialog::pressure_calculate() {
    const bool usable = pressure_read_fields();
    pressure_point points[PRESSURE_POINTS];
    pressure_points_of(calibration_block, points);
    double gain = 0, offset = 0;
    if (!usable || pressure_fit(points, &gain, &offset) != 0) {
        ui_message_fmt(this, "Calculate", UI_MB_OK | UI_MB_ICONWARNING, "%s", CHECK_PARAMETERS);
        return;
    }
    pressure_set_line(calibration_block, gain, offset);
    calibration_pending = true;
    pressure_show_block(false);
    pressure_apply_rules();
}

void pressure_dialog::pressure_save() {
    const pressure_calibration block = calibration_block;
    const uint8_t id = calibration_block_id;
    const int r = ui_await(this, [&] { return config_block_write(id, block.bytes, sizeof block.bytes); });
    if (ui_window_gone(this)) return;
    if (r != 0) {
        ui_message_fmt(this, "Save", UI_MB_OK | UI_MB_ICONERROR, "%s", "Failed to save config to device.");
        return;
    }
    calibration_pending = false;
    stored_gain = pressure_gain(calibration_block);
    stored_offset = pressure_offset(calibration_block);
    pressure_apply_rules();
    pressure_update_plot();
    ui_message_fmt(this, "Save", UI_MB_OK, "%s", "Config Saved");
}

// Checks the line the instrument holds, not the dialog's.
void pressure_dialog::pressure_test() {
    pressure_calibration stored;
    sensor_sample s;
    const uint8_t id = calibration_block_id;
    const int r = ui_await(this, [&] {
        const int read = config_block_read(id, stored.bytes, sizeof stored.bytes);
        return read != 0 ? read : sensors_read(s);
    });
    if (ui_window_gone(this)) return;
    if (r != 0) {
        // The reading shown is an older one: it must not pass for this test's.
        ui.test_edit->clear();
        ui_message_fmt(this, "Test", UI_MB_OK | UI_MB_ICONWARNING, "%s", "Unable to get sample from device");
        return;
    }
    stored_gain = pressure_gain(stored);
    stored_offset = pressure_offset(stored);
    char text[256];
    if (pressure_reading_text(text, sizeof text, pressure_bar(stored_gain, stored_offset, pressure_sensor_voltage(s))))
        ui_set_text_fmt(ui.test_edit, "%s", text);
    else
        ui.test_edit->clear();  // a reading too long to show: no older one stands in for it
    pressure_update_plot();
}

void pressure_dialog::reject() {
    ui_await(this, [] { sensors_stop(); });
    QDialog::reject();
}

}  // namespace

QDialog* pressure_dialog_open(QWidget* owner) {
    auto dialog = std::make_unique<pressure_dialog>(owner);
    calibration_block_id = CONFIG_BLOCK_PRESSURE;
    pressure_calibration read;
    const uint8_t id = calibration_block_id;
    int read_result = 1, start_result = 1;
    ui_await(owner, [&] {
        read_result = config_block_read(id, read.bytes, sizeof read.bytes);
        if (read_result == 0) start_result = sensors_start();
    });
    if (ui_window_gone(owner)) return nullptr;
    if (read_result != 0) {
        ui_message_fmt(owner, CAPTION, UI_MB_OK | UI_MB_ICONERROR, "%s", "Can't get pressure sensor config from device.");
        return nullptr;
    }
    calibration_block = read;
    stored_gain = pressure_gain(read);
    stored_offset = pressure_offset(read);
    if (start_result != 0) {
        ui_message_fmt(owner, CAPTION, UI_MB_OK | UI_MB_ICONERROR, "%s",
                       "Can't start pressure sensors on device (check power supply).");
        return nullptr;
    }
    calibration_pending = false;
    dialog->pressure_begin();
    return dialog.release();
}

int pressure_dialog_run(QWidget* owner, uintptr_t) {
    std::unique_ptr<QDialog> dialog(pressure_dialog_open(owner));
    if (!dialog) return 0;
    ui_exec(*dialog);
    return 1;
}
