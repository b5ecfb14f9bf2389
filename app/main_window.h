// The main window: menu, two-part status bar, exactly one view, About box, device changes.
#pragma once

#include "ui/app_messages.h"

#include <QMainWindow>

class QAction;
class app_view;

constexpr const char* GUI_VERSION_TAG = "VELTRANIC_2_4_3";
constexpr int STATUS_PART0_WIDTH = 420;
constexpr int TITLE_MAX = 55;

class main_window : public QMainWindow {
    Q_OBJECT
public:
    main_window();
    ~main_window() override;

protected:
    bool event(QEvent* e) override;
    void closeEvent(QCloseEvent* e) override;
};

// Creates and shows the main window (the program's one top-level window).
main_window* main_window_create();
// The application font every template was laid out for; main_window_create applies it.
void main_window_apply_look();

void main_menu_update(int view_id, int running);
void main_show_identity(int connected);
void main_switch_view(int view_id);
// Runs a menu command as if chosen from the menu.
void main_command(int command_id);

// One line in the status bar that says why an attached instrument is not listed (empty: none).
void main_set_access_hint(const QString& text);
QString main_access_hint();

QAction* main_menu_action(int command_id);
app_view* main_current_view();
int main_is_connected();

// Registers every view and dialog of the program in the window table (ui/window_table.h).
// Called once by each program before it creates the main window.
void app_register_windows();

// The About box (template 2).
int about_dialog_run(QWidget* owner);
