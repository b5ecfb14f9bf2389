// The one place that knows every view and dialog of the program: it fills the window table.
#include "app/main_window.h"
#include "maintenance/diagnostics_view.h"
#include "maintenance/tasks_dialog.h"
#include "maintenance/upgrade_dialog.h"
#include "sampler/run_view.h"
#include "ui/app_messages.h"
#include "ui/window_table.h"

void app_register_windows() {
    ui_register_view(VIEW_RUN, run_view_create);
    ui_register_view(VIEW_DIAGNOSTICS, diagnostics_view_create);
    ui_register_dialog(DIALOG_TASKS, tasks_dialog_run);
    ui_register_dialog(DIALOG_UPGRADE, [](QWidget* owner, uintptr_t mode) { return upgrade_dialog_run(owner, uint32_t(mode)); });
}
