// Identity, the diagnostic log, the LED, and the firmware: upgrade and leaving the bootloader.
#include "cli/cli_commands.h"
#include "cli/cli_documents.h"
#include "link/command_frame.h"
#include "link/field_text.h"
#include "link/link.h"
#include "maintenance/diagnostics.h"
#include "maintenance/upgrade.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <ostream>
#include <thread>

namespace {

// The most records one diag-log takes: an instrument that logs faster than the link reads would
// otherwise never let it end.
constexpr int DIAG_LOG_MAX_EXPORT = 10000;

// Progress of an upgrade, on standard error so that standard output keeps only the outcome: a
// bar that redraws itself on a terminal; otherwise nothing, or with --progress a line at every
// tenth of the image.
class progress_report {
public:
    progress_report(cli_io& io, bool lines, uint64_t total) : io_(io), lines_(lines), total_(total ? total : 1) {}
    void update(uint32_t written) {
        const int tenth = int(uint64_t(written) * 10 / total_);
        if (io_.err_tty) {
            const unsigned filled = unsigned(std::min<uint64_t>(uint64_t(written) * 40 / total_, 40));
            io_.err << "\r[" << std::string(filled, '#') << std::string(40 - filled, ' ') << "] " << written << " of "
                    << total_ << " bytes" << std::flush;
            drawn_ = true;
        } else if (lines_ && tenth != last_tenth_) {
            io_.err << text_printf("Upgrade running, %u bytes written", written) << "\n" << std::flush;
        }
        last_tenth_ = tenth;
    }
    void finish() {
        if (drawn_) io_.err << "\n";
    }

private:
    cli_io& io_;
    bool lines_;
    uint64_t total_;
    int last_tenth_ = -1;  // the first block is always reported
    bool drawn_ = false;
};

// Starts the firmware of an instrument whose bootloader runs and waits for it to come back,
// as the connect view's Connect does.
int start_firmware(cli_session& s, const char* what) {
    device_info info{};
    if (const int r = identity_get_device_info(info); r != 0) return cli_failed(s, what, r);
    const uint16_t serial = device_info_serial(info);
    cli_return_watch watch;  // watching before the start, so its return is never missed
    if (const int r = identity_start_firmware(); r != 0) {
        if (r == ERR_LINK_FAILED) return cli_failed(s, what, r);
        s.io.err << "veltranic-cli: " << what << ": Failed to start firmware (result code " << r << ")\n";
        return CLI_REFUSED;
    }
    link_close();
    const std::string back = watch.await(serial, s.path, s.o.return_wait_s * 1000);
    if (back.empty()) {
        s.io.err << "veltranic-cli: " << what << ": the firmware was started, but the instrument (serial " << serial
                 << ") did not come back within " << s.o.return_wait_s << " s\n";
        return CLI_NO_INSTRUMENT;
    }
    s.io.out << "Firmware started; the instrument is back at " << back << "\n";
    return CLI_OK;
}

}  // namespace

int cli_info(cli_session& s) {
    cli_instrument one;
    one.path = s.path;
    if (const int r = identity_get_device_info(one.info); r != 0) return cli_failed(s, "info", r);
    if (const int r = identity_get_firmware_info(one.fw); r != 0) return cli_failed(s, "info", r);
    one.identified = true;
    char version[26];
    const bool has_version = identity_get_version_text(version) == 0;
    const bool in_bootloader = firmware_info_mode(one.fw) == FIRMWARE_MODE_BOOTLOADER;
    if (s.o.json) {
        s.io.out << json_text(cli_info_json(one, has_version ? version : nullptr));
        return CLI_OK;
    }
    s.io.out << "Name: " << one.name() << "\n"
             << "Serial Number: " << device_info_serial(one.info) << "\n"
             << "Processing Board Serial Number: " << device_info_board_serial(one.info) << "\n"
             << "State: " << one.state() << "\n"
             << "Device: " << one.type() << "\n";
    if (has_version) s.io.out << "Firmware Version: " << version << "\n";
    s.io.out << "Path: " << s.path << "\n";
    if (in_bootloader)
        s.io.out << "The instrument is in its bootloader: `veltranic-cli boot` starts its firmware, "
                    "`veltranic-cli upgrade FILE` writes new firmware.\n";
    return CLI_OK;
}

