// The "Configure Device Identification" dialog. The caller has the link open and refreshes
// whatever shows the instrument's name once it has returned.
#pragma once

class QLineEdit;
class QWidget;

// Reads the device information and shows the dialog; when the read fails, says so and shows
// nothing. The dialog closes after every Save.
int identification_dialog_run(QWidget* owner);

// The one rule of every field that takes a sensor name (here and in the factory settings): a
// name of more than 20 characters, or with one that is not printable ASCII, is red and says why;
// nothing typed is cut.
void sensor_name_field(QLineEdit* edit);
