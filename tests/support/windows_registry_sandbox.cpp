// Linked into every test program on Windows: before any test runs, HKEY_CURRENT_USER is
// redirected to a scratch key of this program's own (HKCU\Software\veltranic-tests\<pid>), and
// the key is deleted when the program ends. Settings written by a test never reach the real
// per-user key, and no test sees what the user or an earlier run left there.
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <string>

namespace {

class registry_sandbox {
public:
    registry_sandbox() {
        path_ = "Software\\veltranic-tests\\" + std::to_string(GetCurrentProcessId());
        RegDeleteTreeA(HKEY_CURRENT_USER, path_.c_str());  // left by an earlier program of this id
        if (RegCreateKeyExA(HKEY_CURRENT_USER, path_.c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE, KEY_ALL_ACCESS,
                            nullptr, &key_, nullptr) != ERROR_SUCCESS ||
            RegOverridePredefKey(HKEY_CURRENT_USER, key_) != ERROR_SUCCESS) {
            // Running on against the real key could change the user's settings: refuse.
            std::fprintf(stderr, "cannot redirect HKEY_CURRENT_USER to a scratch key; no test runs\n");
            std::exit(1);
        }
    }
    ~registry_sandbox() {
        RegOverridePredefKey(HKEY_CURRENT_USER, nullptr);
        RegCloseKey(key_);
        RegDeleteTreeA(HKEY_CURRENT_USER, path_.c_str());
    }
    registry_sandbox(const registry_sandbox&) = delete;
    registry_sandbox& operator=(const registry_sandbox&) = delete;

private:
    std::string path_;
    HKEY key_ = nullptr;
};

registry_sandbox sandbox;

}  // namespace
