// veltranic-cli on a device node: the Linux backend drives a pseudo-terminal whose far end is the
// firmware model, so every command goes through --device PATH, the node check and the real
// transport, with the exit codes it gives.
#include "cli_fixture.h"

#include "platform/hid_linux.h"
#include "pty_instrument.h"

namespace {

class CliDeviceTest : public CliTest {
protected:
    void SetUp() override {
        CliTest::SetUp();
        hid_bus_register(hid_linux_backend());
    }
    void TearDown() override {
        link_close();
        hid_bus_unregister(hid_linux_backend());
        CliTest::TearDown();
    }
};

TEST_F(CliDeviceTest, EveryCommandRunsOnADeviceNode) {
    PtyInstrument dev;
    ASSERT_TRUE(dev.ok());
    dev.with_firmware([](sim_firmware& fw) { fw.sampler.fill_log(3, 0); });
    const std::string backup = dir + "/backup.json";
    const std::vector<std::vector<std::string>> commands = {
        {"info"}, {"status", "--json"}, {"sample-log"}, {"diag-log"}, {"clock", "get"},
        {"clock", "set", "2027-01-01 12:00:00"}, {"schedule", "get", "--json"},
        {"schedule", "set", write("s.json", R"({"autostart": true})")}, {"settings", "get", "--json"},
        {"settings", "set", "flow-meter", write("f.json", R"({"pulses_per_litre": 9999})")}, {"led"},
        {"run", "start", "--mode", "load", "--cartridges", "1"}, {"run", "stop"}, {"backup", backup},
        {"restore", backup, "--yes"}, {"sample-log", "clear", "--yes"}};
    for (std::vector<std::string> args : commands) {
        args.insert(args.begin(), {"--device", dev.path()});
        const cli_result r = run(args);
        EXPECT_EQ(r.rc, CLI_OK) << testing::PrintToString(args) << "\n" << r.err;
    }
    dev.with_firmware([](sim_firmware& fw) {
        EXPECT_TRUE(fw.sampler.log.empty());
        EXPECT_EQ(fw.schedule.record[1], 1);
    });
    EXPECT_EQ(parse(run({"--device", dev.path(), "settings", "get", "flow-meter", "--json"}))["pulses_per_litre"], 9999);

    // The instrument's refusal, and the link lost.
    dev.with_firmware([](sim_firmware& fw) { fw.forced_results[CMD_GET_STATUS] = 4; });
    EXPECT_EQ(run({"--device", dev.path(), "status"}).rc, CLI_REFUSED);
    dev.hang_up();
    // Its node goes with it: no such instrument any more.
    EXPECT_EQ(run({"--device", dev.path(), "--timeout", "200", "status"}).rc, CLI_NO_INSTRUMENT);
}

}  // namespace
