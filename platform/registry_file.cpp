#include "platform/registry.h"

#include "platform/file_replace.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

constexpr const char* ROOT = "HKEY_CURRENT_USER\\";
constexpr const char* HEADER = "Windows Registry Editor Version 5.00";

std::string config_dir() {
    const char* xdg = std::getenv("XDG_CONFIG_HOME");
    if (xdg && *xdg) return std::string(xdg) + "/veltranic";
    const char* home = std::getenv("HOME");
    return std::string(home && *home ? home : ".") + "/.config/veltranic";
}

// Makes the store's folder and every missing folder above it (a fresh home has no ~/.config),
// each readable by this user alone. 0, or the error number.
int make_config_dir() {
    const std::string dir = config_dir();
    for (size_t slash = dir.find('/', 1);; slash = dir.find('/', slash + 1)) {
        const std::string part = dir.substr(0, slash);
        if (::mkdir(part.c_str(), 0700) != 0 && errno != EEXIST) return errno;
        if (slash == std::string::npos) break;
    }
    struct stat st {};
    if (::stat(dir.c_str(), &st) != 0) return errno;
    return S_ISDIR(st.st_mode) ? 0 : ENOTDIR;
}

// Key paths and value names compare as the registry compares them: without regard to case.
bool same_name(const std::string& a, const std::string& b) {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i) {
        const unsigned char x = static_cast<unsigned char>(a[i]), y = static_cast<unsigned char>(b[i]);
        if ((x >= 'A' && x <= 'Z' ? x + 32 : x) != (y >= 'A' && y <= 'Z' ? y + 32 : y)) return false;
    }
    return true;
}

// The store as read: its lines exactly as they are, each with its own line end (the last may
// have none), so that a rewrite changes only the lines of the value it writes.
struct reg_file {
    std::vector<std::string> lines;
};

// A line without its line end.
std::string text_of(const std::string& line) {
    size_t end = line.size();
    if (end && line[end - 1] == '\n') --end;
    if (end && line[end - 1] == '\r') --end;
    return line.substr(0, end);
}

// The key path of a section line ("[HKEY_CURRENT_USER\path]"); false for any other line.
bool section_of(const std::string& line, std::string& path) {
    std::string text = text_of(line);
    while (!text.empty() && (text.back() == ' ' || text.back() == '\t')) text.pop_back();
    if (text.size() < 2 || text.front() != '[' || text.back() != ']') return false;
    path = text.substr(1, text.size() - 2);
    if (path.size() >= std::strlen(ROOT) && same_name(path.substr(0, std::strlen(ROOT)), ROOT))
        path = path.substr(std::strlen(ROOT));
    return true;
}

// The name and data of a named value's line ("\"NAME\"=data", the name with \" and \\ escaped);
// false for any other line (comments, the default value "@=", blank lines).
bool value_of(const std::string& line, std::string& name, std::string& data) {
    const std::string text = text_of(line);
    if (text.empty() || text.front() != '"') return false;
    name.clear();
    for (size_t i = 1; i < text.size(); ++i) {
        if (text[i] == '\\' && i + 1 < text.size()) {
            name += text[++i];
        } else if (text[i] == '"') {
            if (i + 1 >= text.size() || text[i + 1] != '=') return false;
            data = text.substr(i + 2);
            return true;
        } else {
            name += text[i];
        }
    }
    return false;
}

// A line ending in a backslash goes on in the next line (long hex: values are written so).
bool continues(const std::string& line) {
    const std::string text = text_of(line);
    return !text.empty() && text.back() == '\\';
}

// Reads the store: 0, and an empty store when there is no file yet; otherwise the error number
// (a store that exists but cannot be read must not be overwritten with one value).
int load(reg_file& out) {
    out.lines.clear();
    FILE* file = std::fopen(registry_file_path().c_str(), "rb");
    if (!file) return errno == ENOENT ? 0 : errno;
    std::string all;
    char buf[4096];
    size_t n;
    while ((n = std::fread(buf, 1, sizeof buf, file)) > 0) all.append(buf, n);
    const bool failed = std::ferror(file) != 0;
    std::fclose(file);
    if (failed) return EIO;
    for (size_t start = 0; start < all.size();) {
        const size_t end = all.find('\n', start);
        const size_t next = end == std::string::npos ? all.size() : end + 1;
        out.lines.push_back(all.substr(start, next - start));
        start = next;
    }
    return 0;
}

// One value of a key as the store holds it: where its lines are and what it says.
struct value_entry {
    size_t first, end;  // lines [first, end): a value line and the lines it continues in
    std::string data;   // of a value that fits its line; empty for one that goes on
};

// Walks the store: every section of key_path (however often the key appears) and every value
// called name in them, in file order.
struct key_scan {
    std::vector<size_t> sections;      // the section lines of the key
    std::vector<size_t> section_ends;  // the line after the last non-blank line of each
    std::vector<value_entry> values;
};

