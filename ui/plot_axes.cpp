#include "ui/plot_axes.h"

#include "link/field_text.h"

#include <QFontMetrics>
#include <QPainter>
#include <QPalette>

#include <cmath>

namespace {

constexpr int MAX_TICKS = 64;

template <typename Draw>
void each_tick(const plot_scale& s, double step, Draw draw) {
    const double lo = std::min(s.lo, s.hi), hi = std::max(s.lo, s.hi);
    if (!(step > 0) || !std::isfinite(lo) || !std::isfinite(hi)) return;
    int ticks = 0;
    for (double v = std::ceil(lo / step) * step; v <= hi + step * 1e-9 && v + step != v && ticks < MAX_TICKS; v += step, ++ticks)
        draw(v);
}

}  // namespace

QColor plot_colour(int i) {
    static const QColor colours[PLOT_COLOUR_COUNT] = {
        QColor(0, 114, 178), QColor(213, 94, 0),  QColor(0, 158, 115),
        QColor(204, 121, 167), QColor(230, 159, 0), QColor(86, 180, 233),
    };
    return colours[((i % PLOT_COLOUR_COUNT) + PLOT_COLOUR_COUNT) % PLOT_COLOUR_COUNT];
}

QColor plot_grid_colour() { return QColor(225, 225, 225); }

double plot_tick_step(double span, int intervals) {
    if (!(span > 0) || !std::isfinite(span) || intervals < 1) return 1;
    const double raw = span / intervals;
    const double power = std::pow(10.0, std::floor(std::log10(raw)));
    for (double m : {1.0, 2.0, 5.0})
        if (raw <= m * power) return m * power;
    return 10 * power;
}

double plot_tick_step_within(double lo, double hi, int intervals) {
    double step = plot_tick_step(hi - lo, intervals);
    for (int k = intervals * 2; k <= intervals * 8; k *= 2) {
        if (!(step > 0) || std::floor(hi / step) - std::ceil(lo / step) >= 1) break;
        step = plot_tick_step(hi - lo, k);
    }
    return step;
}

QString plot_number(double v) {
    char buf[32];
    text_format(buf, sizeof buf, "%g", std::fabs(v) < 1e-12 ? 0.0 : v);
    return QString::fromLatin1(buf);
}

void plot_draw_x_ticks(QPainter& p, const QRectF& area, const plot_scale& x, double step, const QPalette& pal,
                       double divisor) {
    const QFontMetrics fm(p.font());
    each_tick(x, step, [&](double v) {
        const double px = x.to_px(v);
        p.setPen(QPen(plot_grid_colour(), 1));
        p.drawLine(QPointF(px, area.top()), QPointF(px, area.bottom()));
        p.setPen(pal.color(QPalette::Text));
        // Rounded to the step: 0.30000000000000004 minutes is labelled 0.3.
        const double label = std::round(v / step) * step / divisor;
        const QString t = plot_number(label);
        p.drawText(QPointF(px - fm.horizontalAdvance(t) / 2.0, area.bottom() + fm.ascent() + 3), t);
    });
}

void plot_draw_y_ticks(QPainter& p, const QRectF& area, const plot_scale& y, double step, const QPalette& pal) {
    const QFontMetrics fm(p.font());
    each_tick(y, step, [&](double v) {
        const double py = y.to_px(v);
        p.setPen(QPen(plot_grid_colour(), 1));
        p.drawLine(QPointF(area.left(), py), QPointF(area.right(), py));
        p.setPen(pal.color(QPalette::Text));
        const QString t = plot_number(std::round(v / step) * step);
        p.drawText(QPointF(area.left() - fm.horizontalAdvance(t) - 4, py + fm.ascent() / 2.0 - 1), t);
    });
}
