// "Configure Pressure Sensor" against the virtual instrument, whose sensor follows a known
// line: volt = 0.5 + 0.4 x bar.
#include "config/calibration_plot.h"
#include "config/pressure.h"
#include "config/pressure_dialog.h"
#include "config_dialog_fixture.h"
#include "decimal_comma.h"
#include "link/bytes.h"
#include "link/field_text.h"

#include <QCheckBox>

#include <cmath>
#include <cstring>

namespace {

class PressureDialogTest : public ConfigDialogTest {
protected:
    bool open() { return take(pressure_dialog_open(nullptr)); }
    void apply(double bar) {
        dev->with_firmware([bar](sim_firmware& fw) { fw.motors.applied_bar = bar; });
    }
    static std::string n(const char* base, int i) { return std::string(base) + std::to_string(i); }
    QCheckBox* check(int i) { return w<QCheckBox>(n("point_check_", i).c_str()); }
    void tick(int i, bool on) { check(i)->setChecked(on); }
    void point(int i, const char* bar) { type(n("bar_edit_", i).c_str(), bar); }
    void sample(int i) { click(n("sample_button_", i).c_str()); }
    std::string volt(int i) { return text(n("volt_edit_", i).c_str()); }
    std::vector<uint8_t> stored_block() {
        std::vector<uint8_t> b;
        dev->with_firmware([&](sim_firmware& fw) { b = fw.settings.blocks[6]; });
        return b;
    }
    double number(const std::string& text) { return text_to_double(text.c_str()); }
};

TEST_F(PressureDialogTest, CalibrateAtThreePressuresSaveAndTestAFourth) {
    connect_link();
    const std::vector<uint8_t> original = stored_block();
    ASSERT_TRUE(open());
    EXPECT_EQ(text("status_text"), "bar = (2.400 x volt) - 1.100");
    EXPECT_TRUE(button("test_button")->isEnabled());
    EXPECT_FALSE(button("save_button")->isEnabled());
    // On a decimal-comma desktop too, every number reads and shows with a point.
    decimal_comma_locale comma;
    ASSERT_DECIMAL_COMMA(comma);
    const double pressures[] = {1.0, 4.0, 8.0};
    const char* typed[] = {"1", "4.0", "8.000"};
    for (int i = 1; i <= 3; ++i) {
        tick(i, true);
        apply(pressures[i - 1]);
        point(i, typed[i - 1]);
        sample(i);
        // Within two ADC counts of the truth, and the millivolt shown.
        EXPECT_NEAR(number(volt(i)), 0.5 + 0.4 * pressures[i - 1], 0.003) << volt(i);
    }
    click("calculate_button");
    EXPECT_TRUE(messages.empty());
    EXPECT_TRUE(button("save_button")->isEnabled());
    EXPECT_FALSE(button("test_button")->isEnabled());
    // "bar = (2.5.. x volt) - 1.2..": the sensor's true line, read back.
    const std::string line = text("status_text");
    ASSERT_EQ(line.substr(0, 7), "bar = (") << line;
    EXPECT_NEAR(number(line.substr(7)), 2.5, 0.01) << line;
    const size_t minus = line.find(" x volt) - ");
    ASSERT_NE(minus, std::string::npos) << line;
    EXPECT_NEAR(number(line.substr(minus + 11)), 1.25, 0.02) << line;

    dev->clear_requests();
    click("save_button");
    EXPECT_EQ(texts(), std::vector<std::string>{"Save: Config Saved"});
    EXPECT_TRUE(button("test_button")->isEnabled());
    ASSERT_EQ(sent(CMD_SET_CONFIG_BLOCK).size(), 1u);
    const std::vector<uint8_t> wire = payload(sent(CMD_SET_CONFIG_BLOCK)[0]);
    ASSERT_EQ(wire.size(), 64u);
    EXPECT_EQ(wire[0], 6);
    EXPECT_EQ(wire[1], 62);
    const std::vector<uint8_t> block(wire.begin() + 2, wire.end());
    EXPECT_EQ(block, stored_block());
    // The instrument's own byte and the points not taken part are as they were.
    EXPECT_EQ(block[0], 0xA5);
    EXPECT_EQ(std::vector<uint8_t>(block.begin() + 29, block.begin() + 37),
              std::vector<uint8_t>(original.begin() + 29, original.begin() + 37));
    EXPECT_EQ(std::vector<uint8_t>(block.begin() + 49, block.begin() + 57),
              std::vector<uint8_t>(original.begin() + 49, original.begin() + 57));
    EXPECT_EQ(std::vector<uint8_t>(block.begin() + 57, block.end()), (std::vector<uint8_t>{1, 1, 1, 0, 0}));
    for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(get_f32le(block.data() + 17 + 4 * i), float(pressures[i]));
        // Voltages as shown: rounded to the millivolt.
        const float v = get_f32le(block.data() + 37 + 4 * i);
        EXPECT_NEAR(v * 1000, std::round(v * 1000), 1e-3);
    }
    pressure_calibration saved;
    std::memcpy(saved.bytes, block.data(), 62);
    EXPECT_NEAR(pressure_gain(saved), 2.5, 0.01);
    EXPECT_NEAR(pressure_offset(saved), -1.25, 0.02);

