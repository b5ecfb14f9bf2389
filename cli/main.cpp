// veltranic-cli: the service tool's operations from a terminal, on the instruments attached by
// USB. `veltranic-cli --help` lists the commands.
#include "cli/cli.h"
#include "platform/hid_system.h"

#include <iostream>

int main(int argc, char** argv) {
    hid_bus_register(hid_system_backend());
    cli_io io{std::cout, std::cerr, std::cin, cli_stdout_is_terminal(), cli_stdin_is_terminal(), cli_stderr_is_terminal()};
    return cli_finish_stdout(cli_run(argc, argv, io));
}
