// The "Configure Device Identification" dialog. The caller has the link open and refreshes
// whatever shows the instrument's name once it has returned.
#pragma once

class QWidget;

// Reads the device information and shows the dialog; when the read fails, says so and shows
// nothing. The dialog closes after every Save.
int identification_dialog_run(QWidget* owner);
