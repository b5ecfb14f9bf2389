#include "config/identification_dialog.h"

#include "config/identification.h"
#include "ui/await.h"
#include "ui/dialog_helpers.h"
#include "ui/field_rules.h"
#include "ui/modal.h"
#include "ui_identification_dialog.h"

#include <QDialog>

#include <string_view>

namespace {

class identification_dialog : public QDialog {
public:
    explicit identification_dialog(QWidget* owner) : QDialog(owner) {
        ui.setupUi(this);
        setObjectName(QStringLiteral("identification_dialog"));
        setFixedSize(size());
        ui_no_default_buttons(this);
        ui_add_tooltip(ui.name_edit, IDENTIFICATION_NAME_TOOLTIP);
        ui_add_tooltip(ui.serial_edit, IDENTIFICATION_SERIAL_TOOLTIP);
        sensor_name_field(ui.name_edit);
        ui_number_field(ui.serial_edit, SENSOR_SERIAL_RULE);
        ui_on_fields_changed(this, this, [this] { check_fields(); });
        connect(ui.save_button, &QPushButton::clicked, this, [this] { on_save(); });
    }

    // Reads the device information into the fields: 0, or the read's failure (fields untouched).
    // `waiting` is the window that waits for the read.
    int show_stored(QWidget* waiting) {
        device_info info;
        const int r = ui_await(waiting, [&] { return identity_get_device_info(info); });
        if (r != 0) return r;
        if (ui_window_gone(waiting)) return 1;
        char name[SENSOR_NAME_MAX + 1];
        device_info_name(info, name);
        ui.name_edit->setText(QString::fromUtf8(name));
        ui_set_text_fmt(ui.serial_edit, "%u", unsigned(device_info_serial(info)));
        check_fields();
        return 0;
    }

    Ui::identification_dialog_form ui;

private:
    QByteArray name_bytes() const { return ui.name_edit->text().toUtf8(); }

    // A name of more than 20 bytes or with characters the wire cannot carry one byte each, and a
    // serial number that is no whole number or above 65535 (its true value, however many
    // digits), are painted red and keep Save disabled.
    void check_fields() { ui.save_button->setEnabled(ui_fields_ok(this)); }

    void on_save() {
        if (!ui_fields_ok(this)) return;
        const QByteArray name = name_bytes();
        const uint64_t serial = ui_get_unsigned(ui.serial_edit);
        const int outcome =
            ui_await(this, [&] { return identification_save(std::string_view(name.constData(), size_t(name.size())), serial); });
        const bool read_back = outcome == 0 && !ui_window_gone(this) && show_stored(this) == 0;
        if (ui_message_fmt(this, "Save", UI_MB_OK, "%s", identification_outcome_text(outcome, read_back)) == 0)
            return;  // the instrument went away: the dialog is closing already
        accept();
    }
};

}  // namespace

void sensor_name_field(QLineEdit* edit) {
    ui_field_rule(
        edit,
        [](const QString& text) {
            const QByteArray name = text.toUtf8();
            return sensor_name_valid(std::string_view(name.constData(), size_t(name.size())));
        },
        SENSOR_NAME_RULE_TEXT);
}

int identification_dialog_run(QWidget* owner) {
    identification_dialog dialog(owner);
    if (dialog.show_stored(owner) != 0) {
        ui_message_fmt(owner, IDENTIFICATION_READ_CAPTION, UI_MB_OK, "%s", IDENTIFICATION_READ_FAILED);
        return QDialog::Rejected;
    }
    return ui_exec(dialog);
}
