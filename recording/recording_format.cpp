#include "recording/recording_format.h"

#include "link/bytes.h"
#include "link/command_frame.h"
#include "link/commands.h"

#include <nlohmann/json.hpp>

#include <cstdio>
#include <ctime>
#include <exception>

namespace {

using json = nlohmann::ordered_json;

const char* const KIND_NAMES[] = {
    "device", "open", "open_failed", "probe", "out", "out_failed", "in", "read_cancelled",
    "read_failed", "flush", "close", "arrival", "removal", "dropped", "end",
};
constexpr size_t KIND_COUNT = sizeof KIND_NAMES / sizeof KIND_NAMES[0];

// The system the tool runs on, never the computer's name.
const char* platform_text() {
#if defined(_WIN32)
#define REC_OS "Windows"
#elif defined(__linux__)
#define REC_OS "Linux"
#else
#define REC_OS "unknown"
#endif
#if defined(__x86_64__) || defined(_M_X64)
#define REC_ARCH "x86_64"
#elif defined(__aarch64__)
#define REC_ARCH "aarch64"
#elif defined(__i386__)
#define REC_ARCH "i386"
#else
#define REC_ARCH "unknown"
#endif
    return REC_OS " " REC_ARCH;
}

std::string hex(const std::vector<uint8_t>& bytes) {
    static const char DIGITS[] = "0123456789abcdef";
    std::string out;
    out.reserve(bytes.size() * 2);
    for (uint8_t b : bytes) {
        out.push_back(DIGITS[b >> 4]);
        out.push_back(DIGITS[b & 15]);
    }
    return out;
}

int hex_digit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

bool unhex(const std::string& text, std::vector<uint8_t>& out) {
    if (text.size() % 2 != 0 || text.size() > 2 * 4096) return false;
    out.clear();
    for (size_t i = 0; i < text.size(); i += 2) {
        const int hi = hex_digit(text[i]), lo = hex_digit(text[i + 1]);
        if (hi < 0 || lo < 0) return false;
        out.push_back(uint8_t(hi * 16 + lo));
    }
    return true;
}

}  // namespace

std::string rec_command_name(uint16_t code) {
    if (const char* name = command_name(code)) return std::string(name).substr(4);  // without "CMD_"
    char text[8];
    std::snprintf(text, sizeof text, "0x%04X", unsigned(code));
    return text;
}

std::string rec_frame_command_name(const std::vector<uint8_t>& frame) {
    return rec_command_name(get_u16le(frame.data() + FRAME_CODE));
}

std::string rec_header_line(const std::string& tool, int64_t start_unix_seconds) {
    const std::time_t start = std::time_t(start_unix_seconds);
    std::tm utc{};
#ifdef _WIN32
    gmtime_s(&utc, &start);
#else
    gmtime_r(&start, &utc);
#endif
    char when[32];
    std::strftime(when, sizeof when, "%Y-%m-%dT%H:%M:%SZ", &utc);
    json j;
    j["format"] = RECORDING_FORMAT;
    j["version"] = RECORDING_VERSION;
    j["tool"] = tool;
    j["platform"] = platform_text();
    j["start"] = when;
    return j.dump();
}

bool rec_is_header(const std::string& text) {
    const json j = json::parse(text, nullptr, false);
    if (!j.is_object()) return false;
    const auto format = j.find("format");
    const auto version = j.find("version");
    return format != j.end() && format->is_string() && *format == RECORDING_FORMAT && version != j.end() &&
           version->is_number_integer() && *version == RECORDING_VERSION;
}

std::string rec_format_line(const rec_line& line) {
    json j;
    j["t"] = line.t_us;
    j["ev"] = KIND_NAMES[size_t(line.kind)];
    if (!line.dev.empty()) j["dev"] = line.dev;
    switch (line.kind) {
        case rec_kind::device: {
            json ids = json::array();
            for (size_t at = 0; at < line.ids.size();) {
                const size_t stop = line.ids.find('\0', at);
                const size_t end = stop == std::string::npos ? line.ids.size() : stop;
                if (end > at) ids.push_back(line.ids.substr(at, end - at));
                at = end + 1;
            }
            j["ids"] = ids;
            break;
        }
        case rec_kind::out:
        case rec_kind::in:
            // The command and the sequence number in words too, for whoever reads the file.
            if (line.frame.size() >= FRAME_PAYLOAD) {
                j["cmd"] = rec_frame_command_name(line.frame);
                j["seq"] = line.frame[FRAME_SEQUENCE];
                if (line.kind == rec_kind::in) j["result"] = line.frame[FRAME_RESULT];
            }
            j["frame"] = hex(line.frame);
            break;
        case rec_kind::probe:
        case rec_kind::dropped:
        case rec_kind::end:
            j[line.kind == rec_kind::probe ? "value" : "count"] = line.value;
            break;
        default:
            break;
    }
    // Bytes that are not UTF-8 (a device path is whatever the system says) are replaced, not a
    // reason to lose the line.
    return j.dump(-1, ' ', false, json::error_handler_t::replace);
}

bool rec_parse_line(const std::string& text, rec_line& line) {
    const json j = json::parse(text, nullptr, false);
    if (!j.is_object()) return false;
    try {
        const auto t = j.find("t");
        const auto ev = j.find("ev");
        if (t == j.end() || !t->is_number_unsigned() || ev == j.end() || !ev->is_string()) return false;
        const std::string kind = ev->get<std::string>();
        size_t k = 0;
        while (k < KIND_COUNT && kind != KIND_NAMES[k]) ++k;
        if (k == KIND_COUNT) return false;
        line = rec_line{};
        line.kind = rec_kind(k);
        line.t_us = t->get<uint64_t>();
        if (const auto dev = j.find("dev"); dev != j.end()) line.dev = dev->get<std::string>();
        switch (line.kind) {
            case rec_kind::device:
                for (const auto& id : j.at("ids")) line.ids += id.get<std::string>() + std::string(1, '\0');
                break;
            case rec_kind::out:
            case rec_kind::in:
                if (!unhex(j.at("frame").get<std::string>(), line.frame)) return false;
                break;
            case rec_kind::probe:
                line.value = j.at("value").get<int64_t>();
                break;
            case rec_kind::dropped:
            case rec_kind::end:
                line.value = j.at("count").get<int64_t>();
                break;
            default:
                break;
        }
        return true;
    } catch (const std::exception&) {
        return false;  // a field of the wrong type: not a line of ours
    }
}
