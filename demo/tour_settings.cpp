// The tour's chapter of flow meter, cleaning, RS-232, identification and factory settings:
// each dialog read from "sim:1", changed where a change is harmless, and saved; then the
// factory settings, which the connect view opens, so the chapter disconnects for them and
// connects again at the end.
#include "app/connect_view.h"
#include "app/main_window.h"
#include "demo/tour.h"
#include "instrument/sim_bus.h"
#include "link/discovery.h"
#include "recording/replay.h"
#include "ui/app_messages.h"
#include "ui/dialog_helpers.h"
#include "ui/view.h"

#include <QApplication>
#include <QComboBox>
#include <QLineEdit>
#include <QMessageBox>
#include <QPointer>
#include <QPushButton>
#include <QTabWidget>
#include <QTimer>
#include <QTreeWidget>

#include <cstring>
#include <functional>

namespace {

QWidget* top_modal() { return QApplication::activeModalWidget(); }

// Once the dialog that the step opens is up: `prepare` fills it, its picture is taken, and
// then, when `saved` names a picture, Save is pressed and its message box pictured too.
void picture_dialog(const char* name, std::function<void(QWidget*)> prepare, const char* saved = nullptr) {
    QTimer::singleShot(400, [name, prepare, saved] {
        QPointer<QWidget> d = top_modal();
        if (!d) return;
        if (prepare) prepare(d);
        tour_save(d, name);
        if (!saved) {
            d->close();
            return;
        }
        tour_save_modal_when([] { return qobject_cast<QMessageBox*>(top_modal()) != nullptr; }, saved);
        QTimer::singleShot(0, [d] {
            if (d) d->findChild<QPushButton*>(QStringLiteral("save_button"))->click();
            if (d) d->close();
        });
    });
}

QLineEdit* field(QWidget* d, const char* name) { return d->findChild<QLineEdit*>(QString::fromUtf8(name)); }

// The connect view's row of an instrument path, or -1.
int row_of(const char* path) {
    QTreeWidget* list = connect_view_list(main_current_view());
    if (!list) return -1;
    for (int r = 0; r < list->topLevelItemCount(); ++r) {
        auto* entry = reinterpret_cast<device_entry*>(list->topLevelItem(r)->data(0, Qt::UserRole).toULongLong());
        // A recorded tour played back lists the instrument under its replay path.
        if (entry && entry->path && (std::strcmp(entry->path, path) == 0 || replay_path_of(path) == entry->path)) return r;
    }
    return -1;
}

}  // namespace

std::vector<tour_step> tour_settings(const tour_context& t) {
    auto view = [] { return main_current_view(); };
    QWidget* panel = t.panel;
    return {
        [] {
            picture_dialog("40-flow-meter-dialog", [](QWidget* d) { field(d, "pulses_edit")->setText(QStringLiteral("9850")); },
                           "41-flow-meter-saved");
            main_command(ID_CONFIGURE_FLOW);
        },
        [] {
            // "10.000" on a German desktop: no whole number, so red, Save disabled, and the
            // tooltip says what the field takes.
            QTimer::singleShot(400, [] {
                QPointer<QWidget> d = top_modal();
                if (!d) return;
                QLineEdit* pulses = field(d, "pulses_edit");
                pulses->setText(QStringLiteral("10.000"));
                tour_save(d, "41b-flow-meter-refused");
                tour_save_with_tooltip(d, pulses, "41c-flow-meter-refused-tooltip");
                d->close();
            });
            main_command(ID_CONFIGURE_FLOW);
        },
        [] {
            picture_dialog("42-cleaning-dialog", [](QWidget* d) {
                field(d, "speed_edit")->setText(QStringLiteral("75"));
                field(d, "dwell_edit")->setText(QStringLiteral("240"));
            }, "43-cleaning-saved");
            main_command(ID_CONFIGURE_CLEANING);
        },
        [panel] {
            // A baud rate that no row has is shown as what the instrument holds.
            for (QPushButton* b : panel ? panel->findChildren<QPushButton*>() : QList<QPushButton*>())
                if (b->text() == QStringLiteral("Baud 300")) b->click();
            picture_dialog("44a-rs232-baud-not-in-list", {});
            main_command(ID_CONFIGURE_RS232);
        },
        [] {
            // DU232ZI brings its own line settings.
            picture_dialog("44-rs232-dialog", [](QWidget* d) {
                d->findChild<QComboBox*>(QStringLiteral("protocol_box"))->setCurrentIndex(1);
            }, "45-rs232-saved");
            main_command(ID_CONFIGURE_RS232);
        },
        [] {
            // Shown, not saved: the other chapters know the instrument by its name.
            picture_dialog("46-identification-dialog", {});
            main_command(ID_CONFIGURE_IDENTIFICATION);
        },
        [] {
            QTimer::singleShot(400, [] {
                QPointer<QWidget> d = top_modal();
                if (!d) return;
                QLineEdit* name = field(d, "name_edit");
                name->setText(QStringLiteral("SAMPLER-01 NORTH BANK"));
                tour_save_with_tooltip(d, name, "47-identification-name-too-long");
                d->close();
            });
            main_command(ID_CONFIGURE_IDENTIFICATION);
        },
        [] {
            // A backup of every setting, then a setting changed on the instrument (as a repair
            // would), then the backup's preview: what a restore would write.
            const QString path = tour_file("sampler-01-settings.json");
            ui_set_file_hook([path](QWidget*, const ui_file_request&) { return path; });
            tour_save_modal_when([] { return qobject_cast<QMessageBox*>(top_modal()) != nullptr; }, "49a-settings-exported");
            main_command(ID_FILE_EXPORT_SETTINGS);
            if (auto dev = sim_bus_find("sim:1")) dev->with_firmware([](sim_firmware& fw) { fw.settings.cleaning[5] = 40; });
            QTimer::singleShot(400, [] {
                QPointer<QWidget> d = top_modal();
                if (!d) return;
                tour_save(d, "49b-import-settings-preview");
                tour_save_modal_when([] { return qobject_cast<QMessageBox*>(top_modal()) != nullptr; },
                                     "49c-import-settings-written");
                QTimer::singleShot(0, [d] {
                    if (d) d->findChild<QPushButton*>(QStringLiteral("write_button"))->click();
                    if (d) tour_save(d, "49d-import-settings-outcome");
                    if (d) d->close();
                });
            });
            main_command(ID_FILE_IMPORT_SETTINGS);
            ui_set_file_hook({});
        },
        [] { main_command(ID_FILE_DISCONNECT); },
        [view] { tour_click_row(connect_view_list(view()), row_of("sim:1"), false); },
        [view] {
            picture_dialog("48-factory-settings-dialog", [](QWidget* d) {
                QLineEdit* password = field(d, "password_edit");
                password->setText(QStringLiteral("quoll"));
            });
            if (QPushButton* factory = connect_view_button(view(), 2)) factory->click();
        },
        [view] { tour_click_row(connect_view_list(view()), row_of("sim:1"), true); },
        [] { tour_wait_ms(1500); },
        [panel] {
            // The panel's tab for what these dialogs read and write.
            auto* tabs = panel ? panel->findChild<QTabWidget*>() : nullptr;
            if (!tabs) return;
            const int before = tabs->currentIndex();
            for (int i = 0; i < tabs->count(); ++i)
                if (tabs->tabText(i) == QStringLiteral("Settings")) tabs->setCurrentIndex(i);
            tour_wait_ms(600);
            tour_save(panel, "49-virtual-instrument-settings");
            tabs->setCurrentIndex(before);
        },
    };
}
