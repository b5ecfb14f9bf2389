// The "Configure Flow Sensor" dialog. The caller has the link open.
#pragma once

class QWidget;

// Reads block 5 and shows the dialog; when the read fails, says so and shows nothing.
int flow_meter_dialog_run(QWidget* owner);
