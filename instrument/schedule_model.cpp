#include "instrument/schedule_model.h"

#include "instrument/firmware.h"
#include "link/bytes.h"
#include "link/commands.h"
#include "link/device_time.h"

#include <algorithm>
#include <cstring>

namespace {

bool leap_year(int y) { return (y % 4 == 0 && y % 100 != 0) || y % 400 == 0; }

// The clock keeps device time, so it takes a real calendar moment from 1970 up to the end of
// the 32-bit count and nothing else.
bool clock_fields_ok(const calendar_fields& f) {
    static const int DAYS[12] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    if (f.year < 1970 || f.month < 1 || f.month > 12) return false;
    const int days = f.month == 2 && leap_year(f.year) ? 29 : DAYS[f.month - 1];
    if (f.day < 1 || f.day > days) return false;
    if (f.hour > 23 || f.minute > 59 || f.second > 59) return false;
    return device_time_from_fields(f) != 0xFFFFFFFFu;
}

void put_waypoint(std::array<uint8_t, SIM_SCHEDULE_SIZE>& record, int i, uint16_t offset, uint8_t samples,
                  uint8_t volume, uint8_t timeout, bool clean) {
    uint8_t* w = record.data() + 8 + 6 * i;
    w[0] = uint8_t(1 | (clean ? 2 : 0));
    w[1] = samples;
    w[2] = volume;
    w[3] = timeout;
    put_u16le(w + 4, offset);
}

}  // namespace

sim_schedule::sim_schedule() {
    // As delivered: a sample of a litre one, two and three minutes after the scheduler starts.
    put_waypoint(record, 0, 1, 1, 10, 5, false);
    put_waypoint(record, 1, 2, 1, 10, 5, false);
    put_waypoint(record, 2, 3, 1, 10, 5, true);
    // What only the instrument reads: a format mark, then the cartridge's lot text and fill data.
    const uint8_t own[SIM_CARTRIDGE_SIZE] = {0xC3, 0x5A, 0, 0, 'L', 'O', 'T', '-', '7', 'Q', '2', 0x00, 0xA5, 0x5A, 0x01, 0x80, 0xFE};
    std::copy(std::begin(own), std::end(own), cartridge.begin());
}

sim_schedule_plan sim_schedule_plan_of(const sim_schedule& s) {
    sim_schedule_plan plan;
    plan.start = get_u32le(s.record.data() + 4);
    for (int i = 0; i < 15; ++i) {
        const uint8_t* w = s.record.data() + 8 + 6 * i;
        if (!(w[0] & 1)) continue;
        sim_waypoint p;
        p.clean = (w[0] & 2) != 0;
        p.samples = w[1];
        p.volume_tenths = w[2];
        p.timeout_min = w[3];
        p.offset_min = get_u16le(w + 4);
        plan.waypoints.push_back(p);
    }
    // Whatever order the entries came in, the waypoints fire in time order.
    std::stable_sort(plan.waypoints.begin(), plan.waypoints.end(),
                     [](const sim_waypoint& a, const sim_waypoint& b) { return a.offset_min < b.offset_min; });
    return plan;
}

bool sim_schedule_handle(sim_firmware& fw, const sim_request& rq, sim_answer& an) {
    sim_schedule& sc = fw.schedule;
    sim_sampler& sampler = fw.sampler;
    switch (rq.code) {
        case CMD_GET_CLOCK: {
            if (!sim_expect_length(rq, 0, an)) return true;
            an.length = SIM_CLOCK_SIZE;
            if (sc.clock_garbled) {
                std::memcpy(an.out, sc.garbled_clock.data(), SIM_CLOCK_SIZE);
                return true;
            }
            calendar_fields f;
            if (!device_time_to_fields(sampler.clock(rq.now_ms), f)) {
                an.result = SIM_RESULT_BAD_CLOCK;
                an.length = 0;
                return true;
            }
            put_u16le(an.out + 1, uint16_t(f.year));
            an.out[3] = uint8_t(f.month);
            an.out[4] = uint8_t(f.day);
            an.out[5] = uint8_t(f.hour);
            an.out[6] = uint8_t(f.minute);
            an.out[7] = uint8_t(f.second);
            return true;
        }
        case CMD_SET_CLOCK: {
            if (!sim_expect_length(rq, SIM_CLOCK_SIZE, an)) return true;
            const calendar_fields f{get_u16le(rq.in + 1), rq.in[3], rq.in[4], rq.in[5], rq.in[6], rq.in[7]};
            if (!clock_fields_ok(f)) {
                an.result = SIM_RESULT_BAD_CLOCK;
                return true;
            }
            sampler.set_clock(device_time_from_fields(f), rq.now_ms);
            return true;
        }
        case CMD_GET_SCHEDULE:
            if (!sim_expect_length(rq, 0, an)) return true;
            std::memcpy(an.out, sc.record.data(), SIM_SCHEDULE_SIZE);
            an.length = SIM_SCHEDULE_SIZE;
            return true;
        case CMD_SET_SCHEDULE:
            // Kept as sent; a schedule in control goes on with the plan it was started with.
            if (!sim_expect_length(rq, SIM_SCHEDULE_SIZE, an)) return true;
            std::memcpy(sc.record.data(), rq.in, SIM_SCHEDULE_SIZE);
            return true;
        case CMD_GET_CARTRIDGE:
            if (!sim_expect_length(rq, 0, an)) return true;
            sampler.advance(rq.now_ms);
            std::memcpy(an.out, sc.cartridge.data(), SIM_CARTRIDGE_SIZE);
            put_u16le(an.out + 2, sampler.top_cartridge);
            an.length = SIM_CARTRIDGE_SIZE;
            return true;
        case CMD_SET_CARTRIDGE:
            if (!sim_expect_length(rq, SIM_CARTRIDGE_SIZE, an)) return true;
            sampler.advance(rq.now_ms);
            std::memcpy(sc.cartridge.data(), rq.in, SIM_CARTRIDGE_SIZE);
            sampler.top_cartridge = get_u16le(rq.in + 2);
            put_u16le(sc.cartridge.data() + 2, 0);  // the ID lives with the sampler
            return true;
        default:
            return false;
    }
}

void sim_schedule_powered_up(sim_firmware& fw, uint64_t now_ms) {
    // An instrument left with autostart set takes up its schedule by itself when it powers up.
    if (fw.schedule.record[1] == 0 || fw.sampler.control == 0xFF) return;
    fw.sampler.start_schedule(now_ms, sim_schedule_plan_of(fw.schedule), true);
}
