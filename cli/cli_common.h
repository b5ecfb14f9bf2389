// What every command of the command line shares: its options, the one-line errors and their
// exit codes, questions, and reading and writing files.
#pragma once

#include "backup/json_io.h"
#include "cli/cli.h"
#include "cli/cli_instruments.h"

#include <cstdint>
#include <string>

struct cli_options {
    cli_choice choice;
    unsigned timeout_ms = 3000;
    bool json = false;
    bool yes = false;
    std::string output;  // -o FILE
    std::string file;    // the FILE a command takes (image, document, backup)
    // clock set
    bool pc = false;
    std::string when;
    // upgrade
    bool bootloader = false;
    bool progress = false;
    bool stay_in_bootloader = false;
    unsigned return_wait_s = 20;  // how long an instrument may take to come back after its firmware starts
    // run start
    std::string mode;
    std::string cartridges, volume, minutes;
    bool clean = false;
    // settings, restore
    std::string block;
    bool factory = false;
    bool identity = false;
    bool force = false;
    std::string password_file;
};

// The instrument a command runs on, once opened.
struct cli_session {
    cli_io& io;
    const cli_options& o;
    std::string path;
};

// "veltranic-cli: <message>" on err; CLI_USAGE.
int cli_usage(cli_io& io, const std::string& message);
// One line on err that names what failed, and the exit code for it (shared by every command).
// An instrument that answers 9 (not implemented) while its bootloader runs is said to be in
// its bootloader, with how to leave it.
int cli_failed(cli_session& s, const char* what, int code);

// Asks a yes/no question on err and reads the answer from in. Without a terminal on standard
// input nothing can be asked: --yes is needed. Returns CLI_OK to go on, else the exit code
// (CLI_USAGE: declined, or no terminal) after saying nothing was sent.
int cli_confirm(cli_session& s, const char* what, const std::string& question);

// Writes text to the file named by -o (whole or not at all), or to out.
int cli_deliver(cli_session& s, const std::string& text);

// Reads a JSON document from FILE, or from standard input for "-". False after a one-line
// error (exit code in *rc).
bool cli_read_document(cli_session& s, const char* what, const std::string& file, json& doc, int* rc);
