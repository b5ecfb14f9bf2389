// The factory settings dialog: the password gate, the record it writes, its read-back check,
// and the bootloader upgrade it opens, from the connect view as the operator reaches it.
#include "link/bytes.h"
#include "settings_fixture.h"

#include <QTemporaryDir>

#include <cstring>
#include <fstream>

namespace {

class FactoryDialogTest : public SettingsDialogTest {
protected:
    void plug_mode(sim_mode mode) {
        sim_device_config c;
        c.firmware.mode = mode;
        plug_and_open(c);
    }
    // The controls the password opens, in this order: name, serial, board serial, Save, Upgrade.
    static std::vector<bool> opened(QDialog* d) {
        std::vector<bool> out;
        for (const char* name : {"name_edit", "serial_edit", "board_serial_edit"})
            out.push_back(d->findChild<QLineEdit*>(QString::fromUtf8(name))->isEnabled());
        for (const char* name : {"save_button", "upgrade_button"})
            out.push_back(d->findChild<QPushButton*>(QString::fromUtf8(name))->isEnabled());
        return out;
    }
    static const std::vector<bool> CLOSED;
    static const std::vector<bool> OPEN;
    static const std::vector<bool> OPEN_NO_UPGRADE;
    static void type_password(QDialog* d, const char* text) {
        QLineEdit* p = edit(d, "password_edit");
        p->clear();
        QTest::keyClicks(p, QString::fromUtf8(text));
    }
};
const std::vector<bool> FactoryDialogTest::CLOSED = {false, false, false, false, false};
const std::vector<bool> FactoryDialogTest::OPEN = {true, true, true, true, true};
const std::vector<bool> FactoryDialogTest::OPEN_NO_UPGRADE = {true, true, true, true, false};

TEST_F(FactoryDialogTest, OnlyTheExactPasswordOpensTheFieldsAndAnyChangeClosesThemAtOnce) {
    plug_mode(sim_mode::firmware_bootloader_upgrade);
    EXPECT_TRUE(drive(DIALOG_FACTORY, [&](QDialog* d) {
        EXPECT_EQ(d->windowTitle(), QStringLiteral("Factory Settings"));
        QLineEdit* password = edit(d, "password_edit");
        EXPECT_EQ(password->echoMode(), QLineEdit::Password);
        EXPECT_EQ(opened(d), CLOSED);
        // Shown before the gate opens.
        EXPECT_EQ(edit(d, "name_edit")->text(), QStringLiteral("SAMPLER-01"));
        EXPECT_EQ(edit(d, "serial_edit")->text(), QStringLiteral("1234"));
        EXPECT_EQ(edit(d, "board_serial_edit")->text(), QStringLiteral("5678"));

        for (const char* wrong : {"", "quol", "quoll ", "quollx", " quoll"}) {
            type_password(d, wrong);
            EXPECT_EQ(opened(d), CLOSED) << '"' << wrong << '"';
        }
        type_password(d, "quol");
        EXPECT_EQ(opened(d), CLOSED);
        QTest::keyClicks(password, QStringLiteral("l"));  // the last letter opens at once
        EXPECT_EQ(opened(d), OPEN);
        QTest::keyClicks(password, QStringLiteral("x"));
        EXPECT_EQ(opened(d), CLOSED);
        QTest::keyClick(password, Qt::Key_Backspace);
        EXPECT_EQ(opened(d), OPEN);
        password->clear();
        EXPECT_EQ(opened(d), CLOSED);
        // What is typed is lowered.
        type_password(d, "QuOLL");
        EXPECT_EQ(password->text(), QStringLiteral("quoll"));
        EXPECT_EQ(opened(d), OPEN);
    }));
    EXPECT_TRUE(messages.empty());
    EXPECT_TRUE(sent(CMD_SET_DEVICE_INFO).empty());
}

TEST_F(FactoryDialogTest, UpgradeIsOfferedOnlyToFirmwareThatAllowsABootloaderUpgrade) {
    for (sim_mode mode : {sim_mode::firmware, sim_mode::bootloader}) {
        plug_mode(mode);
        EXPECT_TRUE(drive(DIALOG_FACTORY, [&](QDialog* d) {
            type_password(d, "quoll");
            EXPECT_EQ(opened(d), OPEN_NO_UPGRADE) << int(mode);
        }));
        link_close();
    }
}

TEST_F(FactoryDialogTest, SaveBuildsTheRecordFromZeroAndShowsWhatWasReadBack) {
    plug_mode(sim_mode::firmware);
    dev->with_firmware([](sim_firmware& fw) {
        auto& r = fw.identity.info_record;
        r[1] = 0x41;
        r[23] = 0x42;
        r[26] = 0x43;
    });
    EXPECT_TRUE(drive(DIALOG_FACTORY, [&](QDialog* d) {
        type_password(d, "quoll");
        edit(d, "name_edit")->setText(QStringLiteral("BOARD-9"));
        edit(d, "serial_edit")->setText(QStringLiteral("70000"));
        edit(d, "board_serial_edit")->setText(QStringLiteral("300"));
        push(d, "save_button")->click();
        EXPECT_EQ(edit(d, "serial_edit")->text(), QStringLiteral("65535"));  // read back
        EXPECT_EQ(edit(d, "board_serial_edit")->text(), QStringLiteral("300"));
        EXPECT_TRUE(d->isVisible());  // the dialog stays open

        edit(d, "board_serial_edit")->setText(QStringLiteral("4294967296"));  // not 0
        push(d, "save_button")->click();
        EXPECT_EQ(edit(d, "board_serial_edit")->text(), QStringLiteral("65535"));
    }));
    auto sets = sent(CMD_SET_DEVICE_INFO);
    ASSERT_EQ(sets.size(), 2u);
    uint8_t expected[DEVICE_INFO_SIZE] = {2};
    std::memcpy(expected + 2, "BOARD-9", 7);
    put_u16le(expected + 24, 65535);
    put_u16le(expected + 27, 300);  // bytes 1, 23 and 26 go as 0, whatever the instrument held
    EXPECT_EQ(payload(sets[0]), std::vector<uint8_t>(expected, expected + DEVICE_INFO_SIZE));
    EXPECT_TRUE(sent(CMD_GET_INFO_LEGACY).empty());
    ASSERT_EQ(messages.size(), 2u);
    expect_message(0, "Save (Processing Board FLASH)", "Saved Processing Board FLASH settings to sensor");
    dev->with_firmware([](sim_firmware& fw) {
        EXPECT_EQ(fw.identity.name, "BOARD-9");
        EXPECT_EQ(fw.identity.board_serial, 65535);
    });
}

// One name rule with the identification dialog: a 21st character is not cut off without a
// word but kept, red, with the reason as the tooltip. Serial numbers typed as "12,5" are not
// taken as 125.
TEST_F(FactoryDialogTest, NamesAndSerialsAreRedWithTheirReasonAndNeverCut) {
    plug_mode(sim_mode::firmware);
    EXPECT_TRUE(drive(DIALOG_FACTORY, [&](QDialog* d) {
        type_password(d, "quoll");
        QLineEdit* name = edit(d, "name_edit");
        QPushButton* save = push(d, "save_button");
        name->setText(QStringLiteral("\u00e9t\u00e9"));
        EXPECT_TRUE(red(name) && !save->isEnabled());
        name->setText(QStringLiteral("ABCDEFGHIJKLMNOPQRST"));
        EXPECT_TRUE(!red(name) && save->isEnabled());
        QTest::keyClicks(name, QStringLiteral("U"));
        EXPECT_EQ(name->text(), QStringLiteral("ABCDEFGHIJKLMNOPQRSTU"));
        EXPECT_TRUE(red(name) && !save->isEnabled());
        EXPECT_EQ(name->toolTip(), QStringLiteral("At most 20 printable ASCII characters (one byte each)."));
        name->setText(QStringLiteral("BOARD-2"));
        for (const char* field : {"serial_edit", "board_serial_edit"}) {
            QLineEdit* e = edit(d, field);
            e->clear();
            QTest::keyClicks(e, QStringLiteral("12,5"));
            EXPECT_EQ(e->text(), QStringLiteral("12,5"));
            EXPECT_TRUE(red(e) && !save->isEnabled()) << field;
            save->click();
            e->setText(QStringLiteral("70000"));  // saved as 65535, as before
        }
        EXPECT_TRUE(sent(CMD_SET_DEVICE_INFO).empty());
        save->click();
        EXPECT_EQ(edit(d, "board_serial_edit")->text(), QStringLiteral("65535"));  // read back
    }));
    ASSERT_EQ(sent(CMD_SET_DEVICE_INFO).size(), 1u);
}

TEST_F(FactoryDialogTest, OlderFirmwareThatDropsTheBoardSerialIsAFailedSave) {
    sim_device_config c;
    c.firmware.older_firmware = true;
    c.firmware.identity.kind = 5;
    plug_and_open(c);
    EXPECT_TRUE(drive(DIALOG_FACTORY, [&](QDialog* d) {
        EXPECT_EQ(edit(d, "board_serial_edit")->text(), QStringLiteral("0"));
        type_password(d, "quoll");
        edit(d, "name_edit")->setText(QStringLiteral("OLD-BOARD"));
        edit(d, "board_serial_edit")->setText(QStringLiteral("321"));
        push(d, "save_button")->click();
        EXPECT_EQ(edit(d, "board_serial_edit")->text(), QStringLiteral("321"));  // as typed
    }));
    ASSERT_EQ(messages.size(), 1u);
    expect_message(0, "Save (Processing Board FLASH)", "Unable to save Processing Board FLASH settings to sensor");
    dev->with_firmware([](sim_firmware& fw) {
        EXPECT_EQ(fw.identity.name, "OLD-BOARD");
        EXPECT_EQ(fw.identity.kind, 5);  // not written as 0: still a known device
    });
}

TEST_F(FactoryDialogTest, FailedReadsAndWrites) {
    plug_mode(sim_mode::firmware);
    // The read-back after a good write.
    EXPECT_TRUE(drive(DIALOG_FACTORY, [&](QDialog* d) {
        type_password(d, "quoll");
        edit(d, "name_edit")->setText(QStringLiteral("TYPED"));
        dev->fail_next(CMD_GET_DEVICE_INFO, 1, 3);
        push(d, "save_button")->click();
        EXPECT_EQ(edit(d, "name_edit")->text(), QStringLiteral("TYPED"));
        dev->force_result(CMD_SET_DEVICE_INFO, 4);
        push(d, "save_button")->click();
    }));
    ASSERT_EQ(messages.size(), 2u);
    expect_message(0, "Save (Processing Board FLASH)", "Unable to save Processing Board FLASH settings to sensor");
    expect_message(1, "Save (Processing Board FLASH)", "Unable to save Processing Board FLASH settings to sensor");
    dev->with_firmware([](sim_firmware& fw) { EXPECT_EQ(fw.identity.name, "TYPED"); });
    dev->force_result(CMD_SET_DEVICE_INFO, -1);

    // Opening: either read failing, or a device information that comes back short.
    messages.clear();
    dev->fail_next(CMD_GET_FIRMWARE_INFO, 1, 3);
    EXPECT_FALSE(drive(DIALOG_FACTORY, [](QDialog*) {}));
    dev->fail_next(CMD_GET_DEVICE_INFO, 1, 3);
    EXPECT_FALSE(drive(DIALOG_FACTORY, [](QDialog*) {}));
    dev->with_firmware([](sim_firmware& fw) { fw.identity.info_answer_length = 20; });
    EXPECT_FALSE(drive(DIALOG_FACTORY, [](QDialog*) {}));
    ASSERT_EQ(messages.size(), 3u);
    for (size_t i = 0; i < 3; ++i) expect_message(i, "Factory Settings", "Unable to retrieve factory settings from sensor");
}

TEST_F(FactoryDialogTest, EnterAfterThePasswordPressesNothing) {
    plug_mode(sim_mode::firmware_bootloader_upgrade);
    EXPECT_TRUE(drive(DIALOG_FACTORY, [&](QDialog* d) {
        QLineEdit* password = edit(d, "password_edit");
        password->setFocus();
        QTest::keyClicks(password, QStringLiteral("quoll"));
        ASSERT_EQ(opened(d), OPEN);
        QTest::keyClick(password, Qt::Key_Return);
        QTest::keyClick(password, Qt::Key_Enter);
        QLineEdit* name = edit(d, "name_edit");
        name->setFocus();
        QTest::keyClick(name, Qt::Key_Return);
        EXPECT_TRUE(d->isVisible());
        for (QPushButton* b : d->findChildren<QPushButton*>()) EXPECT_FALSE(b->isDefault());
    }));
    EXPECT_TRUE(messages.empty());  // neither Save's message nor the upgrade's question
    EXPECT_TRUE(sent(CMD_SET_DEVICE_INFO).empty());
}

// From the connect view, as the operator does it: Factory Settings..., the password, then
// Upgrade... installs a bootloader image at base 0, and the factory dialog is as it was.
TEST_F(FactoryDialogTest, ABootloaderUpgradeFromTheConnectViewInstallsTheImageAndKeepsTheDialog) {
    dev = sim_bus_add(named("FACTORY-1", sim_mode::firmware_bootloader_upgrade));
    QTemporaryDir dir;
    std::vector<uint8_t> image(300);
    for (size_t i = 0; i < image.size(); ++i) image[i] = uint8_t(i * 13 + 1);
    const QString path = dir.filePath(QStringLiteral("boot.bin"));
    std::ofstream(path.toStdString(), std::ios::binary)
        .write(reinterpret_cast<const char*>(image.data()), std::streamsize(image.size()));
    ui_file_request asked;
    ui_set_file_hook([&](QWidget*, const ui_file_request& r) { return asked = r, path; });

    open_window();
    click_row(0);
    ASSERT_TRUE(button(2)->isEnabled());
    EXPECT_TRUE(drive([&] { QTest::mouseClick(button(2), Qt::LeftButton); }, [&](QDialog* d) {
        EXPECT_TRUE(link_is_open());
        type_password(d, "quoll");
        edit(d, "name_edit")->setText(QStringLiteral("NOT-SAVED-YET"));
        ASSERT_TRUE(push(d, "upgrade_button")->isEnabled());
        push(d, "upgrade_button")->click();  // runs the upgrade dialog to its end
        EXPECT_TRUE(d->isVisible());
        EXPECT_EQ(edit(d, "password_edit")->text(), QStringLiteral("quoll"));
        EXPECT_EQ(edit(d, "name_edit")->text(), QStringLiteral("NOT-SAVED-YET"));
        EXPECT_EQ(opened(d), OPEN);
    }));
    EXPECT_EQ(asked.title, QStringLiteral("Bootloader Binary File"));
    ASSERT_EQ(messages.size(), 2u);
    EXPECT_EQ(messages[0].caption, "Upgrade Bootloader");
    expect_message(1, "Upgrade", "Upgrade complete, 300 bytes written");
    auto blocks = sent(CMD_WRITE_IMAGE_BLOCK);
    ASSERT_EQ(blocks.size(), 6u);  // 64 x 4 + 44, then the end block
    for (const auto& b : blocks) EXPECT_EQ(get_u32le(frame_payload(b) + 73), 0u);
    dev->with_firmware([&](sim_firmware& fw) {
        EXPECT_EQ(fw.installed_bootloader, image);
        EXPECT_TRUE(fw.installed_firmware.empty());
        EXPECT_EQ(fw.identity.name, "FACTORY-1");
    });
    EXPECT_FALSE(link_is_open());  // the connect view closed it after the dialog
    EXPECT_EQ(view_id(), VIEW_CONNECT);
}

}  // namespace
