#include "config/flow_meter_dialog.h"

#include "config/flow_meter.h"
#include "ui/await.h"
#include "ui/dialog_helpers.h"
#include "ui/field_rules.h"
#include "ui/modal.h"
#include "ui_flow_meter_dialog.h"

#include <QDialog>

namespace {

class flow_meter_dialog : public QDialog {
public:
    explicit flow_meter_dialog(QWidget* owner) : QDialog(owner) {
        ui.setupUi(this);
        setObjectName(QStringLiteral("flow_meter_dialog"));
        setFixedSize(size());
        ui_no_default_buttons(this);
        ui_add_tooltip(ui.pulses_edit, FLOW_METER_TOOLTIP);
        // A text that is no whole number ("10000.5", "abc", "10.000") is red and blocks Save.
        ui_number_field(ui.pulses_edit, FLOW_METER_PULSES_RULE);
        ui_fields_gate(this, ui.save_button);
        connect(ui.save_button, &QPushButton::clicked, this, [this] { on_save(); });
    }

    void show_config(const flow_meter_config& config) {
        ui_set_text_fmt(ui.pulses_edit, "%u", unsigned(flow_meter_pulses(config)));
    }

    Ui::flow_meter_dialog_form ui;

private:
    // 0 is a setting too. A number wider than the field stops at its maximum, and once saved the
    // field shows what the instrument was sent (the block is not read back).
    void on_save() {
        if (!ui_fields_ok(this)) return;
        const flow_meter_config config = flow_meter_build(ui_get_unsigned(ui.pulses_edit));
        if (ui_await(this, [&] { return flow_meter_write(config); }) != 0) {
            ui_message_fmt(this, "Save", UI_MB_OK, "%s", FLOW_METER_SAVE_FAILED);
            return;
        }
        if (ui_window_gone(this)) return;
        show_config(config);
        ui_message_fmt(this, "Save", UI_MB_OK, "%s", FLOW_METER_SAVED);
    }
};

}  // namespace

int flow_meter_dialog_run(QWidget* owner) {
    flow_meter_config config;
    if (ui_await(owner, [&] { return flow_meter_read(config); }) != 0) {
        ui_message_fmt(owner, FLOW_METER_READ_CAPTION, UI_MB_OK, "%s", FLOW_METER_READ_FAILED);
        return QDialog::Rejected;
    }
    if (ui_window_gone(owner)) return QDialog::Rejected;
    flow_meter_dialog dialog(owner);
    dialog.show_config(config);
    return ui_exec(dialog);
}
