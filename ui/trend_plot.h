// The live trend of a view, painted with QPainter: one band per unit stacked over a shared time
// axis, each with its own value axis and unit; a header that names the curves with their latest
// values, or, while the mouse is over the plot, the time and the values under it. A right-click
// offers "Save Trend..." (comma-separated) and "Save Picture..." (PNG).
//
// The plot keeps no more than its trend's bounded buckets (ui/trend.h), and a paint walks them
// once, into buffers that are kept from one paint to the next: it costs the same at the end of a
// 24-hour run as after a minute.
#pragma once

#include "ui/plot_axes.h"
#include "ui/trend.h"

#include <QElapsedTimer>
#include <QPointF>
#include <QString>
#include <QStringList>
#include <QWidget>

#include <vector>

class trend_plot : public QWidget {
    Q_OBJECT
public:
    explicit trend_plot(QWidget* parent = nullptr);

    // The curves (at most TREND_MAX_CURVES); the trend starts afresh.
    void set_curves(const std::vector<trend_curve>& curves);
    const std::vector<trend_curve>& curves() const { return curves_; }
    // Starts afresh: empty, with its time 0 now.
    void restart();
    // A sample taken now, one value per curve; a value that is not finite is a gap in its curve.
    void add(const float* values);
    // The same at t seconds since the start (tests, and samples stamped elsewhere).
    void add_at(double t, const float* values);
    // Seconds since the start, by the plot's clock.
    double now() const;
    // The readings stopped coming: a gap in every curve now, so no line joins the last reading
    // before the silence to the first after it.
    void add_gap();
    // While the readings are stale the curves are drawn pale; the next sample ends it.
    void set_stale(bool stale);
    bool stale() const { return stale_; }
    // Pause Display: the picture stays as it is while samples are still kept; on release it shows
    // all of them.
    void set_held(bool held);
    bool held() const { return held_; }
    // What the plot shows (and saves): the held picture while held, else the live trend.
    const trend_series& shown() const { return held_ ? held_series_ : series_; }
    const trend_series& live() const { return series_; }
    // The text shown while the trend is empty.
    void set_empty_note(const QString& note);

    // Where a value of curve c at t seconds is drawn, in widget pixels, at the current size.
    QPointF to_pixels(int curve, double t, double value) const;
    // The header's text with the mouse at widget x: the time there and each curve's value (or
    // lowest and highest value of a thinned stretch); the latest values when x is off the plot.
    QString readout_at(double x) const;
    // The plot as shown, as a PNG file's bytes.
    QByteArray png() const;

    QSize sizeHint() const override { return {480, 240}; }
    QSize minimumSizeHint() const override { return {200, 120}; }

protected:
    void paintEvent(QPaintEvent*) override;
    void mouseMoveEvent(QMouseEvent* e) override;
    void leaveEvent(QEvent*) override;
    void contextMenuEvent(QContextMenuEvent* e) override;

private:
    struct geometry {
        QRectF area;  // all bands, the time axis under them
        int bands = 0;
        QRectF band[TREND_MAX_CURVES];
        plot_scale y[TREND_MAX_CURVES];
        plot_scale x;
        double time_divisor = 1;  // seconds per unit of the time axis
        const char* time_unit = "s";
    };
    // The header's parts: the time under the mouse (empty off the plot) and each curve's text.
    struct readout {
        QString time;
        QStringList curves;
    };
    readout readout_parts(double x) const;
    void paint_header(QPainter& p);
    geometry layout() const;
    QString value_text(int curve, float v) const;
    void paint_curve(QPainter& p, const geometry& g, int curve);

    std::vector<trend_curve> curves_;
    trend_series series_;
    trend_series held_series_;
    float last_[TREND_MAX_CURVES];
    float held_last_[TREND_MAX_CURVES];
    QElapsedTimer clock_;
    bool stale_ = false;
    bool held_ = false;
    double mouse_x_ = -1;
    QString empty_note_;
    std::vector<QPointF> points_;  // one curve's polyline, reused by every paint
};

// File > Save Trend... and the plot's own menu: asks for a file ("Trend File", *.csv) and writes
// what the plot shows, all or nothing, then says whether it did ("Save Trend").
void trend_plot_save_csv(QWidget* owner, const trend_plot* plot);
// The same for a picture of the plot ("Trend Picture", *.png).
void trend_plot_save_png(QWidget* owner, const trend_plot* plot);
