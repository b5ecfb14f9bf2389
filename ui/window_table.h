// The views and dialogs of the program, registered once at start-up by the program that
// links them. A window opens another by its number (the view id or the dialog's template
// number) without knowing the module that builds it, so no feature depends on another's
// windows and only the top of the program knows them all.
#pragma once

#include <cstdint>

class QWidget;
class app_view;

using ui_view_fn = app_view* (*)(QWidget* parent);
// Runs a modal dialog on the GUI thread and returns its result.
using ui_dialog_fn = int (*)(QWidget* owner, uintptr_t param);

void ui_register_view(int view_id, ui_view_fn create);
// The new view, or nullptr when no view has that id.
app_view* ui_create_view(int view_id, QWidget* parent);

void ui_register_dialog(int template_id, ui_dialog_fn open);
bool ui_has_dialog(int template_id);
// The dialog's result, or -1 when no dialog has that template number.
int ui_open_dialog(int template_id, QWidget* owner, uintptr_t param);
