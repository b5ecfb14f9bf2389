// The "Configure RS232" dialog. The caller has the link open.
#pragma once

class QWidget;

// Reads the RS-232 settings and shows the dialog; when the read fails, says so and shows
// nothing.
int rs232_dialog_run(QWidget* owner);
