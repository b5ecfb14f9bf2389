#include "config/cleaning_dialog.h"

#include "config/cleaning.h"
#include "ui/await.h"
#include "ui/dialog_helpers.h"
#include "ui/field_rules.h"
#include "ui/modal.h"
#include "ui_cleaning_dialog.h"

#include <QDialog>

namespace {

class cleaning_dialog : public QDialog {
public:
    explicit cleaning_dialog(QWidget* owner) : QDialog(owner) {
        ui.setupUi(this);
        setObjectName(QStringLiteral("cleaning_dialog"));
        setFixedSize(size());
        ui_no_default_buttons(this);
        // Digits only, but nothing typed is dropped: "12,5" or "-5" is red and blocks Save.
        for (QLineEdit* e : {ui.flow_time_edit, ui.bleach_time_edit, ui.dwell_edit, ui.flush_edit})
            ui_number_field(e, CLEANING_TIME_RULE);
        ui_number_field(ui.speed_edit, CLEANING_SPEED_RULE);
        ui_fields_gate(this, ui.save_button);
        connect(ui.save_button, &QPushButton::clicked, this, [this] { on_save(); });
    }

    void show_config(const cleaning_config& config) {
        const cleaning_values v = cleaning_values_of(config);
        ui_set_text_fmt(ui.flow_time_edit, "%u", unsigned(v.flow_time));
        ui_set_check(ui.waste_check, v.waste_through_cartridge ? 1 : 0);
        ui_set_text_fmt(ui.speed_edit, "%u", unsigned(v.bleach_speed));
        ui_set_text_fmt(ui.bleach_time_edit, "%u", unsigned(v.bleach_time));
        ui_set_text_fmt(ui.dwell_edit, "%u", unsigned(v.dwell_time));
        ui_set_text_fmt(ui.flush_edit, "%u", unsigned(v.flush_time));
    }

    Ui::cleaning_dialog_form ui;

private:
    // Out-of-range values are clamped silently; the read-back then shows what was stored.
    void on_save() {
        if (!ui_fields_ok(this)) return;
        cleaning_input in;
        in.flow_time = ui_get_unsigned(ui.flow_time_edit);
        in.waste_through_cartridge = ui_is_checked(ui.waste_check) != 0;
        in.bleach_speed = ui_get_unsigned(ui.speed_edit);
        in.bleach_time = ui_get_unsigned(ui.bleach_time_edit);
        in.dwell_time = ui_get_unsigned(ui.dwell_edit);
        in.flush_time = ui_get_unsigned(ui.flush_edit);
        const cleaning_config config = cleaning_build(in);
        cleaning_config stored;
        bool written = false, read_back = false;
        ui_await(this, [&] {
            written = cleaning_write(config) == 0;
            read_back = written && cleaning_read(stored) == 0;
        });
        if (!written) {
            ui_message_fmt(this, "Save", UI_MB_OK, "%s", CLEANING_SAVE_FAILED);
            return;
        }
        // A failed read-back is reported although the instrument may hold the new values.
        if (read_back && !ui_window_gone(this)) show_config(stored);
        ui_message_fmt(this, "Save", UI_MB_OK, "%s", read_back ? CLEANING_SAVED : CLEANING_SAVE_FAILED);
    }
};

}  // namespace

int cleaning_dialog_run(QWidget* owner) {
    cleaning_config config;
    if (ui_await(owner, [&] { return cleaning_read(config); }) != 0) {
        ui_message_fmt(owner, CLEANING_READ_CAPTION, UI_MB_OK, "%s", CLEANING_READ_FAILED);
        return QDialog::Rejected;
    }
    if (ui_window_gone(owner)) return QDialog::Rejected;
    cleaning_dialog dialog(owner);
    dialog.show_config(config);
    return ui_exec(dialog);
}
