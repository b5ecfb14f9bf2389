// What kind of file system a path lies on.
#pragma once

// Whether path (a file, which need not exist yet, or a folder) lies on a file system that the
// kernel makes up rather than stores: /proc, /sys, /dev and their kin. Reading a file there can
// wait for ever (/proc/kmsg), and nothing the operator saves belongs there. Always false on
// Windows.
bool file_system_is_pseudo(const char* path);
