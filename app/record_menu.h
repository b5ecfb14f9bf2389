// Recorded instrument sessions in the windows: Help > Record Instrument Traffic... records every
// frame to and from the instruments into a file the operator picks (recording/recorder.h), with
// a note in the status bar while it runs; a recording given with --replay is listed as an
// instrument (recording/replay.h).
#pragma once

#include <QString>
#include <QStringList>

class QMainWindow;
class QWidget;

// Adds the Help menu's item and the status bar's note to the main window.
void record_menu_attach(QMainWindow* main);

// Starts recording into path (Help > Record..., or --record FILE before the window exists).
// 0, or the error number; a failure later on is shown once in the status bar.
int record_start(const QString& path);
// Stops the recording, if one runs, and puts its file in place, waiting off the GUI thread when
// a window is given (ui_await). 0, or the error number of the first failure (shown in the status
// bar unless it was shown already).
int record_stop(QWidget* waiting = nullptr);

// Lists the recording `file` (FILE or FILE?fast) as an instrument. 0, or 1 with the reason.
int record_replay_add(const QString& file, QString* error);

// The command line of veltranic and veltranic-demo: --record FILE, --replay FILE (repeatable).
struct record_options {
    QString record;
    QStringList replays;
};
// Reads the options out of args. False (with the reason) when one lacks its value.
bool record_parse_args(const QStringList& args, record_options& out, QString* error);

// What the options ask for, before the main window is made: each replay listed, the recording
// started. 0, or 2 after one line on standard error that starts with `program`.
int record_begin(const record_options& options, const char* program);
// After the event loop, once the link is closed and the pollers have ended (so the recording
// holds the close): says where a replay stopped, stops the recording and says so when that
// failed. The program's exit code: rc, or 1 for a good run whose recording failed.
int record_end(const char* program, int rc);
