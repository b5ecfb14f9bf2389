// The "Virtual Instrument" window: plug and unplug the simulated instruments, add another,
// restart one in bootloader mode or as older firmware, and inject faults. Each subsystem of the
// instrument adds a tab of its own (panel_*.cpp).
#pragma once

#include <functional>
#include <memory>

class QWidget;
class sim_device;

QWidget* instrument_panel_create();

// What a subsystem's tab works on: the instrument chosen at the top of the window (nullptr when
// there is none).
struct panel_context {
    std::function<std::shared_ptr<sim_device>()> chosen;
};

// The subsystems' tabs; nullptr when a subsystem has nothing to show.
QWidget* panel_faults_tab(const panel_context& context);       // faults aimed at one command, the list
QWidget* panel_sampler_tab(const panel_context& context);      // clock, schedule, cartridge
QWidget* panel_motors_tab(const panel_context& context);       // motors, sensors, applied pressure
QWidget* panel_settings_tab(const panel_context& context);     // stored settings
QWidget* panel_diagnostics_tab(const panel_context& context);  // diagnostic log, tasks, LED
