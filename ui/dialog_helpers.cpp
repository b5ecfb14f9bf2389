#include "ui/dialog_helpers.h"

#include "link/device_time.h"
#include "link/field_text.h"
#include "platform/file_replace.h"
#include "platform/file_system.h"
#include "ui/modal.h"

#include <QAbstractButton>
#include <QApplication>
#include <QComboBox>
#include <QDateEdit>
#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QFileIconProvider>
#include <QFileInfo>
#include <QFontMetrics>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QMimeDatabase>
#include <QPushButton>
#include <QStandardPaths>
#include <QStatusBar>
#include <QTimeEdit>
#include <QTreeWidget>

#include <algorithm>
#include <cstdarg>
#include <cstdlib>
#include <cstring>
#include <vector>

namespace {

constexpr size_t TEXT_BUFFER = 256;

ui_message_hook g_message_hook;
ui_file_hook g_file_hook;

// Formats into the 256-byte buffer; false when the text does not fit or formatting failed.
bool format_text(char (&buf)[TEXT_BUFFER], const char* fmt, va_list args) {
    int n = text_vformat(buf, sizeof buf, fmt, args);
    return n >= 0 && size_t(n) < sizeof buf;
}

// 0 when the box was abandoned (its window went away while it was open).
int real_message_box(QWidget* owner, const QString& caption, const QString& text, unsigned type) {
    QMessageBox box(owner);
    box.setWindowTitle(caption);
    box.setText(text);
    switch (type & 0xF0) {
        case UI_MB_ICONERROR: box.setIcon(QMessageBox::Critical); break;
        case UI_MB_ICONQUESTION: box.setIcon(QMessageBox::Question); break;
        case UI_MB_ICONWARNING: box.setIcon(QMessageBox::Warning); break;
        case UI_MB_ICONINFORMATION: box.setIcon(QMessageBox::Information); break;
        default: break;
    }
    const bool yes_no = (type & 0x0F) == UI_MB_YESNO;
    box.setStandardButtons(yes_no ? QMessageBox::Yes | QMessageBox::No : QMessageBox::Ok);
    // Every question this tool asks guards something that cannot be undone: Enter says No.
    if (yes_no) box.setDefaultButton(QMessageBox::No);
    bool abandoned = false;
    const int result = ui_exec(box, &abandoned);
    if (abandoned) return 0;
    if (!yes_no) return UI_IDOK;
    return result == QMessageBox::Yes ? UI_IDYES : UI_IDNO;
}

// Icons and type names from a file's name alone. Qt's own provider reads the first bytes of a
// file whose name says nothing, and a read of some files (/proc/kmsg) never returns: the
// chooser's helper thread would hang, and the program with it when the chooser closes.
class name_only_icons : public QFileIconProvider {
public:
    QIcon icon(IconType type) const override { return QFileIconProvider::icon(type); }
    QIcon icon(const QFileInfo& info) const override {
        if (info.isDir()) return QFileIconProvider::icon(Folder);
        const QIcon themed = QIcon::fromTheme(by_name(info).iconName());
        return themed.isNull() ? QFileIconProvider::icon(File) : themed;
    }
    QString type(const QFileInfo& info) const override {
        if (info.isDir()) return QFileIconProvider::type(info);  // never reads a folder
        const QMimeType mime = by_name(info);
        return mime.comment().isEmpty() ? mime.name() : mime.comment();
    }

private:
    static QMimeType by_name(const QFileInfo& info) {
        return QMimeDatabase().mimeTypeForFile(info.fileName(), QMimeDatabase::MatchExtension);
    }
};

// Where a file chooser starts: the previous choice, or the working folder when there is none,
// unless that lies on a pseudo file system (a save to /proc that failed, say); then the user's
// documents folder (or home), with the same file name.
QString chooser_start(const QString& previous) {
    const QString checked = previous.isEmpty() ? QDir::currentPath() : previous;
    if (!file_system_is_pseudo(QFile::encodeName(checked).constData())) return previous;
    QString folder = QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation);
    if (folder.isEmpty() || !QDir(folder).exists()) folder = QDir::homePath();
    return previous.isEmpty() ? folder : QDir(folder).filePath(QFileInfo(previous).fileName());
}

