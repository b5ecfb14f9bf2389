// Whether a poller's answers still come: a view shows its readings as live only while they do.
//
// The watch counts from its start: once no answer has arrived for longer than two of the
// poller's periods it calls on_change(true) (the view says "Not responding" and greys what it
// shows), and with the next answer on_change(false). GUI thread only.
#pragma once

#include <QElapsedTimer>
#include <QObject>
#include <QTimer>

#include <functional>
#include <initializer_list>

class QLabel;
class QWidget;
class trend_plot;

class ui_stale_watch : public QObject {
public:
    ui_stale_watch(QObject* parent, int period_ms, std::function<void(bool stale)> on_change);
    // A fresh answer of the poller has reached the window.
    void answered();
    bool stale() const { return stale_; }

private:
    void check();

    int limit_ms_;
    std::function<void(bool)> on_change_;
    QElapsedTimer since_;
    QTimer timer_;
    bool stale_ = false;
};

// What a view says beside its status while its readings are stale.
constexpr const char* UI_STALE_TEXT = "Not responding";

// Shows a view's readings as stale or live again: the label says "Not responding" (or nothing),
// the readings are greyed, and the trend is drawn pale, broken where the answers stopped when
// `gap` is set.
void ui_show_stale(bool stale, QLabel* label, std::initializer_list<QWidget*> readings, trend_plot* trend, bool gap);
