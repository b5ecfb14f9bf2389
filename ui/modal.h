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
// QDialog::Rejected. The dialog is modal to its own window only (window-modal), so other
// top-level windows of the program stay usable while it is open.
int ui_exec(QDialog& dialog, bool* abandoned = nullptr);

// Closes every dialog that is running (the connected instrument went away).
void ui_abandon_dialogs();
// How often ui_abandon_dialogs has run: a wait that sees it change knows the instrument went.
int ui_abandon_count();
// After a wait in which the instrument went away, the rest of the handler that waited works for
// an instrument that is gone: until control is back in the event loop, every window counts as
// gone (ui_window_gone), so no message of the handler is shown and no dialog opened.
void ui_abandon_handler();

// Takes a view out of service: stops it (app_view::shutdown), hides it, closes its dialogs and
// destroys it once none of them is running any more.
void ui_retire_view(app_view* view);

// Whether w (nullptr allowed) belongs to a retired view or to an abandoned dialog: code that ran
// a dialog checks this before it goes on with the window.
bool ui_window_gone(const QWidget* w);

// How many dialogs are running now (for tests).
int ui_open_dialog_count();

// Keeps the view that w belongs to (nullptr when none) from being freed until the matching
// ui_release_view: for everything that runs an event loop from inside a view's handler, as a
// dialog or a wait for the instrument does.
app_view* ui_hold_view(QWidget* w);
// Lets a held view go; the last release of a retired view frees it once the handler returns.
void ui_release_view(app_view* view);

// Holds the view of w for a scope: a handler that runs something with an event loop of its own
// (a message sent to the main window that waits for the instrument, say) keeps its view alive
// until it returns, whatever happens meanwhile.
class ui_view_hold {
public:
    explicit ui_view_hold(QWidget* w) : view_(ui_hold_view(w)) {}
    ~ui_view_hold() { ui_release_view(view_); }
    ui_view_hold(const ui_view_hold&) = delete;
    ui_view_hold& operator=(const ui_view_hold&) = delete;

private:
    app_view* view_;
};
