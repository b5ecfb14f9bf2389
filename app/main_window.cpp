#include "app/main_window.h"

#include "app/connect_view.h"
#include "app/record_menu.h"
#include "backup/settings_transfer_dialog.h"
#include "link/discovery.h"
#include "link/identity.h"
#include "link/link.h"
#include "ui/app_messages.h"
#include "ui/await.h"
#include "ui/dialog_helpers.h"
#include "ui/modal.h"
#include "ui/view.h"
#include "ui/window_table.h"

#include <QAction>
#include <QApplication>
#include <QCloseEvent>
#include <QFontMetrics>
#include <QIcon>
#include <QLabel>
#include <QMenuBar>
#include <QPointer>
#include <QShortcut>
#include <QStatusBar>

#include <cstring>
#include <map>
#include <mutex>

// The icon lives in this library's resources, which a static link must pull in by hand.
static void init_app_resources() { Q_INIT_RESOURCE(resources); }

namespace {

main_window* g_main = nullptr;
app_view* current_view = nullptr;
int main_connected = 0;
void* notification_handle = nullptr;
std::map<int, QAction*> g_actions;

// Hot-plug callbacks arrive on a background thread; they reach the window only as posted
// events, and only while it exists.
std::mutex g_notify_lock;
main_window* g_notify_target = nullptr;

void on_device_notification(void*, uint32_t code, uint32_t device_type, const char* name) {
    std::lock_guard l(g_notify_lock);
    if (g_notify_target)
        QCoreApplication::postEvent(g_notify_target, new device_change_event(code, device_type, QString::fromUtf8(name)));
}

// The Configure items and the dialogs they open.
struct configure_item {
    int command;
    int dialog;
};
const configure_item CONFIGURE_ITEMS[] = {
    {ID_CONFIGURE_IDENTIFICATION, DIALOG_IDENTIFICATION}, {ID_CONFIGURE_CLOCK, DIALOG_CLOCK},
    {ID_CONFIGURE_MOTORS, DIALOG_MOTORS},                 {ID_CONFIGURE_PRESSURE, DIALOG_PRESSURE},
    {ID_CONFIGURE_FLOW, DIALOG_FLOW},                     {ID_CONFIGURE_RS232, DIALOG_RS232},
    {ID_CONFIGURE_CLEANING, DIALOG_CLEANING},             {ID_CONFIGURE_SCHEDULE, DIALOG_SCHEDULE},
};

void add_item(QMenu* menu, const char* caption, int id) {
    QAction* a = menu->addAction(QString::fromUtf8(caption));
    a->setData(id);
    QObject::connect(a, &QAction::triggered, [id] { main_command(id); });
    g_actions[id] = a;
}

void build_menu(QMainWindow* w) {
    QMenuBar* bar = w->menuBar();
    QMenu* file = bar->addMenu(QStringLiteral("&File"));
    add_item(file, "&Disconnect", ID_FILE_DISCONNECT);
    file->addSeparator();
    add_item(file, "&Save Log...", ID_FILE_SAVE_LOG);
    add_item(file, "Save &Trend...", ID_FILE_SAVE_TREND);
    file->addSeparator();
    add_item(file, "&Export Settings...", ID_FILE_EXPORT_SETTINGS);
    add_item(file, "&Import Settings...", ID_FILE_IMPORT_SETTINGS);
    file->addSeparator();
    add_item(file, "E&xit", ID_FILE_EXIT);
    QMenu* view = bar->addMenu(QStringLiteral("&View"));
    add_item(view, "&Run...", ID_VIEW_RUN);
    add_item(view, "&Diagnostics...", ID_VIEW_DIAGNOSTICS);
    QMenu* configure = bar->addMenu(QStringLiteral("&Configure"));
    add_item(configure, "Device &Identification...", ID_CONFIGURE_IDENTIFICATION);
    add_item(configure, "Real &Time Clock...", ID_CONFIGURE_CLOCK);
    add_item(configure, "&Motors...", ID_CONFIGURE_MOTORS);
    add_item(configure, "&Pressure Sensor...", ID_CONFIGURE_PRESSURE);
    add_item(configure, "&Flow Meter...", ID_CONFIGURE_FLOW);
    add_item(configure, "RS&232...", ID_CONFIGURE_RS232);
    add_item(configure, "Stabilization && &Cleaning...", ID_CONFIGURE_CLEANING);
    add_item(configure, "&Schedule...", ID_CONFIGURE_SCHEDULE);
    QMenu* help = bar->addMenu(QStringLiteral("&Help"));
    add_item(help, "&About...", ID_HELP_ABOUT);
}

void enable(int id, bool on) {
    if (auto it = g_actions.find(id); it != g_actions.end()) it->second->setEnabled(on);
}

void set_title(const char* fmt, const char* a, const char* b) {
    char title[TITLE_MAX + 1];
    int n = std::snprintf(title, sizeof title, fmt, a, b);
    if (n < 0) return;
    g_main->setWindowTitle(QString::fromUtf8(title));
}

// Takes the old view down now (its poller stops here) and frees it once its own handlers and
// every dialog opened from it have returned: a view may be the one whose message caused the
// switch, or have a message box open when the instrument goes.
void retire_view() {
    if (!current_view) return;
    app_view* old = current_view;
    current_view = nullptr;
    ui_retire_view(old);
}

// The client area: relays size changes to the view.
class client_area : public QWidget {
public:
    using QWidget::QWidget;

protected:
    void resizeEvent(QResizeEvent* e) override {
        QWidget::resizeEvent(e);
        if (current_view) current_view->relayout();
    }
};

}  // namespace