    apply(6.0);
    click("test_button");
    const std::string reading = text("test_edit");
    EXPECT_EQ(reading.substr(reading.size() - 4), " bar");
    EXPECT_NEAR(number(reading), 6.0, 0.01) << reading;
    // Test reads the instrument's line, not the dialog's: a line changed behind the dialog shows.
    dev->with_firmware([](sim_firmware& fw) {
        pressure_calibration c;
        std::memcpy(c.bytes, fw.settings.blocks[6].data(), 62);
        pressure_set_line(c, 0.0, 3.0);
        std::memcpy(fw.settings.blocks[6].data(), c.bytes, 62);
    });
    click("test_button");
    EXPECT_EQ(text("test_edit"), "3.000 bar");
    EXPECT_EQ(texts(), std::vector<std::string>{"Save: Config Saved"});
}

TEST_F(PressureDialogTest, NoLineFromTooFewPointsOneVoltageOrNumbersThatAreNone) {
    connect_link();
    ASSERT_TRUE(open());
    const std::string before = text("status_text");
    const std::string only = "Calculate: Can't calculate calibration: please check parameters";
    tick(2, false);
    tick(3, false);
    click("calculate_button");  // one point
    EXPECT_EQ(texts(), std::vector<std::string>{only});
    tick(2, true);
    type("volt_edit_2", "0.460");  // the same voltage as point 1
    messages.clear();
    click("calculate_button");
    EXPECT_EQ(texts(), std::vector<std::string>{only});
    type("volt_edit_2", "2.550");
    // A ticked point whose pressure is no number it can hold is red, and there is nothing to
    // calculate until it is mended.
    messages.clear();
    for (const char* bad : {"nan", "inf", "1e999", "1e39"}) {
        point(2, bad);
        EXPECT_TRUE(red("bar_edit_2")) << bad;
        EXPECT_FALSE(button("calculate_button")->isEnabled()) << bad;
        click("calculate_button");
    }
    EXPECT_TRUE(messages.empty());
    EXPECT_EQ(text("status_text"), before);
    EXPECT_FALSE(button("save_button")->isEnabled());
    EXPECT_TRUE(button("test_button")->isEnabled());
    // The rejected number never reached the block: a later good fit saves finite points only.
    point(2, "5");
    messages.clear();
    click("calculate_button");
    EXPECT_TRUE(messages.empty());
    click("save_button");
    const std::vector<uint8_t> block = stored_block();
    for (int i = 0; i < 5; ++i) {
        EXPECT_TRUE(std::isfinite(get_f32le(block.data() + 17 + 4 * i))) << i;
        EXPECT_TRUE(std::isfinite(get_f32le(block.data() + 37 + 4 * i))) << i;
    }
    // A non-finite number in a point that is not ticked is no obstacle.
    point(4, "nan");
    tick(4, false);
    messages.clear();
    click("calculate_button");
    EXPECT_TRUE(messages.empty());
    EXPECT_EQ(text("bar_edit_4"), "nan");  // kept as typed, not replaced by the point's old value
}

