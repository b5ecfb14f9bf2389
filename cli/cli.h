// veltranic-cli: the instrument's operations from a terminal and from scripts, on the same
// cores as the windows (no record, text or command of its own).
#pragma once

#include <iosfwd>

// Exit codes.
constexpr int CLI_OK = 0;
constexpr int CLI_REFUSED = 1;        // the instrument refused, or answered an error
constexpr int CLI_USAGE = 2;          // the command line, a file it names, or the output
constexpr int CLI_NO_INSTRUMENT = 3;  // no such instrument, or it cannot be reached
constexpr int CLI_LINK_FAILED = 4;    // the link failed (no answer in time, unplugged)

struct cli_io {
    std::ostream& out;  // data: listings, logs, JSON documents, outcomes
    std::ostream& err;  // one-line errors, questions, progress
    std::istream& in;   // answers to questions; documents and passwords given as "-"
    bool tty;             // out is a terminal
    bool in_tty = false;  // in is a terminal: a question can be asked (otherwise --yes is needed)
    bool err_tty = false; // err is a terminal: progress is a bar that redraws itself
};

// Whether the program's standard streams are terminals.
bool cli_stdout_is_terminal();
bool cli_stdin_is_terminal();
bool cli_stderr_is_terminal();

// Runs one command line (argv[0] is the program). The instruments are those of the HID bus
// backends registered before the call. Leaves the link closed. Throws nothing: whatever goes
// wrong is one line on err and an exit code.
int cli_run(int argc, const char* const* argv, cli_io& io);

// The end of a program's run: flushes and closes standard output, and when that fails (a full
// disk, a closed pipe) says so on standard error and turns a success into CLI_USAGE.
int cli_finish_stdout(int rc);
