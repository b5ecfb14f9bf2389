// The "Configure Stabilization & Cleaning" dialog. The caller has the link open.
#pragma once

class QWidget;

// Reads the cleaning settings and shows the dialog; when the read fails, says so and shows
// nothing.
int cleaning_dialog_run(QWidget* owner);
