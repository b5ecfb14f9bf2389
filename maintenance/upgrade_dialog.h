// The "Upgrade Firmware" / "Upgrade Bootloader" dialog. The caller has the link open.
#pragma once

#include <cstdint>

class QWidget;

// mode 1: firmware image (base 40960), can be stopped; mode 2: bootloader image (base 0), cannot
// be stopped; any other mode: nothing happens. Returns 1 after a completed upgrade, else 2.
int upgrade_dialog_run(QWidget* owner, uint32_t mode);
