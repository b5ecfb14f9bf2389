#include "platform/pc_clock.h"

#include <atomic>
#include <ctime>

namespace {
std::atomic<uint32_t> g_pinned{0};
}

uint32_t pc_clock_utc_seconds() {
    uint32_t pinned = g_pinned;
    return pinned ? pinned : uint32_t(std::time(nullptr));
}

pc_local_time pc_clock_local() {
    std::time_t now = std::time_t(pc_clock_utc_seconds());
    std::tm tm{};
#ifdef _WIN32
    localtime_s(&tm, &now);
#else
    localtime_r(&now, &tm);
#endif
    return {tm.tm_year + 1900, tm.tm_mon + 1, tm.tm_mday, tm.tm_hour, tm.tm_min, tm.tm_sec};
}

void pc_clock_pin(uint32_t utc_seconds) { g_pinned = utc_seconds; }
