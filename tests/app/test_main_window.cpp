#include "app_fixture.h"

#include <QLabel>
#include <QMenuBar>
#include <QTimer>

namespace {

const int ALL_IDS[] = {ID_FILE_DISCONNECT, ID_FILE_SAVE_LOG, ID_FILE_EXIT, ID_VIEW_RUN, ID_VIEW_DIAGNOSTICS,
                       ID_CONFIGURE_IDENTIFICATION, ID_CONFIGURE_CLOCK, ID_CONFIGURE_MOTORS, ID_CONFIGURE_PRESSURE,
                       ID_CONFIGURE_FLOW, ID_CONFIGURE_RS232, ID_CONFIGURE_CLEANING, ID_CONFIGURE_SCHEDULE, ID_HELP_ABOUT};
const int CONFIG_IDS[] = {ID_CONFIGURE_IDENTIFICATION, ID_CONFIGURE_CLOCK, ID_CONFIGURE_MOTORS, ID_CONFIGURE_PRESSURE,
                          ID_CONFIGURE_FLOW, ID_CONFIGURE_RS232, ID_CONFIGURE_CLEANING, ID_CONFIGURE_SCHEDULE};

class MainWindowTest : public AppTest {
protected:
    // Connects to the first listed instrument as an operator would.
    void connect_first() {
        ASSERT_GT(list()->topLevelItemCount(), 0);
        ASSERT_NO_FATAL_FAILURE(connect_first_row());
    }
    QString status(int part) { return window->statusBar()->findChild<QLabel*>(QStringLiteral("part%1").arg(part))->text(); }
};

TEST_F(MainWindowTest, MenuHasTheCaptionsAndOnlyExitAndAboutAtStartUp) {
    open_window();
    EXPECT_EQ(window->windowTitle(), QStringLiteral("veltranic_raror (not connected)"));
    EXPECT_EQ(status(0), QStringLiteral("Not connected"));
    EXPECT_EQ(view_id(), VIEW_CONNECT);
    for (int id : ALL_IDS) {
        EXPECT_EQ(action_enabled(id), id == ID_FILE_EXIT || id == ID_HELP_ABOUT) << id;
    }
    QStringList menus;
    for (QAction* a : window->menuBar()->actions()) menus << a->text();
    EXPECT_EQ(menus, (QStringList{"&File", "&View", "&Configure", "&Help"}));
    EXPECT_EQ(main_menu_action(ID_CONFIGURE_CLEANING)->text(), QStringLiteral("Stabilization && &Cleaning..."));
    EXPECT_EQ(main_menu_action(ID_CONFIGURE_RS232)->text(), QStringLiteral("RS&232..."));
    EXPECT_EQ(main_menu_action(ID_FILE_EXIT)->text(), QStringLiteral("E&xit"));
}

TEST_F(MainWindowTest, ViewSwitchGreysConfigurationUntilTheViewReportsNotRunning) {
    sim_bus_add(named("UNIT-A"));
    open_window();
    connect_first();
    EXPECT_EQ(main_is_connected(), 1);
    EXPECT_TRUE(link_is_open());
    for (int id : {ID_VIEW_RUN, ID_VIEW_DIAGNOSTICS}) {
        main_command(id);
        EXPECT_FALSE(action_enabled(ID_FILE_DISCONNECT));
        EXPECT_FALSE(action_enabled(ID_FILE_SAVE_LOG));
        for (int c : CONFIG_IDS) EXPECT_FALSE(action_enabled(c)) << c;
        EXPECT_TRUE(action_enabled(ID_VIEW_RUN));
        EXPECT_TRUE(action_enabled(ID_VIEW_DIAGNOSTICS));
        ASSERT_TRUE(wait_until([&] { return action_enabled(ID_FILE_DISCONNECT); }));
        for (int c : CONFIG_IDS) EXPECT_TRUE(action_enabled(c)) << c;
        // Save Log belongs to the run view only.
        EXPECT_EQ(action_enabled(ID_FILE_SAVE_LOG), id == ID_VIEW_RUN);
    }
    main_menu_update(VIEW_RUN, 1);
    EXPECT_FALSE(action_enabled(ID_FILE_SAVE_LOG));
    main_menu_update(VIEW_CONNECT, 0);
    EXPECT_FALSE(action_enabled(ID_VIEW_RUN));
    EXPECT_FALSE(action_enabled(ID_VIEW_DIAGNOSTICS));
}

TEST_F(MainWindowTest, RemovalOfTheConnectedInstrumentReturnsToTheConnectView) {
    auto dev = sim_bus_add(named("UNIT-A"));
    open_window();
    connect_first();
    dev->unplug();
    ASSERT_TRUE(wait_until([&] { return view_id() == VIEW_CONNECT; }));
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_EQ(messages[0].caption, "Device Change");
    EXPECT_EQ(messages[0].text, "Sensor Disconnected");
    EXPECT_FALSE(link_is_open());
    EXPECT_EQ(main_is_connected(), 0);
    EXPECT_EQ(window->windowTitle(), QStringLiteral("veltranic_raror (not connected)"));
    EXPECT_FALSE(action_enabled(ID_FILE_DISCONNECT));
}

TEST_F(MainWindowTest, RemovalOfAnotherInstrumentChangesNothing) {
    sim_bus_add(named("UNIT-A"));
    auto other = sim_bus_add(named("UNIT-B"));
    open_window();
    connect_first();
    app_view* before = main_current_view();
    other->unplug();
    other->plug();  // an arrival while connected is relayed to the run view, which ignores it
    settle(100);
    EXPECT_EQ(main_current_view(), before);
    EXPECT_TRUE(messages.empty());
    EXPECT_TRUE(link_is_open());
    EXPECT_EQ(main_is_connected(), 1);
}

TEST_F(MainWindowTest, ALateMenuStateOfAViewThatIsGoneChangesNothing) {
    sim_bus_add(named("UNIT-A"));
    open_window();
    connect_first();
    ASSERT_TRUE(wait_until([&] { return action_enabled(ID_FILE_DISCONNECT); }));
    main_command(ID_FILE_DISCONNECT);
    ASSERT_EQ(view_id(), VIEW_CONNECT);
    // The run view's last post arrives after the switch.
    QCoreApplication::postEvent(window, new app_message(MSG_MENU_STATE, VIEW_RUN, 0));
    settle(50);
    EXPECT_FALSE(action_enabled(ID_FILE_DISCONNECT));
    EXPECT_FALSE(action_enabled(ID_VIEW_RUN));
    for (int c : CONFIG_IDS) EXPECT_FALSE(action_enabled(c)) << c;
}

TEST_F(MainWindowTest, TwentyCharacterNameIsShownWholeAndTheTitleIsCutAt55) {
    sim_device_config c = named("ABCDEFGHIJKLMNOPQRST");
    c.firmware.identity.type_code = 1290;  // the longest product name
    sim_bus_add(c);
    open_window();
    connect_first();
    EXPECT_EQ(status(0), QStringLiteral("Connected to ABCDEFGHIJKLMNOPQRST"));
    const QString full = QStringLiteral("A1290 Microplastics Filtration Sampler (ABCDEFGHIJKLMNOPQRST)");
    EXPECT_EQ(window->windowTitle(), full.left(55));

    // A shorter type leaves the whole title.
    main_command(ID_FILE_DISCONNECT);
    sim_bus_reset();
    sim_device_config d = named("ABCDEFGHIJKLMNOPQRST");
    sim_bus_add(d);
    ASSERT_TRUE(wait_until([&] { return list()->topLevelItemCount() == 1; }));
    connect_first();
    EXPECT_EQ(window->windowTitle(), QStringLiteral("A1100 Cartridge Sampler (ABCDEFGHIJKLMNOPQRST)"));
}

TEST_F(MainWindowTest, StatusPartZeroStays420AndTheViewEndsAtTheStatusBar) {
    open_window();
    QLabel* part0 = window->statusBar()->findChild<QLabel*>(QStringLiteral("part0"));
    for (QSize size : {QSize(900, 500), QSize(1400, 700), QSize(700, 400)}) {
        window->resize(size);
        settle(20);
        EXPECT_EQ(part0->width(), STATUS_PART0_WIDTH);
        app_view* v = main_current_view();
        const QPoint bottom = v->mapTo(window, QPoint(0, v->height()));
        EXPECT_EQ(bottom.y(), window->statusBar()->geometry().top()) << size.width();
        EXPECT_EQ(v->width(), window->centralWidget()->width());
        EXPECT_EQ(list()->geometry().right(), v->width() - 1);
    }
}

TEST_F(MainWindowTest, EscapeEndsTheProgramAndAltF4DoesNothing) {
    open_window();
    QTest::keyClick(window, Qt::Key_F4, Qt::AltModifier);
    settle(20);
    EXPECT_TRUE(window->isVisible());
    QTest::keyClick(window, Qt::Key_Escape);
    settle(20);
    EXPECT_FALSE(window->isVisible());
}

TEST_F(MainWindowTest, DisconnectClosesTheLinkAndReturnsToTheConnectView) {
    sim_bus_add(named("UNIT-A"));
    open_window();
    connect_first();
    ASSERT_TRUE(wait_until([&] { return action_enabled(ID_FILE_DISCONNECT); }));
    main_menu_action(ID_FILE_DISCONNECT)->trigger();
    EXPECT_EQ(view_id(), VIEW_CONNECT);
    EXPECT_FALSE(link_is_open());
    EXPECT_EQ(status(0), QStringLiteral("Not connected"));
    // The new connect view asks the instruments for their names once it is in place.
    EXPECT_TRUE(wait_until([&] { return list()->topLevelItemCount() == 1; }));
}

TEST_F(MainWindowTest, AboutBoxShowsVersionsOnlyWhenConnected) {
    sim_bus_add(named("UNIT-A"));
    open_window();
    auto read_about = [&]() {
        QStringList lines;
        QTimer::singleShot(100, [&] {
            QWidget* box = QApplication::activeModalWidget();
            if (!box) return;
            for (const char* name : {"gui_version", "firmware_version", "device_line"})
                lines << box->findChild<QLabel*>(QString::fromUtf8(name))->text();
            box->close();
        });
        main_command(ID_HELP_ABOUT);
        return lines;
    };
    EXPECT_EQ(read_about(), (QStringList{"GUI Version: VELTRANIC_2_4_3", "", ""}));
    connect_first();
    EXPECT_EQ(read_about(), (QStringList{"GUI Version: VELTRANIC_2_4_3", "Firmware Version: 2.4.1 (sim)",
                                         "Device: A1100 Cartridge Sampler"}));
}

}  // namespace
