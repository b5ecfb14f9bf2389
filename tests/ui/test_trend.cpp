// The live trend: thinning that keeps every stretch's extremes in bounded memory, gaps for what
// is not a value, the exported text read back by an independent reader, the flow rate from the
// volume's slope, and the plot that draws, holds and reads out the trend.
#include "decimal_comma.h"
#include "ui/trend.h"
#include "ui/trend_plot.h"

#include <QByteArray>
#include <QDateTime>
#include <QFile>
#include <QImage>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <vector>

namespace {

TEST(Trend, ADayAtOneSampleASecondKeepsEveryStretchsExtremesInBoundedMemory) {
    constexpr int SECONDS = 86400;
    std::vector<float> raw(SECONDS);
    uint32_t noise = 12345;
    for (int i = 0; i < SECONDS; ++i) {
        noise = noise * 1664525u + 1013904223u;
        raw[size_t(i)] = float(10 * std::sin(i / 3000.0) + double(noise >> 8) / double(1u << 24));
    }
    raw[50000] = 100;  // one spike
    raw[70001] = -50;  // one dip
    trend_series s(2);
    s.clear(0);
    int most = 0;
    for (int i = 0; i < SECONDS; ++i) {
        const float v[2] = {raw[size_t(i)], float(i)};
        s.add(i, v);
        most = std::max(most, s.size());
    }
    EXPECT_LE(most, s.capacity());
    EXPECT_GT(s.size(), s.capacity() / 4) << "thinned further than the room needed";

    // Each stretch against the samples it stands for: none lost or counted twice, its lowest and
    // highest value, and which of them came first.
    uint32_t samples = 0;
    double previous_end = -1;
    for (int b = 0; b < s.size(); ++b) {
        const trend_bucket& k = s.bucket(b);
        ASSERT_EQ(k.t_first, previous_end + 1) << b;
        previous_end = k.t_last;
        ASSERT_EQ(uint32_t(k.t_last - k.t_first + 1), k.samples) << b;
        samples += k.samples;
        const auto first = raw.begin() + long(k.t_first), end = raw.begin() + long(k.t_last) + 1;
        const auto lo = std::min_element(first, end), hi = std::max_element(first, end);
        ASSERT_EQ(k.lo[0], *lo) << b;
        ASSERT_EQ(k.hi[0], *hi) << b;
        if (*lo != *hi) {
            ASSERT_EQ((k.flags[0] & TREND_HIGH_FIRST) != 0, hi < lo) << b;
        }
        ASSERT_EQ(k.lo[1], float(k.t_first));
        ASSERT_EQ(k.hi[1], float(k.t_last));
        ASSERT_EQ(k.flags[1], 0) << "a rising curve: lowest first, no gap";
    }
    EXPECT_EQ(samples, uint32_t(SECONDS));
    float lo = 0, hi = 0;
    ASSERT_TRUE(s.range(0, &lo, &hi));
    EXPECT_EQ(lo, -50);
    EXPECT_EQ(hi, 100);
    EXPECT_EQ(s.bucket(s.bucket_at(50000)).hi[0], 100);
    EXPECT_EQ(s.bucket(s.bucket_at(70001)).lo[0], -50);
}

// A pixel of the first curve's blue, smoothed edges included: nothing else in the plot (white,
// grey grid, black text) is much bluer than it is red.
bool curve_pixel(QColor c) {
    return c.blue() - c.red() > 50;
}

TEST(Trend, ValuesThatAreNotFiniteAndSilencesAreGapsNeverValues) {
    const float inf = INFINITY, nan = NAN;
    trend_series s(2, 64);
    s.clear(0);
    for (int i = 0; i < 10; ++i) {
        float v[2] = {float(i + 1), 5};
        if (i == 4) v[0] = inf;
        if (i == 5) v[0] = -inf;
        if (i == 6) v[0] = nan;
        s.add(i, v);
    }
    float lo = 0, hi = 0;
    ASSERT_TRUE(s.range(0, &lo, &hi));
    EXPECT_EQ(lo, 1);
    EXPECT_EQ(hi, 10);
    for (int i : {4, 5, 6}) {
        EXPECT_TRUE(std::isnan(s.bucket(i).lo[0]) && std::isnan(s.bucket(i).hi[0])) << i;
        EXPECT_EQ(s.bucket(i).flags[0], TREND_BROKEN) << i;
        EXPECT_EQ(s.bucket(i).lo[1], 5) << "the other curve goes on";
        EXPECT_EQ(s.bucket(i).flags[1], 0) << i;
    }
    std::vector<trend_row> rows;
    trend_bucket_rows(s, 4, rows);
    ASSERT_EQ(rows.size(), 1u);
    EXPECT_TRUE(std::isnan(rows[0].values[0]));

    // A silence breaks every curve, and the marks survive any amount of thinning.
    s.add_gap(10.5);
    for (int i = 11; i < 2000; ++i) {
        const float v[2] = {1, 5};
        s.add(i, v);
    }
    ASSERT_GT(s.span(), 1.0) << "not thinned: nothing tested";
    EXPECT_TRUE(s.bucket(s.bucket_at(5)).flags[0] & TREND_BROKEN);
    EXPECT_TRUE(s.bucket(s.bucket_at(10.5)).flags[1] & TREND_BROKEN);
    EXPECT_FALSE(s.bucket(s.bucket_at(1500)).flags[0] & TREND_BROKEN);
    EXPECT_FALSE(s.bucket(s.bucket_at(1500)).flags[1] & TREND_BROKEN);
    ASSERT_TRUE(s.range(0, &lo, &hi));
    EXPECT_EQ(hi, 10);

    // Drawn: no line across the gap, and nothing near the edges of the band where an infinite
    // value would have sent it.
    trend_plot plot;
    plot.set_curves({{"Voltage", "V", "%.2f", 0}});
    plot.resize(420, 200);
    for (int t = 0; t <= 20; ++t) {
        const float v = t == 10 ? inf : 1.0f;
        plot.add_at(t, &v);
    }
    QImage image(plot.size(), QImage::Format_RGB32);
    plot.render(&image);
    const QPoint on_line = plot.to_pixels(0, 2.5, 1).toPoint(), across_gap = plot.to_pixels(0, 10, 1).toPoint();
    EXPECT_TRUE(curve_pixel(image.pixelColor(on_line))) << image.pixelColor(on_line).name().toStdString();
    EXPECT_FALSE(curve_pixel(image.pixelColor(across_gap)));
    int far = 0;
    for (int y = 0; y < image.height(); ++y)
        for (int x = on_line.x(); x < plot.to_pixels(0, 20, 1).x(); ++x)
            if (std::abs(y - on_line.y()) > 3 && curve_pixel(image.pixelColor(x, y))) ++far;
    EXPECT_EQ(far, 0) << "curve pixels away from its only value";
}

// An independent reader: Qt's ISO 8601 parser and its locale-free float reader.
struct read_row {
    qint64 ms;
    std::vector<float> values;  // NaN for an empty field
};
std::vector<read_row> read_csv(const std::string& text, QString* header) {
    std::vector<read_row> out;
    QStringList lines = QString::fromStdString(text).split(QLatin1Char('\n'));
    EXPECT_TRUE(lines.last().isEmpty()) << "the last line ends in a line feed";
    lines.removeLast();
    *header = lines.takeFirst();
    for (const QString& line : lines) {
        const QStringList fields = line.split(QLatin1Char(','));
        const QDateTime at = QDateTime::fromString(fields[0], Qt::ISODateWithMs);
        EXPECT_TRUE(at.isValid() && at.timeSpec() == Qt::UTC) << fields[0].toStdString();
        read_row r{at.toMSecsSinceEpoch(), {}};
        for (int c = 1; c < fields.size(); ++c) {
            bool ok = true;
            r.values.push_back(fields[c].isEmpty() ? NAN : fields[c].toLatin1().toFloat(&ok));
            EXPECT_TRUE(ok) << fields[c].toStdString();
        }
        out.push_back(r);
    }
    return out;
}

void expect_same_rows(const trend_series& s, const std::vector<read_row>& read) {
    std::vector<trend_row> rows;
    for (int b = 0; b < s.size(); ++b) trend_bucket_rows(s, b, rows);
    ASSERT_EQ(read.size(), rows.size());
    for (size_t i = 0; i < rows.size(); ++i) {
        EXPECT_EQ(read[i].ms, s.wall_start_ms() + std::llround(rows[i].t * 1000)) << i;
        ASSERT_EQ(read[i].values.size(), size_t(s.curves()));
        for (int c = 0; c < s.curves(); ++c) {
            if (std::isnan(rows[i].values[c])) {
                EXPECT_TRUE(std::isnan(read[i].values[size_t(c)])) << i;
            } else {
                EXPECT_EQ(read[i].values[size_t(c)], rows[i].values[c]) << i << "," << c;
            }
        }
    }
}

TEST(Trend, TheExportedTextReadsBackAsTheSameRowsOnADecimalCommaDesktop) {
    decimal_comma_locale comma;
    ASSERT_DECIMAL_COMMA(comma);
    const std::vector<trend_curve> curves = {{"Volume", "litre", "%.3f", 0}, {"Pressure, max", "bar", "%.3f", 1}};
    const qint64 start = QDateTime(QDate(2026, 12, 7), QTime(9, 5), Qt::UTC).toMSecsSinceEpoch();
    trend_series s(2, 16);
    s.clear(start);
    const float samples[][2] = {{0.1f, 12.2f}, {1e-7f, -3.5f}, {3.0e38f, NAN}, {1.0f / 3, 2.0f / 3}, {0, -0.0f}};
    const double times[] = {0, 0.25, 1.5, 2.001, 3599.999};
    for (int i = 0; i < 5; ++i) s.add(times[i], samples[i]);

    QString header;
    const std::string text = trend_csv_text(s, curves);
    std::vector<read_row> read = read_csv(text, &header);
    EXPECT_EQ(header, QStringLiteral("Time,Volume (litre),\"Pressure, max (bar)\""));
    EXPECT_NE(text.find("\n2026-12-07T09:05:00.000Z,0.1,12.2\n2026-12-07T09:05:00.250Z,1e-07,-3.5\n"), std::string::npos)
        << text;
    ASSERT_EQ(read.size(), 5u);
    for (int i = 0; i < 5; ++i) {
        EXPECT_EQ(read[size_t(i)].ms, start + std::llround(times[i] * 1000));
        for (int c = 0; c < 2; ++c) {
            if (std::isnan(samples[i][c])) {
                EXPECT_TRUE(std::isnan(read[size_t(i)].values[size_t(c)]));
            } else {
                EXPECT_EQ(read[size_t(i)].values[size_t(c)], samples[i][c]) << i << "," << c;
            }
        }
    }

    // Thinned: each stretch as its two extremes, in the order they came.
    for (int i = 0; i < 60; ++i) {
        const float v[2] = {float(i % 7), float(-i)};
        s.add(3600 + i * 0.5, v);
    }
    ASSERT_GT(s.span(), 0) << "not thinned: nothing tested";
    read = read_csv(trend_csv_text(s, curves), &header);
    expect_same_rows(s, read);

    // Saved all or nothing: the same text, or an error and no file.
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("trend.csv"));
    ASSERT_EQ(trend_csv_save(QFile::encodeName(path).constData(), s, curves), 0);
    QFile saved(path);
    ASSERT_TRUE(saved.open(QIODevice::ReadOnly));
    EXPECT_EQ(saved.readAll().toStdString(), trend_csv_text(s, curves));
    const QString missing = dir.filePath(QStringLiteral("no-such-folder/trend.csv"));
    EXPECT_NE(trend_csv_save(QFile::encodeName(missing).constData(), s, curves), 0);
    EXPECT_FALSE(QFile::exists(missing));

