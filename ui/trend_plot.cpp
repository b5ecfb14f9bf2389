#include "ui/trend_plot.h"

#include "link/field_text.h"
#include "platform/file_replace.h"
#include "ui/dialog_helpers.h"
#include "ui/modal.h"

#include <QBuffer>
#include <QContextMenuEvent>
#include <QDateTime>
#include <QFile>
#include <QFontMetrics>
#include <QImage>
#include <QMenu>
#include <QMouseEvent>
#include <QPainter>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <limits>

namespace {

constexpr float NONE = std::numeric_limits<float>::quiet_NaN();
constexpr double MIN_TIME_SPAN_S = 60;  // a trend that has just started is not stretched over its first seconds
constexpr int BAND_GAP = 6;

QString g_csv_path, g_png_path;  // the last chosen files, offered again for the rest of the run

// 75 s as "1:15", 3725 s as "1:02:05".
QString elapsed_text(double s) {
    const long long t = std::max(0LL, static_cast<long long>(std::floor(s)));
    char buf[32];
    if (t >= 3600)
        text_format(buf, sizeof buf, "%lld:%02lld:%02lld", t / 3600, t / 60 % 60, t % 60);
    else
        text_format(buf, sizeof buf, "%lld:%02lld", t / 60, t % 60);
    return QString::fromLatin1(buf);
}

// The band's values with room around them; a flat band gets room in proportion to its value.
plot_scale value_scale(double lo, double hi, const QRectF& band) {
    if (!(hi >= lo)) {
        lo = 0;
        hi = 1;
    }
    const double pad = std::max(0.05 * std::max(std::fabs(lo), std::fabs(hi)), 0.1);
    if (hi - lo < pad * 1e-3) {
        lo -= pad;
        hi += pad;
    }
    const double margin = (hi - lo) * 0.08;
    return {lo - margin, hi + margin, band.bottom(), band.top()};
}

}  // namespace

trend_plot::trend_plot(QWidget* parent) : QWidget(parent) {
    setAttribute(Qt::WA_OpaquePaintEvent);
    setMouseTracking(true);
    set_curves({{"Value", "", "%.3f", 0}});
}

void trend_plot::set_curves(const std::vector<trend_curve>& curves) {
    curves_.assign(curves.begin(), curves.begin() + std::min<size_t>(curves.size(), TREND_MAX_CURVES));
    for (trend_curve& c : curves_) c.band = std::clamp(c.band, 0, TREND_MAX_CURVES - 1);
    series_ = trend_series(int(curves_.size()));
    held_series_ = trend_series(int(curves_.size()));
    points_.reserve(size_t(2 * series_.capacity() + 2));
    restart();
}

void trend_plot::restart() {
    series_.clear(QDateTime::currentMSecsSinceEpoch());
    std::fill(std::begin(last_), std::end(last_), NONE);
    clock_.start();
    update();
}

double trend_plot::now() const { return clock_.isValid() ? double(clock_.nsecsElapsed()) / 1e9 : 0; }

void trend_plot::add(const float* values) { add_at(now(), values); }

void trend_plot::add_at(double t, const float* values) {
    series_.add(t, values);
    for (int c = 0; c < series_.curves(); ++c) last_[c] = values ? values[c] : NONE;
    stale_ = false;
    if (!held_) update();
}

void trend_plot::add_gap() {
    if (series_.empty()) return;
    series_.add_gap(now());
    std::fill(std::begin(last_), std::end(last_), NONE);
    if (!held_) update();
}

void trend_plot::set_stale(bool stale) {
    if (stale == stale_) return;
    stale_ = stale;
    if (!held_) update();
}

void trend_plot::set_held(bool held) {
    if (held == held_) return;
    held_ = held;
    if (held) {
        held_series_ = series_;
        std::copy(std::begin(last_), std::end(last_), held_last_);
    }
    update();
}

void trend_plot::set_empty_note(const QString& note) {
    empty_note_ = note;
    update();
}

