// The "Configure Pressure Sensor" dialog: sample the sensor at up to five known pressures,
// fit the calibration line, save it, test the stored line against a live reading, and see
// the points, both lines and the residuals in a plot. The caller has the link open.
#pragma once

#include <cstdint>

class QDialog;
class QWidget;

// Runs the dialog (param unused). 0 when it could not open (the reason has been shown).
int pressure_dialog_run(QWidget* owner, uintptr_t param);
// Opens the dialog without running it: reads the stored calibration and starts the sensors.
// nullptr when that failed (the reason has been shown). The caller owns the dialog; closing it
// (reject) stops the sensors.
QDialog* pressure_dialog_open(QWidget* owner);
