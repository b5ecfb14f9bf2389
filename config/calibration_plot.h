// A plot of a pressure calibration, drawn with QPainter: the points (pressure over sensor
// voltage), the line fitted through them, the line stored in the instrument, the residual of
// each point against the fitted line, and which point lies farthest from it. A point that was
// sampled at the wrong pressure stands out at a glance.
#pragma once

#include "config/pressure.h"

#include <QPointF>
#include <QString>
#include <QWidget>

// Residuals from this size up are drawn in red, bar.
constexpr double CALIBRATION_PLOT_NOTABLE_BAR = 0.05;

struct calibration_plot_data {
    pressure_point points[PRESSURE_POINTS] = {};
    bool has_fit = false;  // a line through the points (two or more at different voltages)
    double fit_gain = 0, fit_offset = 0;
    bool has_stored = false;
    double stored_gain = 0, stored_offset = 0;
};

class calibration_plot : public QWidget {
    Q_OBJECT
public:
    explicit calibration_plot(QWidget* parent = nullptr);

    void set_data(const calibration_plot_data& data);
    const calibration_plot_data& data() const { return data_; }
    // The point (0-4) farthest from the fitted line, or -1 without a fit or points.
    int largest_residual_point() const { return worst_; }
    double largest_residual() const { return worst_residual_; }
    // Whether that point lies far enough off to be drawn in red: a sensor's scatter is a few
    // thousandths of a bar, a point sampled at the wrong pressure tenths.
    bool largest_residual_notable() const;
    // The line under the plot: which point is farthest from the fit, and by how much.
    QString residual_text() const { return residual_text_; }
    // Where a (volt, bar) pair is drawn, in widget pixels, at the widget's current size.
    QPointF to_pixels(double volt, double bar) const;

    QSize sizeHint() const override { return {300, 240}; }

protected:
    void paintEvent(QPaintEvent*) override;

private:
    struct ranges {
        double x0, x1, y0, y1;
    };
    QRectF plot_area() const;
    void update_ranges();

    calibration_plot_data data_;
    ranges r_{0, 5, 0, 10};
    int worst_ = -1;
    double worst_residual_ = 0;
    QString residual_text_;
};
