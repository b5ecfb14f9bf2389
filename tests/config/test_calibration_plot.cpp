// The calibration plot, rendered offscreen into an image: the point that is off is the one
// reported and the one drawn in red, the fitted line is where the fit says.
#include "config/calibration_plot.h"

#include <QImage>
#include <QPainter>

#include <gtest/gtest.h>

#include <cmath>

namespace {

const QColor RED(220, 0, 0);
const QColor POINT_BLUE(20, 60, 160);

calibration_plot_data five_points_one_off() {
    calibration_plot_data d;
    const double volts[] = {0.5, 1.3, 2.1, 2.9, 3.7}, bars[] = {0, 2, 4, 7, 8};  // point 4 should read 6
    for (int i = 0; i < 5; ++i) d.points[i] = {volts[i], bars[i], true};
    d.has_fit = pressure_fit(d.points, &d.fit_gain, &d.fit_offset) == 0;
    d.has_stored = true;
    d.stored_gain = 2.4;
    d.stored_offset = -1.1;
    return d;
}

QImage render(calibration_plot& plot) {
    plot.resize(420, 320);
    QImage image(plot.size(), QImage::Format_RGB32);
    image.fill(Qt::white);
    plot.render(&image);
    return image;
}

bool near_colour(QColor a, QColor b) {
    return std::abs(a.red() - b.red()) < 8 && std::abs(a.green() - b.green()) < 8 && std::abs(a.blue() - b.blue()) < 8;
}

// Lines are drawn smoothed: their colour is found at full strength in the pixel or one beside it.
bool colour_around(const QImage& image, QPointF at, QColor c) {
    for (int dy = -1; dy <= 1; ++dy)
        for (int dx = -1; dx <= 1; ++dx)
            if (near_colour(image.pixelColor(at.toPoint() + QPoint(dx, dy)), c)) return true;
    return false;
}

TEST(CalibrationPlot, ReportsAndMarksThePointFarthestFromTheFit) {
    calibration_plot plot;
    plot.set_data(five_points_one_off());
    ASSERT_TRUE(plot.data().has_fit);
    EXPECT_NEAR(plot.data().fit_gain, 2.625, 1e-12);
    EXPECT_EQ(plot.largest_residual_point(), 3);
    EXPECT_TRUE(plot.largest_residual_notable());
    EXPECT_NEAR(plot.largest_residual(), 0.7, 1e-9);
    EXPECT_EQ(plot.residual_text(), QStringLiteral("Largest residual: point 4, +0.700 bar"));

    const QImage image = render(plot);
    const QPoint off = plot.to_pixels(2.9, 7).toPoint();
    EXPECT_TRUE(near_colour(image.pixelColor(off), RED)) << image.pixelColor(off).name().toStdString();
    for (int i : {0, 1, 2, 4}) {
        const pressure_point& p = plot.data().points[i];
        const QColor c = image.pixelColor(plot.to_pixels(p.volt, p.bar).toPoint());
        EXPECT_TRUE(near_colour(c, POINT_BLUE)) << i << " " << c.name().toStdString();
    }
    // Between two points, the pixel on the fitted line is the line's.
    const double v = 3.3;
    EXPECT_TRUE(colour_around(image, plot.to_pixels(v, plot.data().fit_gain * v + plot.data().fit_offset), POINT_BLUE));
    EXPECT_FALSE(colour_around(image, plot.to_pixels(v, plot.data().fit_gain * v + plot.data().fit_offset + 1.5), POINT_BLUE));
    // Every point is inside the picture.
    for (const pressure_point& p : plot.data().points) EXPECT_TRUE(image.rect().contains(plot.to_pixels(p.volt, p.bar).toPoint()));
}

TEST(CalibrationPlot, PointsWithinTheSensorsScatterAreNotMarked) {
    calibration_plot_data d = five_points_one_off();
    d.points[3].bar = 6.01;  // 10 mbar off: scatter, not a mistake
    d.has_fit = pressure_fit(d.points, &d.fit_gain, &d.fit_offset) == 0;
    calibration_plot plot;
    plot.set_data(d);
    EXPECT_GE(plot.largest_residual_point(), 0);  // still reported
    EXPECT_FALSE(plot.largest_residual_notable());
    const QImage image = render(plot);
    for (const pressure_point& p : plot.data().points)
        EXPECT_TRUE(near_colour(image.pixelColor(plot.to_pixels(p.volt, p.bar).toPoint()), POINT_BLUE));
}

TEST(CalibrationPlot, WithoutAFitNothingIsMarked) {
    calibration_plot_data d = five_points_one_off();
    for (int i = 1; i < 5; ++i) d.points[i].used = false;
    d.has_fit = pressure_fit(d.points, &d.fit_gain, &d.fit_offset) == 0;
    EXPECT_FALSE(d.has_fit);
    calibration_plot plot;
    plot.set_data(d);
    EXPECT_EQ(plot.largest_residual_point(), -1);
    EXPECT_EQ(plot.residual_text(), QStringLiteral("No fit: tick two points at different voltages"));
    const QImage image = render(plot);
    int red = 0;
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x) red += near_colour(image.pixelColor(x, y), RED) ? 1 : 0;
    EXPECT_EQ(red, 0);
    const QColor c = image.pixelColor(plot.to_pixels(0.5, 0).toPoint());
    EXPECT_TRUE(near_colour(c, POINT_BLUE)) << c.name().toStdString();
}

TEST(CalibrationPlot, AStoredLineFarOffDoesNotSquashThePoints) {
    calibration_plot_data d = five_points_one_off();
    d.stored_gain = 1e9;
    d.stored_offset = -1e12;
    calibration_plot plot;
    plot.set_data(d);
    render(plot);
    // The points still spread over half the plot's height (248 px here).
    const double top = plot.to_pixels(3.7, 8).y(), bottom = plot.to_pixels(0.5, 0).y();
    EXPECT_GT(bottom - top, 124);
}

}  // namespace

namespace {

TEST(CalibrationPlot, HugeOrFlatValuesStillDrawAndReturn) {
    // A typed "1e17" bar, or a stored line far off: a step of 1 no longer moves such numbers,
    // and the painting must end all the same.
    calibration_plot plot;
    calibration_plot_data one_huge;
    one_huge.points[0] = {1.0, 1e17, true};
    plot.set_data(one_huge);
    render(plot);
    calibration_plot_data stored_far;
    stored_far.has_stored = true;
    stored_far.stored_gain = 0;
    stored_far.stored_offset = 1e20;
    plot.set_data(stored_far);
    render(plot);
    calibration_plot_data flat = five_points_one_off();
    for (auto& p : flat.points) p.bar = 3e38;
    flat.has_fit = false;
    plot.set_data(flat);
    const QImage image = render(plot);
    EXPECT_FALSE(image.isNull());
}

}  // namespace
