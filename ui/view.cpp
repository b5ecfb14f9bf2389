#include "ui/view.h"

#include "ui/app_messages.h"

#include <QCoreApplication>
#include <QLabel>
#include <QMainWindow>
#include <QStatusBar>
#include <QTreeWidget>

#include <algorithm>

QRect main_client_rect(const QWidget* any_child) {
    auto* main = qobject_cast<QMainWindow*>(any_child->window());
    if (!main || !main->centralWidget()) return any_child->parentWidget() ? any_child->parentWidget()->rect() : QRect();
    QRect r = main->centralWidget()->rect();
    if (main->statusBar()) r.setHeight(r.height() + main->statusBar()->height());
    return r;
}

void app_view::init_layout(QLabel* panel_label, QTreeWidget* list, QWidget* above) {
    list_ = list;
    above_ = above;
    panel_width_ = panel_label ? panel_label->width() : 0;
    relayout();
    show();
}

void app_view::relayout() {
    // The status bar settles its height only once the window is laid out, so ask every time.
    int h = 0;
    app_message ask(MSG_STATUS_HEIGHT, 0, reinterpret_cast<intptr_t>(&h));
    QCoreApplication::sendEvent(window(), &ask);
    status_height_ = h;
    const QRect client = main_client_rect(this);
    const int height = client.height() - status_height_ + 1;
    setGeometry(0, 0, client.width(), height);
    // The list keeps its place right of the panel and takes the rest of the view.
    if (!list_) return;
    const int x = list_->x(), w = std::max(0, client.width() - x);
    int top = list_->y();
    if (above_) {
        const int above_h = std::clamp(height / 2, 160, 420);
        above_->setGeometry(x, 0, w, above_h);
        top = above_h + 4;
    }
    list_->setGeometry(x, top, w, std::max(0, height - top));
}

void app_view::post_menu_state(int running) {
    QCoreApplication::postEvent(window(), new app_message(MSG_MENU_STATE, uintptr_t(view_id_), running));
}