int cli_diag_log(cli_session& s) {
    if (const int r = diag_log_read_start(); r != 0) return cli_failed(s, "diag-log", r);
    // Read as the diagnostics view drains the log: record after record, with its short pause,
    // until the instrument has none ready.
    std::vector<log_record> records;
    while (int(records.size()) < DIAG_LOG_MAX_EXPORT) {
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
        log_record record;
        const int r = diag_log_read(record);
        if (r == ERR_LINK_FAILED) return cli_failed(s, "diag-log", r);
        if (r != 0) break;  // no record now: the end of what was waiting
        records.push_back(record);
    }
    if (s.o.json) return cli_deliver(s, json_text(cli_diag_log_json(records)));
    // Exactly the file that Save Diagnostics writes, lost records included.
    return cli_deliver(s, diag_log_file_text(diag_rows_from_records(records)));
}

int cli_led(cli_session& s) {
    if (const int r = diag_toggle_led(); r != 0) return cli_failed(s, "led", r);
    s.io.out << "LED toggled\n";
    return CLI_OK;
}

int cli_upgrade(cli_session& s) {
    const cli_options& o = s.o;
    firmware_info fw{};
    if (const int r = identity_get_firmware_info(fw); r != 0) return cli_failed(s, "upgrade", r);
    const uint8_t mode = firmware_info_mode(fw);
    if (o.bootloader && mode != FIRMWARE_MODE_BOOTLOADER_UPGRADE) {
        s.io.err << "veltranic-cli: upgrade: the instrument at " << s.path << " does not allow a bootloader upgrade\n";
        return CLI_REFUSED;
    }
    if (!o.bootloader && mode != FIRMWARE_MODE_BOOTLOADER) {
        s.io.err << "veltranic-cli: upgrade: the bootloader of the instrument at " << s.path
                 << " is not running (restart the instrument in its bootloader first)\n";
        return CLI_REFUSED;
    }
    if (o.bootloader && o.stay_in_bootloader)
        return cli_usage(s.io, "upgrade: --stay-in-bootloader belongs to a firmware upgrade");
    const uint32_t base = o.bootloader ? IMAGE_BASE_BOOTLOADER : IMAGE_BASE_FIRMWARE;
    upgrade_image image;
    if (const int r = upgrade_image_open(o.file.c_str(), base, image); r != 0)
        return cli_usage(s.io, "upgrade: cannot read " + o.file + ": " +
                                   (r == UPGRADE_ERR_NOT_FILE    ? std::string("not a regular file")
                                    : r == UPGRADE_ERR_TOO_LARGE ? "larger than the instrument takes (" +
                                                                       std::to_string(upgrade_image_max(base)) + " bytes at most)"
                                                                 : std::string(std::strerror(errno))));
    const uint64_t size = image.size;
    const std::string question =
        std::string(o.bootloader ? "A bootloader upgrade must be allowed to complete or the sensor will need to be "
                                   "returned to Calderwyn for repair. "
                                 : "") +
        "Write " + o.file + " (" + std::to_string(size) + " bytes) into the " + (o.bootloader ? "bootloader" : "firmware") +
        " of the instrument at " + s.path + "?";
    if (const int rc = cli_confirm(s, "upgrade", question); rc != CLI_OK) return rc;
    progress_report progress(s.io, o.progress, size);
    const std::atomic<int> stop{0};
    const upgrade_outcome out =
        upgrade_run_image(image, base, stop, [&progress](uint32_t written) { progress.update(written); });
    progress.finish();
    if (out.failed == 0) {
        s.io.out << text_printf("Upgrade complete, %u bytes written", out.bytes_written) << "\n";
        // The new firmware runs once the bootloader starts it; a bootloader upgrade ran under
        // the firmware, which goes on running.
        if (o.bootloader || o.stay_in_bootloader) return CLI_OK;
        return start_firmware(s, "upgrade");
    }
    s.io.err << "veltranic-cli: upgrade: " << text_printf("Upgrade failed after %u bytes (%d)", out.bytes_written, 1);
    if (out.error == UPGRADE_ERR_FILE) {
        s.io.err << ": " << o.file << " could not be read\n";
        return CLI_USAGE;
    }
    if (out.error == UPGRADE_ERR_CHANGED) {
        s.io.err << ": " << o.file << " changed size while it was sent\n";
        return CLI_USAGE;
    }
    if (out.error == ERR_LINK_FAILED) {
        s.io.err << ": no answer from the instrument (link failure: was it unplugged?)\n";
        return CLI_LINK_FAILED;
    }
    s.io.err << ": the instrument refused a block (result code " << out.error << ")\n";
    return CLI_REFUSED;
}

int cli_boot(cli_session& s) {
    firmware_info fw{};
    if (const int r = identity_get_firmware_info(fw); r != 0) return cli_failed(s, "boot", r);
    if (firmware_info_mode(fw) != FIRMWARE_MODE_BOOTLOADER) {
        s.io.out << "The instrument at " << s.path << " runs its firmware already; nothing was sent\n";
        return CLI_OK;
    }
    return start_firmware(s, "boot");
}
