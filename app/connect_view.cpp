#include "app/connect_view.h"

#include "app/main_window.h"

#include "link/command_frame.h"
#include "link/commands.h"
#include "link/discovery.h"
#include "link/identity.h"
#include "link/link.h"
#include "ui/app_messages.h"
#include "ui/await.h"
#include "ui/dialog_helpers.h"
#include "ui/modal.h"
#include "ui/window_table.h"
#include "ui_connect_view.h"

#include <QCoreApplication>
#include <QMouseEvent>
#include <QTreeWidget>

#include <cstdio>
#include <cstring>
#include <string>
#include <utility>
#include <vector>

namespace {

device_entry* connect_selection = nullptr;
char connect_selected_name[SENSOR_NAME_MAX + 1] = "";
int connect_await_firmware = 0;
connect_dialog_fn g_upgrade_dialog = nullptr;
connect_dialog_fn g_factory_dialog = nullptr;

// The name of a row as the view remembers it: the column-0 text, at most 20 characters, kept in
// 21 bytes. Every comparison goes through the same cut, so a name whose text takes more than 20
// bytes (a name with bytes that are not UTF-8, each shown as one replacement character of
// three bytes) still finds its row again.
void row_name(const QTreeWidgetItem* item, char out[SENSOR_NAME_MAX + 1]) {
    const QByteArray name = item->text(0).left(SENSOR_NAME_MAX).toUtf8();
    std::snprintf(out, SENSOR_NAME_MAX + 1, "%s", name.constData());
}

// An instrument this user may not open is left out of the list; one line in the status bar
// says so and names the fix.
void show_access_hint(const std::vector<std::string>& denied) {
    if (denied.empty()) {
        main_set_access_hint(QString());
        return;
    }
    QString text = QStringLiteral("No permission to open the instrument at %1").arg(QString::fromStdString(denied[0]));
    if (denied.size() > 1) text += QStringLiteral(" (and %1 more)").arg(denied.size() - 1);
    text += QStringLiteral(": install the veltranic package (or its udev rule), then unplug and re-plug it.");
    main_set_access_hint(text);
}

const list_column CONNECT_COLUMNS[] = {
    {"Name", 10},
    {"Serial Number", 10},
    {"State", 15},
    {"Type", 35},
};

class connect_view : public app_view {
public:
    explicit connect_view(QWidget* parent) : app_view(parent, VIEW_CONNECT) {
        ui.setupUi(this);
        ui.panel_label->setObjectName(QStringLiteral("panel_label"));
        ui_add_tooltip(ui.connect_button, "Connect To Sensor");
        ui_add_tooltip(ui.upgrade_button, "Upgrade Sensor Firmware");
        ui_add_tooltip(ui.factory_button, "Set Factory Settings (requires password)");
        ui_list_columns(ui.device_list, CONNECT_COLUMNS, 4);
        ui.device_list->viewport()->installEventFilter(this);
        connect(ui.connect_button, &QPushButton::clicked, this, [this] { on_connect(); });
        connect(ui.upgrade_button, &QPushButton::clicked, this, [this] { on_upgrade(); });
        connect(ui.factory_button, &QPushButton::clicked, this, [this] { on_factory(); });
        init_layout(ui.panel_label, ui.device_list);

        device_list.entries = nullptr;
        device_list.count = 0;
        connect_selection = nullptr;
        set_buttons(false, false, false);
        connect_await_firmware = 0;
        // The instruments are asked for their names off the GUI thread, once the view is in
        // place: the list fills as soon as they have answered.
        QMetaObject::invokeMethod(
            this,
            [this] {
                if (!alive_) return;
                const busy_scope busy(this);
                connect_rebuild_list(this);
            },
            Qt::QueuedConnection);
    }

    void shutdown() override {
        alive_ = false;
        main_set_access_hint(QString());
        ui.device_list->clear();
        connect_selection = nullptr;
        device_list_free();
    }

    void device_changed(device_change_event* e) override {
        if (!alive_) return;
        if (in_service_) {
            // A rebuild closes the link, which would cut an upgrade short: the list is brought
            // up to date once the dialog has closed.
            if (e->code == 0x8000 || e->code == 0x8004) missed_change_ = true;
            return;
        }
        if (busy_ > 0) {
            // The view waits for an instrument (a rebuild, a connect): the change is taken once
            // that is over, as the arrival or removal it was.
            if (e->code == 0x8000) missed_arrival_ = true;
            if (e->code == 0x8004) missed_removal_ = true;
            return;
        }
        device_change(e->code);
    }

    void device_change(uint32_t code) {
        const busy_scope busy(this);
        if (code == 0x8000) {
            connect_rebuild_list(this);
            connect_selection = connect_find_selected(this);
            if (connect_await_firmware == 1) {
                connect_await_firmware = 0;
                link_close();
                post_connect();
            } else {
                set_buttons(false, false, false);
            }
        } else if (code == 0x8004) {
            connect_rebuild_list(this);
            connect_selection = nullptr;
            set_buttons(false, false, false);
        }
    }

