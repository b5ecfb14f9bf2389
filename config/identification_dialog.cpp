#include "config/identification_dialog.h"

#include "config/identification.h"
#include "ui/await.h"
#include "ui/dialog_helpers.h"
#include "ui/modal.h"
#include "ui_identification_dialog.h"

#include <QDialog>
#include <QRegularExpressionValidator>

#include <string_view>

namespace {

class identification_dialog : public QDialog {
public:
    explicit identification_dialog(QWidget* owner) : QDialog(owner) {
        ui.setupUi(this);
        setObjectName(QStringLiteral("identification_dialog"));
        setFixedSize(size());
        ui_no_default_buttons(this);
        ui.serial_edit->setValidator(
            new QRegularExpressionValidator(QRegularExpression(QStringLiteral("[0-9]*")), this));
        ui_add_tooltip(ui.name_edit, IDENTIFICATION_NAME_TOOLTIP);
        ui_add_tooltip(ui.serial_edit, IDENTIFICATION_SERIAL_TOOLTIP);
        connect(ui.name_edit, &QLineEdit::textChanged, this, [this] { check_fields(); });
        connect(ui.serial_edit, &QLineEdit::textChanged, this, [this] { check_fields(); });
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

    // A name of more than 20 bytes or with characters the wire cannot carry one byte each, and
    // a serial number above 65535 (its true value, however many digits), are painted red and
    // keep Save disabled.
    void check_fields() {
        const QByteArray name = name_bytes();
        const bool name_ok = sensor_name_valid(std::string_view(name.constData(), size_t(name.size())));
        const bool serial_ok = sensor_serial_valid(ui_get_unsigned(ui.serial_edit));
        ui_set_invalid(ui.name_edit, !name_ok);
        ui_set_invalid(ui.serial_edit, !serial_ok);
        ui.save_button->setEnabled(name_ok && serial_ok);
    }

    void on_save() {
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

int identification_dialog_run(QWidget* owner) {
    identification_dialog dialog(owner);
    if (dialog.show_stored(owner) != 0) {
        ui_message_fmt(owner, IDENTIFICATION_READ_CAPTION, UI_MB_OK, "%s", IDENTIFICATION_READ_FAILED);
        return QDialog::Rejected;
    }
    return ui_exec(dialog);
}
