// The "Configure Real Time Clock" dialog (Configure > Real Time Clock...): shows the sampler's
// clock live and sets it to a picked moment or to the PC's local time.
#pragma once

class QDialog;
class QWidget;

// Runs the dialog modally on the connected instrument. Its result means nothing (0).
int clock_dialog_run(QWidget* owner);
// The dialog with its clock poller running, owned by the caller (destroying it stops the
// poller).
QDialog* clock_dialog_open(QWidget* owner);

// "Set Now": 0 when the clock was set, else ERR_LINK_FAILED or the instrument's result
// ("Failed to set RTC time" has been shown).
int clock_set(QDialog* dialog);
