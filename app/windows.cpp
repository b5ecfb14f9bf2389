// The one place that knows every view and dialog of the program: it fills the window table.
#include "app/main_window.h"
#include "backup/settings_transfer_dialog.h"
#include "config/cleaning_dialog.h"
#include "config/factory_dialog.h"
#include "config/flow_meter_dialog.h"
#include "config/identification_dialog.h"
#include "config/rs232_dialog.h"
#include "maintenance/diagnostics_view.h"
#include "maintenance/tasks_dialog.h"
#include "maintenance/upgrade_dialog.h"
#include "sampler/cartridge_dialog.h"
#include "sampler/clock_dialog.h"
#include "config/motor_dialog.h"
#include "config/pressure_dialog.h"
#include "sampler/run_view.h"
#include "sampler/schedule_dialog.h"
#include "ui/app_messages.h"
#include "ui/window_table.h"

void app_register_windows() {
    ui_register_view(VIEW_RUN, run_view_create);
    ui_register_view(VIEW_DIAGNOSTICS, diagnostics_view_create);
    // Sampler operation.
    ui_register_dialog(DIALOG_SCHEDULE, [](QWidget* owner, uintptr_t) { return schedule_dialog_run(owner); });
    ui_register_dialog(DIALOG_CLOCK, [](QWidget* owner, uintptr_t) { return clock_dialog_run(owner); });
    ui_register_dialog(DIALOG_CARTRIDGE, [](QWidget* owner, uintptr_t) { return cartridge_dialog_run(owner); });
    // Stored settings.
    ui_register_dialog(DIALOG_FLOW, [](QWidget* owner, uintptr_t) { return flow_meter_dialog_run(owner); });
    ui_register_dialog(DIALOG_CLEANING, [](QWidget* owner, uintptr_t) { return cleaning_dialog_run(owner); });
    ui_register_dialog(DIALOG_RS232, [](QWidget* owner, uintptr_t) { return rs232_dialog_run(owner); });
    ui_register_dialog(DIALOG_IDENTIFICATION, [](QWidget* owner, uintptr_t) { return identification_dialog_run(owner); });
    ui_register_dialog(DIALOG_FACTORY, [](QWidget* owner, uintptr_t mode) { return factory_dialog_run(owner, uint32_t(mode)); });
    // Maintenance.
    ui_register_dialog(DIALOG_TASKS, tasks_dialog_run);
    ui_register_dialog(DIALOG_UPGRADE, [](QWidget* owner, uintptr_t mode) { return upgrade_dialog_run(owner, uint32_t(mode)); });
    // Every stored setting at once: backup and restore.
    ui_register_dialog(DIALOG_EXPORT_SETTINGS, [](QWidget* owner, uintptr_t) { return settings_export_run(owner); });
    ui_register_dialog(DIALOG_IMPORT_SETTINGS, [](QWidget* owner, uintptr_t) { return settings_import_run(owner); });
    // Motors and the pressure sensor.
    ui_register_dialog(DIALOG_MOTORS, motor_dialog_run);
    ui_register_dialog(DIALOG_PRESSURE, pressure_dialog_run);
}
