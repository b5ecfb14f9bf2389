// The "Virtual Instrument" window's tab for the instrument's diagnostic log, tasks and LED, and
// the odd values a technician meets there: records of an unknown severity or with texts that
// fill their fields, a task count that changes between two reads, readings of 0.0 and NaN.
#include "demo/panel.h"

#include "instrument/sim_bus.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDoubleSpinBox>
#include <QFormLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QSpinBox>
#include <QTimer>
#include <QVBoxLayout>

#include <cmath>
#include <functional>
#include <limits>
#include <memory>
#include <string>
#include <vector>

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
    // A record older or faulty firmware leaves: a severity of no known kind, texts that fill
    // their fields with no NUL. Kept past the filters.
    auto* odd_row = new QHBoxLayout;
    auto* severity = new QSpinBox;
    severity->setObjectName(QStringLiteral("odd_severity"));
    severity->setRange(0, 255);
    severity->setValue(8);
    severity->setPrefix(QStringLiteral("severity "));
    odd_row->addWidget(severity);
    auto* unterminated = new QCheckBox(QStringLiteral("Texts fill their fields"));
    unterminated->setChecked(true);
    odd_row->addWidget(unterminated);
    auto* odd = new QPushButton(QStringLiteral("Write Odd Record"));
    odd->setObjectName(QStringLiteral("odd_record"));
    odd_row->addWidget(odd);
    odd_row->addStretch(1);
    form->addRow(QStringLiteral("Odd record:"), odd_row);
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
    // The count changes between the Tasks dialog's two reads of it.
    auto* first_count = new QSpinBox;
    first_count->setRange(0, 255);
    first_count->setValue(3);
    auto* second_count = new QSpinBox;
    second_count->setRange(0, 255);
    second_count->setValue(9);
    tl->addSpacing(16);
    tl->addWidget(new QLabel(QStringLiteral("Next two count reads answer:")));
    tl->addWidget(first_count);
    tl->addWidget(second_count);
    auto* arm_counts = new QPushButton(QStringLiteral("Arm"));
    arm_counts->setObjectName(QStringLiteral("arm_task_counts"));
    tl->addWidget(arm_counts);
    tl->addStretch(1);
    outer->addWidget(task_box);

    // The status record's readings answered as a sensor that is missing (0.0) or failed (NaN)
    // would give them. Cleared from the Faults tab too, so the boxes follow the instrument.
    auto* readings_box = new QGroupBox(QStringLiteral("Status Readings"));
    auto* rl = new QHBoxLayout(readings_box);
    std::vector<QComboBox*> readings;
    for (int i = 0; i < SIM_READING_COUNT; ++i) {
        const QString name = QString::fromLatin1(sim_reading_name(sim_reading(i)));
        auto* box = new QComboBox;
        box->setObjectName(QStringLiteral("reading_%1").arg(i));
        box->addItems({QStringLiteral("as measured"), QStringLiteral("0.0"), QStringLiteral("NaN")});
        box->setToolTip(name);
        rl->addWidget(new QLabel(name.left(1).toUpper() + name.mid(1) + QLatin1Char(':')));
        rl->addWidget(box);
        readings.push_back(box);
    }
    rl->addStretch(1);
    outer->addWidget(readings_box);
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
            for (int i = 0; i < SIM_READING_COUNT; ++i) {
                const auto& forced = fw.sampler.forced_readings[i];
                const QSignalBlocker b(readings[size_t(i)]);
                readings[size_t(i)]->setCurrentIndex(!forced ? 0 : std::isnan(*forced) ? 2 : 1);
            }
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
    QObject::connect(odd, &QPushButton::clicked, tab, [change, severity, unterminated] {
        const auto level = uint8_t(severity->value());
        const bool fill = unterminated->isChecked();
        change([level, fill](sim_firmware& fw) {
            // 32 and 71 bytes fill the function and message fields; the tail past them is cut.
            const std::string function = fill ? "read_pressure_sensor_calibration_table" : "read_sensor";
            const std::string message = fill ? "Pressure sensor calibration table checksum mismatch, "
                                               "using factory defaults until recalibrated"
                                             : "Record of an unknown kind";
            sim_diag_keep(fw.diag, 5, level, function, 911, message);
        });
    });
    QObject::connect(arm_counts, &QPushButton::clicked, tab, [change, first_count, second_count] {
        const auto a = uint8_t(first_count->value()), b = uint8_t(second_count->value());
        change([a, b](sim_firmware& fw) { fw.diag.task_count_answers = {a, b}; });
    });
    for (int i = 0; i < SIM_READING_COUNT; ++i) {
        QObject::connect(readings[size_t(i)], &QComboBox::currentIndexChanged, tab, [change, i](int choice) {
            change([i, choice](sim_firmware& fw) {
                auto& forced = fw.sampler.forced_readings[i];
                if (choice == 0) forced.reset();
                else forced = choice == 1 ? 0.0f : std::numeric_limits<float>::quiet_NaN();
            });
        });
    }
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