main_window::main_window() {
    init_app_resources();
    g_main = this;
    setObjectName(QStringLiteral("veltranic_main"));
    setWindowTitle(QStringLiteral("veltranic_main (not connected)"));
    // 771 x 305 dialog units at the top-left corner of the screen.
    const QFontMetrics fm(font());
    const int bx = fm.averageCharWidth(), by = fm.height();
    resize(771 * bx / 4, 305 * by / 8);
    move(0, 0);

    build_menu(this);
    setCentralWidget(new client_area(this));
    centralWidget()->setObjectName(QStringLiteral("client"));
    ui_status_bar_parts(statusBar(), STATUS_PART0_WIDTH);
    auto* hint = new QLabel(statusBar());
    hint->setObjectName(QStringLiteral("access_hint"));
    statusBar()->addPermanentWidget(hint);
    record_menu_attach(this);  // Help > Record Instrument Traffic... and its note
    statusBar()->setSizeGripEnabled(true);
    // The installed icon when there is one, else the one built in.
    setWindowIcon(QIcon::fromTheme(QStringLiteral("com.veltranic.ServiceTool"), QIcon(QStringLiteral(":/veltranic.xpm"))));

    // Escape ends the program; Alt+F4 is swallowed.
    auto* esc = new QShortcut(QKeySequence(Qt::Key_Escape), this);
    connect(esc, &QShortcut::activated, this, [] { main_command(ID_CANCEL); });
    auto* alt_f4 = new QShortcut(QKeySequence(Qt::ALT | Qt::Key_F4), this);
    connect(alt_f4, &QShortcut::activated, this, [] {});

    {
        std::lock_guard l(g_notify_lock);
        g_notify_target = this;
    }
    notification_handle = device_notify_register(on_device_notification, nullptr);

    main_connected = 0;
    main_show_identity(0);
    main_switch_view(VIEW_CONNECT);
    main_menu_update(VIEW_CONNECT, 0);
}

main_window::~main_window() {
    {
        std::lock_guard l(g_notify_lock);
        g_notify_target = nullptr;
    }
    device_notify_unregister(notification_handle);
    notification_handle = nullptr;
    link_close();
    if (current_view) {
        current_view->shutdown();
        delete current_view;
        current_view = nullptr;
    }
    main_connected = 0;
    connected_device_path.clear();
    g_actions.clear();
    g_main = nullptr;
}

