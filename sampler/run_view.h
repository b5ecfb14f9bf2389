// The run view: live sampler state, run parameters, start and stop, and the sample log.
#pragma once

#include "sampler/run_settings.h"
#include "sampler/run_status.h"
#include "ui/view.h"

app_view* run_view_create(QWidget* parent);

// Replaces the Reset Cartridge ID dialog that a double-click on the cartridge display opens
// (for tests); nullptr restores it.
using run_view_dialog_fn = void (*)(QWidget* owner);
void run_view_register_cartridge_dialog(run_view_dialog_fn open);

// Operations of the view (the view must be the run view).
void run_view_show_status(app_view* view);
void run_view_update_controls(app_view* view);
void run_settings_to_form(app_view* view, const run_settings& settings);
run_settings run_settings_from_form(app_view* view);
int sample_log_save(app_view* view);
// Replaces the view's last status, as a poll would, and shows it.
void run_view_take_status(app_view* view, const status_record& status);
