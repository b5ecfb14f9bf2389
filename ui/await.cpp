#include "ui/await.h"

#include "ui/modal.h"

#include <QApplication>
#include <QCloseEvent>
#include <QEventLoop>
#include <QPainter>
#include <QPointer>
#include <QThread>
#include <QTimer>
#include <QWidget>
#include <QWindow>

#include <algorithm>
#include <atomic>
#include <exception>
#include <memory>
#include <system_error>
#include <thread>
#include <vector>

namespace {

constexpr int CURSOR_AFTER_MS = 150;
constexpr int NOTE_AFTER_MS = 1000;

// The top-level windows that wait now, each with the number of its waits (GUI thread only).
struct held_window {
    QPointer<QWidget> top;
    int waits = 0;
};
std::vector<held_window> g_held;
int g_waits = 0;

bool is_held(const QWidget* top) {
    if (!top) return false;
    return std::any_of(g_held.begin(), g_held.end(), [&](const held_window& h) { return h.top == top; });
}

bool input_event(QEvent::Type t) {
    switch (t) {
        case QEvent::MouseButtonPress:
        case QEvent::MouseButtonRelease:
        case QEvent::MouseButtonDblClick:
        case QEvent::NonClientAreaMouseButtonPress:
        case QEvent::NonClientAreaMouseButtonRelease:
        case QEvent::NonClientAreaMouseButtonDblClick:
        case QEvent::Wheel:
        case QEvent::ContextMenu:
        case QEvent::TouchBegin:
        case QEvent::TouchUpdate:
        case QEvent::TouchEnd:
        case QEvent::TabletPress:
        case QEvent::TabletRelease:
        case QEvent::DragEnter:
        case QEvent::Drop:
            return true;
        default:
            return false;
    }
}

bool key_event(QEvent::Type t) {
    return t == QEvent::KeyPress || t == QEvent::KeyRelease || t == QEvent::ShortcutOverride || t == QEvent::Shortcut;
}

// The window an event's receiver belongs to: a widget's top-level window, or the widget of a
// native window.
const QWidget* receiver_window(QObject* o) {
    if (o->isWidgetType()) return static_cast<QWidget*>(o)->window();
    if (auto* w = qobject_cast<QWindow*>(o)) {
        for (const held_window& h : g_held)
            if (h.top && h.top->windowHandle() == w) return h.top;
    }
    return nullptr;
}

// Drops the input meant for a waiting window. Keys go to the active window (shortcuts to
// objects that are no widgets at all), so they are dropped while a waiting window is active.
class input_hold : public QObject {
protected:
    bool eventFilter(QObject* o, QEvent* e) override {
        const QEvent::Type t = e->type();
        if (t == QEvent::Close && o->isWidgetType() && static_cast<QWidget*>(o)->isWindow() && is_held(static_cast<QWidget*>(o))) {
            e->ignore();
            return true;
        }
        if (key_event(t)) {
            if (is_held(QApplication::activeWindow()) || is_held(receiver_window(o))) {
                // An accepted override keeps the key from being taken as a shortcut; the key
                // itself is then dropped here too.
                if (t == QEvent::ShortcutOverride) e->accept();
                return true;
            }
            return false;
        }
        return input_event(t) && is_held(receiver_window(o));
    }
};
input_hold* g_filter = nullptr;

void hold(QWidget* top) {
    if (!top) return;
    auto it = std::find_if(g_held.begin(), g_held.end(), [&](const held_window& h) { return h.top == top; });
    if (it == g_held.end()) g_held.push_back({top, 1});
    else ++it->waits;
    if (!g_filter) {
        g_filter = new input_hold;
        qApp->installEventFilter(g_filter);
    }
}

void unhold(QWidget* top) {
    for (auto it = g_held.begin(); it != g_held.end(); ++it) {
        if (it->top != top) continue;
        if (--it->waits == 0) g_held.erase(it);
        break;
    }
    // A window freed meanwhile leaves an empty entry behind; it holds nothing.
    g_held.erase(std::remove_if(g_held.begin(), g_held.end(), [](const held_window& h) { return !h.top; }), g_held.end());
    if (g_held.empty() && g_filter) {
        qApp->removeEventFilter(g_filter);
        delete g_filter;
        g_filter = nullptr;
    }
}

// Lies over the whole waiting window: it carries the wait cursor and, after a while, paints
// the note at the bottom.
class wait_overlay : public QWidget {
public:
    explicit wait_overlay(QWidget* top) : QWidget(top) {
        setObjectName(QStringLiteral("ui_wait_overlay"));
        setAttribute(Qt::WA_NoSystemBackground);
        setAttribute(Qt::WA_TranslucentBackground);
        setCursor(Qt::WaitCursor);
        setGeometry(top->rect());
        top->installEventFilter(this);
        raise();
        show();
    }
    void show_note() {
        note_ = true;
        setToolTip(QString::fromUtf8(UI_AWAIT_NOTE));
        update();
    }
    bool note_shown() const { return note_; }

protected:
    bool eventFilter(QObject* o, QEvent* e) override {
        if (o == parentWidget() && e->type() == QEvent::Resize) setGeometry(parentWidget()->rect());
        return false;
    }
    void paintEvent(QPaintEvent*) override {
        if (!note_) return;
        QPainter p(this);
        const QString text = QString::fromUtf8(UI_AWAIT_NOTE);
        const QFontMetrics fm(font());
        const int w = std::min(width() - 8, fm.horizontalAdvance(text) + 2 * fm.averageCharWidth() * 2);
        const int h = fm.height() + fm.height() / 2 + 4;
        const QRect box((width() - w) / 2, height() - h - 6, w, h);
        p.setRenderHint(QPainter::Antialiasing);
        p.setPen(palette().color(QPalette::Mid));
        p.setBrush(palette().color(QPalette::ToolTipBase));
        p.drawRoundedRect(QRectF(box).adjusted(0.5, 0.5, -0.5, -0.5), 4, 4);
        p.setPen(palette().color(QPalette::ToolTipText));
        p.drawText(box, Qt::AlignCenter, fm.elidedText(text, Qt::ElideRight, box.width() - 8));
    }

private:
    bool note_ = false;
};

struct await_state {
    std::atomic<bool> done{false};
    QEventLoop* loop = nullptr;  // GUI thread only
    std::exception_ptr failure;
};

bool on_gui_thread() {
    QCoreApplication* app = QCoreApplication::instance();
    return app && QThread::currentThread() == app->thread();
}

}  // namespace

