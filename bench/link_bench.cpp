// Exchanges per second through the link against the virtual instrument.
//
//   BM_LinkTransact/none          link_transact, no transfer latency
//   BM_DirectTransport/none       the same exchange made directly on the transport by one thread
//   BM_LinkTransact/usb_full_speed  with the USB full-speed latency model (limit: 1000/6 per s)
//   BM_LinkTransactRecorded/...     the same while every frame is recorded (--record): its
//                                   exchanges per second against BM_LinkTransact's (goal: within 2 %)
//
// The counters report exchanges per second; compare them with each other and with the limit.
#include "instrument/sim_bus.h"
#include "link/commands.h"
#include "link/link.h"
#include "platform/hid_bus.h"
#include "recording/recorder.h"

#include <benchmark/benchmark.h>

#include <cstdio>
#include <filesystem>
#include <string>

namespace {

std::shared_ptr<sim_device> fresh_device(sim_latency latency) {
    sim_bus_install();
    sim_bus_reset();
    auto dev = sim_bus_add();
    dev->set_latency(latency);
    return dev;
}

void BM_LinkTransact(benchmark::State& state) {
    auto dev = fresh_device(sim_latency(state.range(0)));
    if (link_open(dev->path().c_str(), 1000) != 0) {
        state.SkipWithError("open failed");
        return;
    }
    command_frame f;
    for (auto _ : state) {
        frame_prepare(f, CMD_GET_FIRMWARE_INFO, 0);
        if (link_transact(f) != LINK_OK) {
            state.SkipWithError("exchange failed");
            break;
        }
    }
    state.counters["exchanges_per_s"] = benchmark::Counter(double(state.iterations()), benchmark::Counter::kIsRate);
    link_close();
}

void BM_LinkTransactRecorded(benchmark::State& state) {
    const std::string file = (std::filesystem::temp_directory_path() / "veltranic-link-bench.jsonl").string();
    if (recorder_start(file.c_str(), "link_bench") != 0) {
        state.SkipWithError("cannot record");
        return;
    }
    BM_LinkTransact(state);
    state.counters["dropped_lines"] = double(recorder_dropped());
    if (recorder_stop() != 0) state.SkipWithError("recording failed");
    std::remove(file.c_str());
}

void BM_DirectTransport(benchmark::State& state) {
    auto dev = fresh_device(sim_latency(state.range(0)));
    hid_port* port = hid_port_open(dev->path().c_str());
    if (!port) {
        state.SkipWithError("open failed");
        return;
    }
    command_frame f;
    uint8_t seq = 1;
    for (auto _ : state) {
        frame_prepare(f, CMD_GET_FIRMWARE_INFO, 0);
        f.bytes[FRAME_REPORT_ID] = 1;
        f.bytes[FRAME_SEQUENCE] = ++seq;
        command_frame in;
        if (hid_port_write(port, f.bytes, FRAME_SIZE) != HID_OK || hid_port_read(port, in.bytes, FRAME_SIZE) != HID_OK) {
            state.SkipWithError("exchange failed");
            break;
        }
    }
    state.counters["exchanges_per_s"] = benchmark::Counter(double(state.iterations()), benchmark::Counter::kIsRate);
    hid_port_close(port);
}

}  // namespace

BENCHMARK(BM_LinkTransact)->Arg(int(sim_latency::none))->UseRealTime();
BENCHMARK(BM_DirectTransport)->Arg(int(sim_latency::none))->UseRealTime();
BENCHMARK(BM_LinkTransactRecorded)->Arg(int(sim_latency::none))->UseRealTime();
BENCHMARK(BM_LinkTransact)->Arg(int(sim_latency::usb_full_speed))->UseRealTime()->MinTime(3.0);
BENCHMARK(BM_LinkTransactRecorded)->Arg(int(sim_latency::usb_full_speed))->UseRealTime()->MinTime(3.0);
BENCHMARK(BM_DirectTransport)->Arg(int(sim_latency::usb_full_speed))->UseRealTime()->MinTime(3.0);

BENCHMARK_MAIN();
