#include "config/calibration_plot.h"

#include "link/field_text.h"
#include "ui/plot_axes.h"

#include <QFontMetrics>
#include <QPainter>
#include <QPainterPath>

#include <algorithm>
#include <cmath>

namespace {

const QColor POINT_COLOUR(20, 60, 160);
const QColor WORST_COLOUR(220, 0, 0);
const QColor FIT_COLOUR(20, 60, 160);
const QColor STORED_COLOUR(130, 130, 130);
const QColor RESIDUAL_COLOUR(230, 140, 0);
constexpr int LEFT = 44, RIGHT = 12, TOP = 26, BOTTOM = 46;

}  // namespace

calibration_plot::calibration_plot(QWidget* parent) : QWidget(parent) {
    setAttribute(Qt::WA_OpaquePaintEvent);
    set_data({});
}

void calibration_plot::set_data(const calibration_plot_data& data) {
    data_ = data;
    worst_ = -1;
    worst_residual_ = 0;
    char text[96];
    if (data_.has_fit) {
        worst_ = pressure_largest_residual(data_.points, data_.fit_gain, data_.fit_offset, &worst_residual_);
        text_format(text, sizeof text, "Largest residual: point %d, %+.3f bar", worst_ + 1, worst_residual_);
    } else {
        text_format(text, sizeof text, "%s", "No fit: tick two points at different voltages");
    }
    residual_text_ = QString::fromLatin1(text);
    update_ranges();
    update();
}

bool calibration_plot::largest_residual_notable() const {
    return worst_ >= 0 && std::fabs(worst_residual_) >= CALIBRATION_PLOT_NOTABLE_BAR;
}

void calibration_plot::update_ranges() {
    // Voltage: the sensor's 0-5 V, widened to any point outside it. Pressure: the points and
    // the fitted line over that span; the stored line alone only when there is nothing else,
    // so a stored line far off does not squash the points into a corner (it is clipped).
    double x0 = 0, x1 = 5;
    double y0 = INFINITY, y1 = -INFINITY;
    for (const pressure_point& p : data_.points) {
        if (!p.used || !std::isfinite(p.volt) || !std::isfinite(p.bar)) continue;
        x0 = std::min(x0, p.volt);
        x1 = std::max(x1, p.volt);
        y0 = std::min(y0, p.bar);
        y1 = std::max(y1, p.bar);
    }
    auto take_line = [&](double gain, double offset) {
        for (double x : {x0, x1}) {
            const double y = pressure_bar(gain, offset, x);
            if (!std::isfinite(y)) continue;
            y0 = std::min(y0, y);
            y1 = std::max(y1, y);
        }
    };
    if (data_.has_fit) take_line(data_.fit_gain, data_.fit_offset);
    if (!(y1 >= y0) && data_.has_stored) take_line(data_.stored_gain, data_.stored_offset);
    if (!(y1 >= y0)) {
        y0 = 0;
        y1 = 10;
    }
    // A flat range gets room around it, in proportion to its size: at 1e17 bar a step of 1
    // would not move the numbers at all.
    const double pad = std::max(1.0, 1e-6 * std::max(std::fabs(y0), std::fabs(y1)));
    if (y1 - y0 < pad) {
        y0 -= pad;
        y1 += pad;
    }
    const double margin = (y1 - y0) * 0.08;
    r_ = {x0, x1, y0 - margin, y1 + margin};
}

QRectF calibration_plot::plot_area() const {
    return QRectF(LEFT, TOP, std::max(10, width() - LEFT - RIGHT), std::max(10, height() - TOP - BOTTOM));
}

QPointF calibration_plot::to_pixels(double volt, double bar) const {
    const QRectF a = plot_area();
    const double x = a.left() + (volt - r_.x0) / (r_.x1 - r_.x0) * a.width();
    const double y = a.bottom() - (bar - r_.y0) / (r_.y1 - r_.y0) * a.height();
    return {x, y};
}

