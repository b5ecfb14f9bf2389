// The settings file reader (the registry export file the tool keeps its preferences in, outside
// Windows) on arbitrary file contents: reading every value, then changing one, which writes the
// file back. Nothing may crash, and a value just written must read back.
#include "platform/registry.h"
#include "sampler/run_settings.h"

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <unistd.h>

namespace {

std::string settings_path() {
    static const std::string path = [] {
        const std::string dir = std::filesystem::temp_directory_path() / ("veltranic-fuzz-" + std::to_string(::getpid()));
        std::filesystem::create_directories(dir + "/veltranic");
        setenv("XDG_CONFIG_HOME", dir.c_str(), 1);
        return registry_file_path();
    }();
    return path;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string path = settings_path();
    std::ofstream(path, std::ios::binary | std::ios::trunc).write(reinterpret_cast<const char*>(data), std::streamsize(size));
    char key[80];
    settings_key_path(key);
    uint32_t value = 0;
    for (const char* name : {"RUN_MODE", "NUM_SAMPLES", "SAMPLE_VOLUME", "SAMPLE_TIMEOUT", "CLEAN", "motor_id"})
        (void)registry_get_dword(key, name, &value);
    (void)run_settings_load();
    const uint32_t written = size ? data[0] * 0x01010101u : 7;
    if (registry_set_dword(key, "SAMPLE_VOLUME", written) == 0) {
        if (registry_get_dword(key, "SAMPLE_VOLUME", &value) != 0 || value != written) std::abort();
    }
    return 0;
}