trend_plot::geometry trend_plot::layout() const {
    geometry g;
    const QFontMetrics fm(font());
    const double left = fm.horizontalAdvance(QStringLiteral("-8888.8")) + 10;
    const double top = fm.height() + 8, bottom = fm.height() + 6, right = 10;
    g.area = QRectF(left, top, std::max(20.0, width() - left - right), std::max(20.0, height() - top - bottom));
    for (const trend_curve& c : curves_) g.bands = std::max(g.bands, c.band + 1);
    g.bands = std::max(g.bands, 1);
    const double band_h = std::max(8.0, (g.area.height() - BAND_GAP * (g.bands - 1)) / g.bands);
    const trend_series& s = shown();
    for (int b = 0; b < g.bands; ++b) {
        g.band[b] = QRectF(g.area.left(), g.area.top() + b * (band_h + BAND_GAP), g.area.width(), band_h);
        double lo = INFINITY, hi = -INFINITY;
        for (int c = 0; c < int(curves_.size()); ++c) {
            float clo, chi;
            if (curves_[size_t(c)].band != b || !s.range(c, &clo, &chi)) continue;
            lo = std::min(lo, double(clo));
            hi = std::max(hi, double(chi));
        }
        g.y[b] = value_scale(lo, hi, g.band[b]);
    }
    const double span = std::max(s.t_end(), MIN_TIME_SPAN_S);
    g.x = {0, span, g.area.left(), g.area.right()};
    if (span > 3 * 3600) {
        g.time_divisor = 3600;
        g.time_unit = "h";
    } else if (span > 180) {
        g.time_divisor = 60;
        g.time_unit = "min";
    }
    return g;
}

QPointF trend_plot::to_pixels(int curve, double t, double value) const {
    const geometry g = layout();
    const int band = curve >= 0 && curve < int(curves_.size()) ? curves_[size_t(curve)].band : 0;
    return {g.x.to_px(t), g.y[band].to_px(value)};
}

QString trend_plot::value_text(int curve, float v) const {
    if (!std::isfinite(v)) return QStringLiteral("----");
    char buf[64];
    if (text_format(buf, sizeof buf, curves_[size_t(curve)].format.c_str(), double(v)) < 0) return QStringLiteral("----");
    return QString::fromLatin1(buf);
}

trend_plot::readout trend_plot::readout_parts(double x) const {
    readout r;
    const geometry g = layout();
    const trend_series& s = shown();
    const bool at_cursor = !s.empty() && x >= g.area.left() && x <= g.area.right();
    const int i = at_cursor ? s.bucket_at(g.x.from_px(x)) : -1;
    if (i >= 0) r.time = elapsed_text(s.bucket(i).t_first);
    const float* latest = held_ ? held_last_ : last_;
    for (int c = 0; c < int(curves_.size()); ++c) {
        const trend_curve& curve = curves_[size_t(c)];
        QString value;
        if (i < 0) {
            value = value_text(c, latest[c]);
        } else {
            // A thinned stretch shows its lowest and highest value.
            const trend_bucket& b = s.bucket(i);
            value = value_text(c, b.lo[c]);
            if (b.hi[c] != b.lo[c] && std::isfinite(b.hi[c])) value += QChar(0x2013) + value_text(c, b.hi[c]);
        }
        r.curves.push_back(QString::fromStdString(curve.name) + QLatin1Char(' ') + value + QLatin1Char(' ') +
                           QString::fromStdString(curve.unit));
    }
    return r;
}

QString trend_plot::readout_at(double x) const {
    const readout r = readout_parts(x);
    QStringList parts = r.curves;
    if (!r.time.isEmpty()) parts.prepend(r.time);
    return parts.join(QStringLiteral("   "));
}

void trend_plot::paint_header(QPainter& p) {
    const QFontMetrics fm(font());
    const readout r = readout_parts(mouse_x_);
    const double mid = fm.height() / 2.0 + 3, baseline = mid + fm.ascent() / 2.0 - 1;
    double x = layout().area.left();
    const double end = width() - 4;
    p.setPen(palette().color(QPalette::Text));
    if (!r.time.isEmpty()) {
        p.drawText(QPointF(x, baseline), r.time);
        x += fm.horizontalAdvance(r.time) + 14;
    }
    for (int c = 0; c < int(r.curves.size()) && x < end; ++c) {
        p.setPen(QPen(plot_colour(c), 3));
        p.drawLine(QPointF(x, mid), QPointF(x + 12, mid));
        x += 16;
        p.setPen(palette().color(QPalette::Text));
        const QString text = fm.elidedText(r.curves[c], Qt::ElideRight, int(std::max(0.0, end - x)));
        p.drawText(QPointF(x, baseline), text);
        x += fm.horizontalAdvance(text) + 14;
    }
}

