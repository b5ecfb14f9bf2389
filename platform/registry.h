// The per-user settings store: 32-bit values under a key path, as the instrument's host
// software keeps them in the registry. On Windows the registry itself (HKEY_CURRENT_USER\key
// path, values of type REG_DWORD: registry_windows.cpp); elsewhere one text file in the registry
// export format, $XDG_CONFIG_HOME/veltranic/settings.reg (default ~/.config), replaced
// atomically on write (registry_file.cpp).
#pragma once

#include <cstdint>
#include <string>

// 0 and the value when it exists as a 32-bit value; 1 when the key or value is missing or the
// value has another type.
int registry_get_dword(const char* key_path, const char* name, uint32_t* value);
// 0 on success, 1 when the store cannot be written. Never leaves a half-written file. The file
// store makes its missing folders (for this user alone) and changes only the lines of the value
// it writes; a key that the file holds twice reads and writes the same value.
int registry_set_dword(const char* key_path, const char* name, uint32_t value);

#ifndef _WIN32
// Where the store lives on this machine.
std::string registry_file_path();
#endif
