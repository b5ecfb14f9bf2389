#include "sampler/clock.h"

#include "link/bytes.h"
#include "link/command_frame.h"
#include "link/commands.h"
#include "link/field_text.h"
#include "link/worker_thread.h"

#include <cstring>

namespace {

constexpr uint32_t POLL_PERIOD_MS = 1000;

bool leap_year(int y) { return (y % 4 == 0 && y % 100 != 0) || y % 400 == 0; }

int days_in_month(int year, int month) {
    static const int DAYS[12] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    return month == 2 && leap_year(year) ? 29 : DAYS[month - 1];
}

}  // namespace

calendar_fields clock_time_fields(const clock_time& c) {
    const uint8_t* b = c.bytes;
    return {int(get_u16le(b + 1)), int(b[3]), int(b[4]), int(b[5]), int(b[6]), int(b[7])};
}

clock_time clock_time_make(const calendar_fields& f) {
    clock_time c{};
    put_u16le(c.bytes + 1, uint16_t(f.year));
    c.bytes[3] = uint8_t(f.month);
    c.bytes[4] = uint8_t(f.day);
    c.bytes[5] = uint8_t(f.hour);
    c.bytes[6] = uint8_t(f.minute);
    c.bytes[7] = uint8_t(f.second);
    return c;
}

bool clock_fields_valid(const calendar_fields& f) {
    if (f.year < 1970 || f.month < 1 || f.month > 12) return false;
    if (f.day < 1 || f.day > days_in_month(f.year, f.month)) return false;
    if (f.hour < 0 || f.hour > 23 || f.minute < 0 || f.minute > 59 || f.second < 0 || f.second > 59) return false;
    return device_time_from_fields(f) != 0xFFFFFFFFu;  // 2038-01-19 03:14:07 is the last
}

std::string clock_range_text() {
    char first[21], last[21];
    return text_printf("The clock can hold a time between %s and %s. The clock was not set.", time_text(0, first),
                       time_text(0x7FFFFFFF, last));
}

bool clock_time_to_device(const clock_time& c, uint32_t* out) {
    const calendar_fields f = clock_time_fields(c);
    if (!clock_fields_valid(f)) return false;
    *out = device_time_from_fields(f);
    return true;
}

std::string clock_time_text(const clock_time& c) {
    const calendar_fields f = clock_time_fields(c);
    return text_printf("%02d/%02d/%04d %02d:%02d:%02d", f.day, f.month, f.year, f.hour, f.minute, f.second);
}

int clock_read(clock_time& out) {
    command_frame f;
    frame_prepare(f, CMD_GET_CLOCK, 0);
    const int r = command_read(f, CLOCK_TIME_SIZE);
    if (r == 0) std::memcpy(out.bytes, frame_payload(f), CLOCK_TIME_SIZE);
    return r;
}

int clock_write(const clock_time& c) {
    command_frame f;
    frame_prepare(f, CMD_SET_CLOCK, CLOCK_TIME_SIZE);
    std::memcpy(frame_payload(f), c.bytes, CLOCK_TIME_SIZE);
    frame_payload(f)[0] = 0;
    return command_exchange(f);
}

int clock_poll_run(worker_thread* self, clock_show_fn show) {
    for (;;) {
        clock_time c;
        show(self, clock_read(c) == 0 ? clock_time_text(c) : std::string(CLOCK_ERROR_TEXT));
        if (worker_thread_stopping(self)) return 0;
        worker_thread_wait(self, POLL_PERIOD_MS);
        if (worker_thread_stopping(self)) return 0;
    }
}
