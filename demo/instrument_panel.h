// The "Virtual Instrument" window: plug and unplug the simulated instruments, add another,
// restart one in bootloader mode or as older firmware, and inject faults.
#pragma once

class QWidget;

QWidget* instrument_panel_create();
