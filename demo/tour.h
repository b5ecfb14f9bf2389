// The tour: walks through every window of the tool on the virtual instruments and saves a PNG
// of each. Each subsystem adds a chapter of its own (tour_*.cpp); the chapters run in order,
// each one starting and ending connected to "sim:1" with the run view shown.
#pragma once

#include <QString>

#include <functional>
#include <vector>

class QTreeWidget;
class QWidget;
class main_window;

using tour_step = std::function<void()>;

struct tour_context {
    main_window* main;
    QWidget* panel;  // the "Virtual Instrument" window
    QString dir;     // where the pictures go
};

// Where the pictures go, and how many were saved.
void tour_set_dir(const QString& dir);
int tour_saved_count();
// Saves a picture of w as DIR/name.png and prints its path.
void tour_save(QWidget* w, const char* name);
// The same, with field's tooltip drawn under the field as the pointer resting on it shows it
// (a tooltip is a window of its own, which a picture of w would leave out).
void tour_save_with_tooltip(QWidget* w, QWidget* field, const char* name);
// Saves the modal window that the next step opens, then closes it.
void tour_save_next_modal(const char* name);
// Saves and closes the first modal window for which `ready` holds.
void tour_save_modal_when(std::function<bool()> ready, const char* name);
// Clicks (or double-clicks) a row of a list as the operator would.
void tour_click_row(QTreeWidget* list, int row, bool twice);
// Lets the program run for a while (the instrument works in real time).
void tour_wait_ms(int ms);
// The path of a file of the tour's own in DIR.
QString tour_file(const char* name);

// The chapters, in the order they run.
std::vector<tour_step> tour_opening(const tour_context& t);      // connect view, run view, About
std::vector<tour_step> tour_sampler(const tour_context& t);      // schedule, clock, cartridge
std::vector<tour_step> tour_motors(const tour_context& t);       // motors, pressure calibration
std::vector<tour_step> tour_settings(const tour_context& t);     // flow, cleaning, RS-232, identity
std::vector<tour_step> tour_diagnostics(const tour_context& t);  // diagnostics view, tasks
std::vector<tour_step> tour_closing(const tour_context& t);      // removal, firmware upgrade, panel
