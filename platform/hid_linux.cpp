#include "platform/hid_linux.h"

#include "platform/hid_report_desc.h"
#include "platform/hid_system.h"

#include <libudev.h>
#include <linux/hidraw.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cinttypes>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <system_error>
#include <thread>

namespace {

struct linux_port {
    int fd = -1;
    int cancel_fd = -1;  // eventfd: readable while a cancel is in force
    bool hidraw = false; // false: a byte stream (socket, pty) carrying whole reports
};

void* lx_open(void*, const char* path) {
    // Only a device node is an instrument: a command frame written into a regular file (a path
    // given by mistake) would overwrite its first bytes. Asked before opening, and again of what
    // was opened, in case the path changed in between.
    struct stat st {};
    if (::stat(path, &st) != 0 || !S_ISCHR(st.st_mode)) return nullptr;
    int fd = ::open(path, O_RDWR | O_CLOEXEC | O_NOCTTY);
    if (fd < 0) return nullptr;
    if (::fstat(fd, &st) != 0 || !S_ISCHR(st.st_mode)) {
        ::close(fd);
        return nullptr;
    }
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        ::close(fd);
        return nullptr;
    }
    int cfd = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    if (cfd < 0) {
        ::close(fd);
        return nullptr;
    }
    auto* p = new linux_port;
    p->fd = fd;
    p->cancel_fd = cfd;
    int size = 0;
    p->hidraw = ::ioctl(fd, HIDIOCGRDESCSIZE, &size) == 0;
    return p;
}

void lx_close(void*, void* port) {
    auto* p = static_cast<linux_port*>(port);
    ::close(p->cancel_fd);
    ::close(p->fd);
    delete p;
}

int lx_write(void*, void* port, const uint8_t* report, size_t len) {
    auto* p = static_cast<linux_port*>(port);
    size_t done = 0;
    while (done < len) {
        ssize_t n = ::write(p->fd, report + done, len - done);
        if (n < 0) {
            if (errno == EINTR) continue;
            return HID_ERR_IO;
        }
        // hidraw takes the whole report in one call (and strips a 0 report id).
        if (p->hidraw) return HID_OK;
        done += size_t(n);
    }
    return HID_OK;
}

// Waits until the device is readable. HID_OK, HID_ERR_CANCELLED or HID_ERR_IO.
int wait_readable(linux_port* p) {
    pollfd fds[2] = {{p->fd, POLLIN, 0}, {p->cancel_fd, POLLIN, 0}};
    for (;;) {
        int n = ::poll(fds, 2, -1);
        if (n < 0) {
            if (errno == EINTR) continue;
            return HID_ERR_IO;
        }
        if (fds[1].revents & POLLIN) return HID_ERR_CANCELLED;
        if (fds[0].revents & POLLIN) return HID_OK;
        // POLLERR/POLLHUP after unplug, or a closed peer: a failed read, never a spin.
        if (fds[0].revents & (POLLERR | POLLHUP | POLLNVAL)) return HID_ERR_IO;
    }
}

int lx_read(void*, void* port, uint8_t* report, size_t len) {
    auto* p = static_cast<linux_port*>(port);
    if (p->hidraw) {
        uint8_t buf[4096];
        for (;;) {
            int w = wait_readable(p);
            if (w != HID_OK) return w;
            ssize_t n = ::read(p->fd, buf, sizeof buf);
            if (n < 0) {
                if (errno == EINTR || errno == EAGAIN) continue;
                return HID_ERR_IO;
            }
            if (n == 0) return HID_ERR_IO;
            std::memset(report, 0, len);
            if (size_t(n) == len) {
                std::memcpy(report, buf, len);
            } else if (size_t(n) + 1 == len) {
                // A device without numbered reports: the kernel gives the report without its
                // id byte, so put the 0 back in front.
                std::memcpy(report + 1, buf, size_t(n));
            } else {
                std::memcpy(report, buf, std::min(size_t(n), len));
            }
            return HID_OK;
        }
    }
    size_t got = 0;
    while (got < len) {
        int w = wait_readable(p);
        if (w != HID_OK) return w;
        ssize_t n = ::read(p->fd, report + got, len - got);
        if (n < 0) {
            if (errno == EINTR || errno == EAGAIN) continue;
            return HID_ERR_IO;
        }
        if (n == 0) return HID_ERR_IO;
        got += size_t(n);
    }
    return HID_OK;
}

