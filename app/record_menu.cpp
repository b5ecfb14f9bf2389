#include "app/record_menu.h"

#include "recording/recorder.h"
#include "recording/replay.h"
#include "ui/await.h"
#include "ui/dialog_helpers.h"

#include <QAction>
#include <QApplication>
#include <QFile>
#include <QLabel>
#include <QMainWindow>
#include <QMenu>
#include <QMenuBar>
#include <QPointer>
#include <QStatusBar>
#include <QTimer>

#include <cstdio>
#include <cstring>

#ifndef VELTRANIC_VERSION
#define VELTRANIC_VERSION "unknown"
#endif

namespace {

QPointer<QLabel> g_note;
QPointer<QAction> g_action;
QString g_path;              // the recording running, or the last one
QString g_shown;             // the note as last set (it outlives a main window)
bool g_failure_shown = false;
bool g_replaying = false;

void show_note(const QString& text) {
    g_shown = text;
    if (g_note) g_note->setText(text);
}

void update_action() {
    if (!g_action) return;
    g_action->setText(recorder_active() ? QStringLiteral("Stop &Recording Instrument Traffic")
                                        : QStringLiteral("&Record Instrument Traffic..."));
}

QString failure_text(int error) {
    return QStringLiteral("Recording to %1 failed: %2")
        .arg(QString::fromUtf8(ui_path_for_message(g_path)), QString::fromLocal8Bit(std::strerror(error)));
}

// The writer thread's news reaches the window through the event loop, once.
void on_failure(int error) {
    QMetaObject::invokeMethod(
        qApp,
        [error] {
            if (g_failure_shown) return;
            g_failure_shown = true;
            show_note(failure_text(error));
        },
        Qt::QueuedConnection);
}

void on_triggered(QWidget* owner) {
    if (recorder_active()) {
        record_stop(owner);
        return;
    }
    ui_file_request request;
    request.save = true;
    request.title = QStringLiteral("Record Instrument Traffic");
    request.filter = QStringLiteral("Recordings (*.jsonl);;All Files (*.*)");
    request.default_suffix = QStringLiteral("jsonl");
    request.start_path = g_path;
    const QString path = ui_file_dialog(owner, request);
    if (path.isEmpty()) return;
    if (const int error = record_start(path); error != 0)
        ui_message_fmt(owner, "Record Instrument Traffic", UI_MB_OK, "Cannot record to %s: %s",
                       ui_path_for_message(path).constData(), std::strerror(error));
}

}  // namespace

void record_menu_attach(QMainWindow* main) {
    QMenu* help = nullptr;
    for (QAction* a : main->menuBar()->actions())
        if (a->menu() && a->text() == QStringLiteral("&Help")) help = a->menu();
    if (help) {
        help->addSeparator();
        g_action = help->addAction(QString());
        g_action->setObjectName(QStringLiteral("record_action"));
        QObject::connect(g_action, &QAction::triggered, main, [main] { on_triggered(main); });
        update_action();
    }
    g_note = new QLabel(main->statusBar());
    g_note->setObjectName(QStringLiteral("record_note"));
    main->statusBar()->addPermanentWidget(g_note);
    g_note->setText(g_shown);
    if (g_replaying) {
        // A replay that stops answering says why here, as the links fail.
        auto* watch = new QTimer(g_note);
        QObject::connect(watch, &QTimer::timeout, g_note, [watch] {
            const std::string problem = replay_problem();
            if (problem.empty()) return;
            show_note(QStringLiteral("Replay stopped: %1").arg(QString::fromStdString(problem)));
            watch->stop();
        });
        watch->start(500);
    }
}

int record_start(const QString& path) {
    const QByteArray name = QFile::encodeName(path);
    const std::string tool = QApplication::applicationName().toStdString() + " " VELTRANIC_VERSION;
    const int error = recorder_start(name.constData(), tool, on_failure);
    if (error != 0) return error;
    g_path = path;
    g_failure_shown = false;
    show_note(QStringLiteral("Recording instrument traffic to %1").arg(QString::fromUtf8(ui_path_for_message(path, 80))));
    update_action();
    return 0;
}

int record_stop(QWidget* waiting) {
    if (!recorder_active()) return 0;
    // The rest of the queue written and the file flushed to disk: off the GUI thread while a
    // window waits (its note and action are looked up afresh after).
    const int error = waiting ? ui_await(waiting, [] { return recorder_stop(); }) : recorder_stop();
    update_action();
    if (error == 0) {
        show_note(QStringLiteral("Recording saved to %1").arg(QString::fromUtf8(ui_path_for_message(g_path, 80))));
    } else if (!g_failure_shown) {
        g_failure_shown = true;
        show_note(failure_text(error));
    }
    return error;
}

int record_replay_add(const QString& file, QString* error) {
    replay_bus_install();
    std::string why;
    if (replay_bus_add(QFile::encodeName(file).toStdString(), &why) != 0) {
        if (error) *error = QString::fromLocal8Bit(why.c_str());
        return 1;
    }
    g_replaying = true;
    return 0;
}

bool record_parse_args(const QStringList& args, record_options& out, QString* error) {
    for (int i = 1; i < args.size(); ++i) {
        for (const QString& option : {QStringLiteral("--record"), QStringLiteral("--replay")}) {
            QString file;
            if (args[i].startsWith(option + QLatin1Char('='))) {
                file = args[i].mid(option.size() + 1);
            } else if (args[i] == option) {
                if (i + 1 < args.size() && !args[i + 1].startsWith(QStringLiteral("--"))) file = args[++i];
            } else {
                continue;
            }
            if (file.isEmpty()) {
                if (error) *error = option + QStringLiteral(" needs a file");
                return false;
            }
            if (option == QStringLiteral("--record")) out.record = file;
            else out.replays << file;
            break;
        }
    }
    return true;
}

int record_begin(const record_options& options, const char* program) {
    QString error;
    for (const QString& file : options.replays) {
        if (record_replay_add(file, &error) != 0) {
            std::fprintf(stderr, "%s: cannot replay %s\n", program, error.toLocal8Bit().constData());
            return 2;
        }
    }
    if (options.record.isEmpty()) return 0;
    if (const int e = record_start(options.record); e != 0) {
        std::fprintf(stderr, "%s: cannot record to %s: %s\n", program, options.record.toLocal8Bit().constData(),
                     std::strerror(e));
        return 2;
    }
    return 0;
}

int record_end(const char* program, int rc) {
    if (const std::string problem = replay_problem(); !problem.empty())
        std::fprintf(stderr, "%s: replay: %s\n", program, problem.c_str());
    const std::string recorded = recorder_path();
    if (const int e = record_stop(); e != 0) {
        std::fprintf(stderr, "%s: recording to %s failed: %s\n", program, recorded.c_str(), std::strerror(e));
        return rc == 0 ? 1 : rc;
    }
    return rc;
}