    char iso[32];
    const std::pair<int64_t, const char*> moments[] = {
        {0, "1970-01-01T00:00:00.000Z"},
        {-1, "1969-12-31T23:59:59.999Z"},
        {951782400000, "2000-02-29T00:00:00.000Z"},
        {2147483648000, "2038-01-19T03:14:08.000Z"},
        {4102444799999, "2099-12-31T23:59:59.999Z"},
    };
    for (const auto& [ms, want] : moments) {
        trend_iso8601(ms, iso);
        EXPECT_STREQ(iso, want);
    }
}

TEST(Trend, FlowRateIsTheVolumesSlopeAndStartsAfreshWithEachCartridge) {
    trend_slope rate;
    EXPECT_TRUE(std::isnan(rate.add(0, 0)));
    EXPECT_FLOAT_EQ(rate.add(1, 0.4f), 24);
    EXPECT_FLOAT_EQ(rate.add(2, 0.8f), 24);
    EXPECT_FLOAT_EQ(rate.add(3, 1.0f), 18) << "over the last 2.5 s, not since the start";
    EXPECT_TRUE(std::isnan(rate.add(4, 0.0f))) << "a new cartridge counts from 0: no negative rate";
    EXPECT_FLOAT_EQ(rate.add(5, 0.5f), 30);
    EXPECT_TRUE(std::isnan(rate.add(6, NAN)));
    EXPECT_TRUE(std::isnan(rate.add(7, 1.0f)));
    EXPECT_FLOAT_EQ(rate.add(8, 1.5f), 30);
}

