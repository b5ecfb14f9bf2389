#include "app/main_window.h"
#include "link/identity.h"
#include "ui/await.h"
#include "ui/dialog_helpers.h"
#include "ui/modal.h"
#include "ui_about_dialog.h"

#include <QDialog>
#include <QPushButton>

int about_dialog_run(QWidget* owner) {
    firmware_info fw{};
    char version[26];
    int fw_read = 1, version_read = 1;
    ui_await(owner, [&] {
        fw_read = identity_get_firmware_info(fw);
        version_read = identity_get_version_text(version);
    });
    if (ui_window_gone(owner)) return UI_IDCANCEL;

    QDialog dialog(owner);
    Ui::about_dialog_form ui;
    ui.setupUi(&dialog);
    dialog.setObjectName(QStringLiteral("about_dialog"));

    if (fw_read == 0)
        ui_set_text_fmt(ui.device_line, "Device: %s", device_type_text(firmware_info_type(fw)));
    else
        ui.device_line->clear();

    if (version_read == 0) {
        ui_set_text_fmt(ui.firmware_version, "Firmware Version: %s", version);
    } else {
        ui.firmware_version->clear();
    }
    ui_set_text_fmt(ui.gui_version, "GUI Version: %s", GUI_VERSION_TAG);

    QObject::connect(ui.ok_button, &QPushButton::clicked, &dialog, [&dialog] { dialog.done(UI_IDOK); });
    const int r = ui_exec(dialog);
    return r == UI_IDOK ? UI_IDOK : UI_IDCANCEL;
}
