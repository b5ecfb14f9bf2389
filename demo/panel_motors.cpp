// The "Virtual Instrument" window's tab for the instrument's motors, sensors and the applied pressure.
#include "demo/panel.h"

#include "instrument/sim_bus.h"
#include "link/field_text.h"

#include <QCheckBox>
#include <QDoubleSpinBox>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLocale>
#include <QPushButton>
#include <QTimer>
#include <QTreeWidget>
#include <QVBoxLayout>

#include <cstdarg>

namespace {

const char* const MOTOR_NAMES[SIM_MOTOR_COUNT + 1] = {"", "Cartridge Load", "Sample Engage", "Stabilizer Engage",
                                                     "Sample Pump", "Stabilizer Pump"};

const char* stop_text(sim_motor_stop why) {
    switch (why) {
        case sim_motor_stop::command: return "stopped";
        case sim_motor_stop::set_point: return "at its set point";
        case sim_motor_stop::end_stop: return "at the end stop";
        case sim_motor_stop::volume: return "stopped on volume";
        case sim_motor_stop::pressure: return "stopped on pressure";
        case sim_motor_stop::timeout: return "stopped on timeout";
        case sim_motor_stop::closed: return "closed";
        default: return "idle";
    }
}

QString text(const char* fmt, ...) TEXT_PRINTF(1);
QString text(const char* fmt, ...) {
    char buf[96];
    va_list args;
    va_start(args, fmt);
    text_vformat(buf, sizeof buf, fmt, args);
    va_end(args);
    return QString::fromLatin1(buf);
}

void refresh(const panel_context& context, QTreeWidget* list, QLabel* sensors) {
    auto dev = context.chosen();
    if (!dev) return;
    const uint64_t now = dev->now_ms();
    sim_motors m;
    dev->with_firmware([&](sim_firmware& fw) {
        fw.motors.advance(now);
        m = fw.motors;
    });
    const double line = m.line_pressure();
    sensors->setText(QStringLiteral("Sensors %1. Line pressure %2, sensor signal %3.")
                         .arg(m.sensors_on ? QStringLiteral("on") : QStringLiteral("off"),
                              text("%.2f bar", line), text("%.3f V", m.sensor_offset_v + m.sensor_v_per_bar * line)));
    for (int id = 1; id <= SIM_MOTOR_COUNT; ++id) {
        QTreeWidgetItem* item = list->topLevelItem(id - 1);
        const sim_motor& motor = m.motor[id];
        QString state;
        switch (motor.activity) {
            case sim_motor_activity::manual:
                state = motor.at_end_stop ? QStringLiteral("driving against the end stop") : QStringLiteral("driving by hand");
                break;
            case sim_motor_activity::engaging: state = QStringLiteral("engaging"); break;
            case sim_motor_activity::disengaging: state = QStringLiteral("disengaging"); break;
            case sim_motor_activity::pumping: state = QStringLiteral("pumping"); break;
            default: state = QString::fromLatin1(stop_text(motor.last_stop)); break;
        }
        if (id <= 3) {
            item->setText(1, text("%.1f mm", motor.position_mm));
            item->setText(2, text("%.0f", m.hall_exact(id)));
        } else {
            item->setText(1, text("%.2f l", motor.volume_l));
            item->setText(2, QString());
        }
        item->setText(3, state);
    }
}

}  // namespace

QWidget* panel_motors_tab(const panel_context& context) {
    auto* tab = new QWidget;
    tab->setObjectName(QStringLiteral("panel_motors"));
    auto* layout = new QVBoxLayout(tab);

    auto* form = new QFormLayout;
    auto* applied = new QDoubleSpinBox;
    applied->setObjectName(QStringLiteral("applied_pressure"));
    applied->setLocale(QLocale::c());
    applied->setRange(-1.0, 12.0);
    applied->setDecimals(2);
    applied->setSingleStep(0.5);
    applied->setSuffix(QStringLiteral(" bar"));
    form->addRow(QStringLiteral("Applied pressure:"), applied);
    layout->addLayout(form);
    auto* sensors = new QLabel;
    sensors->setWordWrap(true);
    layout->addWidget(sensors);

    auto* list = new QTreeWidget;
    list->setObjectName(QStringLiteral("motor_list"));
    list->setRootIsDecorated(false);
    list->setHeaderLabels({QStringLiteral("Motor"), QStringLiteral("Position / Volume"), QStringLiteral("Hall"),
                           QStringLiteral("State")});
    for (int id = 1; id <= SIM_MOTOR_COUNT; ++id)
        list->addTopLevelItem(new QTreeWidgetItem(QStringList{QString::fromLatin1(MOTOR_NAMES[id])}));
    list->header()->setSectionResizeMode(QHeaderView::ResizeToContents);
    layout->addWidget(list, 1);

    auto* buttons = new QHBoxLayout;
    auto* blank = new QPushButton(QStringLiteral("Seed Blank Motor Records (0xFF)"));
    auto* ignore = new QCheckBox(QStringLiteral("Ignore Motor Config Writes"));
    buttons->addWidget(blank);
    buttons->addWidget(ignore);
    buttons->addStretch(1);
    layout->addLayout(buttons);

    QObject::connect(applied, &QDoubleSpinBox::valueChanged, tab, [context](double bar) {
        if (auto dev = context.chosen()) {
            const uint64_t now = dev->now_ms();
            dev->with_firmware([&](sim_firmware& fw) {
                fw.motors.advance(now);  // the pressure changes from now on, not from the last request
                fw.motors.applied_bar = bar;
            });
        }
    });
    QObject::connect(blank, &QPushButton::clicked, tab, [context] {
        if (auto dev = context.chosen()) dev->with_firmware([](sim_firmware& fw) { fw.motors.seed_blank(); });
    });
    QObject::connect(ignore, &QCheckBox::toggled, tab, [context](bool on) {
        if (auto dev = context.chosen()) dev->with_firmware([on](sim_firmware& fw) { fw.motors.ignore_config_writes = on; });
    });
    auto* timer = new QTimer(tab);
    QObject::connect(timer, &QTimer::timeout, tab, [context, list, sensors, ignore] {
        refresh(context, list, sensors);
        // Cleared from the Faults tab too.
        if (auto dev = context.chosen()) {
            bool on = false;
            dev->with_firmware([&](sim_firmware& fw) { on = fw.motors.ignore_config_writes; });
            const QSignalBlocker b(ignore);
            ignore->setChecked(on);
        }
    });
    timer->start(250);
    refresh(context, list, sensors);
    return tab;
}