void ui_await_run(QWidget* window, const std::function<void()>& work) {
    // A window that has gone runs no event loop of its own any more: what is left of its work
    // meets a closed link and ends at once.
    if (!on_gui_thread() || (window && ui_window_gone(window))) {
        work();
        return;
    }
    auto state = std::make_shared<await_state>();
    std::thread helper;
    try {
        helper = std::thread([state, &work] {
            try {
                work();
            } catch (...) {
                state->failure = std::current_exception();
            }
            state->done.store(true);
            QMetaObject::invokeMethod(
                qApp,
                [state] {
                    if (state->loop) state->loop->quit();
                },
                Qt::QueuedConnection);
        });
    } catch (const std::system_error&) {
        work();  // no thread to be had: wait here, as a last resort
        return;
    }

    // A dialog that is not shown yet (its opening read) waits in the window that opens it.
    QWidget* shown = window;
    while (shown && !shown->window()->isVisible() && shown->window()->parentWidget()) shown = shown->window()->parentWidget();
    QPointer<QWidget> top = shown ? shown->window() : nullptr;
    app_view* view = ui_hold_view(window);
    const int abandoned_before = ui_abandon_count();
    hold(top);
    ++g_waits;
    QPointer<wait_overlay> overlay;
    QTimer cursor_timer, note_timer;
    cursor_timer.setSingleShot(true);
    note_timer.setSingleShot(true);
    QObject::connect(&cursor_timer, &QTimer::timeout, [&] {
        if (top && !overlay) overlay = new wait_overlay(top);
    });
    QObject::connect(&note_timer, &QTimer::timeout, [&] {
        if (top && !overlay) overlay = new wait_overlay(top);
        if (overlay) overlay->show_note();
    });
    cursor_timer.start(CURSOR_AFTER_MS);
    note_timer.start(NOTE_AFTER_MS);

    QEventLoop loop;
    state->loop = &loop;
    while (!state->done.load()) loop.exec();
    state->loop = nullptr;
    helper.join();

    cursor_timer.stop();
    note_timer.stop();
    delete overlay.data();
    --g_waits;
    unhold(top);
    ui_release_view(view);
    if (ui_abandon_count() != abandoned_before) ui_abandon_handler();
    if (state->failure) std::rethrow_exception(state->failure);
}

bool ui_awaiting(const QWidget* window) { return window && is_held(window->window()); }

int ui_await_count() { return g_waits; }
