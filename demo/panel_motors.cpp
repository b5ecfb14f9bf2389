// The "Virtual Instrument" window's tab for the instrument's motors, sensors and the applied pressure.
#include "demo/panel.h"

QWidget* panel_motors_tab(const panel_context&) { return nullptr; }
