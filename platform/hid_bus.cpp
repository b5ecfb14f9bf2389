#include "platform/hid_bus.h"

#include <algorithm>
#include <atomic>
#include <cstring>
#include <mutex>
#include <utility>

struct hid_port {
    const hid_backend* backend;
    void* impl;
    std::string path;  // as opened: what a tap is told
};

struct hid_watch {
    std::vector<std::pair<const hid_backend*, void*>> tokens;
};

namespace {

std::mutex g_lock;
std::vector<const hid_backend*> g_backends;
std::atomic<const hid_bus_tap*> g_tap{nullptr};

void tap(hid_tap_op op, const hid_port* port, const uint8_t* report, size_t len, int rc) {
    if (const hid_bus_tap* t = g_tap.load(std::memory_order_acquire)) t->port_op(op, port->path.c_str(), report, len, rc);
}

bool has_prefix(const char* path, const char* prefix) {
    return std::strncmp(path, prefix, std::strlen(prefix)) == 0;
}

// The backend with the longest matching prefix wins, so "" is the fallback.
const hid_backend* backend_for(const char* path) {
    std::lock_guard lock(g_lock);
    const hid_backend* best = nullptr;
    for (const hid_backend* b : g_backends) {
        if (has_prefix(path, b->prefix) && (!best || std::strlen(b->prefix) > std::strlen(best->prefix)))
            best = b;
    }
    return best;
}

std::vector<const hid_backend*> snapshot() {
    std::lock_guard lock(g_lock);
    return g_backends;
}

}  // namespace

void hid_bus_register(const hid_backend* backend) {
    std::lock_guard lock(g_lock);
    std::erase_if(g_backends, [&](const hid_backend* b) { return std::strcmp(b->prefix, backend->prefix) == 0; });
    g_backends.push_back(backend);
}

void hid_bus_unregister(const hid_backend* backend) {
    std::lock_guard lock(g_lock);
    std::erase(g_backends, backend);
}

std::vector<hid_device_desc> hid_bus_enumerate() {
    std::vector<hid_device_desc> all;
    for (const hid_backend* b : snapshot()) {
        if (b->enumerate) b->enumerate(b->ctx, all);
    }
    if (const hid_bus_tap* t = g_tap.load(std::memory_order_acquire)) t->enumerated(all);
    return all;
}

bool hid_bus_is_system_path(const char* path) {
    const hid_backend* b = path ? backend_for(path) : nullptr;
    return !b || b->prefix[0] == '\0';
}

hid_port* hid_port_open(const char* path) {
    if (!path) return nullptr;
    const hid_backend* b = backend_for(path);
    void* impl = b ? b->open(b->ctx, path) : nullptr;
    if (const hid_bus_tap* t = g_tap.load(std::memory_order_acquire)) t->port_op(hid_tap_op::open, path, nullptr, 0, impl ? 0 : 1);
    if (!impl) return nullptr;
    return new hid_port{b, impl, path};
}

void hid_port_close(hid_port* port) {
    if (!port) return;
    port->backend->close(port->backend->ctx, port->impl);
    tap(hid_tap_op::close, port, nullptr, 0, 0);
    delete port;
}

int hid_port_write(hid_port* port, const uint8_t* report, size_t len) {
    const int rc = port->backend->write(port->backend->ctx, port->impl, report, len);
    tap(hid_tap_op::write, port, report, len, rc);
    return rc;
}

int hid_port_read(hid_port* port, uint8_t* report, size_t len) {
    const int rc = port->backend->read(port->backend->ctx, port->impl, report, len);
    tap(hid_tap_op::read, port, report, len, rc);
    return rc;
}

void hid_port_cancel(hid_port* port) { port->backend->cancel(port->backend->ctx, port->impl); }
void hid_port_rearm(hid_port* port) { port->backend->rearm(port->backend->ctx, port->impl); }

void hid_port_flush(hid_port* port) {
    port->backend->flush(port->backend->ctx, port->impl);
    tap(hid_tap_op::flush, port, nullptr, 0, 0);
}

int hid_port_probe_report_id(hid_port* port) {
    const int rc = port->backend->probe_report_id(port->backend->ctx, port->impl);
    tap(hid_tap_op::probe, port, nullptr, 0, rc);
    return rc;
}

hid_watch* hid_bus_watch(hid_watch_fn fn, void* user) {
    auto* w = new hid_watch;
    for (const hid_backend* b : snapshot()) {
        if (!b->watch_start) continue;
        if (void* token = b->watch_start(b->ctx, fn, user)) w->tokens.emplace_back(b, token);
    }
    return w;
}

void hid_bus_set_tap(const hid_bus_tap* t) { g_tap.store(t, std::memory_order_release); }

void hid_bus_unwatch(hid_watch* watch) {
    if (!watch) return;
    for (auto& [b, token] : watch->tokens) b->watch_stop(b->ctx, token);
    delete watch;
}
