// The "Configure Motors" dialog: drive each motor by hand, sample the Hall sensors into the
// set points, edit and save each motor's configuration with a read-back check, and test it.
// The caller has the link open.
#pragma once

#include <cstdint>

class QDialog;
class QWidget;

// Runs the dialog (param unused). 0 when it could not open (the reason has been shown).
int motor_dialog_run(QWidget* owner, uintptr_t param);
// Opens the dialog without running it: reads the five motors, starts the sensors. nullptr when
// that failed (the reason has been shown). The caller owns the dialog; closing it (reject)
// stops the motor and the sensors.
QDialog* motor_dialog_open(QWidget* owner);
