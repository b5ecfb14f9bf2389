// veltranic: the service tool for attached instruments. Takes no arguments but --help,
// --version, --record FILE and --replay FILE (and Qt's own, such as -platform).
#include "app/main_window.h"
#include "app/record_menu.h"
#include "link/link.h"
#include "link/worker_thread.h"
#include "platform/hid_system.h"

#include <QApplication>
#include <QCommandLineParser>

#include <clocale>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#ifndef VELTRANIC_VERSION
#define VELTRANIC_VERSION "unknown"
#endif

namespace {

// While the application starts, Qt's complaints about a display it cannot open are held back;
// should it then give up (which would abort the program), one line says why and the program
// ends with 1. Once started, messages go where they always go.
QtMessageHandler g_previous = nullptr;
std::string g_first_complaint;
QStringList g_held;  // the warnings held back, said once the application has started

void starting_handler(QtMsgType type, const QMessageLogContext& context, const QString& message) {
    if (type == QtFatalMsg) {
        const std::string why = g_first_complaint.empty() ? message.section(QLatin1Char('\n'), 0, 0).toStdString()
                                                          : g_first_complaint;
        std::fprintf(stderr, "veltranic: no display could be opened (%s); run it on a desktop, or use veltranic-cli\n",
                     why.c_str());
        std::fflush(stderr);
        std::_Exit(1);
    }
    (void)context;
    if (type != QtDebugMsg && g_first_complaint.empty())
        g_first_complaint = message.section(QLatin1Char('\n'), 0, 0).toStdString();
    g_held << message;
}

bool has_display_argument(int argc, char** argv) {
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        if (a == "-platform" || a == "--platform" || a == "-display" || a == "--display") return true;
    }
    return false;
}

}  // namespace

int main(int argc, char** argv) {
    QCoreApplication::setApplicationName(QStringLiteral("veltranic"));
    QCoreApplication::setApplicationVersion(QStringLiteral(VELTRANIC_VERSION));

    // --help and --version answer before any display is needed (help2man makes the manual page
    // from them at build time).
    QStringList arguments;
    for (int i = 0; i < argc; ++i) arguments << QString::fromLocal8Bit(argv[i]);
    QCommandLineParser parser;
    parser.setApplicationDescription(
        QStringLiteral("The service tool for USB-attached VELTRANIC water samplers: lists the attached instruments, "
                       "shows the live run state and the sample log, starts and stops runs and the schedule, edits "
                       "the schedule, the clock and every stored setting, calibrates the pressure sensor, reads the "
                       "diagnostic log and upgrades the firmware. veltranic-cli does the same from a terminal."));
    const QCommandLineOption help = parser.addHelpOption();
    const QCommandLineOption version = parser.addVersionOption();
    parser.addOption(QCommandLineOption(QStringLiteral("record"),
                                        QStringLiteral("Record every frame to and from the instruments into <file> (JSON "
                                                       "lines), to send with a report."),
                                        QStringLiteral("file")));
    parser.addOption(QCommandLineOption(QStringLiteral("replay"),
                                        QStringLiteral("List the recording <file> as an instrument (<file>?fast: without "
                                                       "its recorded pauses); may be given more than once."),
                                        QStringLiteral("file")));
    (void)parser.parse(arguments);  // Qt's own options (-platform, -style) are QApplication's to read
    if (parser.isSet(help) || parser.isSet(QStringLiteral("help-all"))) {
        QString text = parser.helpText();
        text.replace(QStringLiteral("<executable_name>"), QStringLiteral("veltranic"));
        std::fputs(text.toLocal8Bit().constData(), stdout);
        return 0;
    }
    if (parser.isSet(version)) {
        std::printf("veltranic %s\n", VELTRANIC_VERSION);
        return 0;
    }
    // Read here rather than from the parser, which cannot tell an option that lacks its file.
    record_options recording;
    QString error;
    if (!record_parse_args(arguments, recording, &error)) {
        std::fprintf(stderr, "veltranic: %s (see veltranic --help)\n", error.toLocal8Bit().constData());
        return 2;
    }

#if defined(__linux__)
    // Without a display Qt would abort with a page of advice; one line says it.
    const bool no_display = qEnvironmentVariableIsEmpty("DISPLAY") && qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY") &&
                            qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM") && !has_display_argument(argc, argv);
    if (no_display) {
        std::fprintf(stderr, "veltranic: no display (neither DISPLAY nor WAYLAND_DISPLAY is set); run it on a desktop, "
                             "or use veltranic-cli\n");
        return 1;
    }
#else
    (void)has_display_argument;
#endif
    g_previous = qInstallMessageHandler(starting_handler);
    QApplication app(argc, argv);
    qInstallMessageHandler(g_previous);
    for (const QString& held : g_held) qWarning("%s", qUtf8Printable(held));
    // Qt has applied the desktop's locale to the C library; numbers stay in the C conventions.
    std::setlocale(LC_NUMERIC, "C");
    // Docks, task switchers and Wayland compositors find the desktop entry, and with it the
    // icon, by this name; on X11 the window's class is the application name, which the entry
    // names as its StartupWMClass.
    QGuiApplication::setDesktopFileName(QStringLiteral("com.veltranic.ServiceTool"));
    hid_bus_register(hid_system_backend());
    if (const int rc = record_begin(recording, "veltranic"); rc != 0) return rc;
    app_register_windows();
    main_window_create();
    const int result = QApplication::exec();
    // A poller that a window stopped may still be finishing its exchange: the closed link ends
    // it at once, and the program waits for it before its own objects go.
    link_close();
    worker_thread_join_all(2000);
    return record_end("veltranic", result);
}
