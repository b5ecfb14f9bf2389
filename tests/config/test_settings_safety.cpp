// The instrument goes away while a stored-settings dialog, or one of its message boxes, is
// open: the real QDialog and QMessageBox event loops run here and the removal arrives inside
// them. Nothing may crash, nothing may be shown for the instrument that has gone, and the
// dialogs opened from the menu close with it. Run under AddressSanitizer too.
#include "link/bytes.h"
#include "link/commands.h"
#include "unplug_watch.h"

#include <QLineEdit>

namespace {

class SettingsSafetyTest : public AppTest {
protected:
    void SetUp() override {
        AppTest::SetUp();
        ui_set_message_hook({});
        dev = sim_bus_add(named("UNIT-A"));
        open_window();
    }
    // Connects to the instrument (plugged in again if need be).
    void connect_fresh() {
        if (!dev->plugged()) dev->plug();
        ASSERT_TRUE(wait_until([&] { return list()->topLevelItemCount() == 1; }));
        ASSERT_NO_FATAL_FAILURE(connect_first_row());
    }
    static void click(QWidget* dialog, const char* button) {
        dialog->findChild<QPushButton*>(QString::fromUtf8(button))->click();
    }

    std::shared_ptr<sim_device> dev;
};

struct menu_dialog {
    int command;
    const char* name;
    const char* saved;  // the message after a good Save
};
const menu_dialog MENU_DIALOGS[] = {
    {ID_CONFIGURE_FLOW, "flow_meter_dialog", "Flow Meter Config Saved"},
    {ID_CONFIGURE_CLEANING, "cleaning_dialog", "Cleaning confugration saved"},
    {ID_CONFIGURE_RS232, "rs232_dialog", "Settings saved"},
    {ID_CONFIGURE_IDENTIFICATION, "identification_dialog", "Settings saved"},
};

TEST_F(SettingsSafetyTest, UnplugWhileEachDialogIsOpen) {
    for (const menu_dialog& m : MENU_DIALOGS) {
        SCOPED_TRACE(m.name);
        connect_fresh();
        const char* name = m.name;
        unplug_watch watch(dev, [name](QWidget* w) { return named_window(w, name); });
        const int command = m.command;
        run_until_back_at_connect_view(watch, [command] { main_command(command); });
        EXPECT_EQ(watch.shown(), (std::vector<std::string>{m.name, "Sensor Disconnected"}));
    }
}

TEST_F(SettingsSafetyTest, UnplugWhileEachSaveMessageIsShown) {
    for (const menu_dialog& m : MENU_DIALOGS) {
        SCOPED_TRACE(m.name);
        connect_fresh();
        const char* saved = m.saved;
        unplug_watch watch(dev, [saved](QWidget* w) { return shows(w, saved); }, [](QWidget* w) { click(w, "save_button"); });
        const int command = m.command;
        run_until_back_at_connect_view(watch, [command] { main_command(command); });
        EXPECT_EQ(watch.shown(), (std::vector<std::string>{m.name, m.saved, "Sensor Disconnected"}));
    }
}

TEST_F(SettingsSafetyTest, UnplugWhileTheRetiredProtocolMessageIsShownOpensNoDialog) {
    connect_fresh();
    dev->with_firmware([](sim_firmware& fw) { put_u32le(fw.settings.rs232.data() + 8, 2); });
    const char* retired = "Driftline protocol is no longer supported, please choose another and click on Save.";
    unplug_watch watch(dev, [retired](QWidget* w) { return shows(w, retired); });
    run_until_back_at_connect_view(watch, [] { main_command(ID_CONFIGURE_RS232); });
    EXPECT_EQ(watch.shown(), (std::vector<std::string>{retired, "Sensor Disconnected"}));
}

// Factory Settings runs from the connect view, on a link of its own: nothing closes it when the
// instrument goes. It stays usable, says that the save failed, and the list catches up after.
TEST_F(SettingsSafetyTest, FactoryDialogOutlivesTheInstrumentAndReportsTheFailedSave) {
    ASSERT_EQ(list()->topLevelItemCount(), 1);
    click_row(0);
    ASSERT_TRUE(button(2)->isEnabled());
    int step = 0;
    std::string reported;
    QTimer driver;
    QObject::connect(&driver, &QTimer::timeout, [&] {
        QWidget* top = QApplication::activeModalWidget();
        if (!top) return;
        if (step == 0 && named_window(top, "factory_dialog")) {
            step = 1;
            dev->unplug();
            top->findChild<QLineEdit*>(QStringLiteral("password_edit"))->setText(QStringLiteral("quoll"));
            QPointer<QWidget> t(top);
            QTimer::singleShot(0, [t] {
                if (t) click(t, "save_button");
            });
        } else if (step == 1 && qobject_cast<QMessageBox*>(top)) {
            step = 2;
            auto* box = static_cast<QMessageBox*>(top);
            reported = box->windowTitle().toStdString() + ": " + box->text().toStdString();
            box->button(QMessageBox::Ok)->click();
        } else if (step == 2 && named_window(top, "factory_dialog")) {
            step = 3;
            static_cast<QDialog*>(top)->reject();
        }
    });
    driver.start(20);
    QTimer::singleShot(0, [&] { QTest::mouseClick(button(2), Qt::LeftButton); });
    ASSERT_TRUE(wait_until([&] { return step == 3 && !QApplication::activeModalWidget() && ui_open_dialog_count() == 0; },
                           15000));
    settle(100);
    EXPECT_EQ(reported, "Save (Processing Board FLASH): Unable to save Processing Board FLASH settings to sensor");
    EXPECT_FALSE(link_is_open());
    EXPECT_EQ(view_id(), VIEW_CONNECT);
    EXPECT_EQ(list()->topLevelItemCount(), 0);  // brought up to date once the dialog closed
}

}  // namespace
