#include "backup/settings_transfer_dialog.h"

#include "backup/backup.h"
#include "backup/json_io.h"
#include "config/factory.h"
#include "link/command_frame.h"
#include "link/field_text.h"
#include "platform/file_replace.h"
#include "ui/await.h"
#include "ui/dialog_helpers.h"
#include "ui/modal.h"
#include "ui_settings_import_dialog.h"

#include <QDialog>
#include <QFile>
#include <QTreeWidget>

#include <string>
#include <vector>

namespace {

// The backup chosen last, offered again for the rest of the program run.
QString g_backup_path;

const list_column CHANGE_COLUMNS[] = {
    {"Group", 22}, {"Setting", 26}, {"Instrument Now", 16}, {"Backup", 16}, {"Outcome", 40},
};
constexpr int COLUMN_OUTCOME = 4;

ui_file_request backup_request(bool save) {
    ui_file_request r;
    r.save = save;
    r.title = QString::fromUtf8(BACKUP_FILE_TITLE);
    r.filter = QString::fromUtf8(BACKUP_FILE_FILTER);
    r.default_suffix = QStringLiteral("json");
    r.start_path = g_backup_path;
    return r;
}

// Everything the instrument stores, read off the GUI thread: 0, or the failure.
int read_instrument(QWidget* waiting, instrument_snapshot& out) {
    return ui_await(waiting, [&] { return backup_read_instrument(out, nullptr); });
}

std::string instrument_name(const instrument_snapshot& s) {
    char name[SENSOR_NAME_MAX + 1];
    device_info_name(s.info, name);
    return name;
}

class settings_import_dialog : public QDialog {
public:
    settings_import_dialog(QWidget* owner, const backup_file& file, const instrument_snapshot& now,
                           std::vector<restore_block> plan)
        : QDialog(owner), plan_(std::move(plan)), other_type_(backup_other_type(file, now)) {
        ui.setupUi(this);
        setObjectName(QStringLiteral("settings_import_dialog"));
        ui_no_default_buttons(this);
        ui_list_columns(ui.change_list, CHANGE_COLUMNS, int(std::size(CHANGE_COLUMNS)));
        ui.source_label->setText(QString::fromStdString(
            text_printf("The backup of %s, to be written to %s (serial %u). Only the settings that differ are written, "
                        "each read back.",
                        file.source.empty() ? "an instrument" : file.source.c_str(), instrument_name(now).c_str(),
                        unsigned(device_info_serial(now.info)))));
        for (const restore_block& b : plan_) {
            if (b.identity && !b.changes.empty()) identity_differs_ = true;
            add_rows(b);
        }
        ui_list_fit_columns(ui.change_list);
        ui.identity_check->setVisible(identity_differs_);
        ui.other_type_check->setVisible(other_type_);
        for (QCheckBox* c : {ui.identity_check, ui.other_type_check})
            connect(c, &QCheckBox::toggled, this, [this] { apply_rules(); });
        connect(ui.password_edit, &QLineEdit::textChanged, this, [this] { apply_rules(); });
        connect(ui.write_button, &QPushButton::clicked, this, [this] { on_write(); });
        connect(ui.close_button, &QPushButton::clicked, this, [this] { reject(); });
        apply_rules();
    }

    int outcome() const { return identity_written_ ? SETTINGS_IMPORT_IDENTITY : wrote_ ? 1 : 0; }

    Ui::settings_import_dialog_form ui;

private:
    void add_rows(const restore_block& b) {
        const QString title = QString::fromUtf8(settings_block_title(b.id));
        auto add = [&](const std::string& field, const std::string& old_text, const std::string& new_text) {
            auto* item = new QTreeWidgetItem(ui.change_list);
            item->setText(0, title);
            item->setText(1, QString::fromStdString(field));
            item->setText(2, QString::fromStdString(old_text));
            item->setText(3, QString::fromStdString(new_text));
            item->setData(0, Qt::UserRole, int(b.id));
        };
        if (!b.in_file) add("", "", "(not in the backup)");
        else if (b.changes.empty()) add("", "", "(no change)");
        for (const field_change& c : b.changes) add(c.field, c.old_text, c.new_text);
    }

    // The blocks a Write would send now.
    bool chosen(const restore_block& b) const { return backup_block_chosen(b, ui.identity_check->isChecked()); }
    bool password_needed() const { return backup_needs_factory(plan_, ui.identity_check->isChecked()); }
    bool password_given() const {
        const QByteArray typed = ui.password_edit->text().toLower().toUtf8();
        return factory_password_matches(std::string_view(typed.constData(), size_t(typed.size())));
    }

