// Flow meter, cleaning, RS-232 and device identification dialogs against the virtual
// instrument: what they show, the exact bytes they send, and how they fail.
#include "config/rs232.h"
#include "link/bytes.h"
#include "settings_fixture.h"

#include <QLabel>
#include <QStatusBar>

#include <algorithm>
#include <cstring>

namespace {

using FlowMeterDialogTest = SettingsDialogTest;
using CleaningDialogTest = SettingsDialogTest;
using Rs232DialogTest = SettingsDialogTest;
using IdentificationDialogTest = SettingsDialogTest;
using EnterKeyTest = SettingsDialogTest;
using FieldRulesTest = SettingsDialogTest;

// ---- flow meter -------------------------------------------------------------------------------

TEST_F(FlowMeterDialogTest, ShowsTheStoredValueAndSavesWhatIsTypedWithTheDeviceByteZero) {
    plug_and_open();  // block 5 holds 10000 with the instrument's byte 0x5A
    const struct {
        const char* typed;
        uint32_t pulses;
    } cases[] = {{"0", 0}, {"5000000000", 4294967295u}, {"4294967297", 4294967295u}, {" 12345 ", 12345}};
    for (const auto& c : cases) {
        dev->clear_requests();
        messages.clear();
        QString shown, after;
        EXPECT_TRUE(drive(DIALOG_FLOW, [&](QDialog* d) {
            EXPECT_EQ(d->windowTitle(), QStringLiteral("Configure Flow Sensor"));
            QLineEdit* e = edit(d, "pulses_edit");
            shown = e->text();
            EXPECT_EQ(e->toolTip(), QStringLiteral("Datasheet estimates 10000 for water at 25C"));
            e->setText(QString::fromUtf8(c.typed));
            push(d, "save_button")->click();
            EXPECT_TRUE(d->isVisible());  // Save leaves the dialog open
            after = e->text();
        }));
        auto sets = sent(CMD_SET_CONFIG_BLOCK);
        ASSERT_EQ(sets.size(), 1u) << c.typed;
        uint8_t expected[7] = {5, 5, 0};
        put_u32le(expected + 3, c.pulses);
        EXPECT_EQ(payload(sets[0]), std::vector<uint8_t>(expected, expected + 7)) << c.typed;
        EXPECT_EQ(sent(CMD_GET_CONFIG_BLOCK).size(), 1u);
        ASSERT_EQ(messages.size(), 1u);
        expect_message(0, "Save", "Flow Meter Config Saved");
        // After the save the field shows what the instrument holds, not what was typed.
        EXPECT_EQ(after, QString::number(c.pulses)) << c.typed;
        if (c.pulses == 12345) {
            EXPECT_EQ(shown, QStringLiteral("4294967295"));  // what the case before saved
        }
    }
    // The value survives reopening.
    EXPECT_TRUE(drive(DIALOG_FLOW, [&](QDialog* d) { EXPECT_EQ(edit(d, "pulses_edit")->text(), QStringLiteral("12345")); }));
}

TEST_F(FlowMeterDialogTest, AFailedReadShowsNoDialogAndAFailedSaveKeepsTheTypedValue) {
    plug_and_open();
    dev->fail_next(CMD_GET_CONFIG_BLOCK, 1, 3);
    EXPECT_FALSE(drive(DIALOG_FLOW, [](QDialog*) {}));
    ASSERT_EQ(messages.size(), 1u);
    expect_message(0, "Configure Flow Meter", "Can't get flow meter config from device.");
    EXPECT_TRUE(sent(CMD_SET_CONFIG_BLOCK).empty());

    messages.clear();
    dev->force_result(CMD_SET_CONFIG_BLOCK, 4);
    EXPECT_TRUE(drive(DIALOG_FLOW, [&](QDialog* d) {
        edit(d, "pulses_edit")->setText(QStringLiteral("777"));
        push(d, "save_button")->click();
        EXPECT_TRUE(d->isVisible());
        EXPECT_EQ(edit(d, "pulses_edit")->text(), QStringLiteral("777"));
    }));
    ASSERT_EQ(messages.size(), 1u);
    expect_message(0, "Save", "Failed to save config to device.");
}

// ---- cleaning ---------------------------------------------------------------------------------

TEST_F(CleaningDialogTest, SavesClampedValuesFromZeroAndShowsWhatTheInstrumentStored) {
    plug_and_open();
    dev->with_firmware([](sim_firmware& fw) {
        const uint8_t odd[12] = {0xEE, 0xDD, 10, 0, 9, 250, 20, 0, 30, 0, 40, 0};  // flag 9, speed 250
        std::memcpy(fw.settings.cleaning.data(), odd, 12);
    });
    EXPECT_TRUE(drive(DIALOG_CLEANING, [&](QDialog* d) {
        EXPECT_EQ(d->windowTitle(), QStringLiteral("Configure Stabilization & Cleaning"));
        auto* waste = child<QCheckBox>(d, "waste_check");
        EXPECT_TRUE(waste->isChecked());  // any non-zero byte
        EXPECT_EQ(edit(d, "flow_time_edit")->text(), QStringLiteral("10"));
        EXPECT_EQ(edit(d, "speed_edit")->text(), QStringLiteral("250"));  // shown as stored
        EXPECT_FALSE(red(edit(d, "speed_edit")));  // and saved as 100, not refused
        EXPECT_EQ(edit(d, "flush_edit")->text(), QStringLiteral("40"));

        edit(d, "flow_time_edit")->setText(QStringLiteral("4294967297"));  // not 1
        waste->setChecked(false);
        edit(d, "speed_edit")->setText(QStringLiteral("150"));
        edit(d, "bleach_time_edit")->setText(QStringLiteral("0"));
        edit(d, "dwell_edit")->setText(QStringLiteral(" 0"));
        edit(d, "flush_edit")->setText(QStringLiteral("70000"));
        push(d, "save_button")->click();
        // The read-back shows what was stored.
        EXPECT_EQ(edit(d, "speed_edit")->text(), QStringLiteral("100"));
        EXPECT_EQ(edit(d, "flush_edit")->text(), QStringLiteral("65535"));
        EXPECT_EQ(edit(d, "flow_time_edit")->text(), QStringLiteral("65535"));
        EXPECT_EQ(edit(d, "bleach_time_edit")->text(), QStringLiteral("0"));
        EXPECT_EQ(edit(d, "dwell_edit")->text(), QStringLiteral("0"));
        EXPECT_TRUE(d->isVisible());

        waste->setChecked(true);
        push(d, "save_button")->click();
    }));
    auto sets = sent(CMD_SET_CLEANING_CONFIG);
    ASSERT_EQ(sets.size(), 2u);
    const std::vector<uint8_t> first = {0, 0, 0xFF, 0xFF, 0, 100, 0, 0, 0, 0, 0xFF, 0xFF};
    EXPECT_EQ(payload(sets[0]), first);
    const std::vector<uint8_t> second = {0, 0, 0xFF, 0xFF, 1, 100, 0, 0, 0, 0, 0xFF, 0xFF};
    EXPECT_EQ(payload(sets[1]), second);
    EXPECT_EQ(sent(CMD_GET_CLEANING_CONFIG).size(), 3u);  // opening and each read-back
    ASSERT_EQ(messages.size(), 2u);
    expect_message(0, "Save", "Cleaning confugration saved");
    EXPECT_TRUE(drive(DIALOG_CLEANING, [&](QDialog* d) {
        EXPECT_TRUE(child<QCheckBox>(d, "waste_check")->isChecked());
        EXPECT_EQ(edit(d, "speed_edit")->text(), QStringLiteral("100"));
    }));
}

TEST_F(CleaningDialogTest, AFailedReadBackIsReportedWhileTheInstrumentHoldsTheNewValues) {
    plug_and_open();
    EXPECT_TRUE(drive(DIALOG_CLEANING, [&](QDialog* d) {
        dev->fail_next(CMD_GET_CLEANING_CONFIG, 1, 3);
        edit(d, "speed_edit")->setText(QStringLiteral("150"));
        push(d, "save_button")->click();
        EXPECT_EQ(edit(d, "speed_edit")->text(), QStringLiteral("150"));  // as typed
        EXPECT_TRUE(d->isVisible());
    }));
    ASSERT_EQ(messages.size(), 1u);
    expect_message(0, "Save", "Failed to save cleaning configuration");
    dev->with_firmware([](sim_firmware& fw) { EXPECT_EQ(fw.settings.cleaning[5], 100); });
}

TEST_F(CleaningDialogTest, FailedReadAtOpeningAndRefusedWrite) {
    plug_and_open();
    dev->fail_next(CMD_GET_CLEANING_CONFIG, 1, 3);
    EXPECT_FALSE(drive(DIALOG_CLEANING, [](QDialog*) {}));
    expect_message(0, "Cleaning Configuration", "Unable to retrieve cleaning configuration from device");
    EXPECT_TRUE(sent(CMD_SET_CLEANING_CONFIG).empty());

    messages.clear();
    dev->force_result(CMD_SET_CLEANING_CONFIG, 2);
    dev->clear_requests();
    EXPECT_TRUE(drive(DIALOG_CLEANING, [&](QDialog* d) { push(d, "save_button")->click(); }));
    ASSERT_EQ(messages.size(), 1u);
    expect_message(0, "Save", "Failed to save cleaning configuration");
    EXPECT_EQ(sent(CMD_GET_CLEANING_CONFIG).size(), 1u);  // no read-back after a refused write
}

// ---- RS-232 -----------------------------------------------------------------------------------

void store_rs232(sim_device& dev, uint32_t baud, uint8_t parity, uint8_t data, uint8_t stop, uint32_t protocol) {
    dev.with_firmware([=](sim_firmware& fw) {
        auto& r = fw.settings.rs232;
        r[0] = 0x77;
        put_u32le(r.data() + 1, baud);
        r[5] = parity;
        r[6] = data;
        r[7] = stop;
        put_u32le(r.data() + 8, protocol);
    });
}

QStringList selections(QDialog* d) {
    QStringList out;
    for (const char* name : {"baud_box", "data_bits_box", "stop_bits_box", "parity_box", "protocol_box"})
        out << d->findChild<QComboBox*>(QString::fromUtf8(name))->currentText();
    return out;
}

TEST_F(Rs232DialogTest, TheRetiredProtocolIsAnnouncedOnceAndTheStoredLineSettingsAreKept) {
    plug_and_open();
    store_rs232(*dev, 57600, 0, 7, 2, 2);
    EXPECT_TRUE(drive(DIALOG_RS232, [&](QDialog* d) {
        EXPECT_EQ(d->windowTitle(), QStringLiteral("Configure RS232"));
        ASSERT_EQ(messages.size(), 1u);
        // Shown as stored, not reset to the defaults of the row it is shown as.
        EXPECT_EQ(selections(d), (QStringList{"57600", "7", "2", "Even", "None"}));
        push(d, "save_button")->click();
    }));
    expect_message(0, "Configure RS232",
                   "Driftline protocol is no longer supported, please choose another and click on Save.");
    ASSERT_EQ(messages.size(), 2u);
    expect_message(1, "Save", "Settings saved");
    auto sets = sent(CMD_SET_RS232_CONFIG);
    ASSERT_EQ(sets.size(), 1u);
    const std::vector<uint8_t> expected = {0, 0x00, 0xE1, 0x00, 0x00, 0, 7, 2, 0, 0, 0, 0};
    EXPECT_EQ(payload(sets[0]), expected);
}

TEST_F(Rs232DialogTest, ChoosingAProtocolShowsItsDefaultsAndSendsNothing) {
    plug_and_open();
    store_rs232(*dev, 300, 3, 5, 2, 7);  // neither the baud rate nor the protocol in the tables
    EXPECT_TRUE(drive(DIALOG_RS232, [&](QDialog* d) {
        EXPECT_TRUE(messages.empty());  // an unknown protocol is shown as itself, silently
        EXPECT_EQ(selections(d), (QStringList{"300 (not in list)", "5", "2", "Mark", "7 (not in list)"}));
        dev->clear_requests();
        QComboBox* protocol = combo(d, "protocol_box");
        protocol->setCurrentIndex(1);
        EXPECT_EQ(selections(d), (QStringList{"38400", "8", "1", "None", "DU232ZI"}));
        combo(d, "baud_box")->setCurrentIndex(8);
        protocol->setCurrentIndex(1);  // the same row again: nothing is reset
        EXPECT_EQ(selections(d), (QStringList{"115200", "8", "1", "None", "DU232ZI"}));
        protocol->setCurrentIndex(2);
        EXPECT_EQ(selections(d), (QStringList{"9600", "8", "1", "None", "KESTRAVO"}));
        EXPECT_EQ(dev->request_count(), 0u);
        combo(d, "parity_box")->setCurrentIndex(1);
        push(d, "save_button")->click();
    }));
    auto sets = sent(CMD_SET_RS232_CONFIG);
    ASSERT_EQ(sets.size(), 1u);
    const std::vector<uint8_t> expected = {0, 0x80, 0x25, 0, 0, 0, 8, 1, 3, 0, 0, 0};  // parity "Even" is 0
    EXPECT_EQ(payload(sets[0]), expected);
    EXPECT_EQ(sent(CMD_GET_RS232_CONFIG).size(), 1u);  // the read-back
}

// What the instrument holds is shown as it is, and a Save that leaves a combo alone keeps it:
// a baud rate of 300 is not turned into 1200, nor an unwritten record into the first rows.
TEST_F(Rs232DialogTest, AStoredValueOutsideTheListsIsShownAsSuchAndKeptBySave) {
    plug_and_open();
    store_rs232(*dev, 300, 4, 8, 1, 1);
    EXPECT_TRUE(drive(DIALOG_RS232, [&](QDialog* d) {
        EXPECT_EQ(selections(d), (QStringList{"300 (not in list)", "8", "1", "None", "DU232ZI"}));
        push(d, "save_button")->click();
        EXPECT_EQ(selections(d)[0], QStringLiteral("300 (not in list)"));  // read back
        combo(d, "baud_box")->setCurrentIndex(3);  // a row the operator picks replaces it
        push(d, "save_button")->click();
    }));
    dev->with_firmware([](sim_firmware& fw) { std::fill(fw.settings.rs232.begin(), fw.settings.rs232.end(), 0xFF); });
    EXPECT_TRUE(drive(DIALOG_RS232, [&](QDialog* d) {
        EXPECT_EQ(selections(d), (QStringList{"(not set)", "(not set)", "(not set)", "(not set)", "(not set)"}));
        push(d, "save_button")->click();
    }));
    auto sets = sent(CMD_SET_RS232_CONFIG);
    ASSERT_EQ(sets.size(), 3u);
    EXPECT_EQ(payload(sets[0]), (std::vector<uint8_t>{0, 0x2C, 0x01, 0, 0, 4, 8, 1, 1, 0, 0, 0}));
    EXPECT_EQ(get_u32le(frame_payload(sets[1]) + 1), 9600u);
    std::vector<uint8_t> blank(12, 0xFF);
    blank[0] = 0;  // the instrument's byte is always sent as 0
    EXPECT_EQ(payload(sets[2]), blank);
}

TEST_F(Rs232DialogTest, FailedReadsAndWrites) {
    plug_and_open();
    dev->fail_next(CMD_GET_RS232_CONFIG, 1, 3);
    EXPECT_FALSE(drive(DIALOG_RS232, [](QDialog*) {}));
    expect_message(0, "RS232 Configuration", "Unable to retrieve RS232 settings from device");
    EXPECT_TRUE(sent(CMD_SET_RS232_CONFIG).empty());

    // The read-back fails after a good write: reported, the selections stay, the instrument
    // holds the new settings.
    messages.clear();
    EXPECT_TRUE(drive(DIALOG_RS232, [&](QDialog* d) {
        combo(d, "protocol_box")->setCurrentIndex(1);
        dev->fail_next(CMD_GET_RS232_CONFIG, 1, 3);
        push(d, "save_button")->click();
        EXPECT_EQ(selections(d), (QStringList{"38400", "8", "1", "None", "DU232ZI"}));
        dev->force_result(CMD_SET_RS232_CONFIG, 5);
        push(d, "save_button")->click();
    }));
    ASSERT_EQ(messages.size(), 2u);
    expect_message(0, "Save", "Failed to save settings");
    expect_message(1, "Save", "Failed to save settings");
    dev->with_firmware([](sim_firmware& fw) {
        EXPECT_EQ(get_u32le(fw.settings.rs232.data() + 1), 38400u);
        EXPECT_EQ(get_u32le(fw.settings.rs232.data() + 8), 1u);
    });
}

// ---- device identification ----------------------------------------------------------------------

TEST_F(IdentificationDialogTest, SaveKeepsTheInstrumentsBytesClosesAndRefreshesTheTitle) {
    dev = sim_bus_add(named("UNIT-A"));
    dev->with_firmware([](sim_firmware& fw) {
        auto& r = fw.identity.info_record;
        r[1] = 0x31;
        r[23] = 0x32;
        r[26] = 0x33;
        std::memcpy(r.data() + 2, "UNIT-A\0tail-of-name", 20);
    });
    open_window();
    ASSERT_NO_FATAL_FAILURE(connect_first_row());
    EXPECT_EQ(window->windowTitle(), QStringLiteral("A1100 Cartridge Sampler (UNIT-A)"));

    int result = -1;
    EXPECT_TRUE(drive([&] { main_command(ID_CONFIGURE_IDENTIFICATION); }, [&](QDialog* d) {
        EXPECT_EQ(d->windowTitle(), QStringLiteral("Configure Device Identification"));
        EXPECT_EQ(edit(d, "name_edit")->text(), QStringLiteral("UNIT-A"));
        EXPECT_EQ(edit(d, "serial_edit")->text(), QStringLiteral("1234"));
        EXPECT_EQ(edit(d, "name_edit")->toolTip(), QStringLiteral("Sensor name to display in Connect view"));
        EXPECT_EQ(edit(d, "serial_edit")->toolTip(),
                  QStringLiteral("Sensor serial number (engraved on microfluidic chip)"));
        edit(d, "name_edit")->setText(QStringLiteral("NEW"));
        edit(d, "serial_edit")->setText(QStringLiteral("4321"));
        push(d, "save_button")->click();
        result = d->isVisible() ? 0 : 1;
    }));
    EXPECT_EQ(result, 1) << "the dialog closes after Save";
    ASSERT_EQ(messages.size(), 1u);
    expect_message(0, "Save", "Settings saved");
    auto sets = sent(CMD_SET_DEVICE_INFO);
    ASSERT_EQ(sets.size(), 1u);
    uint8_t expected[DEVICE_INFO_SIZE] = {2, 0x31};
    std::memcpy(expected + 2, "NEW\0-A\0tail-of-name", 20);  // the field's tail as it was read
    expected[23] = 0x32;
    put_u16le(expected + 24, 4321);
    expected[26] = 0x33;
    put_u16le(expected + 27, 5678);
    EXPECT_EQ(payload(sets[0]), std::vector<uint8_t>(expected, expected + DEVICE_INFO_SIZE));
    EXPECT_EQ(window->windowTitle(), QStringLiteral("A1100 Cartridge Sampler (NEW)"));
    EXPECT_EQ(window->statusBar()->findChild<QLabel*>(QStringLiteral("part0"))->text(), QStringLiteral("Connected to NEW"));

    EXPECT_TRUE(drive([&] { main_command(ID_CONFIGURE_IDENTIFICATION); }, [&](QDialog* d) {
        EXPECT_EQ(edit(d, "name_edit")->text(), QStringLiteral("NEW"));
        EXPECT_EQ(edit(d, "serial_edit")->text(), QStringLiteral("4321"));
    }));
}

TEST_F(IdentificationDialogTest, NamesCountBytesAndSerialsSeeTheirTrueValue) {
    plug_and_open();
    EXPECT_TRUE(drive(DIALOG_IDENTIFICATION, [&](QDialog* d) {
        QLineEdit* name = edit(d, "name_edit");
        QLineEdit* serial = edit(d, "serial_edit");
        QPushButton* save = push(d, "save_button");
        auto state = [&] { return std::vector<bool>{red(name), red(serial), save->isEnabled()}; };
        name->setText(QStringLiteral("ABCDEFGHIJKLMNOPQRST"));
        EXPECT_EQ(state(), (std::vector<bool>{false, false, true}));
        QTest::keyClicks(name, QStringLiteral("U"));  // the 21st character
        EXPECT_EQ(state(), (std::vector<bool>{true, false, false}));
        name->setText(QStringLiteral("Z\u00fcrich"));  // 6 characters, 7 bytes, not one byte each
        EXPECT_EQ(state(), (std::vector<bool>{true, false, false}));
        name->setText(QStringLiteral("Zurich"));
        for (const char* ok : {"65535", "", "0"}) {
            serial->setText(QString::fromUtf8(ok));
            EXPECT_EQ(state(), (std::vector<bool>{false, false, true})) << ok;
        }
        for (const char* too_big : {"65536", "4294967296", "4294967297", "99999999999999999999999"}) {
            serial->setText(QString::fromUtf8(too_big));
            EXPECT_EQ(state(), (std::vector<bool>{false, true, false})) << too_big;
        }
        serial->setText(QString());
        save->click();
    }));
    auto sets = sent(CMD_SET_DEVICE_INFO);
    ASSERT_EQ(sets.size(), 1u);
    EXPECT_EQ(get_u16le(frame_payload(sets[0]) + DEVICE_INFO_SERIAL), 0);  // empty reads 0
    EXPECT_EQ(std::memcmp(frame_payload(sets[0]) + 2, "Zurich", 7), 0);
}

TEST_F(IdentificationDialogTest, OlderFirmwareGetsNameAndSerialThroughTheOlderCommandsAndKeepsItsType) {
    sim_device_config c;
    c.firmware.older_firmware = true;
    c.firmware.identity.name = "OLD-UNIT";
    c.firmware.identity.serial = 4321;
    c.firmware.identity.kind = 5;
    c.firmware.identity.bootloader_version = 7;
    plug_and_open(c);
    EXPECT_TRUE(drive(DIALOG_IDENTIFICATION, [&](QDialog* d) {
        EXPECT_EQ(edit(d, "name_edit")->text(), QStringLiteral("OLD-UNIT"));
        EXPECT_EQ(edit(d, "serial_edit")->text(), QStringLiteral("4321"));
        edit(d, "name_edit")->setText(QStringLiteral("RENAMED"));
        edit(d, "serial_edit")->setText(QStringLiteral("77"));
        push(d, "save_button")->click();
    }));
    expect_message(0, "Save", "Settings saved");
    auto legacy_sets = sent(CMD_SET_INFO_LEGACY);
    ASSERT_EQ(legacy_sets.size(), 1u);
    uint8_t expected[27] = {1, 3};  // set flag, the running firmware's mode byte as the block has it
    std::memcpy(expected + 2, "RENAMED", 7);
    expected[23] = 5;  // device kind, kept
    put_u16le(expected + 24, 77);
    expected[26] = 7;  // bootloader version, kept
    EXPECT_EQ(payload(legacy_sets[0]), std::vector<uint8_t>(expected, expected + 27));
    EXPECT_EQ(sent(CMD_SET_DEVICE_INFO).size(), 1u);  // refused with 9 first
    firmware_info fw{};
    ASSERT_EQ(identity_get_firmware_info(fw), 0);
    EXPECT_STREQ(device_type_text(firmware_info_type(fw)), "A1120 Vehicle Sampler");
}

TEST_F(IdentificationDialogTest, FailuresOfTheReadsAndTheWrite) {
    plug_and_open();
    // The read-back after a good write: reported, and the instrument holds the new name.
    EXPECT_TRUE(drive(DIALOG_IDENTIFICATION, [&](QDialog* d) {
        dev->fail_next(CMD_GET_DEVICE_INFO, 1, 3, 1);  // the save's own read works
        edit(d, "name_edit")->setText(QStringLiteral("AFTER"));
        push(d, "save_button")->click();
    }));
    expect_message(0, "Save", "Failed to save settings");
    dev->with_firmware([](sim_firmware& fw) { EXPECT_EQ(fw.identity.name, "AFTER"); });

    messages.clear();
    dev->force_result(CMD_SET_DEVICE_INFO, 8);
    EXPECT_TRUE(drive(DIALOG_IDENTIFICATION, [&](QDialog* d) { push(d, "save_button")->click(); }));
    expect_message(0, "Save", "Failed to save settings (firmware is too old for GUI)");
    dev->force_result(CMD_SET_DEVICE_INFO, -1);

    messages.clear();
    dev->clear_requests();
    dev->fail_next(CMD_GET_DEVICE_INFO, 1, 8, 1);  // the save's own read answers 8
    EXPECT_TRUE(drive(DIALOG_IDENTIFICATION, [&](QDialog* d) { push(d, "save_button")->click(); }));
    expect_message(0, "Save", "Failed to save settings (firmware is too old for GUI)");
    EXPECT_TRUE(sent(CMD_SET_DEVICE_INFO).empty());

    messages.clear();
    dev->fail_next(CMD_GET_DEVICE_INFO, 1, 3);
    EXPECT_FALSE(drive(DIALOG_IDENTIFICATION, [](QDialog*) {}));
    expect_message(0, "Configure Sensor Name", "Unable to retrieve Sensor Name from device");
    EXPECT_TRUE(sent(CMD_SET_DEVICE_INFO).empty());
}

// ---- fields that cannot be sent as typed -------------------------------------------------------

// Typed as keys on this decimal-comma desktop: "10.000" (ten thousand) was stored as 0 pulses,
// "12,5" as 125 (the comma dropped), "-5" as 5, "abc" or nothing as 0, each with "Saved". Now
// the field keeps what was typed, red, says what it takes, and Save stays disabled.
TEST_F(FieldRulesTest, TextThatIsNoNumberOfItsKindIsKeptRedAndBlocksSave) {
    plug_and_open();
    const struct {
        int dialog;
        const char* field;
    } cases[] = {{DIALOG_FLOW, "pulses_edit"},      {DIALOG_CLEANING, "flow_time_edit"},
                 {DIALOG_CLEANING, "speed_edit"},   {DIALOG_CLEANING, "flush_edit"},
                 {DIALOG_IDENTIFICATION, "serial_edit"}};
    for (const auto& c : cases) {
        EXPECT_TRUE(drive(c.dialog, [&](QDialog* d) {
            QLineEdit* e = edit(d, c.field);
            const QString stored = e->text();
            for (const char* bad : {"10.000", "12,5", "-5", "abc", "10000.5"}) {
                e->clear();
                QTest::keyClicks(e, QString::fromUtf8(bad));
                EXPECT_EQ(e->text(), QString::fromUtf8(bad)) << c.field;
                EXPECT_TRUE(red(e) && !push(d, "save_button")->isEnabled()) << c.field << " " << bad;
                push(d, "save_button")->click();
            }
            if (c.dialog == DIALOG_FLOW) {
                EXPECT_EQ(e->toolTip(), QStringLiteral("Datasheet estimates 10000 for water at 25C\nA whole number from 0 "
                                                       "to 4294967295 (pulses per litre). A larger one is saved as 4294967295."));
            }
            e->clear();  // empty means 0 only for the serial number
            EXPECT_EQ(red(e), c.dialog != DIALOG_IDENTIFICATION) << c.field;
            e->setText(stored);
            EXPECT_TRUE(!red(e) && push(d, "save_button")->isEnabled()) << c.field;
            if (c.dialog == DIALOG_IDENTIFICATION) {  // the name: the factory settings' rule, with its reason
                edit(d, "name_edit")->setText(QStringLiteral("ABCDEFGHIJKLMNOPQRSTU"));
                EXPECT_EQ(edit(d, "name_edit")->toolTip(),
                          QStringLiteral("Sensor name to display in Connect view\nAt most 20 printable ASCII characters "
                                         "(one byte each)."));
            }
        }));
    }
    for (uint16_t set : {CMD_SET_CONFIG_BLOCK, CMD_SET_CLEANING_CONFIG, CMD_SET_DEVICE_INFO}) EXPECT_TRUE(sent(set).empty());
    EXPECT_TRUE(messages.empty());
}

// ---- Enter ------------------------------------------------------------------------------------

// Qt lets a dialog's first button take Enter: typing into a field and pressing Enter would save
// (or close the identification dialog). Here Enter presses nothing.
TEST_F(EnterKeyTest, EnterInAFieldPressesNothing) {
    plug_and_open();
    const struct {
        int dialog;
        const char* field;
    } cases[] = {{DIALOG_FLOW, "pulses_edit"},
                 {DIALOG_CLEANING, "speed_edit"},
                 {DIALOG_IDENTIFICATION, "name_edit"},
                 {DIALOG_IDENTIFICATION, "serial_edit"},
                 {DIALOG_MOTORS, "speed_edit"},  // Enter here must not start a motor
                 {DIALOG_PRESSURE, "bar_edit_1"}};
    for (const auto& c : cases) {
        dev->clear_requests();
        EXPECT_TRUE(drive(c.dialog, [&](QDialog* d) {
            QLineEdit* e = edit(d, c.field);
            e->setFocus();
            QTest::keyClicks(e, QStringLiteral("7"));
            QTest::keyClick(e, Qt::Key_Return);
            QTest::keyClick(e, Qt::Key_Enter);
            EXPECT_TRUE(d->isVisible()) << c.field;
            for (QPushButton* b : d->findChildren<QPushButton*>()) EXPECT_FALSE(b->isDefault()) << c.field;
        }));
        EXPECT_TRUE(messages.empty()) << c.field;
        for (uint16_t set : {CMD_SET_CONFIG_BLOCK, CMD_SET_CLEANING_CONFIG, CMD_SET_DEVICE_INFO, CMD_MOTOR_RUN,
                             CMD_MOTOR_ENGAGE, CMD_SET_MOTOR_CONFIG})
            EXPECT_TRUE(sent(set).empty()) << c.field;
    }
    EXPECT_TRUE(drive(DIALOG_RS232, [&](QDialog* d) {
        QComboBox* protocol = combo(d, "protocol_box");
        protocol->setFocus();
        QTest::keyClick(protocol, Qt::Key_Return);
        EXPECT_TRUE(d->isVisible());
    }));
    EXPECT_TRUE(sent(CMD_SET_RS232_CONFIG).empty());
}

}  // namespace
