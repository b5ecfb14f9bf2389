#include "platform/hid_windows.h"

#include "platform/hid_system.h"

#include <windows.h>

#include <dbt.h>
#include <setupapi.h>
// The HID headers of some SDKs and of MinGW-w64 declare their functions without C linkage;
// hidsdi.h brings the types that hidpi.h needs.
extern "C" {
#include <hidsdi.h>
// clang-format off
#include <hidpi.h>
// clang-format on
}

#include <algorithm>
#include <cctype>
#include <condition_variable>
#include <cstddef>
#include <cstring>
#include <memory>
#include <mutex>
#include <set>
#include <system_error>
#include <thread>
#include <vector>

namespace {

// ---- the set of devices open in this program -----------------------------------------------

// Share mode 0 keeps other programs out; this set keeps a second open in this program out too,
// also where the system does not enforce share modes on devices (Wine does not).
std::mutex g_open_lock;
std::set<std::string> g_open_paths;

std::string path_key(const char* path) {
    std::string key = path;
    for (char& c : key) c = char(std::toupper(static_cast<unsigned char>(c)));
    return key;
}

// ---- open ports -------------------------------------------------------------------------------

struct win_port {
    HANDLE file = INVALID_HANDLE_VALUE;
    // Manual-reset event, set while a cancel is in force: a read waits on it together with its
    // own completion, so a cancel that comes before the read has even started is not lost (as it
    // would be with CancelSynchronousIo, which only reaches a call already blocked).
    HANDLE cancel = nullptr;
    HANDLE read_done = nullptr;   // the overlapped read's event
    HANDLE write_done = nullptr;  // the overlapped write's event
    size_t input_length = 0;      // report lengths the device declares, report id byte included
    size_t output_length = 0;     // (0 when the preparsed data could not be read)
    std::string key;

