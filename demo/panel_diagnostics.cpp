// The "Virtual Instrument" window's tab for the instrument's diagnostic log, tasks and LED.
#include "demo/panel.h"

QWidget* panel_diagnostics_tab(const panel_context&) { return nullptr; }
