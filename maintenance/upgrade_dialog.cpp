#include "maintenance/upgrade_dialog.h"

#include "link/worker_thread.h"
#include "maintenance/upgrade.h"
#include "ui/app_messages.h"
#include "ui/dialog_helpers.h"
#include "ui/modal.h"
#include "ui_upgrade_dialog.h"

#include <QCloseEvent>
#include <QCoreApplication>
#include <QDialog>
#include <QKeyEvent>

#include <atomic>
#include <cstdio>
#include <memory>
#include <mutex>
#include <string>

namespace {

constexpr int UPGRADE_COMPLETED = 1;
constexpr int UPGRADE_ENDED = 2;

// The file chosen last, shared by both kinds of image and offered again for the program run.
QString g_image_path;

// Shared by the dialog and its upgrade thread: the thread posts to the dialog only while the
// dialog is there.
struct upgrade_shared {
    std::atomic<int> stop{0};
    std::mutex m;
    QObject* dialog = nullptr;
    upgrade_image image;  // opened before the dialog shows: its size is the progress bar's
    int open_error = 0;   // why it could not be opened (the upgrade then fails at once)
    uint32_t base = 0;

    void post(int type, uintptr_t w, intptr_t l) {
        std::lock_guard lock(m);
        if (dialog) QCoreApplication::postEvent(dialog, new app_message(type, w, l));
    }
};

class upgrade_dialog : public QDialog {
public:
    upgrade_dialog(QWidget* owner, uint32_t image_base) : QDialog(owner), base_(image_base) {
        ui.setupUi(this);
        setObjectName(QStringLiteral("upgrade_dialog"));
        connect(ui.cancel_button, &QPushButton::clicked, this, [this] { on_cancel(); });
    }

    ~upgrade_dialog() override { stop_thread(); }

    // The upgrade runs as a worker_thread, so the program waits for it at its end like for
    // every other routine (worker_thread_join_all).
    bool start(const std::string& path) {
        shared_ = std::make_shared<upgrade_shared>();
        shared_->dialog = this;
        shared_->base = base_;
        // Opening never waits (a FIFO or a device is refused at once); what is sent is what
        // was opened, so the bar's end is the size sent.
        shared_->open_error = upgrade_image_open(path.c_str(), base_, shared_->image);
        ui.progress->setRange(0, int(std::min<uint64_t>(std::max<uint64_t>(shared_->image.size, 1), INT32_MAX)));
        auto* user = new std::shared_ptr<upgrade_shared>(shared_);
        worker_thread* w = worker_thread_start(
            [](worker_thread* self) {
                const auto& shared = *static_cast<std::shared_ptr<upgrade_shared>*>(worker_thread_user(self));
                const auto progress = [&shared](uint32_t written) {
                    shared->post(MSG_UPGRADE_PROGRESS, 0, intptr_t(written));
                };
                const upgrade_outcome out =
                    shared->open_error != 0 ? upgrade_outcome{1, 0, shared->open_error}
                                            : upgrade_run_image(shared->image, shared->base, shared->stop, progress);
                shared->post(MSG_UPGRADE_DONE, uintptr_t(out.failed), intptr_t(out.bytes_written));
                return 0;
            },
            user, [](void* u) { delete static_cast<std::shared_ptr<upgrade_shared>*>(u); });
        if (!w) {
            shared_.reset();
            return false;
        }
        // The owner lets go at once: the upgrade stops through shared->stop, not the routine's
        // own stop flag, and the object goes when the routine returns.
        worker_thread_stop(w);
        return true;
    }

    Ui::upgrade_dialog_form ui;

protected:
    bool event(QEvent* e) override {
        const int type = int(e->type());
        if (type == MSG_UPGRADE_PROGRESS) {
            const auto written = unsigned(static_cast<app_message*>(e)->lparam);
            set_status("Upgrade running, %u bytes written", written);
            ui.progress->setValue(int(std::min<unsigned>(written, unsigned(ui.progress->maximum()))));
            return true;
        }
        if (type == MSG_UPGRADE_DONE) {
            auto* m = static_cast<app_message*>(e);
            const auto written = unsigned(m->lparam);
            if (m->wparam == 0) {
                ui.progress->setValue(ui.progress->maximum());
                report("Upgrade complete, %u bytes written", written);
                done(UPGRADE_COMPLETED);
            } else {
                report("Upgrade failed after %u bytes (%d)", written, 1);
                done(UPGRADE_ENDED);
            }
            return true;
        }
        return QDialog::event(e);
    }