void trend_plot::paint_curve(QPainter& p, const geometry& g, int c) {
    const trend_series& s = shown();
    const plot_scale& y = g.y[curves_[size_t(c)].band];
    const auto flush = [&] {
        if (points_.size() == 1) p.drawEllipse(points_[0], 1.5, 1.5);
        else if (points_.size() > 1) p.drawPolyline(points_.data(), int(points_.size()));
        points_.clear();
    };
    points_.clear();
    for (int i = 0; i < s.size(); ++i) {
        const trend_bucket& b = s.bucket(i);
        if (std::isnan(b.lo[c])) {
            flush();
            continue;
        }
        // A stretch with a gap inside is drawn on its own: its neighbours are not joined to it.
        const bool broken = (b.flags[c] & TREND_BROKEN) != 0;
        if (broken) flush();
        const bool high_first = (b.flags[c] & TREND_HIGH_FIRST) != 0;
        points_.emplace_back(g.x.to_px(b.t_first), y.to_px(high_first ? b.hi[c] : b.lo[c]));
        if (b.samples > 1) points_.emplace_back(g.x.to_px(b.t_last), y.to_px(high_first ? b.lo[c] : b.hi[c]));
        if (broken) flush();
    }
    flush();
}

void trend_plot::paintEvent(QPaintEvent*) {
    QPainter p(this);
    const QPalette& pal = palette();
    p.fillRect(rect(), pal.color(QPalette::Base));
    const geometry g = layout();
    const QFontMetrics fm(font());
    const trend_series& s = shown();

    // Time: ticks every 1, 2 or 5 units of the axis, about one per 80 pixels.
    const int time_ticks = std::clamp(int(g.area.width() / 80), 2, 8);
    const double time_step = plot_tick_step(g.x.hi / g.time_divisor, time_ticks) * g.time_divisor;
    for (int b = 0; b < g.bands; ++b) {
        const QRectF& band = g.band[b];
        // The time grid in every band; its labels go under the last one.
        p.setPen(QPen(plot_grid_colour(), 1));
        for (int k = 0; k <= 64 && k * time_step <= g.x.hi + 1e-9; ++k) {
            const double px = g.x.to_px(k * time_step);
            p.drawLine(QPointF(px, band.top()), QPointF(px, band.bottom()));
        }
        const int value_ticks = std::clamp(int(band.height() / (fm.height() * 1.8)), 2, 5);
        plot_draw_y_ticks(p, band, g.y[b], plot_tick_step_within(g.y[b].lo, g.y[b].hi, value_ticks), pal);
        p.setPen(pal.color(QPalette::Text));
        p.drawRect(band);
        // The band's unit, inside its top-left corner.
        QString unit;
        for (const trend_curve& c : curves_)
            if (c.band == b && unit.isEmpty()) unit = QString::fromStdString(c.unit);
        if (!unit.isEmpty()) {
            const QRectF box(band.left() + 1, band.top() + 1, fm.horizontalAdvance(unit) + 6, fm.height());
            p.fillRect(box, pal.color(QPalette::Base));
            p.drawText(box, Qt::AlignCenter, unit);
        }
    }
    const QRectF last = g.band[g.bands - 1];
    plot_draw_x_ticks(p, QRectF(last.left(), last.bottom(), last.width(), 0), g.x, time_step, pal, g.time_divisor);
    // The time axis' unit, under the value labels' column.
    p.setPen(pal.color(QPalette::Text));
    const QString time_unit = QString::fromLatin1(g.time_unit);
    p.drawText(QPointF(g.area.left() - fm.horizontalAdvance(time_unit) - 6, last.bottom() + fm.ascent() + 3), time_unit);

    if (s.empty()) {
        p.drawText(g.area, Qt::AlignCenter, empty_note_);
    } else {
        p.setRenderHint(QPainter::Antialiasing);
        for (int c = 0; c < int(curves_.size()); ++c) {
            QColor colour = plot_colour(c);
            if (stale_ && !held_) colour.setAlpha(80);  // no longer live: drawn pale
            p.save();
            p.setClipRect(g.band[curves_[size_t(c)].band].adjusted(-1, -1, 1, 1));
            // One-pixel lines: a day's trend is thousands of segments, and a wider smoothed pen
            // costs some 30 times as much to paint (bench/app_bench.cpp, BM_TrendPaint).
            p.setPen(QPen(colour, 0));
            p.setBrush(colour);
            paint_curve(p, g, c);
            p.restore();
        }
        p.setRenderHint(QPainter::Antialiasing, false);
        if (mouse_x_ >= g.area.left() && mouse_x_ <= g.area.right()) {
            p.setPen(QPen(pal.color(QPalette::Text), 1, Qt::DashLine));
            p.drawLine(QPointF(mouse_x_, g.area.top()), QPointF(mouse_x_, last.bottom()));
        }
    }

    // Header: the time under the mouse, then each curve's swatch, name, value and unit.
    paint_header(p);
}