    ~win_port() {
        if (file != INVALID_HANDLE_VALUE) CloseHandle(file);
        for (HANDLE h : {cancel, read_done, write_done})
            if (h) CloseHandle(h);
        if (!key.empty()) {
            std::lock_guard lock(g_open_lock);
            g_open_paths.erase(key);
        }
    }
};

// The device's declared report lengths, from its preparsed data.
void read_report_lengths(win_port* p) {
    PHIDP_PREPARSED_DATA preparsed = nullptr;
    if (!HidD_GetPreparsedData(p->file, &preparsed)) return;
    HIDP_CAPS caps{};
    if (HidP_GetCaps(preparsed, &caps) == HIDP_STATUS_SUCCESS) {
        p->input_length = caps.InputReportByteLength;
        p->output_length = caps.OutputReportByteLength;
    }
    HidD_FreePreparsedData(preparsed);
}

void* win_open(void*, const char* path) {
    auto p = std::make_unique<win_port>();
    const std::string key = path_key(path);
    {
        std::lock_guard lock(g_open_lock);
        if (!g_open_paths.insert(key).second) return nullptr;  // already open here
    }
    p->key = key;
    // Read and write, no sharing, an existing device only; overlapped, so that a read can be
    // waited on together with the cancel event.
    p->file = CreateFileA(path, GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                          FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OVERLAPPED, nullptr);
    if (p->file == INVALID_HANDLE_VALUE) return nullptr;
    p->cancel = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    p->read_done = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    p->write_done = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    if (!p->cancel || !p->read_done || !p->write_done) return nullptr;
    read_report_lengths(p.get());
    return p.release();
}

void win_close(void*, void* port) { delete static_cast<win_port*>(port); }

int win_write(void*, void* port, const uint8_t* report, size_t len) {
    auto* p = static_cast<win_port*>(port);
    // Windows takes exactly the declared output report length: pad a shorter report with zeros.
    std::vector<uint8_t> buf(report, report + len);
    if (buf.size() < p->output_length) buf.resize(p->output_length, 0);
    OVERLAPPED ov{};
    ov.hEvent = p->write_done;
    ResetEvent(p->write_done);
    if (!WriteFile(p->file, buf.data(), DWORD(buf.size()), nullptr, &ov) && GetLastError() != ERROR_IO_PENDING)
        return HID_ERR_IO;
    // A write is not cancelled (nor is it on Linux): a cancel meant for the previous read may
    // still be in force, and it must not cost the next request its write. A device that goes
    // away fails the write.
    DWORD written = 0;
    return GetOverlappedResult(p->file, &ov, &written, TRUE) ? HID_OK : HID_ERR_IO;
}

// Starts one overlapped read into buf. true when it completed or is pending.
bool start_read(win_port* p, std::vector<uint8_t>& buf, OVERLAPPED& ov) {
    ov = OVERLAPPED{};
    ov.hEvent = p->read_done;
    ResetEvent(p->read_done);
    return ReadFile(p->file, buf.data(), DWORD(buf.size()), nullptr, &ov) || GetLastError() == ERROR_IO_PENDING;
}

int win_read(void*, void* port, uint8_t* report, size_t len) {
    auto* p = static_cast<win_port*>(port);
    if (WaitForSingleObject(p->cancel, 0) == WAIT_OBJECT_0) return HID_ERR_CANCELLED;
    // Windows wants room for the whole declared input report; it gives one report, id first
    // (0 for a device without numbered reports).
    std::vector<uint8_t> buf(std::max(len, p->input_length));
    OVERLAPPED ov;
    if (!start_read(p, buf, ov)) return HID_ERR_IO;
    HANDLE waits[2] = {p->cancel, p->read_done};
    const DWORD woke = WaitForMultipleObjects(2, waits, FALSE, INFINITE);
    if (woke != WAIT_OBJECT_0 + 1) CancelIoEx(p->file, &ov);
    // Buffer and OVERLAPPED belong to the read until it has ended, cancelled or not.
    DWORD got = 0;
    if (!GetOverlappedResult(p->file, &ov, &got, TRUE))
        return GetLastError() == ERROR_OPERATION_ABORTED ? HID_ERR_CANCELLED : HID_ERR_IO;
    // A report that arrived as the cancel came has left the device's queue: hand it over rather
    // than lose it. The caller decides whether it still wants it.
    std::memset(report, 0, len);
    std::memcpy(report, buf.data(), std::min(size_t(got), len));
    return HID_OK;
}

void win_cancel(void*, void* port) { SetEvent(static_cast<win_port*>(port)->cancel); }
void win_rearm(void*, void* port) { ResetEvent(static_cast<win_port*>(port)->cancel); }

void win_flush(void*, void* port) {
    auto* p = static_cast<win_port*>(port);
    if (HidD_FlushQueue(p->file)) return;
    // Where the driver refuses the flush, read without waiting until nothing is left.
    std::vector<uint8_t> buf(std::max<size_t>(p->input_length, 1));
    for (int reports = 0; reports < 1024; ++reports) {
        OVERLAPPED ov;
        if (!start_read(p, buf, ov)) return;
        if (WaitForSingleObject(p->read_done, 0) != WAIT_OBJECT_0) CancelIoEx(p->file, &ov);
        DWORD got = 0;
        if (!GetOverlappedResult(p->file, &ov, &got, TRUE)) return;  // nothing was queued
    }
}

int win_probe(void*, void* port) {
    auto* p = static_cast<win_port*>(port);
    PHIDP_PREPARSED_DATA preparsed = nullptr;
    if (!HidD_GetPreparsedData(p->file, &preparsed)) return HID_PROBE_SKIPPED;
    int result = HID_PROBE_SKIPPED;
    HIDP_CAPS caps{};
    if (HidP_GetCaps(preparsed, &caps) == HIDP_STATUS_SUCCESS) {
        // Scratch space of the declared input report length (129 bytes for the instrument).
        std::vector<char> scratch(std::max<size_t>(caps.InputReportByteLength, 1));
        const NTSTATUS status =
            HidP_InitializeReportForID(HidP_Input, 1, preparsed, scratch.data(), caps.InputReportByteLength);
        // Only a plain "no such report" means unnumbered reports; any other answer keeps id 1.
        result = status == HIDP_STATUS_REPORT_DOES_NOT_EXIST ? HID_PROBE_NO_ID1 : HID_PROBE_HAS_ID1;
    }
    HidD_FreePreparsedData(preparsed);
    return result;
}

// ---- enumeration ------------------------------------------------------------------------------

std::string hardware_ids_of(HDEVINFO set, SP_DEVINFO_DATA& info) {
    // First the size: the call without a buffer must fail for want of one.
    DWORD size = 0;
    if (SetupDiGetDeviceRegistryPropertyA(set, &info, SPDRP_HARDWAREID, nullptr, nullptr, 0, &size) ||
        GetLastError() != ERROR_INSUFFICIENT_BUFFER || size == 0)
        return {};
    std::vector<char> buf(size);
    if (!SetupDiGetDeviceRegistryPropertyA(set, &info, SPDRP_HARDWAREID, nullptr, reinterpret_cast<BYTE*>(buf.data()),
                                           size, nullptr))
        return {};
    return hid_windows_hardware_ids(buf.data(), buf.size());
}

std::string interface_path_of(HDEVINFO set, SP_DEVINFO_DATA& info, const GUID& hid) {
    SP_DEVICE_INTERFACE_DATA iface{};
    iface.cbSize = sizeof iface;
    if (!SetupDiEnumDeviceInterfaces(set, &info, &hid, 0, &iface)) return {};
    DWORD size = 0;
    if (SetupDiGetDeviceInterfaceDetailA(set, &iface, nullptr, 0, &size, nullptr) ||
        GetLastError() != ERROR_INSUFFICIENT_BUFFER || size < sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_A))
        return {};
    std::vector<DWORD> storage((size + sizeof(DWORD) - 1) / sizeof(DWORD));
    auto* detail = reinterpret_cast<SP_DEVICE_INTERFACE_DETAIL_DATA_A*>(storage.data());
    // The size of the record's fixed part as this program lays it out: 8 in a 64-bit program,
    // 5 only in a 32-bit one. SetupAPI refuses any other value.
    detail->cbSize = sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_A);
    if (!SetupDiGetDeviceInterfaceDetailA(set, &iface, detail, size, nullptr, nullptr)) return {};
    const size_t room = size - offsetof(SP_DEVICE_INTERFACE_DETAIL_DATA_A, DevicePath);
    return std::string(detail->DevicePath, strnlen(detail->DevicePath, room));
}

