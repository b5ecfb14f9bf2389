// The JSON that every document of the tool goes through: numbers, times, bounded reading, field
// readers.
#include "backup/json_io.h"
#include "sampler/run_settings.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <sstream>

namespace {

TEST(JsonIo, SinglePrecisionValuesAreWrittenInTheirShortestForm) {
    EXPECT_EQ(json_text(json_float(1.7f)), "1.7\n");
    EXPECT_EQ(json_text(json_float(0.1f)), "0.1\n");
    EXPECT_EQ(json_text(json_float(12.200043f)), "12.200043\n");
    EXPECT_EQ(json_text(json_float(0.0f)), "0.0\n");
    EXPECT_TRUE(json_float(std::numeric_limits<float>::quiet_NaN()).is_null());
    EXPECT_TRUE(json_float(std::numeric_limits<float>::infinity()).is_null());
    // Whatever the value, the text reads back as the same float.
    for (const float f : {3.4028235e38f, 1.17549435e-38f, 1e-45f, -2.5e-7f, 16777217.0f, 0.3f, 123456.789f}) {
        const json back = json::parse(json_text(json_float(f)));
        EXPECT_EQ(float(back.get<double>()), f) << json_text(json_float(f));
    }
}

TEST(JsonIo, TextThatIsNotUtf8IsReplacedNeverThrown) {
    json doc;
    doc["name"] = "CAF\xE9";
    doc["cut"] = "x\xC3";
    EXPECT_EQ(json_text(doc), "{\n  \"name\": \"CAF\xEF\xBF\xBD\",\n  \"cut\": \"x\xEF\xBF\xBD\"\n}\n");
}

TEST(JsonIo, MomentsAreRealOnesTheClockCanHold) {
    uint32_t t = 0;
    EXPECT_TRUE(json_parse_moment("2026-12-07T09:05:00", &t));
    EXPECT_EQ(t, 1796634300u);
    EXPECT_TRUE(json_parse_moment("2026-12-07 09:05:00", &t));
    EXPECT_EQ(json_device_time(1796634300), "2026-12-07T09:05:00");
    EXPECT_TRUE(json_device_time(0xFFFFFFFF).is_null());
    EXPECT_TRUE(json_device_time(0x80000000).is_null());
    for (const char* bad : {"2026-02-31T10:00:00", "2026-12-07T23:59:60", "2026-12-07T24:00:00", "1969-12-31T23:59:59",
                            "2038-01-19T03:14:08", "2026-12-07X09:05:00", "2026-12-07T09:05", "2026-12-07T09:05:00Z",
                            "+026-12-07T09:05:00", "2026-12-07T 9:05:00", ""})
        EXPECT_FALSE(json_parse_moment(bad, &t)) << bad;
}

TEST(JsonIo, ReadingIsBoundedInSizeAndNesting) {
    json doc;
    std::string error;
    EXPECT_TRUE(json_parse_object(R"({"a": [[["deep enough"]]], "b": "[[[[ in a string ]"})", doc, error)) << error;
    EXPECT_FALSE(json_parse_object(std::string(JSON_DEPTH_MAX + 1, '[') + std::string(JSON_DEPTH_MAX + 1, ']'), doc, error));
    EXPECT_EQ(error, "it nests deeper than 32 levels");
    EXPECT_FALSE(json_parse_object("[]", doc, error));
    EXPECT_EQ(error, "it is not a JSON object");
    EXPECT_FALSE(json_parse_object("{\"a\": }", doc, error));
    EXPECT_EQ(error, "it is not JSON");

    std::string text;
    std::istringstream small(std::string(JSON_INPUT_MAX, ' '));
    EXPECT_TRUE(json_read_stream(small, text, error));
    std::istringstream big(std::string(JSON_INPUT_MAX + 1, ' '));
    EXPECT_FALSE(json_read_stream(big, text, error));
    EXPECT_EQ(error, "it holds more than 1 MiB");
}

TEST(JsonIo, FieldsNameWhatTheyRefuseAndKeepWhatIsLeftOut) {
    const json doc = json::parse(R"({"n": 7, "big": 300, "kept": 250, "flag": true, "text": "t", "none": null,
                                     "minus": -1, "half": 1.5, "nan_like": "nan", "odd": 1})");
    json_fields f(doc, "block");
    uint64_t n = 99, left = 42, kept = 0, big = 0;
    bool flag = false;
    std::string text;
    EXPECT_TRUE(f.get_uint("n", 10, &n));
    EXPECT_EQ(n, 7u);
    EXPECT_TRUE(f.get_uint("absent", 10, &left));
    EXPECT_TRUE(f.get_uint("none", 10, &left));
    EXPECT_EQ(left, 42u) << "left out keeps its value";
    EXPECT_TRUE(f.get_uint_kept("kept", 0, 100, 250, &kept));
    EXPECT_EQ(kept, 250u) << "the stored value goes back although it is out of range";
    EXPECT_TRUE(f.get_bool("flag", &flag) && flag);
    EXPECT_TRUE(f.get_string("text", &text));
    EXPECT_FALSE(f.get_uint_kept("big", 0, 100, 250, &big));
    EXPECT_EQ(f.error, "block.big must be a whole number from 0 to 100");

    for (const char* key : {"minus", "half", "nan_like"}) {
        json_fields g(doc, "");
        EXPECT_FALSE(g.get_uint(key, 10, &n)) << key;
        EXPECT_EQ(g.error, std::string(key) + " must be a whole number from 0 to 10");
    }
    json_fields h(doc, "");
    double d = 0;
    EXPECT_FALSE(h.get_number("text", &d));
    // The largest float as written ("3.4028235e+38", just above it as a double) is read back;
    // a number beyond what rounds to it is not.
    const json floats = json::parse(R"({"largest": 3.4028235e+38, "beyond": 3.4028236e+38, "double": 1e300})");
    json_fields g(floats, "");
    EXPECT_TRUE(g.get_number("largest", &d, true));
    EXPECT_EQ(float(d), std::numeric_limits<float>::max());
    EXPECT_FALSE(g.get_number("beyond", &d, true));
    json_fields g2(floats, "");
    EXPECT_TRUE(g2.get_number("double", &d));
    EXPECT_FALSE(g2.get_number("double", &d, true));
    json_fields unknown(doc, "block");
    for (const char* key : {"n", "big", "kept", "flag", "text", "none", "minus", "half", "nan_like"}) unknown.allow(key);
    EXPECT_FALSE(unknown.finish());
    EXPECT_EQ(unknown.error, "block.odd is not a field of this document");
}

TEST(JsonIo, VolumesConvertByTheRunViewsRuleEverywhere) {
    uint8_t tenths = 0;
    const std::pair<double, int> cases[] = {{2.56, 25}, {0.05, 0}, {2.5, 25}, {0.3, 3}, {25.5, 255}, {25.59, 255}};
    for (const auto& [litres, expected] : cases) {
        EXPECT_TRUE(volume_litres_to_tenths(litres, &tenths)) << litres;
        EXPECT_EQ(tenths, expected) << litres;
        EXPECT_EQ(volume_tenths(json(litres).dump()), expected) << "the dialog's field differs at " << litres;
    }
    EXPECT_FALSE(volume_litres_to_tenths(25.6, &tenths));
    EXPECT_EQ(tenths, 255);
    EXPECT_FALSE(volume_litres_to_tenths(-1, &tenths));
    EXPECT_EQ(tenths, 0);
    EXPECT_FALSE(volume_litres_to_tenths(std::nan(""), &tenths));
}

}  // namespace
