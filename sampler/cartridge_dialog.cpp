#include "sampler/cartridge_dialog.h"

#include "sampler/cartridge.h"
#include "ui/await.h"
#include "ui/dialog_helpers.h"
#include "ui/field_rules.h"
#include "ui/modal.h"
#include "ui_cartridge_dialog.h"

#include <QLineEdit>
#include <QPointer>
#include <QPushButton>

namespace {

class cartridge_dialog : public QDialog {
public:
    explicit cartridge_dialog(QWidget* owner) : QDialog(owner) {
        ui.setupUi(this);
        setObjectName(QStringLiteral("cartridge_dialog"));
        ui_no_default_buttons(this);
        ui.ok_button->setDefault(true);
        // An ID the 16-bit field cannot hold, or a text that is no whole number, shows red while
        // it is typed; OK says why if it is pressed all the same (Enter).
        ui_number_field(ui.id_edit, CARTRIDGE_ID_RULE);
        connect(ui.ok_button, &QPushButton::clicked, this, [this] { on_ok(); });
        connect(ui.cancel_button, &QPushButton::clicked, this, [this] { reject(); });
    }

    // Cancel, Escape and the close box: nothing is sent.
    void reject() override { done(CARTRIDGE_DIALOG_CANCEL); }

    Ui::cartridge_dialog_form ui;

private:
    void on_ok() {
        uint16_t id = 0;
        if (!cartridge_id_parse(ui.id_edit->text().toStdString(), &id)) {
            ui_message_fmt(this, "Reset", UI_MB_OK, "%s", CARTRIDGE_ID_RANGE_TEXT);
            return;  // stays open for a number that fits
        }
        if (ui_await(this, [&] { return cartridge_reset_id(id); }) != 0) ui_message_fmt(this, "Reset", UI_MB_OK, "%s", "Failed to reset cartridge ID");
        if (ui_window_gone(this)) return;  // closed under the message: the instrument went away
        done(CARTRIDGE_DIALOG_OK);
    }
};

}  // namespace

QDialog* cartridge_dialog_open(QWidget* owner) {
    cartridge_record record;
    if (ui_await(owner, [&] { return cartridge_read(record); }) != 0) {
        ui_message_fmt(owner, "Reset", UI_MB_OK, "%s", "Failed to read existing ID from sampler");
        return nullptr;
    }
    if (ui_window_gone(owner)) return nullptr;
    auto* d = new cartridge_dialog(owner);
    ui_set_text_fmt(d->ui.id_edit, "%u", unsigned(cartridge_id(record)));
    return d;
}

int cartridge_dialog_run(QWidget* owner) {
    QPointer<QDialog> d = cartridge_dialog_open(owner);
    if (!d) return CARTRIDGE_DIALOG_CANCEL;
    const int result = ui_exec(*d);
    delete d.data();
    return result == CARTRIDGE_DIALOG_OK ? CARTRIDGE_DIALOG_OK : CARTRIDGE_DIALOG_CANCEL;
}
