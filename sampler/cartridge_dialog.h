// The "Reset Cartridge ID" dialog, opened by a double-click on the run view's cartridge display.
#pragma once

class QDialog;
class QWidget;

constexpr int CARTRIDGE_DIALOG_OK = 1;
constexpr int CARTRIDGE_DIALOG_CANCEL = 2;

// Runs the dialog modally: CARTRIDGE_DIALOG_OK after OK (whether or not the write succeeded),
// CARTRIDGE_DIALOG_CANCEL after Cancel, Escape, the close box or a failed read.
int cartridge_dialog_run(QWidget* owner);
// The dialog showing the ID the instrument holds, owned by the caller; nullptr when the record
// could not be read ("Failed to read existing ID from sampler" has been shown).
QDialog* cartridge_dialog_open(QWidget* owner);
