// The "Sampling Schedule" dialog (Configure > Schedule...): reads the instrument's schedule,
// lets the operator edit it and writes it back.
#pragma once

class QDialog;
class QWidget;

// Runs the dialog modally on the connected instrument. Its result means nothing (0).
int schedule_dialog_run(QWidget* owner);
// The dialog filled from the instrument and ready to show, owned by the caller; nullptr when
// the schedule could not be read ("Unable to retrieve schedule from device" has been shown).
QDialog* schedule_dialog_open(QWidget* owner);

// Operations of the dialog (which must be one that schedule_dialog_open made).
// Reads the schedule into the controls: 0, ERR_LINK_FAILED, the instrument's result or
// ERR_SHORT_RESPONSE (controls untouched on failure). Enable states are left as they are.
int schedule_load(QDialog* dialog);
// Writes the controls to the instrument: 0 saved, 1 failed, or SCHEDULE_START_OUT_OF_RANGE when
// the "At or after" start is no moment a device time can hold (nothing sent).
int schedule_save(QDialog* dialog);
void schedule_update_controls(QDialog* dialog);