    // Marks the view as waiting for an instrument while it lives; device changes that arrive
    // meanwhile are taken when the outermost one ends. Holds the view, which may be retired
    // under a wait, until then.
    class busy_scope {
    public:
        explicit busy_scope(connect_view* v) : v_(v), hold_(v) { ++v_->busy_; }
        ~busy_scope() {
            if (--v_->busy_ > 0 || !v_->alive_ || ui_window_gone(v_)) return;
            const bool arrival = std::exchange(v_->missed_arrival_, false);
            const bool removal = std::exchange(v_->missed_removal_, false);
            if (arrival) v_->device_change(0x8000);
            else if (removal) v_->device_change(0x8004);
        }
        busy_scope(const busy_scope&) = delete;
        busy_scope& operator=(const busy_scope&) = delete;

    private:
        connect_view* v_;
        ui_view_hold hold_;
    };

    void set_buttons(bool c, bool u, bool f) {
        ui.connect_button->setEnabled(c);
        ui.upgrade_button->setEnabled(u);
        ui.factory_button->setEnabled(f);
    }

    Ui::connect_view_form ui;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (watched == ui.device_list->viewport() &&
            (event->type() == QEvent::MouseButtonRelease || event->type() == QEvent::MouseButtonDblClick)) {
            auto* me = static_cast<QMouseEvent*>(event);
            if (me->button() == Qt::LeftButton) row_clicked(ui.device_list->itemAt(me->pos()), event->type() == QEvent::MouseButtonDblClick);
        }
        return app_view::eventFilter(watched, event);
    }

private:
    void row_clicked(QTreeWidgetItem* item, bool double_click) {
        if (!item) {
            connect_selection = nullptr;
            set_buttons(false, false, false);
            return;
        }
        row_name(item, connect_selected_name);
        connect_selection = reinterpret_cast<device_entry*>(item->data(0, Qt::UserRole).toULongLong());
        if (double_click) {
            post_connect();
            return;
        }
        const uint32_t mode = connect_selection ? connect_selection->mode : 0;
        set_buttons(mode != 0, mode == FIRMWARE_MODE_BOOTLOADER, mode != 0);
    }

    void post_connect() {
        QMetaObject::invokeMethod(this, [this] { if (alive_) on_connect(); }, Qt::QueuedConnection);
    }

    // Opens the selected instrument off the GUI thread: 0 when open.
    int open_selected(uint32_t timeout_ms) {
        const std::string path = connect_selection->path ? connect_selection->path : "";
        return ui_await(this, [&] { return link_open(path.c_str(), timeout_ms); });
    }

    void on_connect() {
        if (!connect_selection) {
            ui_message_fmt(this, "Connect", UI_MB_OK, "%s", "Nothing selected");
            return;
        }
        const busy_scope busy(this);
        device_entry* entry = connect_selection;
        const int opened = open_selected(LINK_TIMEOUT_CONNECT_MS);
        if (ui_window_gone(this)) return;
        if (opened != 0) {
            ui_message_fmt(this, "Connect", UI_MB_OK, "%s", "Failed to connect");
            set_buttons(true, false, false);
            return;
        }
        if (entry->mode != FIRMWARE_MODE_BOOTLOADER) {
            // The main window replaces this view before the send returns; touch nothing after
            // (the view stays allocated until this handler has returned).
            app_message m(MSG_CONNECTED, 0, reinterpret_cast<intptr_t>(entry));
            QCoreApplication::sendEvent(window(), &m);
            return;
        }
        const int started = ui_await(this, [] { return identity_start_firmware(); });
        if (ui_window_gone(this)) return;
        if (started == 0) {
            connect_selection = nullptr;
            connect_await_firmware = 1;
            return;
        }
        link_close();
        ui_message_fmt(this, "Connect", UI_MB_OK, "%s", "Failed to start firmware");
        set_buttons(true, true, true);
    }

    // The service buttons open the selected instrument with the long timeout; false (after
    // telling the operator) when there is nothing to open.
    bool open_for_service(const char* caption) {
        if (!connect_selection) {
            ui_message_fmt(this, caption, UI_MB_OK, "%s", "Nothing selected");
            return false;
        }
        const int opened = open_selected(LINK_TIMEOUT_SERVICE_MS);
        if (ui_window_gone(this)) return false;
        if (opened != 0) {
            ui_message_fmt(this, caption, UI_MB_OK, "%s", "Failed to connect to sensor");
            return false;
        }
        return true;
    }

    // Runs a service dialog on the open link; device changes meanwhile wait until it closes.
    void run_service_dialog(connect_dialog_fn open, uint32_t mode) {
        in_service_ = true;
        missed_change_ = false;
        open(this, mode);
        in_service_ = false;
        link_close();
    }

    void catch_up_on_device_changes() {
        if (!missed_change_ || !alive_) return;
        missed_change_ = false;
        const busy_scope busy(this);
        connect_rebuild_list(this);
        connect_selection = nullptr;
        set_buttons(false, false, false);
    }

    void on_upgrade() {
        const busy_scope busy(this);
        const uint32_t mode = connect_selection ? connect_selection->mode : 0;
        if (!open_for_service("Upgrade Firmware")) return;
        run_service_dialog(g_upgrade_dialog ? g_upgrade_dialog : open_upgrade_dialog, mode);
        catch_up_on_device_changes();
    }

