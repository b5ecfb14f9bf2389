// veltranic-cli exporting a sample log of 1000 records, against its floor of 1000 x (the 2 ms
// pause + one exchange), the exchange timed on its own first; with no latency and under the
// USB full-speed model.
#include "cli/cli.h"
#include "instrument/sim_bus.h"
#include "link/bytes.h"
#include "link/commands.h"
#include "link/link.h"

#include <benchmark/benchmark.h>

#include <chrono>
#include <sstream>
#include <string>
#include <vector>

namespace {

void BM_CliSampleLogExport(benchmark::State& state) {
    const int records = 1000;
    sim_bus_install();
    sim_bus_reset();
    sim_device_config config;
    config.firmware.sampler.fill_log(records, 0);
    auto dev = sim_bus_add(config);
    dev->set_latency(sim_latency(state.range(0)));
    double exchange_us = 0;
    {
        link_open(dev->path().c_str(), 3000);
        command_frame f;
        const auto t0 = std::chrono::steady_clock::now();
        for (int i = 0; i < 200; ++i) {
            frame_prepare(f, CMD_READ_SAMPLE_RECORD, 2);
            put_u16le(frame_payload(f), uint16_t(i));
            link_transact(f);
        }
        exchange_us = std::chrono::duration<double, std::micro>(std::chrono::steady_clock::now() - t0).count() / 200;
        link_close();
    }
    const char* argv[] = {"veltranic-cli", "sample-log", "--device", "sim:1"};
    double took_ms = 0;
    for (auto _ : state) {
        std::ostringstream out, err;
        std::istringstream in;
        cli_io io{out, err, in, false};
        const auto t0 = std::chrono::steady_clock::now();
        if (cli_run(4, argv, io) != CLI_OK) state.SkipWithError("export failed");
        took_ms = std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - t0).count();
    }
    const double floor_ms = records * (2.0 + exchange_us / 1000.0);
    state.counters["export_ms"] = took_ms;
    state.counters["floor_ms"] = floor_ms;
    state.counters["over_floor_pct"] = 100.0 * (took_ms - floor_ms) / floor_ms;
    state.counters["exchange_us"] = exchange_us;
    sim_bus_reset();
}

}  // namespace

BENCHMARK(BM_CliSampleLogExport)->Arg(int(sim_latency::none))->Arg(int(sim_latency::usb_full_speed))->Iterations(3)->Unit(benchmark::kMillisecond)->UseRealTime();

BENCHMARK_MAIN();
