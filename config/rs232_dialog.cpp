#include "config/rs232_dialog.h"

#include "config/rs232.h"
#include "ui/await.h"
#include "ui/dialog_helpers.h"
#include "ui/modal.h"
#include "ui_rs232_dialog.h"

#include <QDialog>

namespace {

// What showing the stored record came to.
enum class shown { ok, read_failed, gone };

class rs232_dialog : public QDialog {
public:
    explicit rs232_dialog(QWidget* owner) : QDialog(owner) {
        ui.setupUi(this);
        setObjectName(QStringLiteral("rs232_dialog"));
        setFixedSize(size());
        ui_no_default_buttons(this);
        ui_combo_fill(ui.baud_box, RS232_BAUD, RS232_BAUD_ROWS);
        ui_combo_fill(ui.data_bits_box, RS232_DATA_BITS, RS232_DATA_BITS_ROWS);
        ui_combo_fill(ui.stop_bits_box, RS232_STOP_BITS, RS232_STOP_BITS_ROWS);
        ui_combo_fill(ui.parity_box, RS232_PARITY, RS232_PARITY_ROWS);
        ui_combo_fill(ui.protocol_box, RS232_PROTOCOL, RS232_PROTOCOL_ROWS);
        // Only a row the operator picks resets the line settings: a stored record is shown as
        // it is, and picking the row already shown changes nothing.
        connect(ui.protocol_box, &QComboBox::currentIndexChanged, this, [this] {
            if (!showing_) on_protocol_chosen();
        });
        connect(ui.save_button, &QPushButton::clicked, this, [this] { on_save(); });
    }

    // Reads the record and selects its rows. The retired protocol is announced (from
    // `speaker`) and shown as "None"; the instrument keeps it until the operator saves.
    shown show_stored(QWidget* speaker) {
        rs232_config config;
        if (ui_await(speaker, [&] { return rs232_read(config); }) != 0) return shown::read_failed;
        if (ui_window_gone(speaker)) return shown::gone;
        bool retired = false;
        const rs232_settings settings = rs232_shown_settings(config, &retired);
        if (retired && ui_message_fmt(speaker, RS232_CAPTION, UI_MB_OK, "%s", RS232_RETIRED_PROTOCOL) == 0)
            return shown::gone;  // the instrument went away while the message was up
        select(settings);
        return shown::ok;
    }

    Ui::rs232_dialog_form ui;

private:
    // A value in no row (a baud rate of 300, an unwritten record) is shown as itself and kept by
    // a Save until the operator picks a row for it.
    void select(const rs232_settings& s) {
        showing_ = true;
        ui_combo_show_value(ui.baud_box, RS232_BAUD, RS232_BAUD_ROWS, s.baud, RS232_BLANK_U32);
        ui_combo_show_value(ui.data_bits_box, RS232_DATA_BITS, RS232_DATA_BITS_ROWS, s.data_bits, RS232_BLANK_U8);
        ui_combo_show_value(ui.stop_bits_box, RS232_STOP_BITS, RS232_STOP_BITS_ROWS, s.stop_bits, RS232_BLANK_U8);
        ui_combo_show_value(ui.parity_box, RS232_PARITY, RS232_PARITY_ROWS, s.parity, RS232_BLANK_U8);
        ui_combo_show_value(ui.protocol_box, RS232_PROTOCOL, RS232_PROTOCOL_ROWS, s.protocol, RS232_BLANK_U32);
        showing_ = false;
    }

    rs232_settings selected() const {
        rs232_settings s;
        s.baud = ui_combo_value(ui.baud_box, RS232_BAUD, RS232_BAUD_ROWS);
        s.data_bits = uint8_t(ui_combo_value(ui.data_bits_box, RS232_DATA_BITS, RS232_DATA_BITS_ROWS));
        s.stop_bits = uint8_t(ui_combo_value(ui.stop_bits_box, RS232_STOP_BITS, RS232_STOP_BITS_ROWS));
        s.parity = uint8_t(ui_combo_value(ui.parity_box, RS232_PARITY, RS232_PARITY_ROWS));
        s.protocol = ui_combo_value(ui.protocol_box, RS232_PROTOCOL, RS232_PROTOCOL_ROWS);
        return s;
    }

    // The protocol's line settings; nothing is sent.
    void on_protocol_chosen() {
        select(rs232_protocol_defaults(selected().protocol));
    }

    void on_save() {
        const rs232_config config = rs232_build(selected());
        if (ui_await(this, [&] { return rs232_write(config); }) != 0) {
            ui_message_fmt(this, "Save", UI_MB_OK, "%s", RS232_SAVE_FAILED);
            return;
        }
        // Read back into the combo boxes, without comparison.
        const shown s = show_stored(this);
        if (s == shown::gone) return;
        ui_message_fmt(this, "Save", UI_MB_OK, "%s", s == shown::ok ? RS232_SAVED : RS232_SAVE_FAILED);
    }

    bool showing_ = false;
};

}  // namespace

int rs232_dialog_run(QWidget* owner) {
    rs232_dialog dialog(owner);
    switch (dialog.show_stored(owner)) {
        case shown::ok:
            return ui_exec(dialog);
        case shown::read_failed:
            ui_message_fmt(owner, RS232_READ_CAPTION, UI_MB_OK, "%s", RS232_READ_FAILED);
            return QDialog::Rejected;
        case shown::gone:
            break;
    }
    return QDialog::Rejected;
}
