#include "link/device_time.h"
#include "ui/dialog_helpers.h"

#include <QApplication>
#include <QComboBox>
#include <QDateEdit>
#include <QDir>
#include <QElapsedTimer>
#include <QFileDialog>
#include <QFileSystemModel>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>
#include <QTimeEdit>
#include <QTimer>
#include <QTreeWidget>

#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <functional>
#include <string>

#include <sys/inotify.h>
#include <unistd.h>

namespace {

std::string exported(const QTreeWidget& list, int columns, int* rows) {
    QTemporaryDir dir;
    const QByteArray path = dir.filePath(QStringLiteral("out.csv")).toUtf8();
    FILE* f = std::fopen(path.constData(), "w");
    *rows = ui_list_export(&list, columns, f);
    std::fclose(f);
    f = std::fopen(path.constData(), "rb");
    std::string text;
    char buf[512];
    size_t n;
    while ((n = std::fread(buf, 1, sizeof buf, f)) > 0) text.append(buf, n);
    std::fclose(f);
    return text;
}

const list_column COLUMNS[] = {{"Name", 10}, {"Serial Number", 10}};

TEST(ListHelpers, ExportQuotesOnlyCellsThatWouldSplitALine) {
    QTreeWidget list;
    ui_list_columns(&list, COLUMNS, 2);
    int rows = -1;
    EXPECT_EQ(exported(list, 2, &rows), "Name,Serial Number\n");
    EXPECT_EQ(rows, 0);

    EXPECT_EQ(ui_list_cell_fmt(&list, 0, 0, 7, "%s", "Sampler"), 0);
    EXPECT_EQ(ui_list_cell_fmt(&list, 0, 1, 0, "%u", 12u), 1);
    EXPECT_EQ(ui_list_cell_fmt(&list, 1, 0, 8, "%s", "Smith, J"), 1);
    EXPECT_EQ(ui_list_cell_fmt(&list, 1, 1, 0, "%s", "\"13\""), 1);
    EXPECT_EQ(exported(list, 2, &rows), "Name,Serial Number\nSampler,12\n\"Smith, J\",\"\"\"13\"\"\"\n");
    EXPECT_EQ(rows, 2);
    EXPECT_EQ(ui_list_row_value(&list, 1), 8u);
}

TEST(ListHelpers, CellTextLimitsAndReplacement) {
    QTreeWidget list;
    ui_list_columns(&list, COLUMNS, 2);
    const std::string long_text(256, 'x');
    EXPECT_EQ(ui_list_cell_fmt(&list, 0, 0, 1, "%s", long_text.c_str()), 0);  // the row argument
    EXPECT_EQ(list.topLevelItemCount(), 0);
    EXPECT_EQ(ui_list_cell_fmt(&list, 0, 0, 1, "%s", long_text.substr(1).c_str()), 0);
    EXPECT_EQ(list.topLevelItemCount(), 1);
    EXPECT_EQ(ui_list_cell_fmt(&list, 5, 0, 1, "%s", "far"), -1);  // past the end: refused
    EXPECT_EQ(ui_list_cell_fmt(&list, 0, -1, 42, "%s", "renamed"), 1);
    EXPECT_EQ(list.topLevelItemCount(), 1);
    EXPECT_EQ(list.topLevelItem(0)->text(0), QStringLiteral("renamed"));
    EXPECT_EQ(ui_list_row_value(&list, 0), 42u);
    EXPECT_EQ(ui_list_cell_fmt(&list, 3, 1, 0, "%s", "no such row"), 0);
}

TEST(ControlHelpers, TextsOf256CharactersChangeNothing) {
    QLabel label(QStringLiteral("before"));
    ui_set_text_fmt(&label, "%s", std::string(256, 'y').c_str());
    EXPECT_EQ(label.text(), QStringLiteral("before"));
    ui_set_text_fmt(&label, "%s", std::string(255, 'y').c_str());
    EXPECT_EQ(label.text().size(), 255);
    ui_set_text_fmt(nullptr, "%s", "ignored");

    int shown = 0;
    ui_set_message_hook([&](QWidget*, const QString&, const QString&, unsigned) { return ++shown, UI_IDOK; });
    EXPECT_EQ(ui_message_fmt(nullptr, "Cap", UI_MB_OK, "%s", std::string(256, 'z').c_str()), 0);
    EXPECT_EQ(shown, 0);
    EXPECT_EQ(ui_message_fmt(nullptr, "Cap", UI_MB_OK, "%s", "short"), UI_IDOK);
    EXPECT_EQ(shown, 1);

    // A message about a very long path is still shown: the path is shortened in its middle.
    const QString deep = QStringLiteral("/media/stick/") + QString(300, QChar(0x00E9)) + QStringLiteral("/samples.log");
    const QByteArray named = ui_path_for_message(deep);
    EXPECT_LE(named.size(), 160);
    EXPECT_TRUE(named.startsWith("/media/stick/"));
    EXPECT_TRUE(named.endsWith("/samples.log"));
    EXPECT_TRUE(named.contains("..."));
    EXPECT_TRUE(QString::fromUtf8(named).toUtf8() == named);  // never cut inside a character
    EXPECT_EQ(ui_message_fmt(nullptr, "Save", UI_MB_OK, "Unable to open %s for write", named.constData()), UI_IDOK);
    EXPECT_EQ(shown, 2);
    EXPECT_EQ(ui_path_for_message(QStringLiteral("/tmp/a.log")), QByteArray("/tmp/a.log"));
    ui_set_message_hook({});
}

TEST(ControlHelpers, CombosNumbersTooltips) {
    const combo_row rows[] = {{5, "five"}, {255, "all"}};
    QComboBox combo;
    EXPECT_EQ(ui_combo_value(&combo, rows, 2), 0u);  // nothing selected
    ui_combo_fill(&combo, rows, 2);
    combo.setCurrentIndex(1);
    EXPECT_EQ(ui_combo_value(&combo, rows, 2), 255u);
    EXPECT_EQ(ui_combo_value(&combo, rows, 1), 0u);  // selection outside the table

    QLineEdit edit(QStringLiteral("2.5 litres"));
    EXPECT_DOUBLE_EQ(ui_get_double(&edit), 2.5);
    edit.setText(QStringLiteral("abc"));
    EXPECT_DOUBLE_EQ(ui_get_double(&edit), 0.0);

    EXPECT_EQ(ui_add_tooltip(nullptr, "tip"), nullptr);
    EXPECT_EQ(ui_add_tooltip(&edit, "tip"), &edit);
    EXPECT_EQ(edit.toolTip(), QStringLiteral("tip"));
}

// Calls `step` with the top modal window every 10 ms while `run` shows real windows, until it
// returns true; after 10 s every modal window is closed, so a test that goes wrong fails
// instead of waiting for ever. Returns whether `step` was done.
bool drive_modal(const std::function<bool(QWidget* top)>& step, const std::function<void()>& run) {
    bool done = false;
    QTimer timer;
    QElapsedTimer clock;
    clock.start();
    QObject::connect(&timer, &QTimer::timeout, [&] {
        QWidget* top = QApplication::activeModalWidget();
        if (!done && top) done = step(top);
        if (!done && clock.elapsed() > 10000)
            while (QWidget* w = QApplication::activeModalWidget()) w->close();
    });
    timer.start(10);
    run();
    return done;
}

// The real file chooser keeps Qt's own settings under XDG_CONFIG_HOME: a folder of the test's.
class FileChooser : public ::testing::Test {
protected:
    void SetUp() override { qputenv("XDG_CONFIG_HOME", config.path().toUtf8()); }
    void TearDown() override { ui_set_file_hook({}); }
    QTemporaryDir config;
};

TEST_F(FileChooser, NeverStartsOnAPseudoFileSystemButInTheDocumentsFolder) {
    ui_file_request asked, request;
    ui_set_file_hook([&](QWidget*, const ui_file_request& r) { return asked = r, QString(); });
    QString documents = QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation);
    if (!QDir(documents).exists()) documents = QDir::homePath();
    for (const char* pseudo : {"/proc/diag.log", "/proc/self/fd/diag.log", "/sys/kernel/diag.log", "/dev/pts/diag.log"}) {
        request.start_path = QString::fromUtf8(pseudo);
        ui_file_dialog(nullptr, request);
        EXPECT_EQ(asked.start_path.toStdString(), QDir(documents).filePath(QStringLiteral("diag.log")).toStdString()) << pseudo;
    }
    QTemporaryDir ordinary;
    request.start_path = ordinary.filePath(QStringLiteral("diag.log"));
    ui_file_dialog(nullptr, request);
    EXPECT_EQ(asked.start_path.toStdString(), request.start_path.toStdString());