key_scan scan(const reg_file& f, const char* key_path, const char* name) {
    key_scan s;
    bool in_key = false;
    for (size_t i = 0; i < f.lines.size();) {
        std::string path, value_name, data;
        if (section_of(f.lines[i], path)) {
            in_key = same_name(path, key_path);
            if (in_key) {
                s.sections.push_back(i);
                s.section_ends.push_back(i + 1);
            }
            ++i;
            continue;
        }
        // A value (named, or the default "@=") may go on over the lines that follow it.
        size_t end = i + 1;
        bool long_value = false;
        const char lead = f.lines[i].front();
        if (lead == '"' || lead == '@')
            for (size_t j = i; continues(f.lines[j]) && end < f.lines.size(); ++j, ++end) long_value = true;
        if (in_key) {
            if (value_of(f.lines[i], value_name, data) && same_name(value_name, name))
                s.values.push_back({i, end, long_value ? std::string() : data});
            if (!text_of(f.lines[end - 1]).empty() || end - i > 1) s.section_ends.back() = end;
        }
        i = end;
    }
    return s;
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

// The line end the store uses: that of its first line, CR LF for a new store.
std::string line_end_of(const reg_file& f) {
    if (!f.lines.empty() && f.lines[0].size() >= 2 && f.lines[0].compare(f.lines[0].size() - 2, 2, "\r\n") == 0)
        return "\r\n";
    if (!f.lines.empty() && !f.lines[0].empty() && f.lines[0].back() == '\n') return "\n";
    return "\r\n";
}

std::string quoted_name(const char* name) {
    std::string out = "\"";
    for (const char* p = name; *p; ++p) {
        if (*p == '"' || *p == '\\') out += '\\';
        out += *p;
    }
    return out + "\"";
}

// Holds the store's lock file for one read-modify-write, so two copies of the tool that save
// at the same moment never lose each other's values. Without the lock (it cannot be created)
// the write still happens, as it would with one copy.
class store_lock {
public:
    store_lock() {
        fd_ = ::open((config_dir() + "/settings.lock").c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
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

// The first value of that name in the key's sections, in file order: the one that writes change.
int registry_get_dword(const char* key_path, const char* name, uint32_t* value) {
    reg_file f;
    if (load(f) != 0) return 1;
    const key_scan s = scan(f, key_path, name);
    if (s.values.empty()) return 1;
    return parse_dword(s.values.front().data, value) ? 0 : 1;
}

// Rewrites every line of that value in the key's sections (a key written twice in the file
// keeps one value either way); a new value goes at the end of the key's first section, a new
// key at the end of the file. Every other line stays as it was, byte for byte.
int registry_set_dword(const char* key_path, const char* name, uint32_t value) {
    if (make_config_dir() != 0) return 1;
    store_lock lock;
    reg_file f;
    if (load(f) != 0) return 1;
    const std::string eol = line_end_of(f);
    char data[16];
    std::snprintf(data, sizeof data, "dword:%08x", value);
    const std::string line = quoted_name(name) + "=" + data;
    const key_scan s = scan(f, key_path, name);

    std::vector<std::string> out;
    auto keep = [&](size_t i) { out.push_back(f.lines[i]); };
    // The last line of the file may lack its line end; a line added after it needs one.
    auto ended = [&] {
        if (!out.empty() && out.back().back() != '\n') out.back() += eol;
    };
    if (!s.values.empty()) {
        size_t next = 0;
        for (const value_entry& v : s.values) {
            while (next < v.first) keep(next++);
            const std::string& old_last = f.lines[v.end - 1];
            const bool had_end = !old_last.empty() && old_last.back() == '\n';
            const std::string& old_first = f.lines[v.first];
            const std::string own_end = old_first.size() >= 2 && old_first.compare(old_first.size() - 2, 2, "\r\n") == 0
                                            ? "\r\n"
                                            : (old_first.back() == '\n' ? "\n" : eol);
            out.push_back(line + (had_end ? own_end : ""));
            next = v.end;
        }
        while (next < f.lines.size()) keep(next++);
    } else if (!s.sections.empty()) {
        const size_t at = s.section_ends.front();
        for (size_t i = 0; i < at; ++i) keep(i);
        ended();
        // A value whose last line still says it goes on (the file was cut short) would take the
        // new line as its own: a blank line ends it first.
        if (!out.empty() && continues(out.back())) out.push_back(eol);
        out.push_back(line + eol);
        for (size_t i = at; i < f.lines.size(); ++i) keep(i);
    } else {
        for (size_t i = 0; i < f.lines.size(); ++i) keep(i);
        ended();
        if (out.empty()) out.push_back(HEADER + eol);
        out.push_back(eol);
        out.push_back("[" + std::string(ROOT) + key_path + "]" + eol);
        out.push_back(line + eol);
    }
    std::string text;
    for (const std::string& l : out) text += l;
    return file_replace(registry_file_path().c_str(), text) == 0 ? 0 : 1;
}