void trend_plot::mouseMoveEvent(QMouseEvent* e) {
    mouse_x_ = e->position().x();
    update();
}

void trend_plot::leaveEvent(QEvent*) {
    mouse_x_ = -1;
    update();
}

void trend_plot::contextMenuEvent(QContextMenuEvent* e) {
    QMenu menu(this);
    QAction* csv = menu.addAction(QStringLiteral("Save Trend..."));
    QAction* png = menu.addAction(QStringLiteral("Save Picture..."));
    QAction* chosen = menu.exec(e->globalPos());
    if (chosen == csv) trend_plot_save_csv(this, this);
    else if (chosen == png) trend_plot_save_png(this, this);
}

QByteArray trend_plot::png() const {
    QImage image(size(), QImage::Format_RGB32);
    image.fill(palette().color(QPalette::Base));
    const_cast<trend_plot*>(this)->render(&image);
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    if (!image.save(&buffer, "PNG")) return {};
    return bytes;
}

namespace {

// Asks for the file; empty when cancelled or the window went away meanwhile.
QString choose(QWidget* owner, const char* title, const char* filter, const char* suffix, QString& last) {
    ui_file_request request;
    request.save = true;
    request.title = QString::fromLatin1(title);
    request.filter = QString::fromLatin1(filter);
    request.default_suffix = QString::fromLatin1(suffix);
    request.start_path = last;
    const QString path = ui_file_dialog(owner, request);
    if (!path.isEmpty()) last = path;
    return path;
}

void report(QWidget* owner, const QString& path, int error) {
    const QByteArray name = ui_path_for_message(path);
    if (error != 0) ui_message_fmt(owner, "Save Trend", UI_MB_OK, "Unable to open %s for write", name.constData());
    else ui_message_fmt(owner, "Save Trend", UI_MB_OK, "Trend saved to %s", name.constData());
}

}  // namespace

void trend_plot_save_csv(QWidget* owner, const trend_plot* plot) {
    if (!plot) return;
    const QString path = choose(owner, "Trend File", "CSV Files (*.csv);;All Files (*.*)", "csv", g_csv_path);
    if (path.isEmpty() || ui_window_gone(owner)) return;
    report(owner, path, trend_csv_save(QFile::encodeName(path).constData(), plot->shown(), plot->curves()));
}

void trend_plot_save_png(QWidget* owner, const trend_plot* plot) {
    if (!plot) return;
    const QString path = choose(owner, "Trend Picture", "PNG Files (*.png);;All Files (*.*)", "png", g_png_path);
    if (path.isEmpty() || ui_window_gone(owner)) return;
    const QByteArray bytes = plot->png();
    // A picture that could not be made is not written as an empty file.
    const int error = bytes.isEmpty() ? EIO : file_replace(QFile::encodeName(path).constData(), bytes.toStdString());
    report(owner, path, error);
}