// "3e38" used to be taken, shown after Calculate as a 39-digit number, and read back from its
// first 23 characters as 3e22. A point takes only what its field shows back as the same value.
TEST_F(PressureDialogTest, APointTakesOnlyNumbersThatSurviveTheirOwnDisplay) {
    decimal_comma_locale comma;
    ASSERT_DECIMAL_COMMA(comma);
    connect_link();
    ASSERT_TRUE(open());
    for (const char* bad : {"3e38", "1000.5", "2,5", ""}) {
        point(2, bad);
        EXPECT_TRUE(red("bar_edit_2") && !button("calculate_button")->isEnabled()) << bad;
    }
    EXPECT_EQ(w("bar_edit_2")->toolTip(),
              QStringLiteral("A number from -1000 to 1000 (bar), written with a decimal point (2.5)."));
    point(2, "1000");
    click("calculate_button");
    EXPECT_EQ(text("bar_edit_2"), "1000.000");
    click("save_button");
    EXPECT_EQ(get_f32le(stored_block().data() + 17 + 4), 1000.0f);
}

TEST_F(PressureDialogTest, WhatMayBePressedFollowsTheTicksAndThePendingLine) {
    connect_link();
    ASSERT_TRUE(open());
    for (int i = 1; i <= 5; ++i) tick(i, false);
    EXPECT_FALSE(button("calculate_button")->isEnabled());
    for (int i = 1; i <= 5; ++i) {
        EXPECT_FALSE(button(n("sample_button_", i).c_str())->isEnabled());
        EXPECT_FALSE(w(n("bar_edit_", i).c_str())->isEnabled());
    }
    tick(5, true);
    EXPECT_TRUE(button("calculate_button")->isEnabled());
    EXPECT_TRUE(button("sample_button_5")->isEnabled());
    tick(1, true);
    const std::vector<uint8_t> before = stored_block();
    click("calculate_button");
    EXPECT_TRUE(button("save_button")->isEnabled());
    EXPECT_FALSE(button("test_button")->isEnabled());
    // Closing drops the pending line and stops the sensors.
    dev->clear_requests();
    dialog->reject();
    EXPECT_FALSE(dialog->isVisible());
    EXPECT_EQ(codes(), std::vector<uint16_t>{CMD_STOP_SENSORS});
    EXPECT_EQ(stored_block(), before);
}

TEST_F(PressureDialogTest, AFailedSampleSaysSoAndTakesNoPoint) {
    connect_link();
    ASSERT_TRUE(open());
    apply(9.0);
    point(3, "9");
    const std::string old_volt = volt(3);
    dev->fail_next(CMD_READ_SENSORS, 1, 3);
    sample(3);
    EXPECT_EQ(texts(), std::vector<std::string>{"Sample: Failed to get sample from sensor."});
    EXPECT_EQ(volt(3), old_volt);
    EXPECT_FALSE(check(3)->isChecked());  // the stale voltage takes no part in a fit
    // A short answer is no sample either.
    tick(3, true);
    messages.clear();
    dev->force_result(CMD_READ_SENSORS, 0);
    sample(3);
    EXPECT_EQ(messages.size(), 1u);
    EXPECT_FALSE(check(3)->isChecked());
    dev->force_result(CMD_READ_SENSORS, -1);
    tick(3, true);
    sample(3);
    EXPECT_NEAR(number(volt(3)), 0.5 + 0.4 * 9, 0.003);
    // A pressure typed as no number the point can hold: no sample is taken for it.
    messages.clear();
    const std::string kept = volt(3);
    apply(2.0);
    point(3, "1e999");
    sample(3);
    EXPECT_EQ(texts(), std::vector<std::string>{"Sample: Can't calculate calibration: please check parameters"});
    EXPECT_EQ(volt(3), kept);
}

