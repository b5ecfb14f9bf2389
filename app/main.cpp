// veltranic: the service tool for attached instruments.
//
//   veltranic                 the instruments attached by USB
//   veltranic --record FILE   records every frame to and from the instruments into FILE
//   veltranic --replay FILE   lists the recording FILE (FILE?fast: without its pacing) as an
//                             instrument beside them
#include "app/main_window.h"
#include "app/record_menu.h"
#include "link/link.h"
#include "link/worker_thread.h"
#include "platform/hid_system.h"
#include "recording/recorder.h"

#include <QApplication>

#include <clocale>
#include <cstdio>
#include <cstring>

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    // Qt has applied the desktop's locale to the C library; numbers stay in the C conventions.
    std::setlocale(LC_NUMERIC, "C");
    QApplication::setApplicationName(QStringLiteral("veltranic"));
    // Docks and task switchers find the desktop entry, and with it the icon, by this name.
    QGuiApplication::setDesktopFileName(QStringLiteral("com.veltranic.ServiceTool"));
    record_options options;
    QString error;
    if (!record_parse_args(QApplication::arguments(), options, &error)) {
        std::fprintf(stderr, "veltranic: %s\nusage: veltranic [--record FILE] [--replay FILE[?fast]]...\n", error.toLocal8Bit().constData());
        return 2;
    }
    hid_bus_register(hid_system_backend());
    for (const QString& file : options.replays) {
        if (record_replay_add(file, &error) != 0) {
            std::fprintf(stderr, "veltranic: cannot replay %s\n", error.toLocal8Bit().constData());
            return 2;
        }
    }
    if (!options.record.isEmpty()) {
        if (const int e = record_start(options.record); e != 0) {
            std::fprintf(stderr, "veltranic: cannot record to %s: %s\n", options.record.toLocal8Bit().constData(), std::strerror(e));
            return 2;
        }
    }
    app_register_windows();
    main_window_create();
    const int result = QApplication::exec();
    // A poller that a window stopped may still be finishing its exchange: the closed link ends
    // it at once, and the program waits for it before its own objects go.
    link_close();
    worker_thread_join_all(2000);
    // The recording ends after the last exchange, so that it holds the close.
    const std::string recording = recorder_path();
    if (const int e = record_stop(); e != 0) {
        std::fprintf(stderr, "veltranic: recording to %s failed: %s\n", recording.c_str(), std::strerror(e));
        return result == 0 ? 1 : result;
    }
    return result;
}
