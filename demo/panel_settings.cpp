// The "Virtual Instrument" window's tab for the instrument's stored settings: what it holds
// now, values the dialogs must cope with (names in other code pages or too long, line codes
// with no row), a firmware that allows a bootloader upgrade, and a
// read-back that fails after a good write.
#include "demo/panel.h"

#include "instrument/sim_bus.h"
#include "link/bytes.h"
#include "link/commands.h"

#include <QComboBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QSpinBox>
#include <QTimer>
#include <QVBoxLayout>
#include <QWidget>

#include <cstring>
#include <functional>
#include <iterator>
#include <string>

namespace {

QPushButton* add_button(QLayout* layout, const char* text) {
    auto* b = new QPushButton(QString::fromUtf8(text));
    layout->addWidget(b);
    return b;
}

// Stored bytes as a technician needs to see them: printable ASCII as it is, anything else as
// \xHH, so a name in another code page or with control characters is not mistaken for another.
QString escaped(const std::string& bytes) {
    QString out;
    for (unsigned char c : bytes) {
        if (c >= 0x20 && c < 0x7F && c != '\\') out += QLatin1Char(char(c));
        else out += QString::asprintf("\\x%02X", unsigned(c));
    }
    return out;
}

// Names another program may have left in the instrument.
const struct {
    const char* text;
    const char* bytes;
} ODD_NAMES[] = {
    {"K\u00DCSTE-\u00D83 in Latin-1 bytes", "K\xDC" "STE-\xD8" "3"},
    {"K\u00DCSTE-\u00D83 in UTF-8", "K\xC3\x9C" "STE-\xC3\x98" "3"},
    {"SAMPLER-01 NORTH BANK 2 (23 characters)", "SAMPLER-01 NORTH BANK 2"},
    {"Control characters (tab, DEL)", "RIVER\t7\x7F"},
};

QString stored_text(sim_firmware& fw) {
    const auto& flow = fw.settings.blocks[SIM_BLOCK_FLOW];
    const auto& c = fw.settings.cleaning;
    const auto& r = fw.settings.rs232;
    const auto& id = fw.identity;
    return QStringLiteral(
               "Flow meter: %1 pulses/litre\n"
               "Cleaning: flow %2 s, waste %3, bleach %4 % for %5 s, dwell %6 s, flush %7 s\n"
               "RS-232: %8 baud, parity code %9, %10 data, %11 stop, protocol %12\n"
               "Identity: \"%13\", serial %14, board %15, kind %16, bootloader v%17\n"
               "Bootloader image installed: %18 bytes")
        .arg(flow.size() == 5 ? get_u32le(flow.data() + 1) : 0)
        .arg(get_u16le(c.data() + 2))
        .arg(c[4])
        .arg(c[5])
        .arg(get_u16le(c.data() + 6))
        .arg(get_u16le(c.data() + 8))
        .arg(get_u16le(c.data() + 10))
        .arg(get_u32le(r.data() + 1))
        .arg(r[5])
        .arg(r[6])
        .arg(r[7])
        .arg(get_u32le(r.data() + 8))
        .arg(escaped(id.name))
        .arg(id.serial)
        .arg(id.board_serial)
        .arg(id.kind)
        .arg(id.bootloader_version)
        .arg(fw.installed_bootloader.size());
}

}  // namespace

