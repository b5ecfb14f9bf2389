#include "platform/registry.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

constexpr const char* ROOT = "HKEY_CURRENT_USER\\";

struct reg_value {
    std::string name;
    std::string data;  // what follows '=': dword:0000001a, "text", hex:..
};

struct reg_key {
    std::string path;
    std::vector<reg_value> values;
};

std::string config_dir() {
    const char* xdg = std::getenv("XDG_CONFIG_HOME");
    if (xdg && *xdg) return std::string(xdg) + "/veltranic";
    const char* home = std::getenv("HOME");
    return std::string(home && *home ? home : ".") + "/.config/veltranic";
}

// Reads the store; a missing or unreadable file is an empty store.
std::vector<reg_key> load() {
    std::vector<reg_key> keys;
    std::ifstream in(registry_file_path());
    std::string line;
    while (std::getline(in, line)) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        if (line.size() > 2 && line.front() == '[' && line.back() == ']') {
            std::string path = line.substr(1, line.size() - 2);
            if (path.rfind(ROOT, 0) == 0) path = path.substr(std::strlen(ROOT));
            keys.push_back({path, {}});
            continue;
        }
        if (keys.empty() || line.size() < 3 || line.front() != '"') continue;
        size_t close = line.find("\"=", 1);
        if (close == std::string::npos) continue;
        keys.back().values.push_back({line.substr(1, close - 1), line.substr(close + 2)});
    }
    return keys;
}

bool parse_dword(const std::string& data, uint32_t* value) {
    if (data.size() != 6 + 8 || data.compare(0, 6, "dword:") != 0) return false;
    uint32_t v = 0;
    for (size_t i = 6; i < data.size(); ++i) {
        char c = data[i];
        int d = c >= '0' && c <= '9' ? c - '0' : c >= 'a' && c <= 'f' ? c - 'a' + 10 : c >= 'A' && c <= 'F' ? c - 'A' + 10 : -1;
        if (d < 0) return false;
        v = v << 4 | uint32_t(d);
    }
    *value = v;
    return true;
}

bool write_all(int fd, const std::string& text) {
    size_t done = 0;
    while (done < text.size()) {
        ssize_t n = ::write(fd, text.data() + done, text.size() - done);
        if (n < 0) return false;
        done += size_t(n);
    }
    return true;
}

// Writes the whole store to a temporary file beside it and renames it into place, so a crash
// leaves either the old file or the new one, never a mix.
bool store(const std::vector<reg_key>& keys) {
    const std::string dir = config_dir();
    ::mkdir(dir.c_str(), 0700);  // the parent (~/.config) normally exists
    std::ostringstream out;
    out << "Windows Registry Editor Version 5.00\r\n";
    for (const reg_key& k : keys) {
        out << "\r\n[" << ROOT << k.path << "]\r\n";
        for (const reg_value& v : k.values) out << '"' << v.name << "\"=" << v.data << "\r\n";
    }
    const std::string path = registry_file_path();
    const std::string tmp = path + ".tmp";
    int fd = ::open(tmp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    if (fd < 0) return false;
    bool ok = write_all(fd, out.str()) && ::fsync(fd) == 0;
    ok = ::close(fd) == 0 && ok;
    if (!ok || ::rename(tmp.c_str(), path.c_str()) != 0) {
        ::unlink(tmp.c_str());
        return false;
    }
    return true;
}

}  // namespace

std::string registry_file_path() { return config_dir() + "/settings.reg"; }

int registry_get_dword(const char* key_path, const char* name, uint32_t* value) {
    for (const reg_key& k : load()) {
        if (k.path != key_path) continue;
        for (const reg_value& v : k.values) {
            if (v.name == name) return parse_dword(v.data, value) ? 0 : 1;
        }
    }
    return 1;
}

int registry_set_dword(const char* key_path, const char* name, uint32_t value) {
    std::vector<reg_key> keys = load();
    reg_key* key = nullptr;
    for (reg_key& k : keys)
        if (k.path == key_path) key = &k;
    if (!key) {
        keys.push_back({key_path, {}});
        key = &keys.back();
    }
    char data[16];
    std::snprintf(data, sizeof data, "dword:%08x", value);
    bool found = false;
    for (reg_value& v : key->values) {
        if (v.name == name) {
            v.data = data;
            found = true;
        }
    }
    if (!found) key->values.push_back({name, data});
    return store(keys) ? 0 : 1;
}
