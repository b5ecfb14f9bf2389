// The "Factory Settings" dialog, opened from the connect view on a link it opened for it.
#pragma once

#include <cstdint>

class QWidget;

// Reads the firmware and device information and shows the dialog; when either read fails, says
// so and shows nothing. The mode the opener passes is not used: the dialog reads it itself.
int factory_dialog_run(QWidget* owner, uint32_t mode_from_opener);