void lx_cancel(void*, void* port) {
    uint64_t one = 1;
    ssize_t r = ::write(static_cast<linux_port*>(port)->cancel_fd, &one, sizeof one);
    (void)r;
}

void lx_rearm(void*, void* port) {
    uint64_t value;
    ssize_t r = ::read(static_cast<linux_port*>(port)->cancel_fd, &value, sizeof value);
    (void)r;
}

void lx_flush(void*, void* port) {
    auto* p = static_cast<linux_port*>(port);
    uint8_t buf[4096];
    for (;;) {
        pollfd fd{p->fd, POLLIN, 0};
        if (::poll(&fd, 1, 0) <= 0 || !(fd.revents & POLLIN)) return;
        ssize_t n = ::read(p->fd, buf, sizeof buf);
        if (n <= 0) return;
    }
}

int lx_probe(void*, void* port) {
    auto* p = static_cast<linux_port*>(port);
    if (!p->hidraw) return HID_PROBE_SKIPPED;
    int size = 0;
    if (::ioctl(p->fd, HIDIOCGRDESCSIZE, &size) != 0 || size <= 0) return HID_PROBE_SKIPPED;
    hidraw_report_descriptor desc{};
    desc.size = uint32_t(std::min(size, int(HID_MAX_DESCRIPTOR_SIZE)));
    if (::ioctl(p->fd, HIDIOCGRDESC, &desc) != 0) return HID_PROBE_SKIPPED;
    return hid_descriptor_has_input_id1(desc.value, desc.size);
}

// ---- enumeration -------------------------------------------------------------------------

std::string ids_for_hidraw(udev_device* dev) {
    udev_device* hid = udev_device_get_parent_with_subsystem_devtype(dev, "hid", nullptr);
    if (!hid) return {};
    const char* hid_id = udev_device_get_property_value(hid, "HID_ID");
    if (!hid_id) return {};
    udev_device* usb = udev_device_get_parent_with_subsystem_devtype(dev, "usb", "usb_device");
    const char* rev = usb ? udev_device_get_sysattr_value(usb, "bcdDevice") : nullptr;
    return hid_linux_hardware_ids(hid_id, rev);
}

void lx_enumerate(void*, std::vector<hid_device_desc>& out) {
    udev* u = udev_new();
    if (!u) return;
    udev_enumerate* e = udev_enumerate_new(u);
    if (e) {
        udev_enumerate_add_match_subsystem(e, "hidraw");
        udev_enumerate_scan_devices(e);
        udev_list_entry* entry;
        udev_list_entry_foreach(entry, udev_enumerate_get_list_entry(e)) {
            udev_device* dev = udev_device_new_from_syspath(u, udev_list_entry_get_name(entry));
            if (!dev) continue;
            const char* node = udev_device_get_devnode(dev);
            std::string ids = ids_for_hidraw(dev);
            if (node && !ids.empty()) {
                // Read and write access as this user has it (ACLs included); nothing is opened.
                const bool denied = ::access(node, R_OK | W_OK) != 0 && (errno == EACCES || errno == EPERM);
                out.push_back({node, ids, denied});
            }
            udev_device_unref(dev);
        }
        udev_enumerate_unref(e);
    }
    udev_unref(u);
}

// ---- hot-plug ----------------------------------------------------------------------------

struct lx_watch {
    udev* u = nullptr;
    udev_monitor* mon = nullptr;
    int stop_fd = -1;
    std::thread thread;
};

