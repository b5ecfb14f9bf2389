// The "Virtual Instrument" window's tab for the instrument's clock, schedule and cartridge:
// what they hold now, and stepping the clock ahead so a schedule's waypoints come round without
// waiting for them.
#include "demo/panel.h"

#include "instrument/sim_bus.h"
#include "link/bytes.h"
#include "link/device_time.h"

#include <QCheckBox>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QTimer>
#include <QVBoxLayout>

#include <string>

namespace {

QString instrument_state(sim_device& dev) {
    const uint64_t now = dev.now_ms();
    QString text;
    dev.with_firmware([&](sim_firmware& fw) {
        sim_sampler& s = fw.sampler;
        s.advance(now);
        char clock[21], next[21];
        const sim_schedule_plan stored = sim_schedule_plan_of(fw.schedule);
        text = QStringLiteral("Clock: %1\n").arg(QString::fromUtf8(time_text(s.clock(now), clock)));
        text += QStringLiteral("Stored schedule: %1 waypoints, autostart %2, start %3\n")
                    .arg(stored.waypoints.size())
                    .arg(fw.schedule.record[1] ? QStringLiteral("on") : QStringLiteral("off"))
                    .arg(stored.start == 0 ? QStringLiteral("when started") : QString::fromUtf8(time_text(stored.start, clock)));
        if (s.control == 0xFF)
            text += QStringLiteral("Schedule in control: %1 of %2 waypoints fired, next event %3\n")
                        .arg(s.next_waypoint)
                        .arg(s.schedule_plan.waypoints.size())
                        .arg(s.next_event ? QString::fromUtf8(time_text(s.next_event, next)) : QStringLiteral("none"));
        else
            text += QStringLiteral("Schedule not in control\n");
        text += QStringLiteral("Top cartridge: %1, %2 sample log records").arg(s.top_cartridge).arg(s.log.size());
    });
    return text;
}

}  // namespace

QWidget* panel_sampler_tab(const panel_context& context) {
    auto* tab = new QWidget;
    tab->setObjectName(QStringLiteral("panel_sampler"));
    auto* layout = new QVBoxLayout(tab);
    auto* state = new QLabel;
    state->setObjectName(QStringLiteral("sampler_state"));
    state->setWordWrap(true);
    layout->addWidget(state);

    auto* clock = new QGroupBox(QStringLiteral("Clock"));
    auto* cl = new QHBoxLayout(clock);
    cl->addWidget(new QLabel(QStringLiteral("Step ahead:")));
    const struct {
        const char* text;
        int seconds;
    } steps[] = {{"+1 min", 60}, {"+5 min", 300}, {"+1 hour", 3600}, {"+1 day", 86400}};
    for (const auto& s : steps) {
        auto* b = new QPushButton(QString::fromUtf8(s.text));
        b->setObjectName(QStringLiteral("step_%1").arg(s.seconds));
        const uint64_t ms = uint64_t(s.seconds) * 1000;
        QObject::connect(b, &QPushButton::clicked, tab, [context, ms, state] {
            if (auto dev = context.chosen()) {
                dev->advance_clock(ms);
                state->setText(instrument_state(*dev));
            }
        });
        cl->addWidget(b);
    }
    auto* freeze = new QCheckBox(QStringLiteral("Hold"));
    freeze->setToolTip(QStringLiteral("Stop the instrument's clock; the steps still move it on"));
    QObject::connect(freeze, &QCheckBox::toggled, tab, [context](bool on) {
        if (auto dev = context.chosen()) dev->use_stepped_clock(on);
    });
    cl->addWidget(freeze);
    layout->addWidget(clock);

    auto* cartridge = new QGroupBox(QStringLiteral("Cartridge"));
    auto* crl = new QHBoxLayout(cartridge);
    auto* load = new QPushButton(QStringLiteral("Next Cartridge Into Slot"));
    load->setToolTip(QStringLiteral("As the sampler does between samples: a new ID and new bytes of its own"));
    QObject::connect(load, &QPushButton::clicked, tab, [context, state] {
        if (auto dev = context.chosen()) {
            dev->with_firmware([](sim_firmware& fw) {
                fw.sampler.top_cartridge = uint16_t(fw.sampler.top_cartridge + 1);
                fw.schedule.cartridge[16] = uint8_t(fw.schedule.cartridge[16] + 1);
            });
            state->setText(instrument_state(*dev));
        }
    });
    crl->addWidget(load);
    crl->addStretch(1);
    layout->addWidget(cartridge);
    layout->addStretch(1);

    auto* timer = new QTimer(tab);
    QObject::connect(timer, &QTimer::timeout, tab, [context, state] {
        auto dev = context.chosen();
        state->setText(dev ? instrument_state(*dev) : QStringLiteral("no instrument"));
    });
    timer->start(500);
    return tab;
}