    // Escape and the close box act like Cancel.
    void reject() override { on_cancel(); }
    void closeEvent(QCloseEvent* e) override {
        e->ignore();
        on_cancel();
    }

private:
    // Formats into the dialog's 40-byte text buffer; false when the text does not fit.
    template <typename... A>
    static bool format40(char (&text)[40], const char* fmt, A... args) {
        const int n = std::snprintf(text, sizeof text, fmt, args...);
        return n >= 0 && size_t(n) < sizeof text;
    }

    template <typename... A>
    void set_status(const char* fmt, A... args) {
        char text[40];
        if (format40(text, fmt, args...)) ui.status_text->setText(QString::fromUtf8(text));
    }

    // The final text: in the status line and in a message box.
    template <typename... A>
    void report(const char* fmt, A... args) {
        char text[40];
        if (!format40(text, fmt, args...)) return;
        ui.status_text->setText(QString::fromUtf8(text));
        ui_message_fmt(this, "Upgrade", UI_MB_OK, "%s", text);
    }

    void on_cancel() {
        if (!shared_) {
            done(UPGRADE_ENDED);
            return;
        }
        if (base_ == IMAGE_BASE_BOOTLOADER) {
            ui_message_fmt(this, "Cancel", UI_MB_OK | UI_MB_ICONWARNING, "%s",
                           "You must let this operation complete or you will have to return the sensor to "
                           "Calderwyn for repair.");
            return;
        }
        if (ui_message_fmt(this, "Cancel", UI_MB_YESNO | UI_MB_ICONQUESTION, "%s",
                           "If you interrupt the upgrade now you will need to re-do it later to be able to use "
                           "the sensor again.\nStop the upgrade now?") == UI_IDYES) {
            ui.status_text->setText(QStringLiteral("Stopping..."));
            done(UPGRADE_ENDED);
        }
    }

    // Stops the thread before its next block, without waiting for it: the GUI thread never
    // waits for the instrument. A thread still inside an exchange finishes it on its own (the
    // link that the dialog's owner closes next ends it at once) and posts nowhere.
    void stop_thread() {
        if (!shared_) return;
        {
            std::lock_guard lock(shared_->m);
            shared_->stop = 1;
            shared_->dialog = nullptr;
        }
        shared_.reset();
    }

    uint32_t base_;
    std::shared_ptr<upgrade_shared> shared_;
};

}  // namespace

int upgrade_dialog_run(QWidget* owner, uint32_t mode_value) {
    const uint8_t mode = uint8_t(mode_value & 0xFF);
    ui_file_request request;
    request.default_suffix = QStringLiteral("bin");
    uint32_t base;
    QString title;
    if (mode == 2) {
        if (ui_message_fmt(owner, "Upgrade Bootloader", UI_MB_YESNO | UI_MB_ICONWARNING, "%s",
                           "A bootloader upgrade must be allowed to complete or the sensor will need to be "
                           "returned to Calderwyn for repair. Are you sure you want to do this?") != UI_IDYES)
            return UPGRADE_ENDED;
        title = QStringLiteral("Upgrade Bootloader");
        request.title = QStringLiteral("Bootloader Binary File");
        request.filter = QStringLiteral("Bootloader Binary Files (*.bin)");
        base = IMAGE_BASE_BOOTLOADER;
    } else if (mode == 1) {
        title = QStringLiteral("Upgrade Firmware");
        request.title = QStringLiteral("Firmware Binary File");
        request.filter = QStringLiteral("Firmware Binary Files (*.bin)");
        base = IMAGE_BASE_FIRMWARE;
    } else {
        return UPGRADE_ENDED;
    }
    request.start_path = g_image_path;
    const QString path = ui_file_dialog(owner, request);
    if (path.isEmpty()) return UPGRADE_ENDED;
    g_image_path = path;

    upgrade_dialog dialog(owner, base);
    dialog.setWindowTitle(title);
    if (!dialog.start(path.toStdString())) {
        ui_message_fmt(owner, "Upgrade", UI_MB_OK, "%s", "Failed to start upgrade");
        return UPGRADE_ENDED;
    }
    return ui_exec(dialog) == UPGRADE_COMPLETED ? UPGRADE_COMPLETED : UPGRADE_ENDED;
}
