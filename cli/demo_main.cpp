// veltranic-cli-demo: veltranic-cli with virtual instruments attached instead of the machine's:
// "SAMPLER-01" (serial 1234, running its firmware, with a few records in its sample log) and
// "HARBOUR-2" (serial 2002, its bootloader running), so every command can be tried with no
// hardware. Each run starts them afresh.
#include "cli/cli.h"
#include "instrument/sim_bus.h"
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
    sim_bus_install();
    replay_bus_install();  // --device replay:FILE
    sim_device_config sampler;
    sampler.firmware.sampler.fill_log(5, 0);
    sim_bus_add(sampler);
    sim_device_config boot;
    boot.firmware.mode = sim_mode::bootloader;
    boot.firmware.identity.name = "HARBOUR-2";
    boot.firmware.identity.serial = 2002;
    boot.firmware.identity.type_code = 1130;
    sim_bus_add(boot);
    cli_io io{std::cout, std::cerr, std::cin, cli_stdout_is_terminal(), cli_stdin_is_terminal(), cli_stderr_is_terminal()};
    const int rc = cli_run(argc, argv, io);
    sim_bus_reset();
    return cli_finish_stdout(rc);
}