QLabel* status_part(QStatusBar* bar, int part) {
    if (!bar) return nullptr;
    return bar->findChild<QLabel*>(QStringLiteral("part%1").arg(part));
}

}  // namespace

QWidget* ui_add_tooltip(QWidget* control, const char* text) {
    if (!control) return nullptr;
    control->setToolTip(QString::fromUtf8(text));
    return control;
}

uint32_t ui_combo_value(const QComboBox* combo, const combo_row* table, int rows) {
    if (!combo) return 0;
    int index = combo->currentIndex();
    if (index < 0) return 0;
    if (index < rows) return table[index].value;
    const QVariant held = combo->itemData(index);
    return held.isValid() ? held.toUInt() : 0;
}

void ui_combo_fill(QComboBox* combo, const combo_row* table, int rows) {
    combo->clear();
    for (int i = 0; i < rows; ++i) combo->addItem(QString::fromUtf8(table[i].text));
}

void ui_combo_show_value(QComboBox* combo, const combo_row* table, int rows, uint32_t value, uint32_t blank) {
    if (!combo) return;
    while (combo->count() > rows) combo->removeItem(combo->count() - 1);
    for (int i = 0; i < rows; ++i) {
        if (table[i].value == value) {
            combo->setCurrentIndex(i);
            return;
        }
    }
    const std::string text = value == blank ? std::string("(not set)") : text_printf("%u (not in list)", unsigned(value));
    combo->addItem(QString::fromStdString(text), QVariant::fromValue<uint>(value));
    combo->setCurrentIndex(rows);
}

double ui_get_double(const QLineEdit* edit) {
    if (!edit) return 0.0;
    QByteArray text = edit->text().toLatin1().left(23);
    return text_to_double(text.constData());
}

uint64_t ui_get_unsigned(const QLineEdit* edit) {
    if (!edit) return 0;
    return field_unsigned(edit->text().toStdString());
}

void ui_set_invalid(QLineEdit* edit, bool invalid) {
    if (!edit) return;
    const QColor red(255, 0, 0);
    const bool red_now = edit->testAttribute(Qt::WA_SetPalette) && edit->palette().color(QPalette::Active, QPalette::Text) == red;
    if (invalid == red_now) return;
    if (!invalid) {
        // Back to the inherited palette: a field that is disabled must look disabled again, which
        // a palette of its own with the normal text colour in every group would prevent.
        edit->setPalette(QPalette());
        return;
    }
    QPalette p = edit->palette();
    p.setColor(QPalette::Text, red);
    edit->setPalette(p);
}

void ui_no_default_buttons(QWidget* dialog) {
    if (!dialog) return;
    for (QPushButton* b : dialog->findChildren<QPushButton*>()) {
        b->setAutoDefault(false);
        b->setDefault(false);
    }
}

int ui_is_checked(const QAbstractButton* button) { return button && button->isChecked() ? 1 : 0; }

void ui_set_check(QAbstractButton* button, uint8_t flag) {
    if (button) button->setChecked(flag != 0);
}

void ui_set_text_fmt(QWidget* control, const char* fmt, ...) {
    char buf[TEXT_BUFFER];
    va_list args;
    va_start(args, fmt);
    bool ok = format_text(buf, fmt, args);
    va_end(args);
    if (!ok || !control) return;
    const QString text = QString::fromUtf8(buf);
    if (auto* label = qobject_cast<QLabel*>(control)) label->setText(text);
    else if (auto* edit = qobject_cast<QLineEdit*>(control)) edit->setText(text);
    else if (auto* button = qobject_cast<QAbstractButton*>(control)) button->setText(text);
    else control->setWindowTitle(text);
}

