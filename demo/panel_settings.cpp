// The "Virtual Instrument" window's tab for the instrument's stored settings.
#include "demo/panel.h"

QWidget* panel_settings_tab(const panel_context&) { return nullptr; }
