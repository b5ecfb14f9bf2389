// One rebuild of the connect view's list with 1 and with 4 virtual instruments attached: each
// is opened, asked for its identity and closed again. Also: the run view's first sample-log
// pass, upgrade throughput, and one paint of a trend after a minute and after a day.
#include "app/connect_view.h"
#include "app/main_window.h"
#include "instrument/sim_bus.h"
#include "link/bytes.h"
#include "link/commands.h"
#include "link/link.h"
#include "maintenance/upgrade.h"
#include "ui/trend_plot.h"
#include "ui/view.h"

#include <atomic>
#include <cstdio>
#include <fstream>
#include <vector>

#include <QTreeWidget>

#include <chrono>

#include <QApplication>
#include <QImage>

#include <benchmark/benchmark.h>

namespace {

void BM_ConnectRebuildList(benchmark::State& state) {
    sim_bus_install();
    sim_bus_reset();
    for (int i = 0; i < state.range(0); ++i) sim_bus_add();
    auto* window = new main_window;
    for (auto _ : state) connect_rebuild_list(main_current_view());
    delete window;
    sim_bus_reset();
}

// The run view's first pass over a sample log of 1000 records, against its floor of 1000 x
// (the 2 ms pause + one exchange), the exchange timed on its own first.
void BM_SampleLogFirstPass(benchmark::State& state) {
    const int records = int(state.range(0));
    double exchange_us = 0;
    for (auto _ : state) {
        state.PauseTiming();
        sim_bus_install();
        sim_bus_reset();
        sim_device_config config;
        config.firmware.sampler.fill_log(records, 0);
        auto dev = sim_bus_add(config);
        auto* window = new main_window;
        link_open(dev->path().c_str(), 3000);
        {
            command_frame f;
            const auto t0 = std::chrono::steady_clock::now();
            for (int i = 0; i < 1000; ++i) {
                frame_prepare(f, CMD_READ_SAMPLE_RECORD, 2);
                put_u16le(frame_payload(f), uint16_t(i % records));
                link_transact(f);
            }
            exchange_us = std::chrono::duration<double, std::micro>(std::chrono::steady_clock::now() - t0).count() / 1000;
        }
        state.ResumeTiming();
        const auto t0 = std::chrono::steady_clock::now();
        main_switch_view(VIEW_RUN);
        QTreeWidget* list = main_current_view()->findChild<QTreeWidget*>(QStringLiteral("sample_list"));
        while (list->topLevelItemCount() < records) QApplication::processEvents(QEventLoop::AllEvents, 5);
        const double took_ms = std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - t0).count();
        state.PauseTiming();
        const double floor_ms = records * (2.0 + exchange_us / 1000.0);
        state.counters["first_pass_ms"] = took_ms;
        state.counters["floor_ms"] = floor_ms;
        state.counters["over_floor_pct"] = 100.0 * (took_ms - floor_ms) / floor_ms;
        state.counters["exchange_us"] = exchange_us;
        delete window;
        link_close();
        sim_bus_reset();
        state.ResumeTiming();
    }
}

// Upgrade throughput for a 256 KiB image, with and without the USB full-speed latency model
// (its limit: 64 bytes per 6 ms exchange, about 10.7 KB/s, with report id 1).
void BM_UpgradeThroughput(benchmark::State& state) {
    const std::string path = "/tmp/veltranic-bench-image.bin";
    {
        std::ofstream out(path, std::ios::binary);
        std::vector<char> bytes(256 * 1024, 'x');
        out.write(bytes.data(), std::streamsize(bytes.size()));
    }
    sim_bus_install();
    sim_bus_reset();
    sim_device_config config;
    config.firmware.mode = sim_mode::bootloader;
    auto dev = sim_bus_add(config);
    dev->set_latency(sim_latency(state.range(0)));
    link_open(dev->path().c_str(), 5000);
    std::atomic<int> stop{0};
    uint32_t written = 0;
    for (auto _ : state) {
        upgrade_outcome out = upgrade_run(path, IMAGE_BASE_FIRMWARE, stop, {});
        if (out.failed) state.SkipWithError("upgrade failed");
        written += out.bytes_written;
    }
    state.counters["bytes_per_s"] = benchmark::Counter(double(written), benchmark::Counter::kIsRate);
    if (state.range(0) == int(sim_latency::usb_full_speed))
        state.counters["of_model_limit_pct"] = benchmark::Counter(double(written) * 100.0 / (64.0 / 0.006),
                                                                  benchmark::Counter::kIsRate);
    link_close();
    sim_bus_reset();
    std::remove(path.c_str());
}

}  // namespace

// One paint of the run view's trend, after a minute and after a whole day at one sample a second
// (three curves, 620 x 250 pixels): the cost of the plot's one paint a second.
void BM_TrendPaint(benchmark::State& state) {
    trend_plot plot;
    plot.set_curves({{"Volume", "litre", "%.3f", 0}, {"Flow rate", "litre/min", "%.2f", 1}, {"Max pressure", "bar", "%.3f", 2}});
    plot.resize(620, 250);
    for (int t = 0; t < state.range(0); ++t) {
        const float v[3] = {float(t % 900) * 0.01f, t % 900 ? 24.0f : NAN, 1.0f + float(t % 900) * 0.001f};
        plot.add_at(t, v);
    }
    QImage image(plot.size(), QImage::Format_RGB32);
    for (auto _ : state) plot.render(&image);
    state.counters["buckets"] = plot.live().size();
}

BENCHMARK(BM_TrendPaint)->Arg(60)->Arg(86400)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_UpgradeThroughput)->Arg(int(sim_latency::none))->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_UpgradeThroughput)->Arg(int(sim_latency::usb_full_speed))->Iterations(1)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_SampleLogFirstPass)->Arg(1000)->Iterations(3)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_ConnectRebuildList)->Arg(1)->Arg(4)->Unit(benchmark::kMicrosecond)->UseRealTime();
