// The "Virtual Instrument" window's tab for the instrument's clock, schedule and cartridge.
#include "demo/panel.h"

QWidget* panel_sampler_tab(const panel_context&) { return nullptr; }
