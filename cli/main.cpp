// veltranic-cli: the service tool's operations from a terminal, on the instruments attached by
// USB. `veltranic-cli --help` lists the commands.
#include "cli/cli.h"
#include "platform/hid_linux.h"

#include <iostream>

#include <unistd.h>

int main(int argc, char** argv) {
    hid_bus_register(hid_linux_backend());
    cli_io io{std::cout, std::cerr, std::cin, ::isatty(STDOUT_FILENO) != 0};
    return cli_run(argc, argv, io);
}