    void apply_rules() {
        const bool password = password_needed();
        ui.password_label->setVisible(password);
        ui.password_edit->setVisible(password);
        const bool any = backup_any_chosen(plan_, ui.identity_check->isChecked());
        ui.write_button->setEnabled(!written_ && any && (!other_type_ || ui.other_type_check->isChecked()) &&
                                    (!password || password_given()));
    }

    void set_outcome(settings_block_id id, const std::string& text) {
        for (int r = 0; r < ui.change_list->topLevelItemCount(); ++r) {
            QTreeWidgetItem* item = ui.change_list->topLevelItem(r);
            if (item->data(0, Qt::UserRole).toInt() == int(id)) item->setText(COLUMN_OUTCOME, QString::fromStdString(text));
        }
    }

    // Each chosen block is written and read back in turn; after a link failure the rest is not
    // tried. The list says what became of each.
    void on_write() {
        written_ = true;
        apply_rules();
        const bool factory = password_needed() && password_given();
        bool all = true, link_failed = false;
        for (const restore_block& b : plan_) {
            if (!chosen(b)) continue;
            if (link_failed) {
                set_outcome(b.id, "not written (the link failed before)");
                all = false;
                continue;
            }
            const settings_write_result w = ui_await(this, [&] { return backup_restore_block(b, factory); });
            if (ui_window_gone(this)) return;
            set_outcome(b.id, settings_write_text(w, b.wanted));
            if (w.code == 0) {
                wrote_ = true;
                identity_written_ = identity_written_ || b.identity;
            } else {
                all = false;
                link_failed = w.code == ERR_LINK_FAILED;
            }
        }
        ui_list_fit_columns(ui.change_list);
        const char* summary = all ? BACKUP_ALL_WRITTEN : BACKUP_NOT_ALL_WRITTEN;
        ui.summary_label->setText(QString::fromUtf8(summary));
        ui_message_fmt(this, BACKUP_IMPORT_CAPTION, UI_MB_OK, "%s", summary);
    }

    std::vector<restore_block> plan_;
    bool other_type_;
    bool identity_differs_ = false;
    bool written_ = false;
    bool wrote_ = false;
    bool identity_written_ = false;
};

}  // namespace

int settings_export_run(QWidget* owner) {
    const QString path = ui_file_dialog(owner, backup_request(true));
    if (path.isEmpty()) return 0;
    g_backup_path = path;
    instrument_snapshot snapshot;
    const int r = read_instrument(owner, snapshot);
    if (ui_window_gone(owner)) return 0;
    if (r != 0) {
        ui_message_fmt(owner, BACKUP_EXPORT_CAPTION, UI_MB_OK, "%s", BACKUP_READ_FAILED);
        return 0;
    }
    const std::string text = backup_file_text(snapshot);
    const QByteArray name = ui_path_for_message(path);
    // Success only once the whole file is on disk under its name.
    if (file_replace(QFile::encodeName(path).constData(), text) != 0) {
        ui_message_fmt(owner, BACKUP_EXPORT_CAPTION, UI_MB_OK, "Unable to open %s for write", name.constData());
        return 0;
    }
    ui_message_fmt(owner, BACKUP_EXPORT_CAPTION, UI_MB_OK, "Settings of %s saved to %s", instrument_name(snapshot).c_str(),
                   name.constData());
    return 1;
}

int settings_import_run(QWidget* owner) {
    const QString path = ui_file_dialog(owner, backup_request(false));
    if (path.isEmpty()) return 0;
    g_backup_path = path;
    const QByteArray name = ui_path_for_message(path, 80);  // leaves room for the reason
    std::string text, error;
    backup_file file;
    if (!json_read_file(QFile::encodeName(path).toStdString(), text, error) || !backup_parse(text, file, error)) {
        ui_message_fmt(owner, BACKUP_IMPORT_CAPTION, UI_MB_OK, "%s cannot be used: %s", name.constData(), error.c_str());
        return 0;
    }
    instrument_snapshot now;
    const int r = read_instrument(owner, now);
    if (ui_window_gone(owner)) return 0;
    if (r != 0) {
        ui_message_fmt(owner, BACKUP_IMPORT_CAPTION, UI_MB_OK, "%s", BACKUP_READ_FAILED);
        return 0;
    }
    std::vector<restore_block> plan;
    if (!backup_plan(file, now, plan, error)) {
        ui_message_fmt(owner, BACKUP_IMPORT_CAPTION, UI_MB_OK, "%s cannot be used: %s", name.constData(), error.c_str());
        return 0;
    }
    // The identification counts too: the dialog offers to restore it.
    if (!backup_any_chosen(plan, true)) {
        ui_message_fmt(owner, BACKUP_IMPORT_CAPTION, UI_MB_OK, "%s", BACKUP_NOTHING_TO_CHANGE);
        return 0;
    }
    settings_import_dialog dialog(owner, file, now, std::move(plan));
    ui_exec(dialog);
    return dialog.outcome();
}
