#include "app_fixture.h"
#include "link/commands.h"
#include "platform/hid_bus.h"

#include <QFile>
#include <QTemporaryDir>
#include <QTimer>

namespace {

using ConnectViewTest = AppTest;

TEST_F(ConnectViewTest, EmptyBusGivesAnEmptyListAndDisabledButtons) {
    open_window();
    EXPECT_EQ(list()->topLevelItemCount(), 0);
    EXPECT_EQ(buttons(), (std::vector<bool>{false, false, false}));
    QStringList captions;
    for (int c = 0; c < list()->columnCount(); ++c) captions << list()->headerItem()->text(c);
    EXPECT_EQ(captions, (QStringList{"Name", "Serial Number", "State", "Type"}));
    EXPECT_EQ(button(0)->toolTip(), QStringLiteral("Connect To Sensor"));
    EXPECT_EQ(button(1)->toolTip(), QStringLiteral("Upgrade Sensor Firmware"));
    EXPECT_EQ(button(2)->toolTip(), QStringLiteral("Set Factory Settings (requires password)"));
    QTest::mouseClick(button(0), Qt::LeftButton);  // disabled: nothing happens
    EXPECT_TRUE(messages.empty());
}

TEST_F(ConnectViewTest, RowsShowIdentityAndClicksFollowTheMode) {
    sim_device_config fw = named("RIVER-1");
    fw.firmware.identity.serial = 501;
    sim_bus_add(fw);
    sim_device_config boot = named("RIVER-2", sim_mode::bootloader);
    boot.firmware.identity.bootloader_version = 4;
    boot.firmware.identity.type_code = 1130;
    sim_bus_add(boot);
    sim_device_config mute = named("MUTE");
    mute.firmware.silent_commands = {CMD_GET_DEVICE_INFO, CMD_GET_FIRMWARE_INFO, CMD_GET_INFO_LEGACY};
    sim_bus_add(mute);
    open_window();
    ASSERT_EQ(list()->topLevelItemCount(), 3);
    auto row = [&](int r) {
        QStringList cells;
        for (int c = 0; c < 4; ++c) cells << list()->topLevelItem(r)->text(c);
        return cells;
    };
    EXPECT_EQ(row(0), (QStringList{"RIVER-1", "501", "Firmware", "A1100 Cartridge Sampler"}));
    EXPECT_EQ(row(1), (QStringList{"RIVER-2", "1234", "Bootloader (v4)", "A1130 Mooring Sampler"}));
    EXPECT_EQ(row(2), (QStringList{"Unknown device", "", "", ""}));
    EXPECT_FALSE(link_is_open());

    click_row(1);
    EXPECT_EQ(buttons(), (std::vector<bool>{true, true, true}));
    click_row(0);
    EXPECT_EQ(buttons(), (std::vector<bool>{true, false, true}));
    click_row(2);
    EXPECT_EQ(buttons(), (std::vector<bool>{false, false, false}));
    click_row(0);
    click_row(99);  // empty space below the rows
    EXPECT_EQ(buttons(), (std::vector<bool>{false, false, false}));
    EXPECT_EQ(connect_view_selection(), nullptr);
}

TEST_F(ConnectViewTest, DoubleClickConnectsAFirmwareRow) {
    sim_bus_add(named("RIVER-1"));
    open_window();
    double_click_row(0);
    ASSERT_TRUE(wait_until([&] { return view_id() == VIEW_RUN; }));
    EXPECT_EQ(main_is_connected(), 1);
    EXPECT_EQ(connected_device_path, "sim:1");
    EXPECT_TRUE(link_is_open());
}

TEST_F(ConnectViewTest, ConnectOnABootloaderRowConnectsWhenTheFirmwareComesBack) {
    auto dev = sim_bus_add(named("RIVER-B", sim_mode::bootloader));
    dev->set_reenumerate_delay(100);
    open_window();
    click_row(0);
    QTest::mouseClick(button(0), Qt::LeftButton);
    EXPECT_EQ(connect_view_awaiting_firmware(), 1);
    EXPECT_EQ(connect_view_selection(), nullptr);
    EXPECT_EQ(view_id(), VIEW_CONNECT);
    auto sent = dev->requests();
    ASSERT_FALSE(sent.empty());
    EXPECT_EQ(frame_code(sent.back()), CMD_START_FIRMWARE);
    ASSERT_TRUE(wait_until([&] { return view_id() == VIEW_RUN; }));
    EXPECT_TRUE(messages.empty());
    EXPECT_EQ(main_is_connected(), 1);
    dev->with_firmware([](sim_firmware& fw) { EXPECT_EQ(fw.mode, sim_mode::firmware); });
}

TEST_F(ConnectViewTest, ANameThatIsNotUtf8IsFoundAgainWhenTheFirmwareComesBack) {
    // Twenty bytes of an older code page: each byte that is not UTF-8 shows as a replacement
    // character of three bytes, so the remembered name is cut where the row text is not.
    auto dev = sim_bus_add(named("\xC4\xD6\xDC-Probe-\xE9\xE8\xEA\xEB\xEC\xED\xEE\xEF\xF0\xF1", sim_mode::bootloader));
    dev->set_reenumerate_delay(100);
    open_window();
    click_row(0);
    QTest::mouseClick(button(0), Qt::LeftButton);
    ASSERT_EQ(connect_view_awaiting_firmware(), 1);
    ASSERT_TRUE(wait_until([&] { return view_id() == VIEW_RUN; }));
    EXPECT_TRUE(messages.empty()) << messages[0].text;
}

TEST_F(ConnectViewTest, SameNameTwiceRemembersTheLowerRowAfterAnArrival) {
    sim_bus_add(named("TWIN"));
    sim_bus_add(named("TWIN"));
    open_window();
    ASSERT_EQ(list()->topLevelItemCount(), 2);
    click_row(0);
    sim_bus_add(named("THIRD"));
    ASSERT_TRUE(wait_until([&] { return list()->topLevelItemCount() == 3; }));
    ASSERT_NE(connect_view_selection(), nullptr);
    EXPECT_STREQ(connect_view_selection()->path, "sim:2");
    EXPECT_EQ(buttons(), (std::vector<bool>{false, false, false}));
}

TEST_F(ConnectViewTest, FailedFirmwareStartLeavesTheLinkClosed) {
    auto dev = sim_bus_add(named("RIVER-B", sim_mode::bootloader));
    dev->force_result(CMD_START_FIRMWARE, 3);
    open_window();
    click_row(0);
    QTest::mouseClick(button(0), Qt::LeftButton);
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_EQ(messages[0].caption, "Connect");
    EXPECT_EQ(messages[0].text, "Failed to start firmware");
    EXPECT_FALSE(link_is_open());
    EXPECT_EQ(buttons(), (std::vector<bool>{true, true, true}));
    // The same row works again at once.
    dev->force_result(CMD_START_FIRMWARE, -1);
    QTest::mouseClick(button(0), Qt::LeftButton);
    EXPECT_EQ(connect_view_awaiting_firmware(), 1);
}

TEST_F(ConnectViewTest, FailedOpenOnConnectKeepsOnlyConnect) {
    sim_bus_add(named("RIVER-1"));
    open_window();
    click_row(0);
    hid_port* held = hid_port_open("sim:1");  // another program holds the instrument
    ASSERT_NE(held, nullptr);
    QTest::mouseClick(button(0), Qt::LeftButton);
    hid_port_close(held);
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_EQ(messages[0].text, "Failed to connect");
    EXPECT_EQ(buttons(), (std::vector<bool>{true, false, false}));
    EXPECT_EQ(view_id(), VIEW_CONNECT);
}

TEST_F(ConnectViewTest, ServiceButtonsOpenTheLinkAndCloseItAfterwards) {
    sim_bus_add(named("RIVER-B", sim_mode::bootloader));
    static bool link_was_open;
    static uint32_t mode_passed;
    link_was_open = false;
    mode_passed = 0;
    connect_register_upgrade_dialog([](QWidget*, uint32_t mode) { link_was_open = link_is_open(), mode_passed = mode; });
    connect_register_factory_dialog([](QWidget*, uint32_t mode) { link_was_open = link_is_open(), mode_passed = mode; });
    open_window();
    click_row(0);
    QTest::mouseClick(button(1), Qt::LeftButton);
    EXPECT_TRUE(link_was_open);
    EXPECT_EQ(mode_passed, 1u);
    EXPECT_FALSE(link_is_open());
    EXPECT_EQ(buttons(), (std::vector<bool>{true, true, true}));  // left as they were

    link_was_open = false;
    QTest::mouseClick(button(2), Qt::LeftButton);
    EXPECT_TRUE(link_was_open);
    EXPECT_FALSE(link_is_open());
    EXPECT_EQ(connect_view_selection(), nullptr);  // rebuilt, nothing selected
    EXPECT_EQ(buttons(), (std::vector<bool>{false, false, false}));
    EXPECT_EQ(list()->topLevelItemCount(), 1);
    connect_register_upgrade_dialog(nullptr);
    connect_register_factory_dialog(nullptr);
}

TEST_F(ConnectViewTest, ArrivalAndRemovalRebuildTheList) {
    open_window();
    auto dev = sim_bus_add(named("LATE"));
    ASSERT_TRUE(wait_until([&] { return list()->topLevelItemCount() == 1; }));
    click_row(0);
    dev->unplug();
    ASSERT_TRUE(wait_until([&] { return list()->topLevelItemCount() == 0; }));
    EXPECT_EQ(buttons(), (std::vector<bool>{false, false, false}));
    EXPECT_TRUE(messages.empty());
}

}  // namespace

namespace {

// An instrument plugged in while another one is being upgraded must not cut the upgrade short.
TEST_F(ConnectViewTest, DeviceChangesWaitUntilTheUpgradeDialogCloses) {
    auto boot = sim_bus_add(named("RIVER-B", sim_mode::bootloader));
    boot->set_latency(sim_latency::usb_full_speed);
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("fw.bin"));
    {
        QFile f(path);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(QByteArray(64 * 100, 'f'));
    }
    ui_set_file_hook([path](QWidget*, const ui_file_request&) { return path; });
    open_window();
    click_row(0);
    std::shared_ptr<sim_device> late;
    QTimer::singleShot(150, [&] { late = sim_bus_add(named("LATE")); });
    QTest::mouseClick(button(1), Qt::LeftButton);
    ui_set_file_hook({});
    ASSERT_FALSE(messages.empty());
    EXPECT_EQ(messages.back().text, "Upgrade complete, 6400 bytes written");
    EXPECT_FALSE(link_is_open());
    // The arrival is taken into account once the dialog has closed.
    EXPECT_EQ(list()->topLevelItemCount(), 2);
    EXPECT_EQ(buttons(), (std::vector<bool>{false, false, false}));
}

}  // namespace