// The watching thread: reports arrivals and removals until its stop event is signalled.
void watch_loop(udev_monitor* mon, int stop_fd, hid_watch_fn fn, void* user) {
    pollfd fds[2] = {{udev_monitor_get_fd(mon), POLLIN, 0}, {stop_fd, POLLIN, 0}};
    for (;;) {
        if (::poll(fds, 2, -1) < 0) {
            if (errno == EINTR) continue;
            return;
        }
        if (fds[1].revents) return;
        if (!(fds[0].revents & POLLIN)) continue;
        udev_device* dev = udev_monitor_receive_device(mon);
        if (!dev) continue;
        const char* action = udev_device_get_action(dev);
        const char* node = udev_device_get_devnode(dev);
        if (action && node) {
            if (std::strcmp(action, "add") == 0) fn(user, HID_EVENT_ARRIVAL, node);
            else if (std::strcmp(action, "remove") == 0) fn(user, HID_EVENT_REMOVE_COMPLETE, node);
        }
        udev_device_unref(dev);
    }
}

void lx_watch_free(lx_watch* w) {
    if (w->stop_fd >= 0) ::close(w->stop_fd);
    if (w->mon) udev_monitor_unref(w->mon);
    if (w->u) udev_unref(w->u);
    delete w;
}

void* lx_watch_start(void*, hid_watch_fn fn, void* user) {
    auto* w = new lx_watch;
    w->u = udev_new();
    if (w->u) w->mon = udev_monitor_new_from_netlink(w->u, "udev");
    if (!w->mon || udev_monitor_filter_add_match_subsystem_devtype(w->mon, "hidraw", nullptr) < 0 ||
        udev_monitor_enable_receiving(w->mon) < 0) {
        lx_watch_free(w);
        return nullptr;
    }
    // Without its stop event the watching thread could never be woken to end: no watcher then.
    w->stop_fd = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    if (w->stop_fd < 0) {
        lx_watch_free(w);
        return nullptr;
    }
    try {
        w->thread = std::thread(watch_loop, w->mon, w->stop_fd, fn, user);
    } catch (const std::system_error&) {
        lx_watch_free(w);
        return nullptr;
    }
    return w;
}

void lx_watch_stop(void*, void* token) {
    auto* w = static_cast<lx_watch*>(token);
    uint64_t one = 1;
    ssize_t r = ::write(w->stop_fd, &one, sizeof one);
    (void)r;
    if (w->thread.joinable()) w->thread.join();
    lx_watch_free(w);
}

const hid_backend g_linux = {
    "", nullptr, lx_enumerate, lx_open, lx_close, lx_write, lx_read, lx_cancel, lx_rearm, lx_flush,
    lx_probe, lx_watch_start, lx_watch_stop,
};

}  // namespace

const hid_backend* hid_linux_backend() { return &g_linux; }
const hid_backend* hid_system_backend() { return &g_linux; }

std::string hid_linux_hardware_ids(const char* hid_id, const char* revision_hex) {
    unsigned bus = 0, vid = 0, pid = 0;
    if (!hid_id || std::sscanf(hid_id, "%x:%x:%x", &bus, &vid, &pid) != 3) return {};
    char first[64], second[64];
    unsigned rev = 0;
    if (revision_hex && std::sscanf(revision_hex, "%x", &rev) == 1) {
        std::snprintf(first, sizeof first, "HID\\VID_%04X&PID_%04X&REV_%04X", vid & 0xFFFF, pid & 0xFFFF, rev & 0xFFFF);
    } else {
        std::snprintf(first, sizeof first, "HID\\VID_%04X&PID_%04X", vid & 0xFFFF, pid & 0xFFFF);
    }
    std::snprintf(second, sizeof second, "HID\\VID_%04X&PID_%04X", vid & 0xFFFF, pid & 0xFFFF);
    std::string ids = first;
    ids.push_back('\0');
    ids += second;
    ids.push_back('\0');
    return ids;
}