void win_enumerate(void*, std::vector<hid_device_desc>& out) {
    GUID hid;
    HidD_GetHidGuid(&hid);
    HDEVINFO set = SetupDiGetClassDevsA(&hid, nullptr, nullptr, DIGCF_PRESENT | DIGCF_DEVICEINTERFACE);
    if (set == INVALID_HANDLE_VALUE) return;
    int failures = 0;
    for (DWORD index = 0;; ++index) {
        SP_DEVINFO_DATA info{};
        info.cbSize = sizeof info;
        if (!SetupDiEnumDeviceInfo(set, index, &info)) {
            if (GetLastError() == ERROR_NO_MORE_ITEMS) break;
            // One unreadable device is skipped; a set that only fails is given up.
            if (++failures > 64) break;
            continue;
        }
        // Devices whose ids or interface cannot be read are skipped.
        std::string ids = hardware_ids_of(set, info);
        if (ids.empty()) continue;
        std::string path = interface_path_of(set, info, hid);
        if (path.empty()) continue;
        out.push_back({std::move(path), std::move(ids)});
    }
    SetupDiDestroyDeviceInfoList(set);
}

// ---- hot-plug ---------------------------------------------------------------------------------

struct win_watch {
    hid_watch_fn fn = nullptr;
    void* user = nullptr;
    std::thread thread;

    std::mutex m;  // guards the start-up hand-off below
    std::condition_variable cv;
    bool started = false;
    HWND window = nullptr;  // nullptr after start-up: the window or its registration failed
    DWORD thread_id = 0;
};

LRESULT CALLBACK watch_window_proc(HWND hwnd, UINT msg, WPARAM wparam, LPARAM lparam) {
    if (msg == WM_NCCREATE) {
        const auto* cs = reinterpret_cast<const CREATESTRUCTA*>(lparam);
        SetWindowLongPtrA(hwnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(cs->lpCreateParams));
    }
    auto* w = reinterpret_cast<win_watch*>(GetWindowLongPtrA(hwnd, GWLP_USERDATA));
    switch (msg) {
        case WM_DEVICECHANGE: {
            if ((wparam != DBT_DEVICEARRIVAL && wparam != DBT_DEVICEREMOVECOMPLETE) || !lparam || !w) return TRUE;
            const auto* header = reinterpret_cast<const DEV_BROADCAST_HDR*>(lparam);
            // Only device-interface records carry the device's path.
            if (header->dbch_devicetype != DBT_DEVTYP_DEVICEINTERFACE) return TRUE;
            const auto* record = reinterpret_cast<const DEV_BROADCAST_DEVICEINTERFACE_A*>(lparam);
            constexpr size_t name_at = offsetof(DEV_BROADCAST_DEVICEINTERFACE_A, dbcc_name);
            const size_t room = header->dbch_size > name_at ? header->dbch_size - name_at : 0;
            const std::string name(record->dbcc_name, strnlen(record->dbcc_name, room));
            w->fn(w->user, uint32_t(wparam), name.c_str());
            return TRUE;
        }
        case WM_CLOSE:
            DestroyWindow(hwnd);
            return 0;
        case WM_DESTROY:
            PostQuitMessage(0);
            return 0;
        default:
            return DefWindowProcA(hwnd, msg, wparam, lparam);
    }
}