void ui_status_text_fmt(QStatusBar* bar, int part, const char* fmt, ...) {
    char buf[TEXT_BUFFER];
    va_list args;
    va_start(args, fmt);
    bool ok = format_text(buf, fmt, args);
    va_end(args);
    QLabel* label = status_part(bar, part);
    if (ok && label) label->setText(QString::fromUtf8(buf));
}

int ui_message_fmt(QWidget* owner, const char* caption, unsigned type, const char* fmt, ...) {
    char buf[TEXT_BUFFER];
    va_list args;
    va_start(args, fmt);
    bool ok = format_text(buf, fmt, args);
    va_end(args);
    // Nothing is asked on behalf of a window that has gone: the caller takes 0 as "no answer".
    if (!ok || ui_window_gone(owner)) return 0;
    const QString text = QString::fromUtf8(buf);
    const QString cap = QString::fromUtf8(caption);
    if (g_message_hook) return g_message_hook(owner, cap, text, type);
    return real_message_box(owner, cap, text, type);
}

void ui_list_columns(QTreeWidget* list, const list_column* columns, int count) {
    const int unit = QFontMetrics(list->font()).averageCharWidth();
    QStringList captions;
    for (int i = 0; i < count; ++i) captions << QString::fromUtf8(columns[i].caption);
    list->setColumnCount(count);
    list->setHeaderLabels(captions);
    // A column is never narrower than its caption.
    const QFontMetrics header(list->header()->font());
    for (int i = 0; i < count; ++i)
        list->setColumnWidth(i, std::max(columns[i].width * unit, header.horizontalAdvance(captions[i]) + 2 * unit));
}

int ui_list_cell_fmt(QTreeWidget* list, int row, int column, uintptr_t value, const char* fmt, ...) {
    char buf[TEXT_BUFFER];
    va_list args;
    va_start(args, fmt);
    bool ok = format_text(buf, fmt, args);
    va_end(args);
    if (!ok) return row;
    const QString text = QString::fromUtf8(buf);
    if (column == 0) {
        if (row < 0 || row > list->topLevelItemCount()) return -1;
        auto* item = new QTreeWidgetItem;
        item->setText(0, text);
        item->setData(0, Qt::UserRole, QVariant::fromValue<qulonglong>(value));
        list->insertTopLevelItem(row, item);
        return row;
    }
    QTreeWidgetItem* item = list->topLevelItem(row);
    if (!item) return 0;
    if (column == -1) {
        item->setText(0, text);
        item->setData(0, Qt::UserRole, QVariant::fromValue<qulonglong>(value));
        return 1;
    }
    if (column >= list->columnCount()) return 0;
    item->setText(column, text);
    return 1;
}

uintptr_t ui_list_row_value(const QTreeWidget* list, int row) {
    const QTreeWidgetItem* item = list->topLevelItem(row);
    return item ? uintptr_t(item->data(0, Qt::UserRole).toULongLong()) : 0;
}

void ui_list_fit_columns(QTreeWidget* list) {
    for (int c = 0; c < list->columnCount(); ++c) {
        const int set = list->columnWidth(c);
        list->resizeColumnToContents(c);
        if (list->columnWidth(c) < set) list->setColumnWidth(c, set);
    }
}

std::string ui_list_text(const QTreeWidget* list, int columns) {
    std::vector<std::string> cells(size_t(std::max(columns, 0)));
    const QTreeWidgetItem* header = list->headerItem();
    for (int c = 0; c < columns; ++c) cells[size_t(c)] = header->text(c).toStdString();
    std::string text = text_table_line(cells);
    const int rows = list->topLevelItemCount();
    for (int r = 0; r < rows; ++r) {
        const QTreeWidgetItem* item = list->topLevelItem(r);
        for (int c = 0; c < columns; ++c) cells[size_t(c)] = item->text(c).toStdString();
        text += text_table_line(cells);
    }
    return text;
}

