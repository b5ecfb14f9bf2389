// The application's window messages, carried as custom Qt events with the same values.
#pragma once

#include <QEvent>
#include <QString>

#include <cstdint>

constexpr int MSG_STATUS_HEIGHT = 1025;  // sent by a view: lparam points to an int that receives h
constexpr int MSG_MENU_STATE = 1027;     // posted by a view: wparam view_id, lparam running flag
constexpr int MSG_CONNECTED = 1028;      // sent by the connect view: lparam = the opened device_entry*
constexpr int MSG_UPGRADE_PROGRESS = 1029;
constexpr int MSG_UPGRADE_DONE = 1030;
constexpr int MSG_DEVICE_CHANGE = 1100;  // a device arrived or went: code, device type, name

// View ids: the numbers of the views' templates.
constexpr int VIEW_CONNECT = 36;
constexpr int VIEW_RUN = 177;
constexpr int VIEW_DIAGNOSTICS = 42;

// Dialog templates, by number: how one window opens another (see window_table.h).
constexpr int DIALOG_ABOUT = 2;
constexpr int DIALOG_SCHEDULE = 8;
constexpr int DIALOG_CLEANING = 17;
constexpr int DIALOG_FACTORY = 53;
constexpr int DIALOG_FLOW = 65;
constexpr int DIALOG_MOTORS = 74;
constexpr int DIALOG_PRESSURE = 110;
constexpr int DIALOG_CARTRIDGE = 130;
constexpr int DIALOG_RS232 = 157;
constexpr int DIALOG_CLOCK = 164;
constexpr int DIALOG_IDENTIFICATION = 201;
constexpr int DIALOG_TASKS = 208;
constexpr int DIALOG_UPGRADE = 370;
// Dialogs of this tool's own, beyond the numbered templates.
constexpr int DIALOG_EXPORT_SETTINGS = 1001;
constexpr int DIALOG_IMPORT_SETTINGS = 1002;

// Menu command ids.
constexpr int ID_CANCEL = 2;
constexpr int ID_FILE_DISCONNECT = 60;
constexpr int ID_FILE_EXIT = 61;
constexpr int ID_FILE_SAVE_LOG = 64;
constexpr int ID_FILE_EXPORT_SETTINGS = 1101;
constexpr int ID_FILE_IMPORT_SETTINGS = 1102;
constexpr int ID_FILE_SAVE_TREND = 65;  // the run and diagnostics views' trend, as comma-separated text
constexpr int ID_VIEW_RUN = 373;
constexpr int ID_VIEW_DIAGNOSTICS = 372;
constexpr int ID_CONFIGURE_IDENTIFICATION = 30;
constexpr int ID_CONFIGURE_CLOCK = 27;
constexpr int ID_CONFIGURE_MOTORS = 24;
constexpr int ID_CONFIGURE_PRESSURE = 25;
constexpr int ID_CONFIGURE_FLOW = 23;
constexpr int ID_CONFIGURE_RS232 = 29;
constexpr int ID_CONFIGURE_CLEANING = 22;
constexpr int ID_CONFIGURE_SCHEDULE = 1375;
constexpr int ID_HELP_ABOUT = 68;

class app_message : public QEvent {
public:
    app_message(int type, uintptr_t w, intptr_t l) : QEvent(static_cast<QEvent::Type>(type)), wparam(w), lparam(l) {}
    uintptr_t wparam;
    intptr_t lparam;
    intptr_t result = 0;
};

class device_change_event : public QEvent {
public:
    device_change_event(uint32_t c, uint32_t type, const QString& n)
        : QEvent(static_cast<QEvent::Type>(MSG_DEVICE_CHANGE)), code(c), device_type(type), name(n) {}
    uint32_t code;
    uint32_t device_type;  // 5 for a device-interface notification, the only kind that names a device
    QString name;
};