    void on_factory() {
        const busy_scope busy(this);
        const uint32_t mode = connect_selection ? connect_selection->mode : 0;
        if (!open_for_service("Factory Settings")) return;
        if (g_factory_dialog || ui_has_dialog(DIALOG_FACTORY))
            run_service_dialog(g_factory_dialog ? g_factory_dialog : open_factory_dialog, mode);
        else
            link_close();
        if (!alive_ || ui_window_gone(this)) return;
        missed_change_ = false;
        connect_rebuild_list(this);
        connect_selection = nullptr;
        set_buttons(false, false, false);
    }

    static void open_upgrade_dialog(QWidget* owner, uint32_t mode) { ui_open_dialog(DIALOG_UPGRADE, owner, mode); }
    static void open_factory_dialog(QWidget* owner, uint32_t mode) { ui_open_dialog(DIALOG_FACTORY, owner, mode); }

    bool alive_ = true;
    bool in_service_ = false;
    bool missed_change_ = false;
    int busy_ = 0;
    bool missed_arrival_ = false;
    bool missed_removal_ = false;
};

connect_view* as_connect(app_view* v) { return v && v->view_id() == VIEW_CONNECT ? static_cast<connect_view*>(v) : nullptr; }

}  // namespace

app_view* connect_view_create(QWidget* parent) { return new connect_view(parent); }

void connect_rebuild_list(app_view* view) {
    connect_view* v = as_connect(view);
    if (!v) return;
    QTreeWidget* list = v->ui.device_list;
    list->clear();
    connect_selection = nullptr;
    device_list_free();
    // The scan and the names run off the GUI thread; device_list is filled here afterwards.
    struct probed_entry {
        probe_result probed = probe_result::unreachable;
        device_info info{};
        firmware_info fw{};
    };
    std::vector<std::string> paths;
    std::vector<probed_entry> probed;
    std::vector<std::string> denied;
    ui_await(v, [&] {
        // A link whose worker is stuck can take a while to let go of its device.
        link_close();
        paths = device_scan_paths();
        probed.resize(paths.size());
        for (size_t i = 0; i < paths.size(); ++i) probed[i].probed = identity_probe(paths[i].c_str(), probed[i].info, probed[i].fw);
        denied = device_denied_paths();
    });
    if (ui_window_gone(v)) return;
    device_list_set(paths);
    int r = 0;
    for (size_t i = 0; i < device_list.count && i < probed.size(); ++i) {
        device_entry& entry = device_list.entries[i];
        const device_info& info = probed[i].info;
        const firmware_info& fw = probed[i].fw;
        const probe_result probed_as = probed[i].probed;
        if (probed_as == probe_result::unreachable) continue;
        const auto value = reinterpret_cast<uintptr_t>(&entry);
        if (probed_as == probe_result::unidentified) {
            entry.mode = 0;
            ui_list_cell_fmt(list, r, 0, value, "%s", "Unknown device");
        } else {
            entry.mode = firmware_info_mode(fw);
            char name[SENSOR_NAME_MAX + 1];
            device_info_name(info, name);
            char state[20];
            firmware_state_text(fw, state);
            ui_list_cell_fmt(list, r, 0, value, "%s", name);
            ui_list_cell_fmt(list, r, 1, 0, "%u", unsigned(device_info_serial(info)));
            ui_list_cell_fmt(list, r, 2, 0, "%s", state);
            ui_list_cell_fmt(list, r, 3, 0, "%s", device_type_text(firmware_info_type(fw)));
        }
        ++r;
    }
    ui_list_fit_columns(list);
    show_access_hint(denied);
}

device_entry* connect_find_selected(app_view* view) {
    connect_view* v = as_connect(view);
    if (!v) return nullptr;
    QTreeWidget* list = v->ui.device_list;
    device_entry* found = nullptr;
    for (int r = 0; r < list->topLevelItemCount(); ++r) {
        char name[SENSOR_NAME_MAX + 1];
        row_name(list->topLevelItem(r), name);
        if (std::strcmp(name, connect_selected_name) == 0)
            found = reinterpret_cast<device_entry*>(ui_list_row_value(list, r));
    }
    return found;
}

void connect_register_upgrade_dialog(connect_dialog_fn open) { g_upgrade_dialog = open; }
void connect_register_factory_dialog(connect_dialog_fn open) { g_factory_dialog = open; }

QTreeWidget* connect_view_list(app_view* view) {
    connect_view* v = as_connect(view);
    return v ? v->ui.device_list : nullptr;
}

QPushButton* connect_view_button(app_view* view, int index) {
    connect_view* v = as_connect(view);
    if (!v) return nullptr;
    QPushButton* buttons[] = {v->ui.connect_button, v->ui.upgrade_button, v->ui.factory_button};
    return index >= 0 && index < 3 ? buttons[index] : nullptr;
}

device_entry* connect_view_selection() { return connect_selection; }
int connect_view_awaiting_firmware() { return connect_await_firmware; }
