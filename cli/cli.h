// veltranic-cli: the instrument's operations from a terminal and from scripts, on the same
// cores as the windows (no record, text or command of its own).
#pragma once

#include <iosfwd>

// Exit codes.
constexpr int CLI_OK = 0;
constexpr int CLI_REFUSED = 1;        // the instrument refused, or answered an error
constexpr int CLI_USAGE = 2;          // the command line, or a file it names
constexpr int CLI_NO_INSTRUMENT = 3;  // no such instrument, or it cannot be reached
constexpr int CLI_LINK_FAILED = 4;    // the link failed (no answer in time, unplugged)

struct cli_io {
    std::ostream& out;
    std::ostream& err;
    std::istream& in;  // answers to confirmations
    bool tty;          // out is a terminal: progress is drawn as a bar, not written as lines
};

// Whether the program's standard output is a terminal.
bool cli_stdout_is_terminal();

// Runs one command line (argv[0] is the program). The instruments are those of the HID bus
// backends registered before the call. Leaves the link closed.
int cli_run(int argc, const char* const* argv, cli_io& io);
