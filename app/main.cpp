// veltranic: the service tool for attached instruments. Takes no arguments.
#include "app/main_window.h"
#include "link/link.h"
#include "link/worker_thread.h"
#include "platform/hid_system.h"

#include <QApplication>

#include <clocale>

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    // Qt has applied the desktop's locale to the C library; numbers stay in the C conventions.
    std::setlocale(LC_NUMERIC, "C");
    QApplication::setApplicationName(QStringLiteral("veltranic"));
    // Docks and task switchers find the desktop entry, and with it the icon, by this name.
    QGuiApplication::setDesktopFileName(QStringLiteral("com.veltranic.ServiceTool"));
    hid_bus_register(hid_system_backend());
    app_register_windows();
    main_window_create();
    const int result = QApplication::exec();
    // A poller that a window stopped may still be finishing its exchange: the closed link ends
    // it at once, and the program waits for it before its own objects go.
    link_close();
    worker_thread_join_all(2000);
    return result;
}
