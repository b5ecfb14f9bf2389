#include "demo/panel.h"

#include "instrument/sim_bus.h"

#include <QCheckBox>
#include <QComboBox>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QSpinBox>
#include <QTabWidget>
#include <QTimer>
#include <QVBoxLayout>
#include <QWidget>

#include <memory>
#include <vector>

namespace {

struct panel_state {
    std::vector<std::shared_ptr<sim_device>> devices;
    QComboBox* chooser = nullptr;
    QLabel* state = nullptr;
    int next_serial = 1235;
};

std::shared_ptr<sim_device> chosen(panel_state* s) {
    int i = s->chooser->currentIndex();
    return i >= 0 && i < int(s->devices.size()) ? s->devices[size_t(i)] : nullptr;
}

void refresh(panel_state* s) {
    auto dev = chosen(s);
    if (!dev) {
        s->state->setText(QStringLiteral("no instrument"));
        return;
    }
    QString mode;
    dev->with_firmware([&](sim_firmware& fw) {
        mode = fw.mode == sim_mode::bootloader ? QStringLiteral("bootloader") : QStringLiteral("firmware");
        if (!fw.sampler.powered) mode += QStringLiteral(", powered off");
        mode += QStringLiteral(", %1 log records").arg(fw.sampler.log.size());
        if (!fw.installed_firmware.empty() || !fw.installed_bootloader.empty())
            mode += QStringLiteral("\nlast image installed: %1 bytes, CRC-32 %2")
                        .arg(fw.installed_firmware.empty() ? fw.installed_bootloader.size() : fw.installed_firmware.size())
                        .arg(QString::asprintf("%08X", fw.installed_crc));
        else if (fw.blocks_received)
            mode += QStringLiteral("\nimage blocks received: %1").arg(fw.blocks_received);
        if (fw.older_firmware) mode += QStringLiteral(", older firmware");
        mode = QStringLiteral("%1, %2").arg(QString::fromStdString(fw.identity.name), mode);
    });
    s->state->setText(QStringLiteral("%1 - %2").arg(dev->plugged() ? QStringLiteral("plugged in") : QStringLiteral("unplugged"), mode));
}

QPushButton* button(QLayout* layout, const char* text) {
    auto* b = new QPushButton(QString::fromUtf8(text));
    layout->addWidget(b);
    return b;
}

}  // namespace

