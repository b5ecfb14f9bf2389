// The "Tasks" dialog: the instrument's task table with stack figures and states, and the log
// filters of each entry. Opened modally from the diagnostics view; reads everything once when it
// opens and writes the filters only on "Save".
#pragma once

#include <cstdint>

class QWidget;

// Runs the dialog over owner (param: the owner's creation parameter, not used). When the table
// cannot be read, or holds more tasks than the grid can show, a message says so and no dialog
// opens. Returns the dialog's result, 0 when it did not open.
int tasks_dialog_run(QWidget* owner, uintptr_t param);
