#include "platform/registry.h"

#include "platform/file_replace.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include <fcntl.h>
#include <sys/file.h>
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

// Writes the whole store to a temporary file of this writer's own beside it and renames it into
// place, so a crash leaves either the old file or the new one, never a mix.
bool store(const std::vector<reg_key>& keys) {
    std::ostringstream out;
    out << "Windows Registry Editor Version 5.00\r\n";
    for (const reg_key& k : keys) {
        out << "\r\n[" << ROOT << k.path << "]\r\n";
        for (const reg_value& v : k.values) out << '"' << v.name << "\"=" << v.data << "\r\n";
    }
    return file_replace(registry_file_path().c_str(), out.str()) == 0;
}

// Holds the store's lock file for one read-modify-write, so two copies of the tool that save
// at the same moment never lose each other's values. Without the lock (it cannot be created)
// the write still happens, as it would with one copy.
class store_lock {
public:
    store_lock() {
        const std::string dir = config_dir();
        ::mkdir(dir.c_str(), 0700);  // the parent (~/.config) normally exists
        fd_ = ::open((dir + "/settings.lock").c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
        if (fd_ >= 0)
            while (::flock(fd_, LOCK_EX) != 0 && errno == EINTR) {
            }
    }
    ~store_lock() {
        if (fd_ >= 0) ::close(fd_);  // closing releases the lock
    }
    store_lock(const store_lock&) = delete;
    store_lock& operator=(const store_lock&) = delete;

private:
    int fd_ = -1;
};

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
    store_lock lock;
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