void calibration_plot::paintEvent(QPaintEvent*) {
    QPainter p(this);
    p.fillRect(rect(), palette().color(QPalette::Base));
    const QRectF area = plot_area();
    const QFontMetrics fm(font());

    // Grid and tick labels, as every plot of the tool draws them.
    const plot_scale x{r_.x0, r_.x1, area.left(), area.right()}, y{r_.y0, r_.y1, area.bottom(), area.top()};
    plot_draw_x_ticks(p, area, x, plot_tick_step(r_.x1 - r_.x0), palette());
    plot_draw_y_ticks(p, area, y, plot_tick_step(r_.y1 - r_.y0), palette());
    p.setPen(palette().color(QPalette::Text));
    p.drawRect(area);
    p.drawText(QPointF(area.right() - fm.horizontalAdvance(QStringLiteral("volt")), area.bottom() + 2 * fm.height() + 1),
               QStringLiteral("volt"));
    p.drawText(QPointF(4, area.top() - 6), QStringLiteral("bar"));

    // Legend, above the plot.
    double lx = area.left() + 30;
    const double ly = area.top() - 9;
    auto legend = [&](const QPen& pen, const QString& text, bool dot) {
        p.setPen(pen);
        if (dot) {
            p.setBrush(pen.color());
            p.drawEllipse(QPointF(lx + 9, ly), 3.5, 3.5);
            p.setBrush(Qt::NoBrush);
        } else {
            p.drawLine(QPointF(lx, ly), QPointF(lx + 18, ly));
        }
        p.setPen(palette().color(QPalette::Text));
        p.drawText(QPointF(lx + 22, ly + fm.ascent() / 2.0 - 1), text);
        lx += 22 + fm.horizontalAdvance(text) + 14;
    };
    legend(QPen(POINT_COLOUR, 1), QStringLiteral("points"), true);
    legend(QPen(FIT_COLOUR, 2), QStringLiteral("fit"), false);
    legend(QPen(STORED_COLOUR, 1.5, Qt::DashLine), QStringLiteral("stored"), false);

    p.save();
    p.setClipRect(area);
    p.setRenderHint(QPainter::Antialiasing);
    auto draw_line = [&](double gain, double offset, const QPen& pen) {
        const QPointF a = to_pixels(r_.x0, pressure_bar(gain, offset, r_.x0));
        const QPointF b = to_pixels(r_.x1, pressure_bar(gain, offset, r_.x1));
        if (!std::isfinite(a.y()) || !std::isfinite(b.y())) return;
        p.setPen(pen);
        p.drawLine(a, b);
    };
    if (data_.has_stored) draw_line(data_.stored_gain, data_.stored_offset, QPen(STORED_COLOUR, 1.5, Qt::DashLine));
    if (data_.has_fit) draw_line(data_.fit_gain, data_.fit_offset, QPen(FIT_COLOUR, 2));

    for (int i = 0; i < PRESSURE_POINTS; ++i) {
        const pressure_point& pt = data_.points[i];
        if (!pt.used || !std::isfinite(pt.volt) || !std::isfinite(pt.bar)) continue;
        const QPointF at = to_pixels(pt.volt, pt.bar);
        const bool worst = i == worst_ && largest_residual_notable();
        if (data_.has_fit) {
            p.setPen(QPen(worst ? WORST_COLOUR : RESIDUAL_COLOUR, worst ? 2 : 1));
            p.drawLine(at, to_pixels(pt.volt, pressure_bar(data_.fit_gain, data_.fit_offset, pt.volt)));
        }
        const QColor c = worst ? WORST_COLOUR : POINT_COLOUR;
        p.setPen(QPen(c, 1));
        p.setBrush(c);
        p.drawEllipse(at, worst ? 5.0 : 4.0, worst ? 5.0 : 4.0);
        p.setBrush(Qt::NoBrush);
        // The number below and to the right of its point, away from a rising line, on a patch
        // of the background, and inside the plot.
        const QString label = plot_number(i + 1);
        QRectF box(at.x() + 5, at.y() + 3, fm.horizontalAdvance(label) + 4, fm.height());
        if (box.right() > area.right()) box.moveRight(at.x() - 5);
        if (box.bottom() > area.bottom()) box.moveBottom(at.y() - 3);
        p.fillRect(box, palette().color(QPalette::Base));
        p.setPen(c);
        p.drawText(box, Qt::AlignCenter, label);
    }
    p.restore();

    p.setPen(largest_residual_notable() ? WORST_COLOUR : palette().color(QPalette::Text));
    p.drawText(QRectF(0, height() - fm.height() - 3, width(), fm.height()), Qt::AlignCenter, residual_text_);
}
