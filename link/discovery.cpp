#include "link/discovery.h"

#include "platform/hid_bus.h"

#include <cctype>
#include <cstring>
#include <new>
#include <vector>

device_list_t device_list = {nullptr, 0};
std::string connected_device_path;

bool device_ids_match(const char* hardware_ids, size_t length) {
    if (!hardware_ids) return false;
    // Only the first id of the list counts.
    const std::string first(hardware_ids, strnlen(hardware_ids, length));
    for (const char* id : DEVICE_MATCH_IDS) {
        if (first.find(id) != std::string::npos) return true;
    }
    return false;
}

char* device_path_at(size_t index, bool* end) {
    *end = false;
    // Every call takes the devices afresh, as they are now.
    std::vector<hid_device_desc> present = hid_bus_enumerate();
    if (index >= present.size()) {
        *end = true;
        return nullptr;
    }
    const hid_device_desc& d = present[index];
    if (!device_ids_match(d.hardware_ids.data(), d.hardware_ids.size())) return nullptr;
    char* copy = new (std::nothrow) char[d.path.size() + 1];
    if (!copy) return nullptr;
    std::memcpy(copy, d.path.c_str(), d.path.size() + 1);
    return copy;
}

std::vector<std::string> device_denied_paths() {
    std::vector<std::string> denied;
    for (const hid_device_desc& d : hid_bus_enumerate())
        if (d.access_denied && device_ids_match(d.hardware_ids.data(), d.hardware_ids.size())) denied.push_back(d.path);
    return denied;
}

void device_scan() { device_list_set(device_scan_paths()); }

std::vector<std::string> device_scan_paths() {
    // One look at the bus: the devices as they are at one moment, none twice, none skipped.
    std::vector<std::string> paths;
    for (const hid_device_desc& d : hid_bus_enumerate())
        if (device_ids_match(d.hardware_ids.data(), d.hardware_ids.size())) paths.push_back(d.path);
    return paths;
}

void device_list_set(const std::vector<std::string>& paths) {
    device_list.entries = nullptr;
    device_list.count = 0;
    if (paths.empty()) return;
    auto* entries = new (std::nothrow) device_entry[paths.size()];
    if (!entries) return;
    for (size_t i = 0; i < paths.size(); ++i) {
        entries[i].mode = 0;
        entries[i].path = new (std::nothrow) char[paths[i].size() + 1];
        if (!entries[i].path) {
            for (size_t j = 0; j < i; ++j) delete[] entries[j].path;
            delete[] entries;
            return;
        }
        std::memcpy(entries[i].path, paths[i].c_str(), paths[i].size() + 1);
    }
    device_list.entries = entries;
    device_list.count = paths.size();
}

void device_list_free() {
    if (device_list.count == 0) return;
    for (size_t i = 0; i < device_list.count; ++i) delete[] device_list.entries[i].path;
    delete[] device_list.entries;
    device_list.entries = nullptr;
    device_list.count = 0;
}

int device_event_code(uint32_t code_offset) { return code_offset <= 5 ? int(code_offset) + 1 : 0; }

int device_is_connected_path(const char* name) {
    if (!name) return 0;
    const std::string& c = connected_device_path;
    size_t i = 0;
    for (; name[i] != '\0' && i < c.size(); ++i) {
        if (std::toupper(static_cast<unsigned char>(name[i])) != std::toupper(static_cast<unsigned char>(c[i])))
            return 0;
    }
    return name[i] == '\0' && i == c.size() ? 1 : 0;
}

namespace {

struct notify_registration {
    device_notify_fn fn;
    void* user;
    hid_watch* watch;
};

void relay(void* user, uint32_t code, const char* name) {
    auto* r = static_cast<notify_registration*>(user);
    r->fn(r->user, code, DEVICE_NOTIFY_INTERFACE, name);
}

}  // namespace

void* device_notify_register(device_notify_fn fn, void* user) {
    auto* r = new notify_registration{fn, user, nullptr};
    r->watch = hid_bus_watch(relay, r);
    return r;
}

void device_notify_unregister(void* handle) {
    if (!handle) return;
    auto* r = static_cast<notify_registration*>(handle);
    hid_bus_unwatch(r->watch);
    delete r;
}
