// The "Virtual Instrument" window's tab for the instrument's diagnostic log, tasks and LED.
#include "demo/panel.h"

#include "instrument/sim_bus.h"

#include <QCheckBox>
#include <QDoubleSpinBox>
#include <QFormLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QSpinBox>
#include <QTimer>
#include <QVBoxLayout>

#include <functional>
#include <memory>

QWidget* panel_diagnostics_tab(const panel_context& context) {
    auto* tab = new QWidget;
    tab->setObjectName(QStringLiteral("panel_diagnostics"));
    auto* outer = new QVBoxLayout(tab);

    auto* led_box = new QGroupBox(QStringLiteral("LED"));
    auto* ll = new QHBoxLayout(led_box);
    auto* led = new QLabel;
    led->setObjectName(QStringLiteral("led_state"));
    led->setMinimumWidth(180);
    ll->addWidget(led, 1);
    outer->addWidget(led_box);

    auto* log_box = new QGroupBox(QStringLiteral("Diagnostic Log"));
    auto* form = new QFormLayout(log_box);
    auto* rate = new QDoubleSpinBox;
    rate->setRange(0, 100);
    rate->setDecimals(1);
    rate->setSuffix(QStringLiteral(" per task per second"));
    form->addRow(QStringLiteral("Debug records:"), rate);
    auto* flood = new QCheckBox(QStringLiteral("Flood (500 per task per second)"));
    form->addRow(QString(), flood);
    auto* fill_row = new QHBoxLayout;
    auto* fill_count = new QSpinBox;
    fill_count->setRange(1, 5000);
    fill_count->setValue(100);
    fill_row->addWidget(fill_count);
    auto* fill = new QPushButton(QStringLiteral("Add Records"));
    fill_row->addWidget(fill);
    auto* error = new QPushButton(QStringLiteral("Write Error"));
    fill_row->addWidget(error);
    form->addRow(QStringLiteral("Log:"), fill_row);
    auto* stats = new QLabel;
    stats->setObjectName(QStringLiteral("log_stats"));
    stats->setWordWrap(true);
    form->addRow(stats);
    outer->addWidget(log_box);

    auto* task_box = new QGroupBox(QStringLiteral("Tasks"));
    auto* tl = new QHBoxLayout(task_box);
    auto* tasks = new QSpinBox;
    tasks->setRange(0, 255);
    tl->addWidget(new QLabel(QStringLiteral("Task count:")));
    tl->addWidget(tasks);
    auto* set_tasks = new QPushButton(QStringLiteral("Set"));
    tl->addWidget(set_tasks);
    tl->addStretch(1);
    outer->addWidget(task_box);
    outer->addStretch(1);

    // The controls follow the chosen instrument; what the tool changes (LED, filters) shows up.
    auto refresh = [=](bool controls) {
        auto dev = context.chosen();
        if (!dev) {
            led->setText(QStringLiteral("no instrument"));
            stats->clear();
            return;
        }
        dev->with_firmware([&](sim_firmware& fw) {
            const sim_diagnostics& d = fw.diag;
            led->setText(QStringLiteral("%1 (toggles: %2)")
                             .arg(d.led_on ? QStringLiteral("\u25CF on") : QStringLiteral("\u25CB off"))
                             .arg(d.led_toggles));
            int debug_on = 0;
            for (int t = 1; t <= sim_diag_task_count(d); ++t) debug_on += (d.filters[t] & 4) != 0;
            stats->setText(QStringLiteral("%1 of %2 records kept, next number %3; %4 written, %5 pushed out, %6 "
                                          "filtered out, %7 read. Debug on for %8 of %9 tasks.")
                               .arg(d.ring.size())
                               .arg(d.capacity)
                               .arg(d.next_counter)
                               .arg(d.written)
                               .arg(d.dropped)
                               .arg(d.filtered)
                               .arg(d.served)
                               .arg(debug_on)
                               .arg(sim_diag_task_count(d)));
            // The rate follows changes made elsewhere unless it is being typed; the task count
            // waits for its Set.
            const QSignalBlocker b1(rate), b2(flood);
            if (controls || !rate->hasFocus()) rate->setValue(d.debug_rate);
            flood->setChecked(d.flood);
            if (controls) tasks->setValue(sim_diag_task_count(d));
        });
    };
    auto change = [context](const std::function<void(sim_firmware&)>& fn) {
        if (auto dev = context.chosen()) dev->with_firmware(fn);
    };
    QObject::connect(rate, &QDoubleSpinBox::valueChanged, tab, [change](double v) {
        change([v](sim_firmware& fw) { fw.diag.debug_rate = v; });
    });
    QObject::connect(flood, &QCheckBox::toggled, tab, [change](bool on) { change([on](sim_firmware& fw) { fw.diag.flood = on; }); });
    QObject::connect(fill, &QPushButton::clicked, tab, [change, fill_count] {
        const int n = fill_count->value();
        change([n](sim_firmware& fw) { sim_diag_fill(fw.diag, n); });
    });
    QObject::connect(error, &QPushButton::clicked, tab, [change] {
        change([](sim_firmware& fw) { sim_diag_write(fw.diag, 5, 1, "read_sensor", 733, "Pressure sensor not responding"); });
    });
    QObject::connect(set_tasks, &QPushButton::clicked, tab, [change, tasks] {
        const int n = tasks->value();
        change([n](sim_firmware& fw) { sim_diag_set_task_count(fw.diag, n); });
    });
    // Another instrument chosen: its settings fill the controls.
    auto shown = std::make_shared<const sim_device*>(nullptr);
    auto tick = [refresh, shown, context] {
        const auto dev = context.chosen();
        const bool other = dev.get() != *shown;
        *shown = dev.get();
        refresh(other);
    };
    auto* timer = new QTimer(tab);
    QObject::connect(timer, &QTimer::timeout, tab, tick);
    timer->start(500);
    QTimer::singleShot(0, tab, tick);
    return tab;
}
