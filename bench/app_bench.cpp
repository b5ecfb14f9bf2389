// One rebuild of the connect view's list with 1 and with 4 virtual instruments attached: each
// is opened, asked for its identity and closed again.
#include "app/connect_view.h"
#include "app/main_window.h"
#include "instrument/sim_bus.h"

#include <QApplication>

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

}  // namespace

BENCHMARK(BM_ConnectRebuildList)->Arg(1)->Arg(4)->Unit(benchmark::kMicrosecond)->UseRealTime();

int main(int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
