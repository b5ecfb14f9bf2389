// Small helpers every window uses to talk to its controls: printf-style texts (at most 255
// characters: a longer text changes nothing), list columns, rows and export, check boxes,
// combo boxes, number fields, message boxes and file dialogs.
//
// Message boxes and file dialogs go through replaceable hooks so tests can answer them.
#pragma once

#include "link/text_tables.h"

#include <QString>

#include <cstdint>
#include <cstdio>
#include <functional>
#include <string>

class QAbstractButton;
class QComboBox;
class QDateEdit;
class QLineEdit;
class QStatusBar;
class QTimeEdit;
class QTreeWidget;
class QWidget;

#define UI_PRINTF(fmt_index) __attribute__((format(printf, fmt_index, fmt_index + 1)))

// Message box types and results, with their usual values.
constexpr unsigned UI_MB_OK = 0x00;
constexpr unsigned UI_MB_YESNO = 0x04;
constexpr unsigned UI_MB_ICONERROR = 0x10;
constexpr unsigned UI_MB_ICONQUESTION = 0x20;
constexpr unsigned UI_MB_ICONWARNING = 0x30;
constexpr unsigned UI_MB_ICONINFORMATION = 0x40;
constexpr int UI_IDOK = 1;
constexpr int UI_IDCANCEL = 2;
constexpr int UI_IDYES = 6;
constexpr int UI_IDNO = 7;

// Tooltip on a control; nullptr (nothing registered) when the control is missing.
QWidget* ui_add_tooltip(QWidget* control, const char* text);
// The value of the selected row; 0 when no row is selected. The extra entry of
// ui_combo_show_value stands for the value it was made for.
uint32_t ui_combo_value(const QComboBox* combo, const combo_row* table, int rows);
void ui_combo_fill(QComboBox* combo, const combo_row* table, int rows);
// Shows a value the instrument holds: selects its row, or, when no row has it, an entry of its
// own after the rows, "(not set)" for blank (the value of an unwritten record, all bits set)
// and "300 (not in list)" for any other value. That entry reads back as the value itself, so a
// Save that leaves the combo alone writes the value back unchanged. The entry of an earlier
// value goes first.
void ui_combo_show_value(QComboBox* combo, const combo_row* table, int rows, uint32_t value, uint32_t blank);
double ui_get_double(const QLineEdit* edit);
// An unsigned decimal field as link/field_text.h reads it: 0 for a non-number, saturated at
// UINT64_MAX, so range checks see the true value whatever the field's wire width.
uint64_t ui_get_unsigned(const QLineEdit* edit);
// Paints a field's text red (255, 0, 0) while its value is out of range, normally otherwise.
void ui_set_invalid(QLineEdit* edit, bool invalid);
// No push button of the dialog takes Enter: Qt makes every button of a dialog a default
// candidate, so typing into a field and pressing Enter would press one. A dialog that has a
// default button sets it again afterwards.
void ui_no_default_buttons(QWidget* dialog);
int ui_is_checked(const QAbstractButton* button);
void ui_set_check(QAbstractButton* button, uint8_t flag);

void ui_set_text_fmt(QWidget* control, const char* fmt, ...) UI_PRINTF(2);
void ui_status_text_fmt(QStatusBar* bar, int part, const char* fmt, ...) UI_PRINTF(3);
// The box's answer (UI_IDOK, UI_IDYES, UI_IDNO), or 0 when nothing was shown or answered: the
// text did not fit, or the owner went away before or while the box was open (ui/modal.h). No is
// the default button of every Yes/No question: each one guards something that cannot be undone.
int ui_message_fmt(QWidget* owner, const char* caption, unsigned type, const char* fmt, ...) UI_PRINTF(4);

void ui_list_columns(QTreeWidget* list, const list_column* columns, int count);
// Column 0: inserts a row at `row` and returns its index (-1 if refused). Column -1: replaces
// column 0's text and the row value of row `row`. Column > 0: sets that cell. Returns `row`
// unchanged, touching nothing, when the text needs more than 255 characters.
int ui_list_cell_fmt(QTreeWidget* list, int row, int column, uintptr_t value, const char* fmt, ...) UI_PRINTF(5);
uintptr_t ui_list_row_value(const QTreeWidget* list, int row);
// Widens (never narrows) each column so its texts are not cut.
void ui_list_fit_columns(QTreeWidget* list);
// The list as comma-separated text: the captions line, then one line per row, each cell as
// shown (at most 255 characters), quoted only when it holds a comma, a quote, CR or LF
// (link/text_tables.h).
std::string ui_list_text(const QTreeWidget* list, int columns);
// Writes that text to an open file. Returns the rows, or -1 when the write failed.
int ui_list_export(const QTreeWidget* list, int columns, FILE* file);
// Saves that text as the file path (platform/file_replace.h: all or nothing). Returns 0 and
// the rows written, or the error number of the failure (and 0 rows).
int ui_list_save(const QTreeWidget* list, int columns, const QString& path, int* rows);

// A file's path as a message names it: its UTF-8 text, shortened in the middle ("...") when it
// takes more than max_bytes, so that a message about a long path still fits its 255 characters
// and is shown at all.
QByteArray ui_path_for_message(const QString& path, int max_bytes = 160);

// The status bar parts: part 0 keeps a fixed width.
void ui_status_bar_parts(QStatusBar* bar, int part0_width);

// Limits a date picker to the days a device time reaches: 01/01/1970 to 19/01/2038 (the time
// of that last day stops at 03:14:07, which only the conversion back can tell).
void ui_limit_to_device_time(QDateEdit* date);

// Start pickers of the sampling schedule: sets both to device time t, read without time zone.
// 0, leaving them unchanged, when t has no calendar form or its day lies outside the date
// picker's range (a picker would otherwise show its nearest day as if it were t).
int schedule_set_start_pickers(QDateEdit* date, QTimeEdit* time, uint32_t t);
// The device time of the pickers' day and time of day; 0xFFFFFFFF when a device time cannot
// hold that moment.
uint32_t schedule_get_start_pickers(const QDateEdit* date, const QTimeEdit* time);

// ---- hooks ------------------------------------------------------------------------------------

using ui_message_hook = std::function<int(QWidget* owner, const QString& caption, const QString& text, unsigned type)>;
void ui_set_message_hook(ui_message_hook hook);  // an empty hook restores the real message box

struct ui_file_request {
    bool save = false;
    QString title;
    QString filter;          // "Text Files (*.txt)"
    QString default_suffix;  // "txt"
    QString start_path;      // the previous choice, if any
};
// Returns the chosen path, or an empty text when the operator cancelled (or the window that
// asked went away meanwhile, ui/modal.h). The chooser never starts on a pseudo file system
// (/proc, /sys, /dev: the previous choice, or the working folder, is replaced by the same name in
// the user's documents folder, which the hook sees as start_path too), and it picks icons and
// type names from file names alone, never from what a file holds.
using ui_file_hook = std::function<QString(QWidget* owner, const ui_file_request& request)>;
void ui_set_file_hook(ui_file_hook hook);
QString ui_file_dialog(QWidget* owner, const ui_file_request& request);
