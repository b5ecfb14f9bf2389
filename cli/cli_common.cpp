#include "cli/cli_common.h"

#include "link/command_frame.h"
#include "link/identity.h"
#include "platform/file_replace.h"

#include <cstring>
#include <istream>
#include <ostream>

int cli_usage(cli_io& io, const std::string& message) {
    io.err << "veltranic-cli: " << message << "\n";
    return CLI_USAGE;
}

int cli_failed(cli_session& s, const char* what, int code) {
    cli_io& io = s.io;
    if (code == ERR_LINK_FAILED) {
        io.err << "veltranic-cli: " << what << ": no answer from the instrument (link failure: was it unplugged?)\n";
        return CLI_LINK_FAILED;
    }
    if (code == ERR_SHORT_RESPONSE) {
        io.err << "veltranic-cli: " << what << ": the instrument's answer was too short\n";
        return CLI_REFUSED;
    }
    if (code == RESULT_UNSUPPORTED) {
        firmware_info fw{};
        if (identity_get_firmware_info(fw) == 0 && firmware_info_mode(fw) == FIRMWARE_MODE_BOOTLOADER) {
            io.err << "veltranic-cli: " << what << ": the instrument at " << s.path
                   << " is in its bootloader; start its firmware with `veltranic-cli boot`"
                      " (or write new firmware with `veltranic-cli upgrade FILE`)\n";
            return CLI_REFUSED;
        }
    }
    io.err << "veltranic-cli: " << what << ": the instrument refused (result code " << code << ")\n";
    return CLI_REFUSED;
}

int cli_confirm(cli_session& s, const char* what, const std::string& question) {
    if (s.o.yes) return CLI_OK;
    cli_io& io = s.io;
    if (!io.in_tty) {
        io.err << "veltranic-cli: " << what << ": no terminal to ask on; give --yes to go ahead. Nothing was sent\n";
        return CLI_USAGE;
    }
    io.err << question << " [y/N] " << std::flush;
    std::string answer;
    std::getline(io.in, answer);
    if (answer == "y" || answer == "Y" || answer == "yes") return CLI_OK;
    io.err << "veltranic-cli: " << what << ": not confirmed; nothing was sent\n";
    return CLI_USAGE;
}

int cli_deliver(cli_session& s, const std::string& text) {
    if (s.o.output.empty()) {
        s.io.out << text;
        return CLI_OK;
    }
    if (const int error = file_replace(s.o.output.c_str(), text); error != 0)
        return cli_usage(s.io, "cannot write " + s.o.output + ": " + std::strerror(error));
    return CLI_OK;
}

bool cli_read_document(cli_session& s, const char* what, const std::string& file, json& doc, int* rc) {
    std::string text, error;
    const bool from_stdin = file == "-";
    const bool read = from_stdin ? json_read_stream(s.io.in, text, error) : json_read_file(file, text, error);
    if (!read || !json_parse_object(text, doc, error)) {
        *rc = cli_usage(s.io, std::string(what) + ": " + (from_stdin ? "standard input" : file) + " cannot be used: " + error);
        return false;
    }
    return true;
}