void main_window_apply_look() {
    // Every window of the tool was laid out for an 8 point dialog font.
    QFont f = QApplication::font();
    f.setPointSize(8);
    QApplication::setFont(f);
}

main_window* main_window_create() {
    main_window_apply_look();
    auto* w = new main_window;
    w->setAttribute(Qt::WA_DeleteOnClose);
    w->show();
    return w;
}

void main_menu_update(int view_id, int running) {
    const bool busy = (view_id == VIEW_RUN || view_id == VIEW_DIAGNOSTICS) && running == 1;
    enable(ID_FILE_DISCONNECT, view_id != VIEW_CONNECT && !busy);
    enable(ID_FILE_SAVE_LOG, view_id == VIEW_RUN && !busy);
    // A trend is worth saving most while the instrument runs.
    enable(ID_FILE_SAVE_TREND, view_id == VIEW_RUN || view_id == VIEW_DIAGNOSTICS);
    enable(ID_VIEW_RUN, view_id != VIEW_CONNECT);
    enable(ID_VIEW_DIAGNOSTICS, view_id != VIEW_CONNECT);
    for (const configure_item& item : CONFIGURE_ITEMS) enable(item.command, view_id != VIEW_CONNECT && !busy);
    enable(ID_FILE_EXPORT_SETTINGS, view_id != VIEW_CONNECT && !busy);
    enable(ID_FILE_IMPORT_SETTINGS, view_id != VIEW_CONNECT && !busy);
    enable(ID_HELP_ABOUT, true);
}

void main_show_identity(int connected) {
    if (!g_main) return;
    QStatusBar* bar = g_main->statusBar();
    if (connected == 1) {
        device_info info{};
        firmware_info fw{};
        const int connected_before = main_connected;
        const int r = ui_await(g_main, [&] {
            const int first = identity_get_device_info(info);
            return first != 0 ? first : identity_get_firmware_info(fw);
        });
        // The instrument may have gone meanwhile: then the title says so already.
        if (!g_main || r != 0 || main_connected != connected_before) return;
        char name[SENSOR_NAME_MAX + 1];
        device_info_name(info, name);
        set_title("%s (%s)", device_type_text(firmware_info_type(fw)), name);
        ui_status_text_fmt(bar, 0, "Connected to %s", name);
        ui_status_text_fmt(bar, 1, "%s", "");
    } else {
        g_main->setWindowTitle(QStringLiteral("veltranic_raror (not connected)"));
        ui_status_text_fmt(bar, 0, "%s", "Not connected");
        ui_status_text_fmt(bar, 1, "%s", "");
    }
}

void main_switch_view(int view_id) {
    if (!g_main) return;
    retire_view();
    QWidget* client = g_main->centralWidget();
    current_view = view_id == VIEW_CONNECT ? connect_view_create(client) : ui_create_view(view_id, client);
}

void main_command(int id) {
    if (!g_main) return;
    switch (id) {
        case ID_CANCEL:
        case ID_FILE_EXIT:
            g_main->close();
            return;
        case ID_FILE_DISCONNECT:
            link_close();
            main_connected = 0;
            main_switch_view(VIEW_CONNECT);
            main_menu_update(VIEW_CONNECT, 0);
            main_show_identity(0);
            return;
        case ID_FILE_SAVE_LOG:
        case ID_FILE_SAVE_TREND:
            if (current_view) current_view->command(id);
            return;
        case ID_VIEW_RUN:
            main_switch_view(VIEW_RUN);
            main_menu_update(VIEW_RUN, 1);
            return;
        case ID_VIEW_DIAGNOSTICS:
            main_switch_view(VIEW_DIAGNOSTICS);
            main_menu_update(VIEW_DIAGNOSTICS, 1);
            return;
        case ID_HELP_ABOUT:
            about_dialog_run(g_main);
            return;
        case ID_FILE_EXPORT_SETTINGS:
            ui_open_dialog(DIALOG_EXPORT_SETTINGS, g_main, 0);
            return;
        case ID_FILE_IMPORT_SETTINGS:
            // A restored identification renames the instrument: the title follows.
            if (ui_open_dialog(DIALOG_IMPORT_SETTINGS, g_main, 0) == SETTINGS_IMPORT_IDENTITY) main_show_identity(1);
            return;
        default:
            break;
    }
    for (const configure_item& item : CONFIGURE_ITEMS) {
        if (item.command != id) continue;
        ui_open_dialog(item.dialog, g_main, 0);
        if (id == ID_CONFIGURE_IDENTIFICATION) main_show_identity(1);
    }
}

