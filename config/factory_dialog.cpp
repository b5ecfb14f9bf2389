#include "config/factory_dialog.h"

#include "config/factory.h"
#include "config/identification.h"
#include "config/identification_dialog.h"
#include "ui/app_messages.h"
#include "ui/await.h"
#include "ui/dialog_helpers.h"
#include "ui/field_rules.h"
#include "ui/modal.h"
#include "ui/window_table.h"
#include "ui_factory_dialog.h"

#include <QDialog>

#include <string_view>

namespace {

class factory_dialog : public QDialog {
public:
    explicit factory_dialog(QWidget* owner) : QDialog(owner) {
        ui.setupUi(this);
        setObjectName(QStringLiteral("factory_dialog"));
        setFixedSize(size());
        // Typing the password and pressing Enter must not press Save or Upgrade....
        ui_no_default_buttons(this);
        // The name rule of the identification dialog: a 21st character is red, not cut off.
        sensor_name_field(ui.name_edit);
        ui_number_field(ui.serial_edit, FACTORY_SERIAL_RULE);
        ui_number_field(ui.board_serial_edit, FACTORY_SERIAL_RULE);
        connect(ui.password_edit, &QLineEdit::textChanged, this, [this] { on_password_changed(); });
        ui_on_fields_changed(this, this, [this] { apply_access(); });
        connect(ui.save_button, &QPushButton::clicked, this, [this] { on_save(); });
        connect(ui.upgrade_button, &QPushButton::clicked, this, [this] { on_upgrade(); });
    }

    // Reads the firmware mode and the device information: 0, or the first failure. `owner`
    // waits for the reads.
    int read_at_opening(QWidget* owner) {
        firmware_info fw;
        device_info info;
        const int r = ui_await(owner, [&] {
            const int first = identity_get_firmware_info(fw);
            return first != 0 ? first : identity_get_device_info(info);
        });
        if (r != 0) return r;
        if (ui_window_gone(owner)) return 1;
        show(info);
        mode_ = firmware_info_mode(fw);
        upgrade_allowed_ = factory_upgrade_allowed(mode_);
        apply_access();
        return 0;
    }

    Ui::factory_dialog_form ui;

private:
    void show(const device_info& info) {
        char name[SENSOR_NAME_MAX + 1];
        device_info_name(info, name);
        ui.name_edit->setText(QString::fromUtf8(name));
        ui_set_text_fmt(ui.serial_edit, "%u", unsigned(device_info_serial(info)));
        ui_set_text_fmt(ui.board_serial_edit, "%u", unsigned(device_info_board_serial(info)));
    }

    QByteArray name_bytes() const { return ui.name_edit->text().toUtf8(); }

    // The field shows what is typed in lower case; every change applies the access rule at once.
    void on_password_changed() {
        const QString typed = ui.password_edit->text();
        const QString lower = typed.toLower();
        if (lower != typed) {
            const int at = ui.password_edit->cursorPosition();
            ui.password_edit->setText(lower);  // comes back here with the lowered text
            ui.password_edit->setCursorPosition(at);
            return;
        }
        apply_access();
    }

    // The password is a gate of this tool, not security (see factory.h).
    void apply_access() {
        const QByteArray typed = ui.password_edit->text().toUtf8();
        const bool open = factory_password_matches(std::string_view(typed.constData(), size_t(typed.size())));
        ui.name_edit->setEnabled(open);
        ui.serial_edit->setEnabled(open);
        ui.board_serial_edit->setEnabled(open);
        ui.save_button->setEnabled(open && ui_fields_ok(this));
        ui.upgrade_button->setEnabled(open && upgrade_allowed_);
    }

    // Built from zero, written, read back and compared: older firmware drops the board serial
    // without saying so, and that is a failed save, not a saved one.
    void on_save() {
        if (!ui_fields_ok(this)) return;
        const QByteArray name = name_bytes();
        const device_info record = factory_build(std::string_view(name.constData(), size_t(name.size())),
                                                 ui_get_unsigned(ui.serial_edit), ui_get_unsigned(ui.board_serial_edit));
        device_info read_back;
        const int r = ui_await(this, [&] { return factory_save(record, &read_back); });
        if (ui_window_gone(this)) return;
        if (r == 0) show(read_back);
        ui_message_fmt(this, FACTORY_SAVE_CAPTION, UI_MB_OK, "%s", r == 0 ? FACTORY_SAVED : FACTORY_SAVE_FAILED);
    }

    // The upgrade dialog runs on this dialog's link, over it; this dialog keeps its state.
    void on_upgrade() { ui_open_dialog(DIALOG_UPGRADE, this, mode_); }

    uint8_t mode_ = 0;
    bool upgrade_allowed_ = false;
};

}  // namespace

int factory_dialog_run(QWidget* owner, uint32_t) {
    factory_dialog dialog(owner);
    if (dialog.read_at_opening(owner) != 0) {
        ui_message_fmt(owner, FACTORY_CAPTION, UI_MB_OK, "%s", FACTORY_READ_FAILED);
        return QDialog::Rejected;
    }
    return ui_exec(dialog);
}
