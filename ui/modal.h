// How every modal dialog of the program runs, and what keeps it safe when the instrument goes
// away while it is open.
//
// A modal dialog runs its own event loop, and anything can happen inside it: the instrument is
// unplugged, the main window switches views. The rule:
//  - A view that is retired while dialogs opened from it are running is destroyed only after the
//    last of them has returned, so no dialog is ever freed under its own event loop.
//  - The dialogs of a retired view, and every dialog when the connected instrument is removed,
//    are closed at once and count as abandoned: ui_exec says so, the message and file helpers
//    answer as if the operator had said No or cancelled, and a dialog asked for from an
//    abandoned window or a retired view is not shown at all.
// So a feature dialog that runs through ui_exec (or the helpers) and stops when it is told
// "abandoned" needs no other care.
#pragma once

class QDialog;
class QWidget;
class app_view;

// Runs dialog.exec() under the rule. *abandoned (when given) tells whether the dialog was
// closed because its view was retired or the instrument went away; then the result is
// QDialog::Rejected.
int ui_exec(QDialog& dialog, bool* abandoned = nullptr);

// Closes every dialog that is running (the connected instrument went away).
void ui_abandon_dialogs();

// Takes a view out of service: stops it (app_view::shutdown), hides it, closes its dialogs and
// destroys it once none of them is running any more.
void ui_retire_view(app_view* view);

// Whether w (nullptr allowed) belongs to a retired view or to an abandoned dialog: code that ran
// a dialog checks this before it goes on with the window.
bool ui_window_gone(const QWidget* w);

// How many dialogs are running now (for tests).
int ui_open_dialog_count();
