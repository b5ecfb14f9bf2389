#include "ui/modal.h"

#include "ui/view.h"

#include <QDialog>
#include <QPointer>
#include <QTimer>

#include <algorithm>
#include <vector>

namespace {

const char* const ABANDONED = "ui_abandoned";

struct running_dialog {
    QPointer<QDialog> dialog;
    QPointer<app_view> view;  // the view it was opened from, directly or through other dialogs
    bool abandoned = false;
};

// The dialogs running now, innermost last (GUI thread only).
std::vector<running_dialog*> g_running;
int g_abandon_count = 0;
bool g_handler_abandoned = false;

app_view* view_of(QWidget* w) {
    for (; w; w = w->parentWidget())
        if (auto* v = qobject_cast<app_view*>(w)) return v;
    return nullptr;
}

void abandon(running_dialog* r) {
    r->abandoned = true;
    if (!r->dialog) return;
    r->dialog->setProperty(ABANDONED, true);
    r->dialog->done(QDialog::Rejected);
}

}  // namespace

bool ui_window_gone(const QWidget* w) {
    if (g_handler_abandoned) return true;
    for (; w; w = w->parentWidget()) {
        if (auto* v = qobject_cast<const app_view*>(w); v && v->retired()) return true;
        if (w->property(ABANDONED).toBool()) return true;
    }
    return false;
}

int ui_exec(QDialog& dialog, bool* abandoned) {
    if (ui_window_gone(dialog.parentWidget())) {
        if (abandoned) *abandoned = true;
        return QDialog::Rejected;
    }
    running_dialog r;
    r.dialog = &dialog;
    r.view = ui_hold_view(dialog.parentWidget());
    g_running.push_back(&r);
    dialog.setWindowModality(Qt::WindowModal);
    const int result = dialog.exec();
    g_running.erase(std::find(g_running.begin(), g_running.end(), &r));
    if (abandoned) *abandoned = r.abandoned;
    ui_release_view(r.view);
    return r.abandoned ? int(QDialog::Rejected) : result;
}

int ui_abandon_count() { return g_abandon_count; }

void ui_abandon_handler() {
    if (g_handler_abandoned) return;
    g_handler_abandoned = true;
    QTimer::singleShot(0, [] { g_handler_abandoned = false; });
}

void ui_abandon_dialogs() {
    ++g_abandon_count;
    const std::vector<running_dialog*> running = g_running;
    for (running_dialog* r : running) abandon(r);
}

void ui_retire_view(app_view* view) {
    if (!view || view->retired()) return;
    view->retire();
    view->shutdown();
    view->hide();
    const std::vector<running_dialog*> running = g_running;
    for (running_dialog* r : running)
        if (r->view == view) abandon(r);
    if (view->holds() == 0) view->deleteLater();
}

int ui_open_dialog_count() { return int(g_running.size()); }

app_view* ui_hold_view(QWidget* w) {
    app_view* v = view_of(w);
    if (v) v->hold();
    return v;
}

void ui_release_view(app_view* view) {
    // The last holder of a retired view lets it go; it is freed once this handler has returned.
    if (view && view->release() == 0 && view->retired()) view->deleteLater();
}
