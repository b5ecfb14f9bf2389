// What every view of the main window shares: the panel on the left, the list on the right, the
// layout contract with the main window, and the messages the main window relays to it.
#pragma once

#include <QWidget>

class QLabel;
class QTreeWidget;
class device_change_event;

class app_view : public QWidget {
    Q_OBJECT
public:
    app_view(QWidget* parent, int view_id) : QWidget(parent), view_id_(view_id) {}
    int view_id() const { return view_id_; }

    // Places the view over the main window's client area, ending exactly at the status bar,
    // and stretches the list to the right edge (under the widget shown above it, if any).
    void relayout();
    // Everything a destroyed view must stop or free happens here, synchronously, before the
    // next view is created; the widget itself is freed later.
    virtual void shutdown() {}
    virtual void device_changed(device_change_event*) {}
    virtual void command(int) {}
    // Posts the running flag to the main window.
    void post_menu_state(int running);

    // Retirement (ui/modal.h): a retired view is out of service and is freed once no dialog
    // opened from it is running any more.
    bool retired() const { return retired_; }
    void retire() { retired_ = true; }
    int holds() const { return holds_; }
    void hold() { ++holds_; }
    int release() { return --holds_; }

protected:
    // Reads the panel width and asks the main window for the status bar height. `above` (a
    // trend) takes the top of the list's column, half the view's height within limits.
    void init_layout(QLabel* panel_label, QTreeWidget* list, QWidget* above = nullptr);

private:
    int view_id_;
    QTreeWidget* list_ = nullptr;
    QWidget* above_ = nullptr;
    int panel_width_ = 0;
    int status_height_ = 0;
    bool retired_ = false;
    int holds_ = 0;
};

// The main window's client area for views: below the menu bar, status bar included.
QRect main_client_rect(const QWidget* any_child);