    // Nothing chosen before, and the program was started in /proc.
    const QString working = QDir::currentPath();
    ASSERT_TRUE(QDir::setCurrent(QStringLiteral("/proc")));
    request.start_path.clear();
    ui_file_dialog(nullptr, request);
    QDir::setCurrent(working);
    EXPECT_EQ(asked.start_path.toStdString(), documents.toStdString());
}

// Qt's own chooser reads the first bytes of a file whose name says nothing about it, to pick its
// icon; /proc/kmsg never answers such a read. Watched with inotify: no file may be opened.
TEST_F(FileChooser, PicksIconsWithoutOpeningAnyFile) {
    QTemporaryDir start, other;
    const QString probe = other.filePath(QStringLiteral("probe"));
    std::ofstream(probe.toStdString()) << "#!/bin/sh\necho the first bytes say a script\n";
    const int watch = inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    ASSERT_GE(inotify_add_watch(watch, QFile::encodeName(other.path()).constData(), IN_OPEN | IN_ACCESS), 0);
    QString type_shown;
    const bool shown = drive_modal(
        [&](QWidget* top) {
            auto* dialog = qobject_cast<QFileDialog*>(top);
            auto* model = dialog ? dialog->findChild<QFileSystemModel*>() : nullptr;
            if (!model) return false;
            if (dialog->directory() != QDir(other.path())) dialog->setDirectory(other.path());
            // The chooser's helper thread has looked at the file once its type is known.
            type_shown = model->type(model->index(probe));
            if (!type_shown.isEmpty()) dialog->reject();
            return !type_shown.isEmpty();
        },
        [&] {
            ui_file_request request;
            request.start_path = start.filePath(QStringLiteral("diag.log"));
            EXPECT_TRUE(ui_file_dialog(nullptr, request).isEmpty());
        });
    EXPECT_TRUE(shown) << "the chooser never showed the file";
    std::string touched;
    alignas(inotify_event) char events[4096];
    for (ssize_t n; (n = ::read(watch, events, sizeof events)) > 0;)
        for (char* p = events; p < events + n; p += sizeof(inotify_event) + reinterpret_cast<inotify_event*>(p)->len) {
            const auto* e = reinterpret_cast<inotify_event*>(p);
            if (e->len && !(e->mask & IN_ISDIR)) touched += std::string(" ") + e->name;  // listing the folder is fine
        }
    ::close(watch);
    EXPECT_EQ(touched, "") << "opened or read; shown as " << type_shown.toStdString();
}