int ui_list_export(const QTreeWidget* list, int columns, FILE* file) {
    const std::string text = ui_list_text(list, columns);
    if (std::fwrite(text.data(), 1, text.size(), file) != text.size()) return -1;
    return list->topLevelItemCount();
}

int ui_list_save(const QTreeWidget* list, int columns, const QString& path, int* rows) {
    const int error = file_replace(QFile::encodeName(path).constData(), ui_list_text(list, columns));
    if (rows) *rows = error == 0 ? list->topLevelItemCount() : 0;
    return error;
}

QByteArray ui_path_for_message(const QString& path, int max_bytes) {
    QByteArray whole = path.toUtf8();
    if (whole.size() <= max_bytes) return whole;
    // Keep the start (where it is) and the end (the file's name), each cut on a character.
    QString head = path.left(path.size() / 2), tail = path.mid(path.size() / 2);
    const QByteArray dots("...");
    while (head.toUtf8().size() + dots.size() + tail.toUtf8().size() > max_bytes) {
        if (head.size() > tail.size()) head.chop(1);
        else tail.remove(0, 1);
    }
    return head.toUtf8() + dots + tail.toUtf8();
}

void ui_status_bar_parts(QStatusBar* bar, int part0_width) {
    auto* part0 = new QLabel(bar);
    part0->setObjectName(QStringLiteral("part0"));
    part0->setFixedWidth(part0_width);
    auto* part1 = new QLabel(bar);
    part1->setObjectName(QStringLiteral("part1"));
    bar->addWidget(part0);
    bar->addWidget(part1, 1);
}

void ui_limit_to_device_time(QDateEdit* date) {
    if (date) date->setDateRange(QDate(1970, 1, 1), QDate(2038, 1, 19));
}

int schedule_set_start_pickers(QDateEdit* date, QTimeEdit* time, uint32_t t) {
    calendar_fields f;
    if (!date || !time || !device_time_to_fields(t, f)) return 0;
    const QDate d(f.year, f.month, f.day);
    const QTime tm(f.hour, f.minute, f.second);
    if (!d.isValid() || !tm.isValid()) return 0;
    if (d < date->minimumDate() || d > date->maximumDate()) return 0;
    date->setDate(d);
    time->setTime(tm);
    return 1;
}

uint32_t schedule_get_start_pickers(const QDateEdit* date, const QTimeEdit* time) {
    const QDate d = date->date();
    const QTime tm = time->time();
    if (!d.isValid() || !tm.isValid()) return 0xFFFFFFFFu;
    calendar_fields f{d.year(), d.month(), d.day(), tm.hour(), tm.minute(), tm.second()};
    return device_time_from_fields(f);
}

void ui_set_message_hook(ui_message_hook hook) { g_message_hook = std::move(hook); }
void ui_set_file_hook(ui_file_hook hook) { g_file_hook = std::move(hook); }

QString ui_file_dialog(QWidget* owner, const ui_file_request& asked) {
    if (ui_window_gone(owner)) return {};
    ui_file_request request = asked;
    request.start_path = chooser_start(asked.start_path);
    if (g_file_hook) return g_file_hook(owner, request);
    // Outlives the dialog, whose helper thread asks it for icons until the dialog is gone.
    name_only_icons icons;
    QFileDialog dialog(owner, request.title, request.start_path, request.filter);
    dialog.setIconProvider(&icons);
    dialog.setOption(QFileDialog::DontUseCustomDirectoryIcons);
    dialog.setAcceptMode(request.save ? QFileDialog::AcceptSave : QFileDialog::AcceptOpen);
    dialog.setFileMode(request.save ? QFileDialog::AnyFile : QFileDialog::ExistingFile);
    dialog.setDefaultSuffix(request.default_suffix);
    if (!request.start_path.isEmpty() && !QFileInfo(request.start_path).isDir()) dialog.selectFile(request.start_path);
    if (ui_exec(dialog) != QDialog::Accepted || dialog.selectedFiles().isEmpty()) return {};
    return dialog.selectedFiles().first();
}
