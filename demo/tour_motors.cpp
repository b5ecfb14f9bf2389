// The tour's chapter of motor configuration and pressure sensor calibration: drive the sample
// engage motor by hand, take its engaged set point from the Hall sensor, save it and engage to
// it; then calibrate the pressure sensor at four applied pressures (one typed wrong, which the
// plot shows), save the line and test it at a fifth.
#include "app/main_window.h"
#include "demo/tour.h"
#include "ui/app_messages.h"
#include "ui/dialog_helpers.h"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDialog>
#include <QDoubleSpinBox>
#include <QLineEdit>
#include <QPushButton>
#include <QSlider>
#include <QTabWidget>
#include <QTimer>

#include <cstdio>
#include <memory>
#include <string>

namespace {

using action = std::function<void(QDialog*)>;

// Works the modal dialog that the next command opens: each action `gap_ms` after the one
// before, the last one closes it.
void script(std::vector<action> actions, int gap_ms) {
    auto steps = std::make_shared<std::vector<action>>(std::move(actions));
    auto index = std::make_shared<size_t>(0);
    auto next = std::make_shared<std::function<void()>>();
    *next = [steps, index, next, gap_ms] {
        auto* d = qobject_cast<QDialog*>(QApplication::activeModalWidget());
        if (!d || *index >= steps->size()) {
            *next = nullptr;  // ends the chain (and the cycle of shared pointers)
            return;
        }
        (*steps)[(*index)++](d);
        QTimer::singleShot(gap_ms, [next] { if (*next) (*next)(); });
    };
    QTimer::singleShot(gap_ms, [next] { (*next)(); });
}

template <typename T = QWidget>
T* child(QDialog* d, const std::string& name) {
    return d->findChild<T*>(QString::fromStdString(name));
}
void press(QDialog* d, const std::string& name) {
    if (auto* b = child<QPushButton>(d, name)) b->click();
}
void type(QDialog* d, const std::string& name, const char* text) {
    if (auto* e = child<QLineEdit>(d, name)) e->setText(QString::fromUtf8(text));
}

// Message boxes of the chapter are answered at once (and printed), so they do not stop it.
void answer_messages(bool on) {
    if (!on) {
        ui_set_message_hook({});
        return;
    }
    ui_set_message_hook([](QWidget*, const QString& caption, const QString& text, unsigned type) {
        std::printf("  [%s] %s\n", caption.toUtf8().constData(), text.toUtf8().constData());
        std::fflush(stdout);
        return (type & 0x0F) == UI_MB_YESNO ? UI_IDYES : UI_IDOK;
    });
}

}  // namespace

std::vector<tour_step> tour_motors(const tour_context& t) {
    QWidget* panel = t.panel;
    auto show_motor_tab = [panel] {
        auto* tabs = panel->findChild<QTabWidget*>();
        auto* tab = panel->findChild<QWidget*>(QStringLiteral("panel_motors"));
        if (tabs && tab) tabs->setCurrentWidget(tab);
    };
    auto apply = [panel](double bar) {
        if (auto* spin = panel->findChild<QDoubleSpinBox*>(QStringLiteral("applied_pressure"))) spin->setValue(bar);
    };
    return {
        [=] {
            answer_messages(true);
            show_motor_tab();
            script(
                {
                    [](QDialog* d) { tour_save(d, "30-motors-dialog"); },
                    [](QDialog* d) {
                        child<QComboBox>(d, "motor_combo")->setCurrentIndex(1);  // Sample Engage
                        child<QSlider>(d, "speed_slider")->setValue(70);
                    },
                    [](QDialog* d) { press(d, "forwards_button"); },
                    [](QDialog*) {},
                    [](QDialog* d) { tour_save(d, "30b-motors-driving"); },
                    [](QDialog* d) { press(d, "forwards_button"); },        // Stop
                    [](QDialog* d) { press(d, "engaged_sample_button"); },  // here is engaged
                    [](QDialog* d) { press(d, "save_button"); },
                    [](QDialog* d) { press(d, "reverse_button"); },
                    [](QDialog*) {},
                    [](QDialog* d) { press(d, "reverse_button"); },  // Stop, back where it was
                    [](QDialog* d) { press(d, "test1_button"); },    // Engage
                    [](QDialog*) {},
                    [](QDialog*) {},
                    [](QDialog*) {},
                    [](QDialog*) {},
                    [panel](QDialog* d) {
                        tour_save(d, "30c-motors-engaged");
                        tour_save(panel, "33-panel-motors-engaged");
                    },
                    [](QDialog* d) { press(d, "test1_button"); },  // Stop
                    // The sample pump stops on flow: a test needs a volume above 0 litres.
                    [](QDialog* d) { child<QComboBox>(d, "motor_combo")->setCurrentIndex(3); },
                    [](QDialog* d) {
                        tour_save_with_tooltip(d, child<QLineEdit>(d, "flow_volume_edit"), "30d-motors-pump-needs-a-volume");
                    },
                    [](QDialog* d) { d->close(); },
                },
                700);
            main_command(ID_CONFIGURE_MOTORS);
        },
        [=] {
            auto point = [apply](int i, double bar, const char* typed) {
                return [apply, i, bar, typed](QDialog* d) {
                    apply(bar);
                    child<QCheckBox>(d, "point_check_" + std::to_string(i))->setChecked(true);
                    type(d, "bar_edit_" + std::to_string(i), typed);
                    press(d, "sample_button_" + std::to_string(i));
                };
            };
            script(
                {
                    [](QDialog* d) { tour_save(d, "31-pressure-dialog"); },
                    point(1, 0.0, "0"),
                    point(2, 3.0, "3"),
                    point(3, 6.0, "6.5"),  // typed wrong: the plot points it out
                    point(4, 9.0, "9"),
                    [](QDialog* d) { tour_save(d, "32-calibration-plot"); },
                    [](QDialog* d) {
                        type(d, "bar_edit_3", "6");
                        press(d, "calculate_button");
                    },
                    [](QDialog* d) { press(d, "save_button"); },
                    [apply](QDialog* d) {
                        apply(4.5);
                        press(d, "test_button");
                    },
                    [](QDialog* d) { tour_save(d, "32b-calibration-saved-and-tested"); },
                    [](QDialog* d) { d->close(); },
                },
                700);
            main_command(ID_CONFIGURE_PRESSURE);
        },
        [=] {
            apply(0.0);
            answer_messages(false);
        },
    };
}