// Enter in a question that guards data answers No. (The chooser's own "replace it?" before a
// save overwrites a file is Qt's, and defaults to No already.)
TEST(MessageBoxes, EnterAnswersNoToAQuestionThatDestroysData) {
    int answer = 0;
    EXPECT_TRUE(drive_modal(
        [](QWidget* top) {
            if (qobject_cast<QMessageBox*>(top)) QTest::keyClick(top, Qt::Key_Return);
            return qobject_cast<QMessageBox*>(top) != nullptr;
        },
        [&] {
            answer = ui_message_fmt(nullptr, "Clear", UI_MB_YESNO | UI_MB_ICONQUESTION, "%s",
                                    "This will permanently wipe the diagnostic log on the sensor. Are you sure you want to do this?");
        }));
    EXPECT_EQ(answer, UI_IDNO);
}

TEST(DeviceTime, TextsAndRefusals) {
    char buf[21];
    EXPECT_STREQ(time_text(0, buf), "01/01/1970 00:00:00");
    EXPECT_STREQ(time_text(1796634300u, buf), "07/12/2026 09:05:00");
    EXPECT_STREQ(time_text(uint32_t(-43200), buf), "31/12/1969 12:00:00");
    EXPECT_STREQ(time_text(uint32_t(-43201), buf), "invalid (4294924095)");
    EXPECT_STREQ(time_text(0x80000000u, buf), "invalid (2147483648)");
    EXPECT_EQ(std::string(time_text(0x80000000u, buf)).size(), 20u);
    EXPECT_STREQ(time_text(0x7FFFFFFFu, buf), "19/01/2038 03:14:07");
    // A leap day.
    EXPECT_STREQ(time_text(951782400u, buf), "29/02/2000 00:00:00");
}

TEST(DeviceTime, FieldsRoundTripAndTheEndOfTheCount) {
    for (uint32_t t : {0u, 59u, 86399u, 951782400u, 1796634300u, 0x7FFFFFFFu}) {
        calendar_fields f;
        ASSERT_TRUE(device_time_to_fields(t, f));
        EXPECT_EQ(device_time_from_fields(f), t);
    }
    EXPECT_EQ(device_time_from_fields({2038, 1, 19, 3, 14, 8}), 0xFFFFFFFFu);
    EXPECT_EQ(device_time_from_fields({2026, 13, 1, 0, 0, 0}), 0xFFFFFFFFu);

    QDateEdit date;
    QTimeEdit time;
    date.setDateRange(QDate(1900, 1, 1), QDate(2200, 1, 1));
    ASSERT_EQ(schedule_set_start_pickers(&date, &time, 1796634300u), 1);
    EXPECT_EQ(date.date(), QDate(2026, 12, 7));
    EXPECT_EQ(time.time(), QTime(9, 5, 0));
    EXPECT_EQ(schedule_get_start_pickers(&date, &time), 1796634300u);
    EXPECT_EQ(schedule_set_start_pickers(&date, &time, 0x80000000u), 0);
    EXPECT_EQ(date.date(), QDate(2026, 12, 7));  // unchanged
    date.setDate(QDate(2038, 1, 19));
    time.setTime(QTime(3, 14, 8));
    EXPECT_EQ(schedule_get_start_pickers(&date, &time), 0xFFFFFFFFu);
}

}  // namespace
