// The diagnostics view's drain of 1000 waiting log records, from the view's creation until the
// last record is on screen, against its floor of 1000 x (the 2 ms pause + one exchange), with no
// latency and under the USB full-speed model, with the GUI thread's CPU time spent meanwhile; the
// GUI thread's CPU time while the view takes a flood for seconds on end; and the Tasks dialog
// filling its 16 rows under the USB model, alone and while the view drains a flood.
//
// The main window is shown (offscreen): what the list costs is mostly its painting.
#include "app/main_window.h"
#include "instrument/sim_bus.h"
#include "link/link.h"
#include "maintenance/diagnostics.h"
#include "maintenance/tasks.h"
#include "maintenance/tasks_dialog.h"
#include "ui/view.h"

#include <QApplication>
#include <QDialog>
#include <QEventLoop>
#include <QLineEdit>
#include <QTimer>
#include <QTreeWidget>

#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <ctime>

namespace {

using steady = std::chrono::steady_clock;
constexpr int RECORDS = 1000;

double ms_since(steady::time_point t0) { return std::chrono::duration<double, std::milli>(steady::now() - t0).count(); }

// CPU time of the calling thread (the GUI thread here), ms.
double thread_cpu_ms() {
    timespec t{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return double(t.tv_sec) * 1000.0 + double(t.tv_nsec) / 1e6;
}

// The instrument's log: exactly `n` records waiting, numbered from 2, nothing being read.
void waiting_records(sim_device& dev, int n) {
    dev.with_firmware([n](sim_firmware& fw) {
        fw.diag.ring.clear();
        fw.diag.next_counter = 2;
        fw.diag.reading = false;
        sim_diag_fill(fw.diag, n);
    });
}

// One exchange of the drain, timed on its own: the same command, reading real records.
double exchange_us(sim_device& dev) {
    waiting_records(dev, RECORDS);
    diag_log_read_start();
    log_record r;
    const auto t0 = steady::now();
    for (int i = 0; i < RECORDS; ++i) diag_log_read(r);
    return ms_since(t0) * 1000.0 / RECORDS;
}

int last_counter(QTreeWidget* list) {
    const int n = list->topLevelItemCount();
    return n ? list->topLevelItem(n - 1)->text(0).toInt() : 0;
}

void BM_DiagDrainThousandRecords(benchmark::State& state) {
    const auto latency = sim_latency(state.range(0));
    double took_total = 0, floor_total = 0, worst_pct = -100, exchange_total = 0, gui_cpu_total = 0;
    int runs = 0, rows = 0;
    for (auto _ : state) {
        state.PauseTiming();
        sim_bus_install();
        sim_bus_reset();
        auto dev = sim_bus_add();
        dev->set_latency(latency);
        auto* window = new main_window;
        window->show();
        link_open(dev->path().c_str(), LINK_TIMEOUT_CONNECT_MS);
        const double exchange = exchange_us(*dev);
        waiting_records(*dev, RECORDS);
        state.ResumeTiming();

        const auto t0 = steady::now();
        const double cpu0 = thread_cpu_ms();
        main_switch_view(VIEW_DIAGNOSTICS);
        QTreeWidget* list = main_current_view()->findChild<QTreeWidget*>(QStringLiteral("log_list"));
        // Sleeps until the next posted row: a busy loop here would take a core from the poller.
        while (last_counter(list) != RECORDS + 1) QApplication::processEvents(QEventLoop::WaitForMoreEvents);
        const double took_ms = ms_since(t0);
        gui_cpu_total += thread_cpu_ms() - cpu0;

        state.PauseTiming();
        const double floor_ms = RECORDS * (2.0 + exchange / 1000.0);
        took_total += took_ms;
        floor_total += floor_ms;
        exchange_total += exchange;
        worst_pct = std::max(worst_pct, 100.0 * (took_ms - floor_ms) / floor_ms);
        rows = list->topLevelItemCount();
        ++runs;
        delete window;
        link_close();
        sim_bus_reset();
        state.ResumeTiming();
    }
    state.counters["drain_ms"] = took_total / runs;
    state.counters["floor_ms"] = floor_total / runs;
    state.counters["over_floor_pct"] = 100.0 * (took_total - floor_total) / floor_total;
    state.counters["worst_over_floor_pct"] = worst_pct;
    state.counters["exchange_us"] = exchange_total / runs;
    state.counters["rows"] = rows;
    // GUI-thread CPU per drain of 1000 records, and as a share of one core over the drain.
    state.counters["gui_cpu_ms"] = gui_cpu_total / runs;
    state.counters["gui_cpu_pct"] = 100.0 * gui_cpu_total / took_total;
}

// Counts the paints of one widget.
class paint_counter : public QObject {
public:
    int paints = 0;

protected:
    bool eventFilter(QObject* watched, QEvent* e) override {
        if (e->type() == QEvent::Paint) ++paints;
        return QObject::eventFilter(watched, e);
    }
};

// The view taking a flood for a few seconds (no latency: about 470 records a second; the USB
// model: about 110), once it is in full swing: the
// records the instrument handed out, the GUI thread's CPU time per 1000 of them and as a share of
// one core, and how often the log list was painted.
void BM_DiagFloodGuiCpu(benchmark::State& state) {
    sim_bus_install();
    sim_bus_reset();
    sim_device_config config;
    config.firmware.diag.flood = true;
    auto dev = sim_bus_add(config);
    dev->set_latency(sim_latency(state.range(0)));
    dev->with_firmware([](sim_firmware& fw) { std::fill(std::begin(fw.diag.filters), std::end(fw.diag.filters), uint8_t(7)); });
    auto* window = new main_window;
    window->show();
    link_open(dev->path().c_str(), LINK_TIMEOUT_CONNECT_MS);
    main_switch_view(VIEW_DIAGNOSTICS);
    QEventLoop warm;
    QTimer::singleShot(1500, &warm, &QEventLoop::quit);
    warm.exec();
    paint_counter painted;
    main_current_view()->findChild<QTreeWidget*>(QStringLiteral("log_list"))->viewport()->installEventFilter(&painted);
    double cpu_total = 0, wall_total = 0;
    uint64_t records = 0;
    for (auto _ : state) {
        uint64_t served0 = 0, served1 = 0;
        dev->with_firmware([&](sim_firmware& fw) { served0 = fw.diag.served; });
        const auto t0 = steady::now();
        const double cpu0 = thread_cpu_ms();
        // The event loop runs as the program's would, asleep between events: a loop of
        // processEvents calls here would spin and count its own spinning.
        QEventLoop loop;
        QTimer::singleShot(3000, &loop, &QEventLoop::quit);
        loop.exec();
        cpu_total += thread_cpu_ms() - cpu0;
        wall_total += ms_since(t0);
        dev->with_firmware([&](sim_firmware& fw) { served1 = fw.diag.served; });
        records += served1 - served0;
    }
    state.counters["records_per_s"] = double(records) / (wall_total / 1000.0);
    state.counters["gui_cpu_ms_per_1000"] = records ? cpu_total * 1000.0 / double(records) : 0;
    state.counters["gui_cpu_pct"] = 100.0 * cpu_total / wall_total;
    state.counters["list_paints_per_s"] = painted.paints / (wall_total / 1000.0);
    delete window;
    link_close();
    sim_bus_reset();
}

// Opens the Tasks dialog over the view and returns how long it took until its 16 rows were
// filled and it was on show; closes it.
double tasks_dialog_fill_ms() {
    double shown_ms = -1;
    int rows = 0;
    QTimer poll;
    const auto t0 = steady::now();
    QObject::connect(&poll, &QTimer::timeout, [&] {
        auto* d = qobject_cast<QDialog*>(QApplication::activeModalWidget());
        if (!d || d->objectName() != QStringLiteral("tasks_dialog") || shown_ms >= 0) return;
        shown_ms = ms_since(t0);
        for (int r = 0; r < TASK_ROWS; ++r) {
            auto* name = d->findChild<QLineEdit*>(QStringLiteral("name_%1").arg(r));
            rows += name && name->isEnabled() && !name->text().isEmpty();
        }
        d->reject();
    });
    poll.start(0);
    tasks_dialog_run(main_current_view(), 0);
    if (rows != TASK_ROWS) return -1;
    return shown_ms;
}

void BM_TasksDialogSixteenRows(benchmark::State& state) {
    const bool flood = state.range(0) != 0;
    sim_bus_install();
    sim_bus_reset();
    sim_device_config config;
    sim_diag_set_task_count(config.firmware.diag, TASKS_MAX);
    config.firmware.diag.flood = flood;
    auto dev = sim_bus_add(config);
    dev->set_latency(sim_latency::usb_full_speed);
    // Debug on for every task: the instrument writes far faster than the link reads.
    dev->with_firmware([](sim_firmware& fw) { std::fill(std::begin(fw.diag.filters), std::end(fw.diag.filters), uint8_t(7)); });
    auto* window = new main_window;
    link_open(dev->path().c_str(), LINK_TIMEOUT_CONNECT_MS);
    main_switch_view(VIEW_DIAGNOSTICS);
    if (!flood) main_current_view()->shutdown();  // the dialog alone on the link
    const auto warm = steady::now();
    while (ms_since(warm) < 1500) QApplication::processEvents(QEventLoop::AllEvents, 5);
    uint64_t served0 = 0, served1 = 0;
    dev->with_firmware([&](sim_firmware& fw) { served0 = fw.diag.served; });
    const auto t0 = steady::now();
    double total = 0, worst = 0;
    int opened = 0;
    for (auto _ : state) {
        const double ms = tasks_dialog_fill_ms();
        if (ms < 0) {
            state.SkipWithError("the Tasks dialog did not show 16 rows");
            break;
        }
        total += ms;
        worst = std::max(worst, ms);
        ++opened;
    }
    const double elapsed_s = ms_since(t0) / 1000.0;
    dev->with_firmware([&](sim_firmware& fw) { served1 = fw.diag.served; });
    state.counters["fill_ms"] = opened ? total / opened : 0;
    state.counters["worst_ms"] = worst;
    state.counters["records_drained_per_s"] = double(served1 - served0) / elapsed_s;
    delete window;
    link_close();
    sim_bus_reset();
}

}  // namespace

BENCHMARK(BM_DiagDrainThousandRecords)->Arg(int(sim_latency::none))->Iterations(5)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_DiagDrainThousandRecords)
    ->Arg(int(sim_latency::usb_full_speed))
    ->Iterations(3)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();
BENCHMARK(BM_DiagFloodGuiCpu)->Arg(int(sim_latency::none))->Iterations(3)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_DiagFloodGuiCpu)->Arg(int(sim_latency::usb_full_speed))->Iterations(3)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_TasksDialogSixteenRows)->Arg(0)->Iterations(5)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_TasksDialogSixteenRows)->Arg(1)->Iterations(10)->Unit(benchmark::kMillisecond)->UseRealTime();
