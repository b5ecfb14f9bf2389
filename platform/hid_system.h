// The operating system's HID backend, whichever system this is built for: the Linux backend
// (hid_linux.h) or the Windows one (hid_windows.h). Programs register it at start-up.
#pragma once

#include "platform/hid_bus.h"

const hid_backend* hid_system_backend();