TEST_F(PressureDialogTest, SaveAndTestFailuresAreReported) {
    connect_link();
    ASSERT_TRUE(open());
    click("calculate_button");
    dev->fail_next(CMD_SET_CONFIG_BLOCK, 1, 2);
    click("save_button");
    EXPECT_EQ(texts(), std::vector<std::string>{"Save: Failed to save config to device."});
    EXPECT_TRUE(button("save_button")->isEnabled());  // still pending: try again
    messages.clear();
    click("save_button");
    EXPECT_EQ(texts(), std::vector<std::string>{"Save: Config Saved"});

    // A failed Test clears the reading: "7.000 bar" from an earlier Test must not stay as if it
    // were this one's.
    const std::string unable = "Test: Unable to get sample from device";
    for (int round = 0; round < 3; ++round) {
        dev->force_result(CMD_READ_SENSORS, -1);
        click("test_button");
        const std::string reading = text("test_edit");
        ASSERT_GT(reading.size(), 4u) << round;
        EXPECT_EQ(reading.substr(reading.size() - 4), " bar") << round;
        messages.clear();
        if (round == 0) dev->fail_next(CMD_GET_CONFIG_BLOCK, 1, 4);
        if (round == 1) dev->force_result(CMD_GET_CONFIG_BLOCK, 0);  // a block of no bytes
        if (round == 2) {
            dev->force_result(CMD_GET_CONFIG_BLOCK, -1);
            dev->force_result(CMD_READ_SENSORS, 0);
        }
        click("test_button");
        EXPECT_EQ(texts(), std::vector<std::string>{unable}) << round;
        EXPECT_EQ(text("test_edit"), "") << round;
        dev->force_result(CMD_GET_CONFIG_BLOCK, -1);
    }
}

TEST_F(PressureDialogTest, OpeningFailsWithItsMessage) {
    connect_link();
    for (int forced : {4, 0}) {
        messages.clear();
        dev->clear_requests();
        dev->force_result(CMD_GET_CONFIG_BLOCK, forced);
        EXPECT_FALSE(open());
        EXPECT_EQ(texts(), std::vector<std::string>{"Configure Pressure Sensor: Can't get pressure sensor config from device."});
        EXPECT_EQ(codes(), std::vector<uint16_t>{CMD_GET_CONFIG_BLOCK});  // the sensors were not started
    }
    dev->force_result(CMD_GET_CONFIG_BLOCK, -1);
    messages.clear();
    dev->force_result(CMD_START_SENSORS, 3);
    EXPECT_FALSE(open());
    EXPECT_EQ(texts(), std::vector<std::string>{
                           "Configure Pressure Sensor: Can't start pressure sensors on device (check power supply)."});
}

TEST_F(PressureDialogTest, ThePlotShowsTheFieldsAndPointsOutTheOneThatIsOff) {
    connect_link();
    ASSERT_TRUE(open());
    auto* plot = w<calibration_plot>("plot");
    // The stored points lie close to the stored line.
    EXPECT_TRUE(plot->data().has_fit);
    EXPECT_EQ(plot->data().stored_gain, 2.4);
    const double pressures[] = {0, 2, 4, 6};
    for (int i = 1; i <= 4; ++i) {
        tick(i, true);
        apply(pressures[i - 1]);
        point(i, i == 3 ? "4.6" : std::to_string(int(pressures[i - 1])).c_str());  // point 3 typed wrong
        sample(i);
    }
    EXPECT_EQ(plot->largest_residual_point(), 2);
    EXPECT_EQ(plot->residual_text().left(28), QStringLiteral("Largest residual: point 3, +"));
    point(3, "4");
    EXPECT_LT(std::fabs(plot->largest_residual()), 0.01);
}

}  // namespace
