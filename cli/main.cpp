// veltranic-cli: the service tool's operations from a terminal, on the instruments attached by
// USB. `veltranic-cli --help` lists the commands.
#include "cli/cli.h"
#include "platform/hid_system.h"
#include "recording/replay.h"

#include <iostream>

#ifdef _WIN32
#include <fcntl.h>
#include <io.h>
#endif

int main(int argc, char** argv) {
#ifdef _WIN32
    // The saved logs carry their own CR LF: standard output must not add a CR to every LF, so
    // that it gives byte for byte what --output writes.
    _setmode(_fileno(stdout), _O_BINARY);
#endif
    hid_bus_register(hid_system_backend());
    replay_bus_install();  // --device replay:FILE
    cli_io io{std::cout, std::cerr, std::cin, cli_stdout_is_terminal(), cli_stdin_is_terminal(), cli_stderr_is_terminal()};
    return cli_finish_stdout(cli_run(argc, argv, io));
}
