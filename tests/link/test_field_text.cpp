#include "decimal_comma.h"
#include "link/field_text.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <string>

namespace {

TEST(FieldText, NumbersKeepTheDecimalPointOnADecimalCommaDesktop) {
    decimal_comma_locale comma;
    ASSERT_DECIMAL_COMMA(comma);
    char buf[32];
    text_format(buf, sizeof buf, "%.3f|%.1f|%u", 2.5, 0.25, 7u);
    EXPECT_STREQ(buf, "2.500|0.2|7");
    EXPECT_EQ(text_printf("Flow volume: %.3f litre", 1.25), "Flow volume: 1.250 litre");
    EXPECT_DOUBLE_EQ(text_to_double("2.5"), 2.5);
    // A comma is not a decimal point in the tool's fields: "2,5" reads its leading 2.
    EXPECT_DOUBLE_EQ(text_to_double("2,5"), 2.0);
    double v = 0;
    EXPECT_TRUE(field_double("12.75 bar", &v));
    EXPECT_DOUBLE_EQ(v, 12.75);
    // The locale of the rest of the process is left as it was.
    std::snprintf(buf, sizeof buf, "%.1f", 2.5);
    EXPECT_STREQ(buf, "2,5");
}

TEST(FieldText, LongTextsAreFormattedWhole) {
    const std::string big(600, 'x');
    EXPECT_EQ(text_printf("%s|%d", big.c_str(), 5), big + "|5");
}

TEST(FieldText, UnsignedFieldsReadNonNumbersAsZeroAndSaturate) {
    EXPECT_EQ(field_unsigned(""), 0u);
    EXPECT_EQ(field_unsigned("   "), 0u);
    EXPECT_EQ(field_unsigned("abc"), 0u);
    EXPECT_EQ(field_unsigned("-5"), 0u);
    EXPECT_EQ(field_unsigned("+5"), 0u);
    EXPECT_EQ(field_unsigned("12abc"), 0u);
    EXPECT_EQ(field_unsigned("2.5"), 0u);
    EXPECT_EQ(field_unsigned(" 42 "), 42u);
    EXPECT_EQ(field_unsigned("4294967296"), 4294967296u);
    EXPECT_EQ(field_unsigned("18446744073709551615"), UINT64_MAX);
    EXPECT_EQ(field_unsigned("99999999999999999999999"), UINT64_MAX);
    // A value wider than its field stops at the field's maximum instead of wrapping.
    EXPECT_EQ(field_unsigned_max("4294967396", UINT32_MAX), UINT32_MAX);
    EXPECT_EQ(field_unsigned_max("70000", 65535), 65535u);
    EXPECT_EQ(field_unsigned_max("150", 100), 100u);
    EXPECT_EQ(field_unsigned_max("65535", 65535), 65535u);
}

TEST(FieldText, DecimalFieldsRefuseWhatIsNotFinite) {
    double v = 1;
    for (const char* bad : {"nan", "NaN", "inf", "-inf", "infinity", "1e999", "-1e999"}) {
        EXPECT_FALSE(field_double(bad, &v)) << bad;
        EXPECT_EQ(v, 0.0) << bad;
    }
    EXPECT_TRUE(field_double("", &v));
    EXPECT_EQ(v, 0.0);
    EXPECT_TRUE(field_double("abc", &v));
    EXPECT_EQ(v, 0.0);
    EXPECT_TRUE(field_double("1e30", &v));
    EXPECT_EQ(v, 1e30);
    EXPECT_TRUE(field_double("-0.125", &v));
    EXPECT_EQ(v, -0.125);
    // Decimal only: hexadecimal reads as its leading 0.
    EXPECT_TRUE(field_double("0x10", &v));
    EXPECT_EQ(v, 0.0);
    EXPECT_TRUE(field_double(" -0X1p3", &v));
    EXPECT_EQ(v, 0.0);
    EXPECT_DOUBLE_EQ(text_to_double("010"), 10.0);
    // Only the first 23 characters count, as in every dialog field.
    const std::string long_text = "0." + std::string(20, '0') + "15";  // 24 characters
    EXPECT_TRUE(field_double(long_text, &v));
    EXPECT_DOUBLE_EQ(v, 1e-21);
}

// Whether a field may be sent as typed: wholly a number of its kind, in its range.
TEST(FieldText, RulesTakeOnlyWholeNumbersOfTheirKindWhateverTheDesktop) {
    decimal_comma_locale comma;
    ASSERT_DECIMAL_COMMA(comma);
    uint64_t u = 7;
    double v = 7;
    for (const char* bad : {"", "12,5", "-5", "+5", "2.5", "1e3", "0x10", "10.000"}) EXPECT_FALSE(field_whole(bad, &u)) << bad;
    for (const char* bad : {"", "2,5", "1.5 bar", "0x10", "nan", "1e999", "0.000000000000000000000015"})  // the last: 26 characters
        EXPECT_FALSE(field_decimal(bad, &v)) << bad;
    EXPECT_EQ(u, 7u);
    ASSERT_TRUE(field_whole(" 99999999999999999999999 ", &u) && field_decimal(" -2.5 ", &v));
    EXPECT_EQ(u, UINT64_MAX);
    EXPECT_EQ(v, -2.5);
    const field_rule time{.min = 0, .max = 65535, .saturates = true};
    const field_rule id{.min = 0, .max = 65535, .empty_is_zero = true};
    const field_rule volume{.decimal = true, .min = 0, .max = 1000, .above_min = true};
    EXPECT_TRUE(field_rule_accepts(time, "99999999999999999999999") && !field_rule_accepts(time, ""));
    EXPECT_TRUE(field_rule_accepts(id, "") && !field_rule_accepts(id, "65536"));
    EXPECT_TRUE(field_rule_accepts(volume, "0.5") && !field_rule_accepts(volume, "0") && !field_rule_accepts(volume, "1000.5"));
}

}  // namespace
