// The pressure calibration block, the sensor voltage, the fit and its texts.
#include "config/pressure.h"
#include "decimal_comma.h"
#include "link/bytes.h"

#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

namespace {

std::string line_text(double gain, double offset) {
    char buf[256] = "untouched";
    pressure_line_text(buf, sizeof buf, gain, offset);
    return buf;
}

void use(pressure_point (&p)[PRESSURE_POINTS], int i, double volt, double bar) { p[i] = {volt, bar, true}; }

TEST(PressureFit, TwoPointsGiveTheLineThroughBoth) {
    pressure_point p[PRESSURE_POINTS] = {};
    use(p, 0, 0.5, 0);
    use(p, 1, 4.5, 10);
    double gain = 0, offset = 0;
    ASSERT_EQ(pressure_fit(p, &gain, &offset), 0);
    EXPECT_DOUBLE_EQ(gain, 2.5);
    EXPECT_DOUBLE_EQ(offset, -1.25);
    EXPECT_EQ(line_text(gain, offset), "bar = (2.500 x volt) - 1.250");
}

TEST(PressureFit, ThreePointsGiveTheLeastSquaresLine) {
    pressure_point p[PRESSURE_POINTS] = {};
    use(p, 0, 1, 1);
    use(p, 2, 2, 2);
    use(p, 4, 3, 4);
    p[1] = {9, 99, false};  // not ticked: takes no part
    double gain = 0, offset = 0;
    ASSERT_EQ(pressure_fit(p, &gain, &offset), 0);
    EXPECT_NEAR(gain, 1.5, 1e-12);
    EXPECT_NEAR(offset, -2.0 / 3.0, 1e-12);
    EXPECT_EQ(line_text(gain, offset), "bar = (1.500 x volt) - 0.667");
    double r = 0;
    EXPECT_EQ(pressure_largest_residual(p, gain, offset, &r), 2);  // the point at 2 V
    EXPECT_NEAR(r, 2 - (1.5 * 2 - 2.0 / 3.0), 1e-12);
}

TEST(PressureFit, NoLineFromTooFewPointsOneVoltageOrNonFiniteValues) {
    double gain = 7, offset = 8;
    pressure_point p[PRESSURE_POINTS] = {};
    EXPECT_EQ(pressure_fit(p, &gain, &offset), 1);  // nothing ticked
    use(p, 0, 1.0, 2.0);
    EXPECT_EQ(pressure_fit(p, &gain, &offset), 1);  // one point
    use(p, 1, 1.0, 5.0);
    EXPECT_EQ(pressure_fit(p, &gain, &offset), 1);  // one voltage
    use(p, 1, 2.0, NAN);
    EXPECT_EQ(pressure_fit(p, &gain, &offset), 1);
    use(p, 1, INFINITY, 5.0);
    EXPECT_EQ(pressure_fit(p, &gain, &offset), 1);
    // Finite inputs whose line is not finite.
    use(p, 0, 0.0, 1e308);
    use(p, 1, 1.0, -1e308);
    EXPECT_EQ(pressure_fit(p, &gain, &offset), 1);
    EXPECT_EQ(gain, 7);
    EXPECT_EQ(offset, 8);
    const pressure_point none[PRESSURE_POINTS] = {};
    EXPECT_EQ(pressure_largest_residual(none, 1, 0, nullptr), -1);
}

TEST(PressureTexts, SignOfTheOffsetAndTheDesktopLocale) {
    EXPECT_EQ(line_text(2.5, 0.0), "bar = (2.500 x volt) + 0.000");
    EXPECT_EQ(line_text(2.5, -0.0), "bar = (2.500 x volt) + 0.000");
    EXPECT_EQ(line_text(-1.0, 0.125), "bar = (-1.000 x volt) + 0.125");
    decimal_comma_locale comma;
    ASSERT_DECIMAL_COMMA(comma);
    EXPECT_EQ(line_text(2.5, -0.125), "bar = (2.500 x volt) - 0.125");
    char buf[32];
    ASSERT_TRUE(pressure_reading_text(buf, sizeof buf, 6.0004));
    EXPECT_STREQ(buf, "6.000 bar");
    char tiny[8] = "keep";
    EXPECT_FALSE(pressure_reading_text(tiny, sizeof tiny, 123.0));  // "123.000 bar" does not fit
    EXPECT_STREQ(tiny, "keep");
}

TEST(PressureBlock, FieldsSitAtTheirOffsets) {
    pressure_calibration c{};
    c.bytes[0] = 0xA5;
    pressure_set_line(c, 2.5, -1.25);
    pressure_set_point(c, 1, true, 10.0f, 4.5f);
    std::vector<uint8_t> expected(62, 0);
    expected[0] = 0xA5;
    const uint8_t gain[8] = {0, 0, 0, 0, 0, 0, 0x04, 0x40}, offset[8] = {0, 0, 0, 0, 0, 0, 0xF4, 0xBF};
    std::copy(gain, gain + 8, expected.begin() + 1);
    std::copy(offset, offset + 8, expected.begin() + 9);
    const uint8_t ten[4] = {0, 0, 0x20, 0x41}, four_half[4] = {0, 0, 0x90, 0x40};
    std::copy(ten, ten + 4, expected.begin() + 21);
    std::copy(four_half, four_half + 4, expected.begin() + 41);
    expected[58] = 1;
    EXPECT_EQ(std::vector<uint8_t>(c.bytes, c.bytes + 62), expected);
    EXPECT_EQ(pressure_gain(c), 2.5);
    EXPECT_EQ(pressure_offset(c), -1.25);
    EXPECT_TRUE(pressure_point_used(c, 1));
    EXPECT_FALSE(pressure_point_used(c, 0));
}

TEST(PressureVoltage, SignedDifferenceOfSignalAndReference) {
    sensor_sample s{};
    put_u16le(s.bytes + 14, 3726);
    put_u16le(s.bytes + 16, 40);
    EXPECT_DOUBLE_EQ(pressure_sensor_voltage(s), 3686 * 5.0 / 4096);
    put_u16le(s.bytes + 14, 10);
    EXPECT_DOUBLE_EQ(pressure_sensor_voltage(s), -30 * 5.0 / 4096);
}

}  // namespace
