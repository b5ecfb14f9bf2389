// veltranic-cli exporting a sample log of 1000 records, against its floor of 1000 x (the 2 ms
// pause + one exchange), the exchange timed on its own first; and a backup of every stored
// setting restored onto a second instrument whose every block differs (the exchanges each
// takes); with no latency and under the USB full-speed model.
#include "cli/cli.h"
#include "instrument/sim_bus.h"
#include "link/bytes.h"
#include "link/commands.h"
#include "link/link.h"

#include <benchmark/benchmark.h>

#include <chrono>
#include <cstdio>
#include <fstream>
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

int run_cli(std::vector<std::string> args, std::string* out = nullptr, const std::string& input = "") {
    args.insert(args.begin(), "veltranic-cli");
    std::vector<const char*> argv;
    for (const auto& a : args) argv.push_back(a.c_str());
    std::ostringstream o, e;
    std::istringstream in(input);
    cli_io io{o, e, in, false};
    const int rc = cli_run(int(argv.size()), argv.data(), io);
    if (out) *out = o.str();
    return rc;
}

void BM_CliBackupRestore(benchmark::State& state) {
    sim_bus_install();
    double backup_ms = 0, restore_ms = 0;
    size_t backup_exchanges = 0, restore_exchanges = 0;
    for (auto _ : state) {
        state.PauseTiming();
        sim_bus_reset();
        auto source = sim_bus_add({});
        auto target = sim_bus_add({});
        for (auto& dev : {source, target}) dev->set_latency(sim_latency(state.range(0)));
        // The target differs in every block that a restore writes.
        target->with_firmware([](sim_firmware& fw) {
            fw.settings.blocks[5][1] ^= 1;
            fw.settings.blocks[6][9] ^= 1;
            fw.settings.cleaning[6] ^= 1;
            fw.settings.rs232[1] = 0x80;
            fw.settings.rs232[2] = 0x25;
            for (int m = 1; m <= 5; ++m) fw.motors.motor[m].config[11] ^= 1;
            fw.schedule.record[1] ^= 1;
        });
        std::string backup;
        state.ResumeTiming();
        auto t0 = std::chrono::steady_clock::now();
        if (run_cli({"--device", "sim:1", "backup", "-"}, &backup) != CLI_OK) state.SkipWithError("backup failed");
        backup_ms = std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - t0).count();
        backup_exchanges = source->request_count();
        const std::string file = "/tmp/veltranic-bench-backup.json";
        { std::ofstream(file) << backup; }
        t0 = std::chrono::steady_clock::now();
        if (run_cli({"--device", "sim:2", "restore", file, "--yes"}) != CLI_OK) state.SkipWithError("restore failed");
        restore_ms = std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - t0).count();
        restore_exchanges = target->request_count();
        std::remove(file.c_str());
    }
    state.counters["backup_ms"] = backup_ms;
    state.counters["backup_exchanges"] = double(backup_exchanges);
    state.counters["restore_ms"] = restore_ms;
    state.counters["restore_exchanges"] = double(restore_exchanges);
    sim_bus_reset();
}

}  // namespace

BENCHMARK(BM_CliBackupRestore)->Arg(int(sim_latency::none))->Arg(int(sim_latency::usb_full_speed))->Iterations(3)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_CliSampleLogExport)->Arg(int(sim_latency::none))->Arg(int(sim_latency::usb_full_speed))->Iterations(3)->Unit(benchmark::kMillisecond)->UseRealTime();

BENCHMARK_MAIN();