bool main_window::event(QEvent* e) {
    const int type = int(e->type());
    if (type == MSG_STATUS_HEIGHT) {
        auto* m = static_cast<app_message*>(e);
        if (int* h = reinterpret_cast<int*>(m->lparam)) *h = statusBar()->height() + 1;
        m->result = 1;
        return true;
    }
    if (type == MSG_MENU_STATE) {
        // Only the view on show speaks for the menu: a late post of a view that has been
        // replaced since would re-enable items that its successor greys.
        auto* m = static_cast<app_message*>(e);
        if (current_view && int(m->wparam) == current_view->view_id()) main_menu_update(int(m->wparam), int(m->lparam));
        return true;
    }
    if (type == MSG_CONNECTED) {
        auto* m = static_cast<app_message*>(e);
        const auto* entry = reinterpret_cast<const device_entry*>(m->lparam);
        main_connected = 1;
        connected_device_path = entry && entry->path ? entry->path : "";
        main_show_identity(1);
        m->result = 1;
        // Unplugged while the title was read: the connect view is back already.
        if (main_connected != 1) return true;
        main_switch_view(VIEW_RUN);
        main_menu_update(VIEW_RUN, 1);
        m->result = 1;
        return true;
    }
    if (type == MSG_DEVICE_CHANGE) {
        auto* d = static_cast<device_change_event*>(e);
        const bool in_range = d->code >= 0x8000 && d->code <= 0x8005;
        if (main_connected == 1 && in_range && device_event_code(d->code - 0x8000) == 5) {
            const QByteArray name = d->name.toUtf8();
            const char* n = d->device_type == DEVICE_NOTIFY_INTERFACE ? name.constData() : nullptr;
            if (device_is_connected_path(n)) {
                link_close();
                main_connected = 0;
                main_show_identity(0);
                // Every dialog working on the instrument closes with it.
                ui_abandon_dialogs();
                ui_message_fmt(this, "Device Change", UI_MB_OK, "%s", "Sensor Disconnected");
                main_switch_view(VIEW_CONNECT);
                main_menu_update(VIEW_CONNECT, 0);
            }
            return true;  // another instrument's removal: consumed, not relayed
        }
        if (current_view) current_view->device_changed(d);
        return true;
    }
    return QMainWindow::event(e);
}

void main_window::closeEvent(QCloseEvent* e) {
    e->accept();
    QMainWindow::closeEvent(e);
}

QAction* main_menu_action(int command_id) {
    auto it = g_actions.find(command_id);
    return it == g_actions.end() ? nullptr : it->second;
}

void main_set_access_hint(const QString& text) {
    if (!g_main) return;
    if (auto* hint = g_main->statusBar()->findChild<QLabel*>(QStringLiteral("access_hint"))) hint->setText(text);
}

QString main_access_hint() {
    if (!g_main) return {};
    auto* hint = g_main->statusBar()->findChild<QLabel*>(QStringLiteral("access_hint"));
    return hint ? hint->text() : QString();
}

app_view* main_current_view() { return current_view; }
int main_is_connected() { return main_connected; }
