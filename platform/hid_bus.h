// The one interface between the device link and a USB HID device.
//
// Backends register a driver table and are chosen by path prefix: "sim:" paths belong to the
// virtual instrument, every other path to the operating system's backend. All functions are
// safe to call from any thread; a port is used by one reader/writer thread at a time, while
// hid_port_cancel may be called from any other thread.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

struct hid_device_desc {
    std::string path;          // passed to hid_port_open
    std::string hardware_ids;  // list of ids, each terminated by '\0' (first id first)
    bool access_denied = false;  // present, but this user may not open it
};

// Notification codes of arrival and removal, as the windows expect them.
constexpr uint32_t HID_EVENT_ARRIVAL = 0x8000;
constexpr uint32_t HID_EVENT_REMOVE_COMPLETE = 0x8004;

using hid_watch_fn = void (*)(void* user, uint32_t code, const char* device_name);

// Result of hid_port_probe_report_id.
constexpr int HID_PROBE_SKIPPED = -1;  // not a HID node, or the descriptor could not be read
constexpr int HID_PROBE_NO_ID1 = 0;    // no input report with id 1
constexpr int HID_PROBE_HAS_ID1 = 1;

// Read/write results.
constexpr int HID_OK = 0;
constexpr int HID_ERR_IO = 1;         // device gone or I/O failed
constexpr int HID_ERR_CANCELLED = 2;  // hid_port_cancel was called

struct hid_port;  // an open device, owned by whoever opened it

struct hid_backend {
    const char* prefix;  // path prefix this backend owns ("" = the system backend)
    void* ctx;
    void (*enumerate)(void* ctx, std::vector<hid_device_desc>& out);
    void* (*open)(void* ctx, const char* path);  // nullptr when it cannot be opened
    void (*close)(void* ctx, void* port);
    int (*write)(void* ctx, void* port, const uint8_t* report, size_t len);
    int (*read)(void* ctx, void* port, uint8_t* report, size_t len);
    void (*cancel)(void* ctx, void* port);
    void (*rearm)(void* ctx, void* port);
    void (*flush)(void* ctx, void* port);
    int (*probe_report_id)(void* ctx, void* port);
    // Watching is optional (nullptr): start returns a token, stop takes it back.
    void* (*watch_start)(void* ctx, hid_watch_fn fn, void* user);
    void (*watch_stop)(void* ctx, void* token);
};

// Registration. A backend with the same prefix replaces the earlier one.
void hid_bus_register(const hid_backend* backend);
void hid_bus_unregister(const hid_backend* backend);

// Whether a path is the operating system's (no registered backend of the program's own, such as
// "sim:" or "replay:", owns its prefix).
bool hid_bus_is_system_path(const char* path);

// Every present device of every registered backend.
std::vector<hid_device_desc> hid_bus_enumerate();

// Opens a device exclusively: a second open of the same path fails until the first is closed.
hid_port* hid_port_open(const char* path);
void hid_port_close(hid_port* port);

// Writes one whole report (byte 0 = report id). Blocks until written.
int hid_port_write(hid_port* port, const uint8_t* report, size_t len);
// Reads one whole report of len bytes (byte 0 = report id), blocking until one arrives, the
// device fails, or the port is cancelled. A cancel stays in force until hid_port_rearm, so a
// cancel that arrives just before the read blocks is never lost.
int hid_port_read(hid_port* port, uint8_t* report, size_t len);
void hid_port_cancel(hid_port* port);
void hid_port_rearm(hid_port* port);
// Discards every input report already queued, without blocking.
void hid_port_flush(hid_port* port);
int hid_port_probe_report_id(hid_port* port);

// Watches arrival and removal on every backend that can. Returns a handle for hid_bus_unwatch.
struct hid_watch;
hid_watch* hid_bus_watch(hid_watch_fn fn, void* user);
void hid_bus_unwatch(hid_watch* watch);

// An observer of every port operation, for recording a session: told on the thread that made
// the operation, after it returned, with the device path of the port. It must not block (the
// link waits for it) and must stay valid while installed; at most one is installed at a time.
enum class hid_tap_op : uint8_t {
    open,    // rc 0 when opened, 1 when it could not be
    close,
    probe,   // rc = the result of hid_port_probe_report_id
    write,   // report/len = what was written, rc = its result
    read,    // report/len = what was read (when rc is HID_OK), rc = its result
    flush,
};
struct hid_bus_tap {
    void (*port_op)(hid_tap_op op, const char* path, const uint8_t* report, size_t len, int rc);
    // Every device list that hid_bus_enumerate returns.
    void (*enumerated)(const std::vector<hid_device_desc>& present);
};
// Installs the tap (nullptr removes it).
void hid_bus_set_tap(const hid_bus_tap* tap);