bool register_watch_class() {
    static const bool registered = [] {
        WNDCLASSA wc{};
        wc.lpfnWndProc = watch_window_proc;
        wc.hInstance = GetModuleHandleA(nullptr);
        wc.lpszClassName = HID_WINDOWS_WATCH_CLASS;
        return RegisterClassA(&wc) != 0 || GetLastError() == ERROR_CLASS_ALREADY_EXISTS;
    }();
    return registered;
}

// The watching thread: a message-only window registered for HID interface notifications, and
// its message loop until the window is closed.
void watch_thread(win_watch* w) {
    HWND hwnd = nullptr;
    HDEVNOTIFY notify = nullptr;
    if (register_watch_class()) {
        hwnd = CreateWindowExA(0, HID_WINDOWS_WATCH_CLASS, "", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr,
                               GetModuleHandleA(nullptr), w);
    }
    if (hwnd) {
        DEV_BROADCAST_DEVICEINTERFACE_A filter{};
        filter.dbcc_size = sizeof filter;
        filter.dbcc_devicetype = DBT_DEVTYP_DEVICEINTERFACE;
        HidD_GetHidGuid(&filter.dbcc_classguid);
        notify = RegisterDeviceNotificationA(hwnd, &filter, DEVICE_NOTIFY_WINDOW_HANDLE);
        if (!notify) {
            DestroyWindow(hwnd);
            hwnd = nullptr;
        }
    }
    {
        std::lock_guard l(w->m);
        w->window = hwnd;
        w->thread_id = GetCurrentThreadId();
        w->started = true;
    }
    w->cv.notify_all();
    if (!hwnd) return;
    MSG msg;
    while (GetMessageA(&msg, nullptr, 0, 0) > 0) {
        TranslateMessage(&msg);
        DispatchMessageA(&msg);
    }
    UnregisterDeviceNotification(notify);
    if (IsWindow(hwnd)) DestroyWindow(hwnd);
}

void* win_watch_start(void*, hid_watch_fn fn, void* user) {
    auto w = std::make_unique<win_watch>();
    w->fn = fn;
    w->user = user;
    try {
        w->thread = std::thread(watch_thread, w.get());
    } catch (const std::system_error&) {
        return nullptr;
    }
    bool ok;
    {
        std::unique_lock l(w->m);
        w->cv.wait(l, [&] { return w->started; });
        ok = w->window != nullptr;
    }
    if (!ok) {
        w->thread.join();
        return nullptr;
    }
    return w.release();
}

void win_watch_stop(void*, void* token) {
    auto* w = static_cast<win_watch*>(token);
    // Closing the window ends its message loop; should the post fail, quit the loop directly.
    if (!PostMessageA(w->window, WM_CLOSE, 0, 0)) PostThreadMessageA(w->thread_id, WM_QUIT, 0, 0);
    w->thread.join();
    delete w;
}

const hid_backend g_windows = {
    "", nullptr, win_enumerate, win_open, win_close, win_write, win_read, win_cancel, win_rearm, win_flush,
    win_probe, win_watch_start, win_watch_stop,
};

}  // namespace

const hid_backend* hid_windows_backend() { return &g_windows; }
const hid_backend* hid_system_backend() { return &g_windows; }

std::string hid_windows_hardware_ids(const char* multi_sz, size_t size) {
    std::string ids;
    size_t at = 0;
    while (multi_sz && at < size) {
        const size_t n = strnlen(multi_sz + at, size - at);
        if (n == 0) break;  // the empty id that ends the list
        ids.append(multi_sz + at, n);
        ids.push_back('\0');
        at += n + 1;
    }
    return ids;
}
