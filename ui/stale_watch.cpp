#include "ui/stale_watch.h"

#include "ui/trend_plot.h"

#include <QLabel>

ui_stale_watch::ui_stale_watch(QObject* parent, int period_ms, std::function<void(bool)> on_change)
    : QObject(parent), limit_ms_(2 * period_ms), on_change_(std::move(on_change)) {
    since_.start();
    // Looked at four times per limit: the mark comes at most a quarter late.
    timer_.setInterval(limit_ms_ / 4 > 0 ? limit_ms_ / 4 : 1);
    connect(&timer_, &QTimer::timeout, this, [this] { check(); });
    timer_.start();
}

void ui_stale_watch::answered() {
    since_.restart();
    if (!stale_) return;
    stale_ = false;
    on_change_(false);
}

void ui_stale_watch::check() {
    if (stale_ || since_.elapsed() <= limit_ms_) return;
    stale_ = true;
    on_change_(true);
}

void ui_show_stale(bool stale, QLabel* label, std::initializer_list<QWidget*> readings, trend_plot* trend, bool gap) {
    label->setText(stale ? QString::fromUtf8(UI_STALE_TEXT) : QString());
    label->setVisible(stale);
    for (QWidget* w : readings) w->setEnabled(!stale);
    trend->set_stale(stale);
    if (stale && gap) trend->add_gap();
}
