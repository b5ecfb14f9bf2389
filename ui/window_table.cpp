#include "ui/window_table.h"

#include <map>

namespace {

// Filled before the first window opens and read on the GUI thread only.
std::map<int, ui_view_fn>& views() {
    static std::map<int, ui_view_fn> table;
    return table;
}

std::map<int, ui_dialog_fn>& dialogs() {
    static std::map<int, ui_dialog_fn> table;
    return table;
}

}  // namespace

void ui_register_view(int view_id, ui_view_fn create) { views()[view_id] = create; }

app_view* ui_create_view(int view_id, QWidget* parent) {
    auto it = views().find(view_id);
    return it == views().end() || !it->second ? nullptr : it->second(parent);
}

void ui_register_dialog(int template_id, ui_dialog_fn open) { dialogs()[template_id] = open; }

bool ui_has_dialog(int template_id) {
    auto it = dialogs().find(template_id);
    return it != dialogs().end() && it->second;
}

int ui_open_dialog(int template_id, QWidget* owner, uintptr_t param) {
    auto it = dialogs().find(template_id);
    return it == dialogs().end() || !it->second ? -1 : it->second(owner, param);
}