TEST(TrendPlot, ReadsOutUnderTheMouseAndHoldsItsPictureWhilePaused) {
    trend_plot plot;
    plot.set_curves({{"Voltage", "V", "%.2f", 0}, {"Temperature", "C", "%.1f", 1}});
    plot.resize(500, 240);
    for (int t = 0; t < 10; ++t) {
        const float v[2] = {12.0f + 0.1f * float(t), 17.5f};
        plot.add_at(t, v);
    }
    EXPECT_EQ(plot.readout_at(-1), QStringLiteral("Voltage 12.90 V   Temperature 17.5 C"));
    EXPECT_EQ(plot.readout_at(plot.to_pixels(0, 4, 12.4).x()), QStringLiteral("0:04   Voltage 12.40 V   Temperature 17.5 C"));

    plot.set_held(true);
    for (int t = 10; t < 15; ++t) {
        const float v[2] = {13.0f, 18.0f};
        plot.add_at(t, v);
    }
    EXPECT_EQ(plot.shown().size(), 10) << "a paused plot keeps its picture";
    EXPECT_EQ(plot.live().size(), 15) << "and goes on taking samples";
    EXPECT_EQ(plot.readout_at(-1), QStringLiteral("Voltage 12.90 V   Temperature 17.5 C"));
    plot.set_held(false);
    EXPECT_EQ(plot.shown().size(), 15);
    EXPECT_EQ(plot.readout_at(-1), QStringLiteral("Voltage 13.00 V   Temperature 18.0 C"));

    // A thinned stretch under the mouse reads as its lowest and highest value.
    trend_plot day;
    day.set_curves({{"Volume", "litre", "%.1f", 0}});
    day.resize(500, 240);
    for (int t = 0; t < 20000; ++t) {
        const float v = float(t % 10);
        day.add_at(t, &v);
    }
    ASSERT_GT(day.live().span(), 1.0);
    const QString mid = day.readout_at(day.to_pixels(0, 10000, 0).x());
    EXPECT_TRUE(mid.endsWith(QStringLiteral("Volume 0.0") + QChar(0x2013) + QStringLiteral("9.0 litre"))) << mid.toStdString();
    EXPECT_TRUE(mid.startsWith(QStringLiteral("2:4"))) << mid.toStdString();  // 2 h 4x min into the run
}

TEST(PlotAxes, TickStepsAreOneTwoOrFiveAndANarrowRangeStillGetsTwoTicks) {
    EXPECT_DOUBLE_EQ(plot_tick_step(10, 5), 2);
    EXPECT_DOUBLE_EQ(plot_tick_step(0.7, 5), 0.2);
    EXPECT_DOUBLE_EQ(plot_tick_step(3600, 6), 1000);
    EXPECT_DOUBLE_EQ(plot_tick_step(0, 5), 1);
    EXPECT_DOUBLE_EQ(plot_tick_step(NAN, 5), 1);
    // 12.149 to 12.161 V in a band with room for two labels: 0.01 would give only 12.15.
    const double step = plot_tick_step_within(12.149, 12.161, 2);
    EXPECT_GE(std::floor(12.161 / step) - std::ceil(12.149 / step), 1) << step;
    EXPECT_DOUBLE_EQ(plot_tick_step_within(0, 10, 2), 5);  // two ticks already: unchanged
    EXPECT_EQ(plot_number(0.1 + 0.2 - 0.3), QStringLiteral("0"));
}

}  // namespace
