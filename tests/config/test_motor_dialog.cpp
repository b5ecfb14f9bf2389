// "Configure Motors" against the virtual instrument.
#include "config/motor.h"
#include "config/motor_dialog.h"
#include "config_dialog_fixture.h"
#include "decimal_comma.h"
#include "link/bytes.h"
#include "platform/registry.h"
#include "sampler/run_settings.h"

#include <QSlider>

#include <cmath>

namespace {

class MotorDialogTest : public ConfigDialogTest {
protected:
    bool open() { return take(motor_dialog_open(nullptr)); }
    void choose_motor(int row) { w<QComboBox>("motor_combo")->setCurrentIndex(row); }
    std::vector<std::string> captions() {
        return {text("forwards_button"), text("reverse_button"), text("test1_button"), text("test2_button")};
    }
    sim_motor motor(int id) {
        sim_motor m;
        const uint64_t now = dev->now_ms();
        dev->with_firmware([&](sim_firmware& fw) {
            fw.motors.advance(now);
            m = fw.motors.motor[id];
        });
        return m;
    }
    std::vector<uint8_t> stored(int id) {
        const sim_motor m = motor(id);
        return {m.config, m.config + MOTOR_CONFIG_SIZE};
    }
    static void remember_motor(uint32_t id) {
        char key[80];
        settings_key_path(key);
        registry_set_dword(key, "motor_id", id);
    }
    const std::vector<std::string> STOPS{"Stop", "Stop", "Stop", "Stop"};
};

TEST_F(MotorDialogTest, DriveByHandSampleTheSetPointSaveAndEngageToIt) {
    connect_link();
    ASSERT_TRUE(open());
    EXPECT_EQ(text("motor_combo"), "Cartridge Load");
    choose_motor(1);
    EXPECT_EQ(text("direction_label"), "Engaging Motor Direction");
    EXPECT_EQ(text("autostop_combo"), "Hall2");
    const double rest = motor(2).position_mm;

    w<QSlider>("speed_slider")->setValue(60);
    EXPECT_EQ(text("speed_percent_label"), "60%");
    click("forwards_button");
    EXPECT_EQ(captions(), STOPS);
    EXPECT_FALSE(w("motor_combo")->isEnabled());
    std::vector<uint8_t> run(24, 0);
    run[1] = 2;
    run[3] = 60;
    ASSERT_EQ(sent(CMD_MOTOR_RUN).size(), 1u);
    EXPECT_EQ(payload(sent(CMD_MOTOR_RUN)[0]), run);
    uint32_t remembered = 0;
    char key[80];
    settings_key_path(key);
    ASSERT_EQ(registry_get_dword(key, "motor_id", &remembered), 0);
    EXPECT_EQ(remembered, 2u);

    dev->advance_clock(2000);  // 60 % of 8 mm/s for 2 s
    click("test2_button");     // any of the four stops it
    EXPECT_EQ(captions(), (std::vector<std::string>{"Forwards", "Reverse", "Engage", "Disengage"}));
    const sim_motor m = motor(2);
    EXPECT_FALSE(m.running());
    EXPECT_NEAR(m.position_mm, rest + 9.6, 1e-6);

    click("engaged_sample_button");
    const long hall = std::stol(text("engaged_edit"));
    EXPECT_NEAR(hall, 150 + (rest + 9.6) / 20 * 3800, 2.5);
    click("save_button");
    EXPECT_EQ(texts(), std::vector<std::string>{"Save: Configuration Saved."});
    EXPECT_EQ(get_u16le(stored(2).data() + MOTOR_HALL_ENGAGED), hall);

    // Back by hand, then Engage: the instrument stops the motor at the sampled set point.
    click("reverse_button");
    dev->advance_clock(3000);
    click("reverse_button");
    EXPECT_LT(motor(2).position_mm, rest + 1);
    click("test1_button");
    EXPECT_EQ(captions(), STOPS);
    EXPECT_EQ(payload(sent(CMD_MOTOR_ENGAGE).at(0)), std::vector<uint8_t>{2});
    dev->advance_clock(20000);
    const sim_motor engaged = motor(2);
    EXPECT_FALSE(engaged.running());
    EXPECT_EQ(engaged.last_stop, sim_motor_stop::set_point);
    EXPECT_NEAR(150 + engaged.position_mm / 20 * 3800, double(hall), 0.5);
    // The dialog does not watch the instrument: its buttons read Stop until pressed.
    EXPECT_EQ(captions(), STOPS);
    click("test1_button");
    EXPECT_EQ(text("test1_button"), "Engage");
    EXPECT_TRUE(messages.size() == 1);
}

TEST_F(MotorDialogTest, AStopThatIsNotConfirmedLeavesStopShowingAndSaysSo) {
    connect_link(300);
    ASSERT_TRUE(open());
    w<QSlider>("speed_slider")->setValue(30);
    click("forwards_button");
    // Refused outright: the motor really is still running.
    dev->fail_next(CMD_MOTOR_STOP, 1, 3);
    click("reverse_button");
    EXPECT_EQ(texts(), std::vector<std::string>{"Stop: Can't stop motor on device (check power supply)."});
    EXPECT_EQ(captions(), STOPS);
    EXPECT_FALSE(w("speed_slider")->isEnabled());
    EXPECT_TRUE(motor(1).running());

    // The stop's answer is lost: the tool cannot know it arrived.
    messages.clear();
    dev->drop_next_responses(1);
    click("test1_button");
    EXPECT_EQ(messages.size(), 1u);
    EXPECT_EQ(captions(), STOPS);

    // Closing does not pretend either: the operator is asked, and No keeps the dialog.
    messages.clear();
    dev->fail_next(CMD_MOTOR_STOP, 1, 3);
    answer = UI_IDNO;
    dev->clear_requests();
    dialog->reject();
    EXPECT_EQ(texts(), std::vector<std::string>{"Exit: Can't stop motor on device (check power supply).\nClose anyway?"});
    EXPECT_TRUE(dialog->isVisible());
    EXPECT_EQ(codes(), std::vector<uint16_t>{CMD_MOTOR_STOP});
    EXPECT_EQ(captions(), STOPS);

    // A stop that works ends it.
    click("forwards_button");
    EXPECT_EQ(text("forwards_button"), "Forwards");
    EXPECT_FALSE(motor(1).running());
}

TEST_F(MotorDialogTest, AFailedStartIsReportedStoppedAndLeavesTheDialogIdle) {
    connect_link(300);
    ASSERT_TRUE(open());
    dev->fail_next(CMD_MOTOR_RUN, 1, 3);
    click("forwards_button");
    EXPECT_EQ(texts(), std::vector<std::string>{"Forwards: Can't start motor on device (check power supply)."});
    EXPECT_EQ(codes(), (std::vector<uint16_t>{CMD_MOTOR_RUN, CMD_MOTOR_STOP}));
    EXPECT_EQ(text("forwards_button"), "Forwards");
    EXPECT_TRUE(w("motor_combo")->isEnabled());

    messages.clear();
    dev->fail_next(CMD_MOTOR_ENGAGE, 1, 3);
    click("test1_button");
    EXPECT_EQ(texts(), std::vector<std::string>{"Engage: Can't start motor on device (check power supply)."});
    EXPECT_EQ(text("test1_button"), "Engage");

    // The start's answer lost and the stop's too: the motor may be running, so Stop stays.
    messages.clear();
    dev->set_never_answer(true);
    click("test2_button");
    dev->set_never_answer(false);
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_EQ(messages[0].caption, "Disengage");
    EXPECT_EQ(captions(), STOPS);
}

TEST_F(MotorDialogTest, AMotorThatCannotBeRememberedIsSaidOnceBeforeAnythingMoves) {
    connect_link();
    ASSERT_TRUE(open());
    qputenv("XDG_CONFIG_HOME", "/dev/null/config");  // no folder can be made there
    size_t runs_when_said = 99;
    ui_set_message_hook([&](QWidget*, const QString& caption, const QString& text, unsigned) {
        messages.push_back({caption.toStdString(), text.toStdString()});
        runs_when_said = sent(CMD_MOTOR_RUN).size();
        return UI_IDOK;
    });
    click("forwards_button");
    EXPECT_EQ(texts(), std::vector<std::string>{"Forwards: Unable to save the motor for next time"});
    EXPECT_EQ(runs_when_said, 0u);
    click("forwards_button");  // stops it
    click("reverse_button");
    EXPECT_EQ(messages.size(), 1u);
    EXPECT_EQ(sent(CMD_MOTOR_RUN).size(), 2u);
    click("reverse_button");
}

TEST_F(MotorDialogTest, CloseStopsTheMotorClosesAndStopsTheSensorsAskingAboutUnsavedChanges) {
    connect_link();
    ASSERT_TRUE(open());
    dev->with_firmware([](sim_firmware& fw) { EXPECT_TRUE(fw.motors.sensors_on); });
    w<QComboBox>("autostop_combo")->setCurrentIndex(4);  // Flow: an unsaved change
    answer = UI_IDNO;
    dialog->reject();
    EXPECT_EQ(texts(), std::vector<std::string>{"Exit: Exit without saving changes?"});
    EXPECT_TRUE(dialog->isVisible());
    EXPECT_TRUE(codes().empty());

    answer = UI_IDYES;
    dialog->reject();
    EXPECT_FALSE(dialog->isVisible());
    EXPECT_EQ(codes(), (std::vector<uint16_t>{CMD_MOTOR_STOP, CMD_MOTOR_CLOSE, CMD_STOP_SENSORS}));
    EXPECT_EQ(payload(sent(CMD_MOTOR_CLOSE)[0]), std::vector<uint8_t>{0});
    dev->with_firmware([](sim_firmware& fw) { EXPECT_FALSE(fw.motors.sensors_on); });

    // Choosing another motor first drops the change without a word.
    ASSERT_TRUE(open());
    w<QComboBox>("autostop_combo")->setCurrentIndex(4);
    choose_motor(2);
    dialog->reject();
    EXPECT_TRUE(messages.empty());
    EXPECT_FALSE(dialog->isVisible());
}

TEST_F(MotorDialogTest, AFreshInstrumentsRecordsCanBeEditedAndSaved) {
    dev->with_firmware([](sim_firmware& fw) { fw.motors.seed_blank(); });
    connect_link();
    ASSERT_TRUE(open());
    // Speed 65535 is red and editable; the pressure fields of an engaging motor are neither.
    EXPECT_TRUE(red("speed_edit"));
    // Codes never written are shown as such, not as the first rows.
    EXPECT_EQ(text("direction_combo"), "(not set)");
    EXPECT_EQ(text("autostop_combo"), "(not set)");
    EXPECT_EQ(text("autostop2_combo"), "(not set)");
    EXPECT_EQ(text("max_pressure_edit"), "255");
    EXPECT_FALSE(w("max_pressure_edit")->isEnabled());
    EXPECT_FALSE(red("max_pressure_edit"));
    // and it looks disabled: no palette of its own that would paint it like an enabled field
    EXPECT_FALSE(w("max_pressure_edit")->testAttribute(Qt::WA_SetPalette));
    EXPECT_FALSE(button("save_button")->isEnabled());
    type("speed_edit", "50");
    EXPECT_FALSE(red("speed_edit"));
    EXPECT_EQ(w<QLineEdit>("speed_edit")->palette().color(QPalette::Active, QPalette::Text),
              QApplication::palette(w("speed_edit")).color(QPalette::Active, QPalette::Text));
    EXPECT_TRUE(button("save_button")->isEnabled());
    EXPECT_TRUE(button("test1_button")->isEnabled());
    EXPECT_TRUE(w("motor_combo")->isEnabled());
    click("save_button");
    EXPECT_EQ(texts(), std::vector<std::string>{"Save: Configuration Saved."});
    // Codes the tool has no row for (direction and autostops 0xFF) stay as they were.
    const std::vector<uint8_t> saved{0xFF, 0xFF, 0xFF, 0xFF, 10, 0x10, 0x0E, 0xFF, 0x0F, 0xFF, 0x0F, 50, 0};
    EXPECT_EQ(stored(1), saved);
    std::vector<uint8_t> request{1};
    request.insert(request.end(), saved.begin(), saved.end());
    ASSERT_EQ(sent(CMD_SET_MOTOR_CONFIG).size(), 1u);
    EXPECT_EQ(payload(sent(CMD_SET_MOTOR_CONFIG)[0]), request);
    EXPECT_EQ(payload(sent(CMD_GET_MOTOR_CONFIG).back()), std::vector<uint8_t>{1});  // the read-back

    // A pump: its pressure fields count once Pressure is chosen, and then they are editable.
    messages.clear();
    choose_motor(3);
    EXPECT_EQ(text("test1_button"), "Pump");
    type("speed_edit", "80");
    EXPECT_TRUE(button("save_button")->isEnabled());
    w<QComboBox>("autostop2_combo")->setCurrentIndex(1);
    EXPECT_TRUE(w("max_pressure_edit")->isEnabled());
    EXPECT_TRUE(red("max_pressure_edit"));
    EXPECT_TRUE(red("timeout_edit"));
    EXPECT_FALSE(button("save_button")->isEnabled());
    type("max_pressure_edit", "6");
    type("timeout_edit", "30");
    click("save_button");
    EXPECT_EQ(texts(), std::vector<std::string>{"Save: Configuration Saved."});
    EXPECT_EQ(stored(4), (std::vector<uint8_t>{0xFF, 0xFF, 0xFF, 6, 6, 30, 0, 0xFF, 0x0F, 0xFF, 0x0F, 80, 0}));
}

TEST_F(MotorDialogTest, ValuesOutOfRangeAreRedAndBlockWhatTheyShould) {
    connect_link();
    ASSERT_TRUE(open());
    type("speed_edit", "100");
    EXPECT_FALSE(red("speed_edit"));
    EXPECT_TRUE(button("save_button")->isEnabled());
    for (const char* bad : {"101", "4294967396", "18446744073709551616"}) {
        type("speed_edit", bad);
        EXPECT_TRUE(red("speed_edit")) << bad;
        EXPECT_FALSE(button("save_button")->isEnabled()) << bad;
        EXPECT_FALSE(w("motor_combo")->isEnabled()) << bad;
        EXPECT_FALSE(button("test1_button")->isEnabled()) << bad;
        EXPECT_FALSE(button("test2_button")->isEnabled()) << bad;
    }
    // A Hall value beyond 12 bits is stored as 4095, the read-back agrees, and the field then
    // shows what the instrument holds.
    type("speed_edit", "40");
    type("engaged_edit", "5000");
    EXPECT_FALSE(red("engaged_edit"));
    click("save_button");
    EXPECT_EQ(texts(), std::vector<std::string>{"Save: Configuration Saved."});
    EXPECT_EQ(get_u16le(stored(1).data() + MOTOR_HALL_ENGAGED), 4095);
    EXPECT_EQ(text("engaged_edit"), "4095");
}

// "50,5" on a decimal-comma desktop was stored as speed 0 with "Configuration Saved." while the
// field still showed 50,5. A text that is no whole number is kept as typed, red, and blocks Save.
TEST_F(MotorDialogTest, TextsThatAreNoWholeNumberAreRedAndSaveNothing) {
    decimal_comma_locale comma;
    ASSERT_DECIMAL_COMMA(comma);
    connect_link();
    ASSERT_TRUE(open());
    for (const char* field : {"speed_edit", "engaged_edit"}) {
        const std::string shown = text(field);
        for (const char* bad : {"50,5", "-5", ""}) {
            w<QLineEdit>(field)->clear();
            QTest::keyClicks(w<QLineEdit>(field), QString::fromUtf8(bad));
            EXPECT_EQ(text(field), bad);
            EXPECT_TRUE(red(field) && !button("save_button")->isEnabled() && !button("test1_button")->isEnabled())
                << field << " " << bad;
            click("save_button");
        }
        type(field, shown.c_str());
        EXPECT_TRUE(button("save_button")->isEnabled()) << field;
    }
    type("speed_edit", "50,5");
    EXPECT_EQ(w("speed_edit")->toolTip(), QStringLiteral("A whole number from 0 to 100 (% of max)."));
    EXPECT_TRUE(sent(CMD_SET_MOTOR_CONFIG).empty());
}

TEST_F(MotorDialogTest, SaveReportsAReadBackThatDiffersOrFailsAndKeepsTheChangesUnsaved) {
    connect_link();
    ASSERT_TRUE(open());
    const std::vector<uint8_t> before = stored(1);
    dev->with_firmware([](sim_firmware& fw) { fw.motors.ignore_config_writes = true; });
    type("speed_edit", "33");
    click("save_button");
    EXPECT_EQ(texts(), std::vector<std::string>{"Save: Failed to save motor config (verification failed)."});
    EXPECT_EQ(stored(1), before);
    messages.clear();
    click("test1_button");
    EXPECT_EQ(texts(), std::vector<std::string>{"Test: You need to save your changes first."});
    EXPECT_TRUE(sent(CMD_MOTOR_ENGAGE).empty());

    dev->with_firmware([](sim_firmware& fw) { fw.motors.ignore_config_writes = false; });
    messages.clear();
    dev->fail_next(CMD_GET_MOTOR_CONFIG, 1, 2);
    click("save_button");
    EXPECT_EQ(texts(), std::vector<std::string>{"Save: Can't set motor config on device (check power supply)."});
    messages.clear();
    dev->force_result(CMD_GET_MOTOR_CONFIG, 0);  // a read-back of no bytes is no read-back
    click("save_button");
    EXPECT_EQ(texts(), std::vector<std::string>{"Save: Can't set motor config on device (check power supply)."});
    dev->force_result(CMD_GET_MOTOR_CONFIG, -1);
    messages.clear();
    click("save_button");
    EXPECT_EQ(texts(), std::vector<std::string>{"Save: Configuration Saved."});
    messages.clear();
    click("test1_button");
    EXPECT_TRUE(messages.empty());
    EXPECT_EQ(sent(CMD_MOTOR_ENGAGE).size(), 1u);
}

TEST_F(MotorDialogTest, AnAutostopCodeWithoutARowIsKeptOnSave) {
    dev->with_firmware([](sim_firmware& fw) { fw.motors.motor[1].config[MOTOR_AUTOSTOP] = 4; });
    connect_link();
    ASSERT_TRUE(open());
    EXPECT_EQ(text("autostop_combo"), "4 (not in list)");  // not shown as "None"
    type("speed_edit", "20");
    click("save_button");
    EXPECT_EQ(texts(), std::vector<std::string>{"Save: Configuration Saved."});
    EXPECT_EQ(stored(1)[MOTOR_AUTOSTOP], 4);
    EXPECT_EQ(text("autostop_combo"), "4 (not in list)");
    // Choosing a row does change it.
    w<QComboBox>("autostop_combo")->setCurrentIndex(2);
    click("save_button");
    EXPECT_EQ(stored(1)[MOTOR_AUTOSTOP], 2);
}

TEST_F(MotorDialogTest, PumpTestSendsVolumeAndTimeoutAndRefusesVolumesThatAreNoNumber) {
    remember_motor(4);
    connect_link();
    ASSERT_TRUE(open());
    EXPECT_EQ(text("motor_combo"), "Sample Pump");
    EXPECT_EQ(text("test1_button"), "Pump");
    EXPECT_FALSE(button("test2_button")->isEnabled());
    EXPECT_TRUE(w("flow_volume_edit")->isEnabled());
    // A volume that is no number of litres, or none above 0 (-1 was sent as -1.0 and its refusal
    // blamed on the power supply), is refused in the field: red, and Pump stays disabled.
    for (const char* bad : {"nan", "inf", "1e999", "1e39", "-1", "0", "2,5", ""}) {
        type("flow_volume_edit", bad);
        EXPECT_TRUE(red("flow_volume_edit")) << bad;
        EXPECT_FALSE(button("test1_button")->isEnabled()) << bad;
        click("test1_button");
        EXPECT_EQ(text("test1_button"), "Pump");
    }
    EXPECT_EQ(w("flow_volume_edit")->toolTip(),
              QStringLiteral("A number above 0 and up to 1000 (litres), written with a decimal point (2.5)."));
    type("flow_volume_edit", "2.5");
    type("flow_timeout_edit", "5,5");
    EXPECT_TRUE(red("flow_timeout_edit"));
    EXPECT_FALSE(button("test1_button")->isEnabled());
    click("test1_button");
    EXPECT_TRUE(sent(CMD_MOTOR_PUMP).empty());
    EXPECT_TRUE(messages.empty());
    {
        decimal_comma_locale comma;
        ASSERT_DECIMAL_COMMA(comma);
        type("flow_volume_edit", "2.5");
        type("flow_timeout_edit", "300");
        click("test1_button");
    }
    ASSERT_EQ(sent(CMD_MOTOR_PUMP).size(), 1u);
    EXPECT_EQ(payload(sent(CMD_MOTOR_PUMP)[0]), (std::vector<uint8_t>{4, 0, 0x00, 0x00, 0x20, 0x40, 0xC4, 0x3B}));
    EXPECT_EQ(captions(), STOPS);
    dev->advance_clock(7000);  // 80 %: 0.4 l/s, 2.5 litres in 6.25 s
    EXPECT_FALSE(motor(4).running());
    EXPECT_EQ(motor(4).last_stop, sim_motor_stop::volume);
}

TEST_F(MotorDialogTest, AFailedHallSampleChangesNothing) {
    connect_link();
    ASSERT_TRUE(open());
    const std::string before = text("disengaged_edit");
    dev->force_result(CMD_READ_SENSORS, 0);  // success without a sample
    click("disengaged_sample_button");
    dev->fail_next(CMD_READ_SENSORS, 1, 3);
    dev->force_result(CMD_READ_SENSORS, -1);
    click("engaged_sample_button");
    EXPECT_EQ(texts(), (std::vector<std::string>{"Disengaged Hall Value: Failed to get sample from sensor.",
                                                  "Engaged Hall Value: Failed to get sample from sensor."}));
    EXPECT_EQ(text("disengaged_edit"), before);
    // With Hall1 chosen for motor 1 the sample is sensor 1's; a typed speed goes back to the record's.
    type("speed_edit", "77");
    click("disengaged_sample_button");
    EXPECT_NEAR(std::stol(text("disengaged_edit")), 600, 2.5);
    EXPECT_EQ(text("speed_edit"), "60");
}

TEST_F(MotorDialogTest, OpeningFailsWithItsMessageOnARefusedOrShortReadOrSensorStart) {
    connect_link();
    for (int forced : {2, 0}) {
        messages.clear();
        dev->force_result(CMD_GET_MOTOR_CONFIG, forced);
        EXPECT_FALSE(open());
        EXPECT_EQ(texts(), std::vector<std::string>{"Configure Motors: Can't get motor config from device (check power supply)."});
    }
    // Nothing more is sent after the first failure: no sensors are started.
    dev->force_result(CMD_GET_MOTOR_CONFIG, -1);
    dev->clear_requests();
    dev->fail_next(CMD_GET_MOTOR_CONFIG, 1, 5);
    EXPECT_FALSE(open());
    EXPECT_EQ(codes(), std::vector<uint16_t>{CMD_GET_MOTOR_CONFIG});
    messages.clear();
    dev->force_result(CMD_START_SENSORS, 3);
    EXPECT_FALSE(open());
    EXPECT_EQ(texts(), std::vector<std::string>{"Configure Motors: Can't start sensors on device (check power supply)."});
}

}  // namespace
