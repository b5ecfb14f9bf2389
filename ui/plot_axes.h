// What every plot of the tool draws the same way: tick steps of 1, 2 or 5 times a power of ten,
// tick labels in the C number format, grid lines and labelled axes, and a set of curve colours
// that colour-blind eyes still tell apart.
#pragma once

#include <QColor>
#include <QRectF>
#include <QString>

class QFontMetrics;
class QPainter;
class QPalette;

// The colours of Okabe and Ito: blue, vermillion, bluish green, reddish purple, orange, sky blue.
// They differ in lightness as well as in hue, so they stay distinguishable without full colour
// vision; the order puts the most distinct first.
constexpr int PLOT_COLOUR_COUNT = 6;
QColor plot_colour(int i);
QColor plot_grid_colour();

// A step of 1, 2 or 5 times a power of ten that splits span into at most `intervals` pieces
// (about that many: at least intervals / 2.5). 1 for a span that is empty or not finite.
double plot_tick_step(double span, int intervals = 5);
// The same for the range lo..hi, made finer (up to 8 times as many pieces) until at least two
// ticks fall inside it: a narrow band with a single label cannot be read.
double plot_tick_step_within(double lo, double hi, int intervals);
// A tick label: "%g" in the C conventions, with a value within rounding of 0 written as 0.
QString plot_number(double v);

// A linear map from values lo..hi onto pixels a..b.
struct plot_scale {
    double lo = 0, hi = 1, a = 0, b = 1;
    double to_px(double v) const { return a + (v - lo) / (hi - lo) * (b - a); }
    double from_px(double px) const { return lo + (px - a) / (b - a) * (hi - lo); }
};

// Grid lines across area at every step of the scale, with their labels under the area (x) or
// left of it (y). The label of a value is plot_number(value / divisor). The loops stop after a
// fixed number of ticks and where a step no longer moves the value, so no range, however odd,
// keeps the painting going.
void plot_draw_x_ticks(QPainter& p, const QRectF& area, const plot_scale& x, double step, const QPalette& pal,
                       double divisor = 1);
void plot_draw_y_ticks(QPainter& p, const QRectF& area, const plot_scale& y, double step, const QPalette& pal);
