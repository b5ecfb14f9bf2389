#include "platform/file_system.h"

#ifdef __linux__

#include <climits>
#include <cstdint>
#include <cstdlib>
#include <string>

#include <sys/stat.h>
#include <sys/vfs.h>

namespace {

// The file system types of the kernel's own trees (statfs f_type).
constexpr uint32_t PSEUDO_TYPES[] = {
    0x9fa0,      // proc
    0x62656572,  // sysfs
    0x1cd1,      // devpts
    0x64626720,  // debugfs
    0x74726163,  // tracefs
    0x73636673,  // securityfs
    0x27e0eb,    // cgroup
    0x63677270,  // cgroup2
    0x6165676c,  // pstore
    0xcafe4a11,  // bpf
    0x62656570,  // configfs
    0xde5e81e4,  // efivarfs
    0x65735543,  // fusectl
    0x19800202,  // mqueue
    0x42494e4d,  // binfmt_misc
    0xf97cff8c,  // selinuxfs
    0x6e736673,  // nsfs
};

bool under(const std::string& path, const char* root) {
    const std::string r = root;
    return path == r || path.rfind(r + "/", 0) == 0;
}

}  // namespace

bool file_system_is_pseudo(const char* path) {
    if (!path || !*path) return false;
    // The nearest part of the path that exists, links resolved: a file about to be made lies
    // where its folder lies.
    std::string at = path;
    char resolved[PATH_MAX];
    while (!::realpath(at.c_str(), resolved)) {
        const size_t slash = at.find_last_of('/');
        if (slash == std::string::npos) at = ".";
        else if (slash == 0) at = "/";
        else at = at.substr(0, slash);
        if (at == "/" || at == ".") {
            if (!::realpath(at.c_str(), resolved)) return false;
            break;
        }
    }
    const std::string real = resolved;
    if (under(real, "/proc") || under(real, "/sys") || under(real, "/dev")) return true;
    struct statfs fs {};
    if (::statfs(real.c_str(), &fs) == 0)
        for (uint32_t type : PSEUDO_TYPES)
            if (uint32_t(fs.f_type) == type) return true;
    // /dev is a tmpfs like any other by its type (devtmpfs): known by being the same mount.
    struct stat here {}, dev {}, root {};
    return ::stat(real.c_str(), &here) == 0 && ::stat("/dev", &dev) == 0 && ::stat("/", &root) == 0 &&
           dev.st_dev != root.st_dev && here.st_dev == dev.st_dev;
}

#else

bool file_system_is_pseudo(const char*) { return false; }

#endif
