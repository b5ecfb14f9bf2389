#include "platform/registry.h"

#include <windows.h>

int registry_get_dword(const char* key_path, const char* name, uint32_t* value) {
    if (!key_path || !name || !value) return 1;
    // RRF_RT_REG_DWORD takes only a 4-byte REG_DWORD: a string, a binary value or a QWORD under
    // the same name fails with ERROR_UNSUPPORTED_TYPE and reads as missing, as it should.
    DWORD data = 0;
    DWORD size = sizeof data;
    if (RegGetValueA(HKEY_CURRENT_USER, key_path, name, RRF_RT_REG_DWORD, nullptr, &data, &size) != ERROR_SUCCESS)
        return 1;
    *value = data;
    return 0;
}

int registry_set_dword(const char* key_path, const char* name, uint32_t value) {
    if (!key_path || !name) return 1;
    HKEY key = nullptr;
    if (RegCreateKeyExA(HKEY_CURRENT_USER, key_path, 0, nullptr, REG_OPTION_NON_VOLATILE, KEY_SET_VALUE, nullptr,
                        &key, nullptr) != ERROR_SUCCESS)
        return 1;
    const DWORD data = value;
    const LSTATUS set = RegSetValueExA(key, name, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&data), sizeof data);
    RegCloseKey(key);
    return set == ERROR_SUCCESS ? 0 : 1;
}
