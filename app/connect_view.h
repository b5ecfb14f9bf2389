// The view shown while no instrument is connected: every attached instrument with its name,
// serial number, state and type, and Connect, Upgrade Firmware... and Factory Settings....
#pragma once

#include "ui/view.h"

#include <cstdint>

struct device_entry;
class QTreeWidget;
class QPushButton;

app_view* connect_view_create(QWidget* parent);

// Refills the list: each found instrument is opened briefly and asked for its identity.
void connect_rebuild_list(app_view* view);
// The entry of the last row whose name equals the remembered selection (letter case counts).
device_entry* connect_find_selected(app_view* view);

// The modal dialogs the view opens on the selected instrument, with the link open at 5000 ms.
// Without a registration Upgrade Firmware... opens the upgrade dialog.
using connect_dialog_fn = void (*)(QWidget* owner, uint32_t mode);
void connect_register_upgrade_dialog(connect_dialog_fn open);
void connect_register_factory_dialog(connect_dialog_fn open);

// For tests: the view's controls and state.
QTreeWidget* connect_view_list(app_view* view);
QPushButton* connect_view_button(app_view* view, int index);  // 0 Connect, 1 Upgrade, 2 Factory
device_entry* connect_view_selection();
int connect_view_awaiting_firmware();