QWidget* panel_settings_tab(const panel_context& context) {
    auto* tab = new QWidget;
    auto* top = new QVBoxLayout(tab);
    auto chosen = context.chosen;

    auto* stored = new QLabel;
    stored->setWordWrap(true);
    auto* stored_box = new QGroupBox(QStringLiteral("Stored Now"));
    (new QVBoxLayout(stored_box))->addWidget(stored);
    top->addWidget(stored_box);

    auto* odd = new QGroupBox(QStringLiteral("Store Odd Values"));
    auto* ol = new QHBoxLayout(odd);
    QPushButton* retired = add_button(ol, "Retired Protocol (2)");
    QPushButton* baud = add_button(ol, "Baud 300");
    QPushButton* cleaning = add_button(ol, "Speed 250, Flag 9");
    QPushButton* info_bytes = add_button(ol, "Device Info Own Bytes");
    top->addWidget(odd);

    auto* names = new QGroupBox(QStringLiteral("Store An Odd Name Or Line Codes"));
    auto* nl = new QGridLayout(names);
    auto* name = new QComboBox;
    name->setObjectName(QStringLiteral("odd_name"));
    for (const auto& n : ODD_NAMES) name->addItem(QString::fromUtf8(n.text));
    nl->addWidget(new QLabel(QStringLiteral("Name:")), 0, 0);
    nl->addWidget(name, 0, 1, 1, 6);
    QPushButton* store_name = new QPushButton(QStringLiteral("Store"));
    nl->addWidget(store_name, 0, 7);
    // Codes the RS-232 dialog has no row for; the spin boxes start at a set of them.
    auto code_spin = [](int value) {
        auto* spin = new QSpinBox;
        spin->setRange(0, 255);
        spin->setValue(value);
        return spin;
    };
    QSpinBox* parity = code_spin(7);
    QSpinBox* data_bits = code_spin(9);
    QSpinBox* stop_bits = code_spin(0);
    nl->addWidget(new QLabel(QStringLiteral("RS-232 codes:")), 1, 0);
    nl->addWidget(new QLabel(QStringLiteral("parity")), 1, 1);
    nl->addWidget(parity, 1, 2);
    nl->addWidget(new QLabel(QStringLiteral("data bits")), 1, 3);
    nl->addWidget(data_bits, 1, 4);
    nl->addWidget(new QLabel(QStringLiteral("stop bits")), 1, 5);
    nl->addWidget(stop_bits, 1, 6);
    QPushButton* store_codes = new QPushButton(QStringLiteral("Store"));
    nl->addWidget(store_codes, 1, 7);
    top->addWidget(names);

    auto* boot = new QGroupBox(QStringLiteral("Restart"));
    auto* bl = new QHBoxLayout(boot);
    QPushButton* allows = add_button(bl, "As Firmware That Allows A Bootloader Upgrade");
    top->addWidget(boot);

    // Dialogs are modal: arm before opening one. The reads of the same command before the
    // read-back (opening the dialog, a save's own read) are answered normally.
    auto* faults = new QGroupBox(QStringLiteral("Fail The Read-Back Of The Next Save (Arm Before Opening)"));
    auto* fl = new QHBoxLayout(faults);
    auto* which = new QComboBox;
    const struct {
        const char* text;
        uint16_t command;
        int after;  // reads of the command before the read-back
    } read_backs[] = {
        {"Cleaning", CMD_GET_CLEANING_CONFIG, 1},
        {"RS232", CMD_GET_RS232_CONFIG, 1},
        {"Device Identification", CMD_GET_DEVICE_INFO, 2},
        {"Factory Settings", CMD_GET_DEVICE_INFO, 1},
    };
    for (const auto& r : read_backs) which->addItem(QString::fromUtf8(r.text));
    fl->addWidget(which, 1);
    QPushButton* fail = add_button(fl, "Arm");
    top->addWidget(faults);
    top->addStretch(1);

    auto change = [chosen](const std::function<void(sim_firmware&)>& fn) {
        if (auto dev = chosen()) dev->with_firmware(fn);
    };
    QObject::connect(retired, &QPushButton::clicked, tab, [change] {
        change([](sim_firmware& fw) { put_u32le(fw.settings.rs232.data() + 8, 2); });
    });
    QObject::connect(baud, &QPushButton::clicked, tab, [change] {
        change([](sim_firmware& fw) { put_u32le(fw.settings.rs232.data() + 1, 300); });
    });
    QObject::connect(cleaning, &QPushButton::clicked, tab, [change] {
        change([](sim_firmware& fw) {
            fw.settings.cleaning[4] = 9;
            fw.settings.cleaning[5] = 250;
        });
    });
    QObject::connect(info_bytes, &QPushButton::clicked, tab, [change] {
        change([](sim_firmware& fw) {
            fw.identity.info_record[1] = 0xA1;
            fw.identity.info_record[23] = 0xA2;
            fw.identity.info_record[26] = 0xA3;
        });
    });
    QObject::connect(store_name, &QPushButton::clicked, tab, [change, name] {
        const int i = name->currentIndex();
        if (i < 0 || i >= int(std::size(ODD_NAMES))) return;
        change([i](sim_firmware& fw) { fw.identity.name = ODD_NAMES[i].bytes; });
    });
    QObject::connect(store_codes, &QPushButton::clicked, tab, [change, parity, data_bits, stop_bits] {
        const auto p = uint8_t(parity->value()), d = uint8_t(data_bits->value()), s = uint8_t(stop_bits->value());
        change([=](sim_firmware& fw) {
            fw.settings.rs232[5] = p;
            fw.settings.rs232[6] = d;
            fw.settings.rs232[7] = s;
        });
    });
    QObject::connect(allows, &QPushButton::clicked, tab, [chosen] {
        if (auto dev = chosen()) {
            dev->restart([](sim_firmware& fw) {
                fw.mode = sim_mode::firmware_bootloader_upgrade;
                fw.older_firmware = false;
            });
        }
    });
    QObject::connect(fail, &QPushButton::clicked, tab, [chosen, which, read_backs] {
        const int i = which->currentIndex();
        if (auto dev = chosen(); dev && i >= 0 && i < 4)
            dev->fail_next(read_backs[i].command, 1, 3, read_backs[i].after);
    });

    auto* timer = new QTimer(tab);
    QObject::connect(timer, &QTimer::timeout, tab, [chosen, stored] {
        auto dev = chosen();
        if (!dev) {
            stored->setText(QStringLiteral("no instrument"));
            return;
        }
        QString text;
        dev->with_firmware([&](sim_firmware& fw) { text = stored_text(fw); });
        stored->setText(text);
    });
    timer->start(500);
    return tab;
}