QWidget* instrument_panel_create() {
    auto* w = new QWidget;
    w->setObjectName(QStringLiteral("instrument_panel"));
    w->setWindowTitle(QStringLiteral("Virtual Instrument"));
    auto* s = new panel_state;
    QObject::connect(w, &QObject::destroyed, [s] { delete s; });

    auto* outer = new QVBoxLayout(w);
    auto* tabs = new QTabWidget;
    auto* general = new QWidget;
    tabs->addTab(general, QStringLiteral("Instrument"));
    auto* top = new QVBoxLayout(general);
    auto* pick = new QHBoxLayout;
    s->chooser = new QComboBox;
    pick->addWidget(new QLabel(QStringLiteral("Instrument:")));
    pick->addWidget(s->chooser, 1);
    QPushButton* add = button(pick, "Add Instrument");
    s->state = new QLabel;
    s->state->setWordWrap(true);

    auto* power = new QGroupBox(QStringLiteral("Connection"));
    auto* pl = new QHBoxLayout(power);
    QPushButton* plug = button(pl, "Plug In");
    QPushButton* unplug = button(pl, "Unplug");
    auto* slow = new QCheckBox(QStringLiteral("USB Full-Speed Latency"));
    pl->addWidget(slow);
    top->addWidget(power);

    auto* sampler = new QGroupBox(QStringLiteral("Sampler"));
    auto* sl = new QHBoxLayout(sampler);
    QPushButton* power_on = button(sl, "Power On");
    QPushButton* power_off = button(sl, "Power Off");
    auto* fill_count = new QSpinBox;
    fill_count->setRange(1, 5000);
    fill_count->setValue(20);
    sl->addWidget(fill_count);
    QPushButton* fill = button(sl, "Fill Sample Log");
    top->addWidget(sampler);

    auto* restart = new QGroupBox(QStringLiteral("Restart As"));
    auto* rl = new QHBoxLayout(restart);
    QPushButton* as_fw = button(rl, "Firmware");
    QPushButton* as_boot = button(rl, "Bootloader");
    QPushButton* as_old = button(rl, "Older Firmware");
    top->addWidget(restart);

    top->addStretch(1);

    auto* pick_box = new QWidget;
    pick_box->setLayout(pick);
    outer->addWidget(pick_box);
    outer->addWidget(s->state);
    outer->addWidget(tabs, 1);
    const panel_context context{[s] { return chosen(s); }};
    const struct {
        QWidget* (*make)(const panel_context&);
        const char* title;
    } subsystem_tabs[] = {
        {panel_faults_tab, "Faults"},
        {panel_sampler_tab, "Clock && Schedule"},
        {panel_motors_tab, "Motors && Sensors"},
        {panel_settings_tab, "Settings"},
        {panel_diagnostics_tab, "Diagnostics"},
    };
    for (const auto& t : subsystem_tabs)
        if (QWidget* tab = t.make(context)) tabs->addTab(tab, QString::fromUtf8(t.title));

    auto add_device = [s](sim_device_config config) {
        auto dev = sim_bus_add(config);
        s->devices.push_back(dev);
        s->chooser->addItem(QString::fromStdString(dev->path()));
        s->chooser->setCurrentIndex(s->chooser->count() - 1);
        refresh(s);
    };
    sim_device_config first;
    add_device(first);

    QObject::connect(add, &QPushButton::clicked, w, [s, add_device] {
        sim_device_config c;
        c.firmware.identity.name = "SAMPLER-0" + std::to_string(s->devices.size() + 1);
        c.firmware.identity.serial = uint16_t(s->next_serial++);
        c.firmware.identity.type_code = 1120;
        add_device(c);
    });
    QObject::connect(s->chooser, &QComboBox::currentIndexChanged, w, [s] { refresh(s); });
    QObject::connect(plug, &QPushButton::clicked, w, [s] { if (auto d = chosen(s)) d->plug(); refresh(s); });
    QObject::connect(unplug, &QPushButton::clicked, w, [s] { if (auto d = chosen(s)) d->unplug(); refresh(s); });
    auto restart_as = [s](sim_mode mode, bool older) {
        if (auto d = chosen(s)) {
            d->restart([&](sim_firmware& fw) {
                fw.mode = mode;
                fw.older_firmware = older;
            });
        }
        refresh(s);
    };
    QObject::connect(as_fw, &QPushButton::clicked, w, [restart_as] { restart_as(sim_mode::firmware, false); });
    QObject::connect(as_boot, &QPushButton::clicked, w, [restart_as] { restart_as(sim_mode::bootloader, false); });
    QObject::connect(as_old, &QPushButton::clicked, w, [restart_as] { restart_as(sim_mode::firmware, true); });
    QObject::connect(slow, &QCheckBox::toggled, w, [s](bool on) {
        if (auto d = chosen(s)) d->set_latency(on ? sim_latency::usb_full_speed : sim_latency::none);
    });
    auto set_power = [s](bool on) {
        if (auto d = chosen(s)) {
            const uint64_t now = d->now_ms();
            d->with_firmware([&](sim_firmware& fw) { fw.sampler.set_power(on, now); });
        }
        refresh(s);
    };
    QObject::connect(power_on, &QPushButton::clicked, w, [set_power] { set_power(true); });
    QObject::connect(power_off, &QPushButton::clicked, w, [set_power] { set_power(false); });
    QObject::connect(fill, &QPushButton::clicked, w, [s, fill_count] {
        if (auto d = chosen(s)) {
            const uint64_t now = d->now_ms();
            const int n = fill_count->value();
            d->with_firmware([&](sim_firmware& fw) { fw.sampler.fill_log(n, now); });
        }
    });
    // The instrument changes by itself too (start firmware re-enumerates it).
    auto* timer = new QTimer(w);
    QObject::connect(timer, &QTimer::timeout, w, [s] { refresh(s); });
    timer->start(500);
    return w;
}
