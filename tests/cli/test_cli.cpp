// veltranic-cli against virtual instruments: what it prints, what it sends, and its exit codes.
#include "cli_fixture.h"

#include "platform/hid_bus.h"
#include "platform/pc_clock.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <ctime>

namespace {

TEST_F(CliTest, ListShowsEveryInstrumentAsTheConnectViewDoes) {
    sim_bus_add(named("RIVER-1", 101));
    sim_device_config boot = named("HARBOUR-2", 2002, sim_mode::bootloader);
    boot.firmware.identity.type_code = 1130;
    sim_bus_add(boot);
    const cli_result plain = run({"list"});
    ASSERT_EQ(plain.rc, CLI_OK) << plain.err;
    std::istringstream lines(plain.out);
    std::string caption, first, second, none;
    std::getline(lines, caption);
    std::getline(lines, first);
    std::getline(lines, second);
    EXPECT_FALSE(std::getline(lines, none));
    EXPECT_EQ(caption.rfind("Name ", 0), 0u);
    EXPECT_EQ(first,
              "RIVER-1              101           Firmware           A1100 Cartridge Sampler                  sim:1");
    EXPECT_EQ(second,
              "HARBOUR-2            2002          Bootloader (v3)    A1130 Mooring Sampler                    sim:2");

    const auto list = parse(run({"list", "--json"}))["instruments"];
    ASSERT_EQ(list.size(), 2u);
    EXPECT_EQ(list[0]["name"], "RIVER-1");
    EXPECT_EQ(list[0]["serial"], 101);
    EXPECT_EQ(list[0]["state"], "firmware");
    EXPECT_EQ(list[1]["state"], "bootloader");
    EXPECT_EQ(list[1]["state_text"], "Bootloader (v3)");
    EXPECT_EQ(list[1]["type"], "A1130 Mooring Sampler");
    EXPECT_EQ(list[1]["path"], "sim:2");
}

TEST_F(CliTest, TheInstrumentIsChosenByPathSerialOrNameAndOnlyWhenItIsClear) {
    sim_bus_add(named("RIVER-1", 101));
    sim_bus_add(named("RIVER-2", 102));
    cli_result r = run({"info"});
    EXPECT_EQ(r.rc, CLI_USAGE);
    EXPECT_NE(r.err.find("2 instruments are attached; choose one with --device, --serial or --name"), std::string::npos);
    EXPECT_NE(r.err.find("RIVER-2"), std::string::npos) << "the error lists the instruments";

    r = run({"info", "--serial", "102"});
    ASSERT_EQ(r.rc, CLI_OK) << r.err;
    EXPECT_NE(r.out.find("Name: RIVER-2\n"), std::string::npos);
    r = run({"--name", "RIVER-1", "info"});
    ASSERT_EQ(r.rc, CLI_OK) << r.err;
    EXPECT_NE(r.out.find("Serial Number: 101\n"), std::string::npos);
    const auto info = parse(run({"info", "--device", "sim:2", "--json"}));
    EXPECT_EQ(info["name"], "RIVER-2");
    EXPECT_EQ(info["board_serial"], 5678);
    EXPECT_EQ(info["firmware_version"], "2.4.1 (sim)");

    EXPECT_EQ(run({"info", "--serial", "999"}).rc, CLI_NO_INSTRUMENT);
    EXPECT_EQ(run({"info", "--device", "sim:9"}).rc, CLI_NO_INSTRUMENT);
    sim_bus_reset();
    r = run({"status"});
    EXPECT_EQ(r.rc, CLI_NO_INSTRUMENT);
    EXPECT_EQ(r.err, "veltranic-cli: no instrument is attached\n");
}

TEST_F(CliTest, UsageErrorsAreOneLineWithCodeTwoAndHelpNamesEveryOption) {
    sim_bus_add(named("RIVER-1", 101));
    auto one_line = [](const cli_result& r) {
        return r.err.rfind("veltranic-cli: ", 0) == 0 && std::count(r.err.begin(), r.err.end(), '\n') == 1;
    };
    for (const std::vector<std::string>& bad :
         {std::vector<std::string>{"frobnicate"}, {}, {"status", "--timeout", "0"}, {"status", "--serial", "70000"},
          {"status", "--serial", "abc"}, {"status", "--bogus"}, {"clock"}, {"schedule", "set"},
          {"upgrade", dir + "/missing.bin", "--yes"}}) {
        const cli_result r = run(bad);
        EXPECT_EQ(r.rc, CLI_USAGE) << testing::PrintToString(bad);
        EXPECT_TRUE(one_line(r)) << r.err;
    }
    EXPECT_NE(run({"status", "--serial", "abc"}).err.find("\"abc\" is not a serial number"), std::string::npos);

    // --json is honoured or refused, never ignored; a refusal sends nothing.
    auto dev = sim_bus_find("sim:1");
    dev->clear_requests();
    for (const std::vector<std::string>& args :
         {std::vector<std::string>{"led"}, {"run", "stop"}, {"boot"}, {"backup", dir + "/b.json"},
          {"sample-log", "clear", "--yes"}, {"upgrade", image(10), "--yes"}}) {
        std::vector<std::string> with_json = args;
        with_json.push_back("--json");
        const cli_result r = run(with_json);
        EXPECT_EQ(r.rc, CLI_USAGE) << args[0];
        EXPECT_NE(r.err.find("--json"), std::string::npos) << r.err;
    }
    EXPECT_EQ(dev->request_count(), 0u);

    cli_result r = run({"--help"});
    EXPECT_EQ(r.rc, CLI_OK);
    for (const char* command : {"list", "info", "status", "sample-log", "diag-log", "clock", "schedule", "run", "led",
                                "settings", "backup", "restore", "upgrade", "boot"})
        EXPECT_NE(r.out.find(std::string("  ") + command + " "), std::string::npos) << command;
    r = run({"schedule", "set", "--help"});
    EXPECT_EQ(r.rc, CLI_OK);
    EXPECT_NE(r.out.find("veltranic-cli schedule set"), std::string::npos) << r.out;
    for (const char* option : {"--device PATH", "--serial N", "--name NAME", "--timeout MS", "--json"})
        EXPECT_NE(r.out.find(option), std::string::npos) << option;
    r = run({"--version"});
    EXPECT_EQ(r.rc, CLI_OK);
    EXPECT_EQ(r.out.rfind("veltranic-cli ", 0), 0u);

    // The bash completion offers every command and every option the program takes.
    std::ifstream completion(VELTRANIC_SOURCE_DIR "/packaging/veltranic-cli.bash-completion");
    std::stringstream script;
    script << completion.rdbuf();
    ASSERT_FALSE(script.str().empty());
    for (const char* word : {" list ", " info ", " status ", " sample-log ", " diag-log ", " clock ", " schedule ", " run ",
                             " led ", " settings ", " backup ", " restore ", " upgrade ", " boot ", "--stay-in-bootloader",
                             "--progress", "--bootloader", "--identity", "--force", "--factory", "--password-file",
                             "--clean", "--minutes", "--pc", "--wait", "--record", "clear", "motors pressure schedule"})
        EXPECT_NE(script.str().find(word), std::string::npos) << word;
}

TEST_F(CliTest, StatusPrintsTheRunViewsWordsAndJsonCarriesTheSameValues) {
    sim_device_config c = named("RIVER-1", 101);
    c.firmware.sampler.top_cartridge = 7;
    c.firmware.sampler.max_pressure = 1.7f;
    auto dev = sim_bus_add(c);
    dev->use_stepped_clock(true);
    cli_result r = run({"status"});
    ASSERT_EQ(r.rc, CLI_OK) << r.err;
    EXPECT_EQ(r.out,
              "Top Cartridge: 7\n"
              "Sampler Clock Time Now: 07/12/2026 09:05\n"
              "Control: Manual (GUI or vehicle)\n"
              "Current Schedule Waypoint: not running schedule\n"
              "Sampler State: Idle\n"
              "Run Status: OK\n"
              "Flow volume: 0.000 litre\n"
              "Max pressure: 1.700 bar\n");
    r = run({"status", "--json"});
    const auto j = parse(r);
    EXPECT_EQ(j["format"], 1);
    EXPECT_EQ(j["state"], "idle");
    EXPECT_EQ(j["texts"]["state"], "Sampler State: Idle");
    EXPECT_EQ(j["control"], "manual");
    EXPECT_EQ(j["top_cartridge"], 7);
    EXPECT_EQ(j["clock"], "2026-12-07T09:05:00");
    EXPECT_EQ(j["clock_device_time"], 1796634300u);
    EXPECT_TRUE(j["next_event"].is_null());
    // The single-precision value in its shortest decimal form, not its double expansion.
    EXPECT_NE(r.out.find("\"max_pressure_bar\": 1.7,"), std::string::npos) << r.out;
}

TEST_F(CliTest, SampleLogGoesToStandardOutputOrWholeIntoAFile) {
    sim_device_config c = named("RIVER-1", 101);
    c.firmware.sampler.fill_log(3, 0);
    c.firmware.sampler.log[1].max_pressure = 1.25f;
    sim_bus_add(c);
    const cli_result r = run({"sample-log"});
    ASSERT_EQ(r.rc, CLI_OK) << r.err;
    std::istringstream lines(r.out);
    std::string line;
    int count = 0;
    while (std::getline(lines, line)) {
        ++count;
        EXPECT_EQ(std::count(line.begin(), line.end(), ','), 6) << line;
    }
    EXPECT_EQ(count, 4);
#ifdef _WIN32
    const std::string eol = "\r\n";  // as every saved log there
#else
    const std::string eol = "\n";
#endif
    EXPECT_NE(r.out.find(",stabilized full sample,complete,2.500,1.250" + eol), std::string::npos) << r.out;

    const std::string path = dir + "/samples.log";
    ASSERT_EQ(run({"sample-log", "-o", path}).rc, CLI_OK);
    std::ifstream in(path, std::ios::binary);
    std::stringstream written;
    written << in.rdbuf();
    EXPECT_EQ(written.str(), r.out);

#ifndef _WIN32
    const cli_result full = run({"sample-log", "-o", "/dev/full"});
    EXPECT_EQ(full.rc, CLI_USAGE);
    EXPECT_NE(full.err.find("cannot write /dev/full"), std::string::npos);
#endif
    const cli_result nowhere = run({"sample-log", "-o", dir + "/no/such/folder/samples.log"});
    EXPECT_EQ(nowhere.rc, CLI_USAGE);
    EXPECT_NE(nowhere.err.find("cannot write "), std::string::npos);

    const auto records = parse(run({"sample-log", "--json"}))["records"];
    ASSERT_EQ(records.size(), 3u);
    EXPECT_EQ(records[1]["max_pressure_bar"], 1.25);
    EXPECT_EQ(records[1]["treatment"], "stabilized_full_sample");
    EXPECT_EQ(records[1]["treatment_text"], "stabilized full sample");
    EXPECT_EQ(records[1]["stop_reason"], "complete");
}

// A stream that takes nothing, as standard output on a full disk or a closed pipe.
struct refusing_buffer : std::streambuf {
    int overflow(int) override { return traits_type::eof(); }
    std::streamsize xsputn(const char*, std::streamsize) override { return 0; }
};

TEST_F(CliTest, OutputThatCannotBeWrittenIsAFailureNotASuccess) {
    sim_device_config c = named("RIVER-1", 101);
    c.firmware.sampler.fill_log(3, 0);
    sim_bus_add(c);
    for (const std::vector<std::string>& args :
         {std::vector<std::string>{"sample-log"}, {"list"}, {"status", "--json"}, {"--version"}}) {
        refusing_buffer nowhere;
        std::ostream out(&nowhere);
        const cli_result r = run_to(out, args);
        EXPECT_EQ(r.rc, CLI_USAGE) << args[0];
        EXPECT_EQ(r.err, "veltranic-cli: cannot write standard output\n") << args[0];
    }
}

TEST_F(CliTest, TextsThatAreNotUtf8BecomeReplacementCharactersInJson) {
    sim_device_config c = named("CAF\xE9-1", 101);  // a Latin-1 byte
    c.firmware.identity.version_text = "2.4\xB1";
    auto dev = sim_bus_add(c);
    sim_bus_add(named("RIVER-2", 102));
    dev->use_stepped_clock(true);
    dev->with_firmware([](sim_firmware& fw) {
        fw.diag.debug_rate = 0;
        // 70 bytes and a two-byte character: the 71-byte field cuts it in half.
        sim_diag_write(fw.diag, 3, 1, "pump", 7, std::string(70, 'x') + "\xC3\xA9");
    });
    const cli_result list = run({"list", "--json"});
    ASSERT_EQ(list.rc, CLI_OK) << list.err;
    const auto j = parse(list);
    ASSERT_EQ(j["instruments"].size(), 2u) << "one odd name loses no instrument";
    EXPECT_EQ(j["instruments"][0]["name"], "CAF\xEF\xBF\xBD-1");
    EXPECT_EQ(parse(run({"info", "--device", "sim:1", "--json"}))["firmware_version"], "2.4\xEF\xBF\xBD");
    const std::string file = dir + "/diag.json";
    ASSERT_EQ(run({"diag-log", "--json", "--device", "sim:1", "-o", file}).rc, CLI_OK);
    std::ifstream in(file);
    const auto records = nlohmann::json::parse(in)["records"];
    ASSERT_EQ(records.size(), 2u);
    EXPECT_EQ(records[1]["message"], std::string(70, 'x') + "\xEF\xBF\xBD");
    EXPECT_EQ(records[1]["severity"], "error");
}

TEST_F(CliTest, AnInstrumentUnpluggedMidCommandIsALinkFailure) {
    auto dev = sim_bus_add(named("RIVER-1", 101));
    dev->unplug_on_next_request();
    const cli_result r = run({"status", "--device", "sim:1", "--timeout", "200"});
    EXPECT_EQ(r.rc, CLI_LINK_FAILED);
    EXPECT_EQ(r.err, "veltranic-cli: status: no answer from the instrument (link failure: was it unplugged?)\n");
    sim_bus_add(named("RIVER-2", 102))->force_result(CMD_GET_STATUS, 4);
    const cli_result refused = run({"status", "--device", "sim:2"});
    EXPECT_EQ(refused.rc, CLI_REFUSED);
    EXPECT_NE(refused.err.find("result code 4"), std::string::npos);
}

// An instrument that is attached but that this user may not open (its node is there, as a
// device node is).
#ifdef _WIN32
const char* const DENIED_PATH = "\\\\?\\hid#denied";
#else
const char* const DENIED_PATH = "/dev/null";
#endif
void denied_enumerate(void*, std::vector<hid_device_desc>& out) {
    hid_device_desc d;
    d.path = DENIED_PATH;
    d.hardware_ids = std::string("HID\\VID_04D8&PID_EABD&REV_0100\0", 31);
    d.access_denied = true;
    out.push_back(d);
}
void* denied_open(void*, const char*) { return nullptr; }
const hid_backend DENIED_BACKEND = {"denied:", nullptr, denied_enumerate, denied_open, nullptr, nullptr, nullptr,
                                    nullptr, nullptr, nullptr, nullptr, nullptr, nullptr};

TEST_F(CliTest, AnInstrumentWithoutPermissionIsNamedWithItsFix) {
    hid_bus_register(&DENIED_BACKEND);
    const cli_result list = run({"list"});
    const cli_result status = run({"status"});
    const cli_result direct = run({"status", "--device", DENIED_PATH});
    const auto j = parse(run({"list", "--json"}));
    hid_bus_unregister(&DENIED_BACKEND);
    const std::string hint = std::string("veltranic-cli: no permission to open the instrument at ") + DENIED_PATH +
                             ": install the veltranic package (or its udev rule), then unplug and re-plug it\n";
    EXPECT_EQ(list.rc, CLI_NO_INSTRUMENT);
    EXPECT_EQ(list.err, hint);
    EXPECT_EQ(status.rc, CLI_NO_INSTRUMENT);
    EXPECT_EQ(status.err, hint);
    EXPECT_EQ(direct.rc, CLI_NO_INSTRUMENT);
    EXPECT_EQ(direct.err, hint);
    ASSERT_EQ(j["instruments"].size(), 1u);
    EXPECT_EQ(j["instruments"][0]["accessible"], false);
}

#ifndef _WIN32
TEST_F(CliTest, DeviceMustBeADeviceNodeAndNothingElseIsOpened) {
    const std::string notes = write("notes.txt", std::string(300, 'n'));
    for (const std::string& path : {notes, dir}) {
        const cli_result r = run({"--device", path, "status"});
        EXPECT_EQ(r.rc, CLI_USAGE) << path;
        EXPECT_NE(r.err.find("--device " + path + ": it is a "), std::string::npos) << r.err;
    }
    EXPECT_EQ(run({"--device", "/no/such/node", "status"}).rc, CLI_NO_INSTRUMENT);
    std::ifstream in(notes, std::ios::binary);
    std::stringstream kept;
    kept << in.rdbuf();
    EXPECT_EQ(kept.str(), std::string(300, 'n')) << "the file was written to";
}
#endif

TEST_F(CliTest, UpgradeWritesTheImageAndStartsTheNewFirmware) {
    auto dev = sim_bus_add(named("HARBOUR-2", 2002, sim_mode::bootloader));
    dev->set_reenumerate_delay(10);
    const std::string path = image(1000);
    // Declined, or nobody at a terminal to ask: nothing is sent, and that is no refusal by the
    // instrument.
    cli_result r = run({"upgrade", path}, "n\n", {false, true, false});
    EXPECT_EQ(r.rc, CLI_USAGE);
    r = run({"upgrade", path}, "y\n");
    EXPECT_EQ(r.rc, CLI_USAGE);
    EXPECT_NE(r.err.find("give --yes"), std::string::npos) << r.err;
    EXPECT_TRUE(sent(dev, CMD_WRITE_IMAGE_BLOCK).empty());

    r = run({"upgrade", path, "--progress"}, "y\n", {false, true, false});
    ASSERT_EQ(r.rc, CLI_OK) << r.err;
    EXPECT_EQ(r.out, "Upgrade complete, 1000 bytes written\nFirmware started; the instrument is back at sim:1\n");
    EXPECT_NE(r.err.find("Upgrade running, 64 bytes written\n"), std::string::npos) << r.err;
    dev->with_firmware([&](sim_firmware& fw) {
        EXPECT_EQ(fw.installed_firmware.size(), 1000u);
        EXPECT_EQ(fw.installed_crc, sim_crc32(content.data(), content.size()));
        EXPECT_EQ(fw.mode, sim_mode::firmware);
    });
    const auto blocks = sent(dev, CMD_WRITE_IMAGE_BLOCK);
    ASSERT_EQ(blocks.size(), 17u);  // 15 full blocks, one of 40 bytes, the end block
    EXPECT_EQ(get_u32le(frame_payload(blocks.back()) + 5), 0u);
    EXPECT_EQ(get_u32le(frame_payload(blocks.back()) + 73), 40960u);
    EXPECT_EQ(sent(dev, CMD_START_FIRMWARE).size(), 1u);

    // Progress is a bar on a terminal, and nothing without one; never on standard output.
    dev->restart([](sim_firmware& fw) { fw.mode = sim_mode::bootloader; });
    r = run({"upgrade", path, "--yes", "--stay-in-bootloader"}, "", {false, false, true});
    ASSERT_EQ(r.rc, CLI_OK) << r.err;
    EXPECT_NE(r.err.find("\r["), std::string::npos);
    EXPECT_EQ(r.out, "Upgrade complete, 1000 bytes written\n");
    dev->with_firmware([](sim_firmware& fw) { EXPECT_EQ(fw.mode, sim_mode::bootloader); });
    r = run({"upgrade", path, "--yes", "--stay-in-bootloader"});
    ASSERT_EQ(r.rc, CLI_OK);
    EXPECT_EQ(r.err, "");
}

TEST_F(CliTest, AnInstrumentInItsBootloaderIsToldHowToLeaveIt) {
    auto dev = sim_bus_add(named("HARBOUR-2", 2002, sim_mode::bootloader));
    dev->set_reenumerate_delay(10);
    cli_result r = run({"status"});
    EXPECT_EQ(r.rc, CLI_REFUSED);
    EXPECT_NE(r.err.find("is in its bootloader; start its firmware with `veltranic-cli boot`"), std::string::npos) << r.err;
    EXPECT_EQ(r.err.find("result code 9"), std::string::npos);
    r = run({"info"});
    EXPECT_NE(r.out.find("`veltranic-cli boot` starts its firmware"), std::string::npos);

    r = run({"boot"});
    ASSERT_EQ(r.rc, CLI_OK) << r.err;
    EXPECT_EQ(r.out, "Firmware started; the instrument is back at sim:1\n");
    EXPECT_EQ(run({"status"}).rc, CLI_OK);
    r = run({"boot"});
    EXPECT_EQ(r.rc, CLI_OK);
    EXPECT_NE(r.out.find("runs its firmware already"), std::string::npos);
    EXPECT_EQ(sent(dev, CMD_START_FIRMWARE).size(), 1u);

    // An instrument that does not come back within the wait is reported, not waited for forever.
    dev->restart([](sim_firmware& fw) { fw.mode = sim_mode::bootloader; fw.mode_after_start = sim_mode::bootloader; });
    r = run({"boot", "--wait", "1"});
    EXPECT_EQ(r.rc, CLI_NO_INSTRUMENT);
    EXPECT_NE(r.err.find("did not come back"), std::string::npos);
}

TEST_F(CliTest, ARefusedBlockEndsTheUpgradeWithoutTheEndBlock) {
    auto dev = sim_bus_add(named("HARBOUR-2", 2002, sim_mode::bootloader));
    dev->with_firmware([](sim_firmware& fw) { fw.refuse_block = 3; });
    const cli_result r = run({"upgrade", image(640), "--yes"});
    EXPECT_EQ(r.rc, CLI_REFUSED);
    EXPECT_EQ(r.err, "veltranic-cli: upgrade: Upgrade failed after 192 bytes (1): the instrument refused a block (result code 6)\n");
    const auto blocks = sent(dev, CMD_WRITE_IMAGE_BLOCK);
    ASSERT_EQ(blocks.size(), 4u);
    for (const auto& b : blocks) EXPECT_NE(get_u32le(frame_payload(b) + 5), 0u) << "an end block was sent";
    dev->with_firmware([](sim_firmware& fw) { EXPECT_TRUE(fw.installed_firmware.empty()); });
    EXPECT_TRUE(sent(dev, CMD_START_FIRMWARE).empty());
}

#ifndef _WIN32  // a device file
TEST_F(CliTest, AnImageThatIsNoRegularFileIsRefusedBeforeAnyBlock) {
    auto dev = sim_bus_add(named("HARBOUR-2", 2002, sim_mode::bootloader));
    const cli_result r = run({"upgrade", "/dev/zero", "--yes"});
    EXPECT_EQ(r.rc, CLI_USAGE);
    EXPECT_EQ(r.err, "veltranic-cli: upgrade: cannot read /dev/zero: not a regular file\n");
    EXPECT_TRUE(sent(dev, CMD_WRITE_IMAGE_BLOCK).empty());
}
#endif

TEST_F(CliTest, TheBootloaderIsUpgradedOnlyWhereTheInstrumentAllowsIt) {
    auto plain = sim_bus_add(named("RIVER-1", 101));
    cli_result r = run({"upgrade", image(100), "--bootloader", "--yes", "--device", "sim:1"});
    EXPECT_EQ(r.rc, CLI_REFUSED);
    EXPECT_NE(r.err.find("does not allow a bootloader upgrade"), std::string::npos);
    r = run({"upgrade", image(100), "--yes", "--device", "sim:1"});
    EXPECT_EQ(r.rc, CLI_REFUSED);  // a firmware image needs the bootloader running
    EXPECT_TRUE(sent(plain, CMD_WRITE_IMAGE_BLOCK).empty());

    auto allows = sim_bus_add(named("RIVER-2", 102, sim_mode::firmware_bootloader_upgrade));
    r = run({"upgrade", image(100), "--bootloader", "--yes", "--device", "sim:2"});
    ASSERT_EQ(r.rc, CLI_OK) << r.err;
    allows->with_firmware([&](sim_firmware& fw) { EXPECT_EQ(fw.installed_bootloader, content); });
    for (const auto& b : sent(allows, CMD_WRITE_IMAGE_BLOCK)) EXPECT_EQ(get_u32le(frame_payload(b) + 73), 0u);
    EXPECT_TRUE(sent(allows, CMD_START_FIRMWARE).empty()) << "the firmware runs on after a bootloader upgrade";
}

TEST_F(CliTest, RunsStartAndStopAsTheRunViewSendsThem) {
    auto dev = sim_bus_add(named("RIVER-1", 101));
    dev->use_stepped_clock(true);
    pc_clock_pin(1796634300);
    cli_result r = run({"run", "start", "--mode", "sample", "--cartridges", "2", "--volume", "2.56", "--minutes", "5",
                        "--clean"});
    pc_clock_pin(0);
    ASSERT_EQ(r.rc, CLI_OK) << r.err;
    auto starts = sent(dev, CMD_START_RUN);
    ASSERT_EQ(starts.size(), 1u);
    // 2.56 litres are 25 tenths by the run view's rule (x 10 + 0.01, cut toward zero).
    const uint8_t expected[10] = {0, 1, 2, 25, 5, 1, 0xBC, 0x76, 0x16, 0x6B};  // 1796634300
    EXPECT_EQ(starts[0].bytes[FRAME_LENGTH], 10);
    EXPECT_EQ(std::vector<uint8_t>(frame_payload(starts[0]), frame_payload(starts[0]) + 10),
              std::vector<uint8_t>(expected, expected + 10));

    // Starting while a run goes starts nothing.
    r = run({"run", "start", "--mode", "load", "--cartridges", "1"});
    EXPECT_EQ(r.rc, CLI_REFUSED);
    EXPECT_NE(r.err.find("a run is going"), std::string::npos) << r.err;
    EXPECT_EQ(sent(dev, CMD_START_RUN).size(), 1u);
    ASSERT_EQ(run({"run", "stop"}).rc, CLI_OK);
    EXPECT_EQ(sent(dev, CMD_STOP_RUN).size(), 1u);
    EXPECT_TRUE(sent(dev, CMD_STOP_SCHEDULE).empty());

    // The schedule: started, then stopped by the schedule's own stop.
    ASSERT_EQ(run({"run", "start", "--mode", "schedule"}).rc, CLI_OK);
    EXPECT_EQ(sent(dev, CMD_START_SCHEDULE).size(), 1u);
    r = run({"run", "stop"});
    ASSERT_EQ(r.rc, CLI_OK) << r.err;
    EXPECT_EQ(r.out, "Schedule stopped\n");
    EXPECT_EQ(sent(dev, CMD_STOP_SCHEDULE).size(), 1u);
    EXPECT_EQ(run({"run", "stop"}).out, "Nothing is running; nothing was sent\n");

    // Values the form would not send as typed are refused, and nothing goes out.
    dev->clear_requests();
    for (const std::vector<std::string>& bad :
         {std::vector<std::string>{"--mode", "sample", "--cartridges", "2", "--volume", "30", "--minutes", "5"},
          {"--mode", "sample", "--cartridges", "300", "--volume", "1", "--minutes", "5"},
          {"--mode", "sample", "--cartridges", "2", "--volume", "1,5", "--minutes", "5"},
          {"--mode", "sample", "--cartridges", "2", "--volume", "1"},
          {"--mode", "prime", "--cartridges", "2", "--volume", "1"},
          {"--mode", "schedule", "--cartridges", "2"},
          {"--mode", "drain"}}) {
        std::vector<std::string> args{"run", "start"};
        args.insert(args.end(), bad.begin(), bad.end());
        EXPECT_EQ(run(args).rc, CLI_USAGE) << testing::PrintToString(bad);
    }
    EXPECT_TRUE(sent(dev, CMD_START_RUN).empty());
    EXPECT_TRUE(sent(dev, CMD_START_SCHEDULE).empty());

    dev->force_result(CMD_START_RUN, 2);
    r = run({"run", "start", "--mode", "prime", "--cartridges", "1"});
    EXPECT_EQ(r.rc, CLI_REFUSED);
    EXPECT_EQ(r.err, "veltranic-cli: run start: Unable to start device - check power supply (result code 2)\n");
}

TEST_F(CliTest, LedAndClearingTheSampleLog) {
    sim_device_config c = named("RIVER-1", 101);
    c.firmware.sampler.fill_log(3, 0);
    auto dev = sim_bus_add(c);
    ASSERT_EQ(run({"led"}).rc, CLI_OK);
    EXPECT_EQ(sent(dev, CMD_TOGGLE_LED).size(), 1u);

    // No terminal to ask on and no --yes: nothing is sent.
    cli_result r = run({"sample-log", "clear"});
    EXPECT_EQ(r.rc, CLI_USAGE);
    r = run({"sample-log", "clear"}, "n\n", {false, true, false});
    EXPECT_EQ(r.rc, CLI_USAGE);
    EXPECT_NE(r.err.find("This will clear the log on the sampler. Do you want to continue?"), std::string::npos);
    EXPECT_TRUE(sent(dev, CMD_CLEAR_SAMPLE_LOG).empty());
    r = run({"sample-log", "clear"}, "y\n", {false, true, false});
    ASSERT_EQ(r.rc, CLI_OK) << r.err;
    EXPECT_EQ(sent(dev, CMD_CLEAR_SAMPLE_LOG).size(), 1u);
    dev->with_firmware([](sim_firmware& fw) { EXPECT_TRUE(fw.sampler.log.empty()); });

    // Not while a run goes: Clear Log is there only while the sampler is idle.
    ASSERT_EQ(run({"run", "start", "--mode", "load", "--cartridges", "1"}).rc, CLI_OK);
    EXPECT_EQ(run({"sample-log", "clear", "--yes"}).rc, CLI_REFUSED);
    EXPECT_EQ(sent(dev, CMD_CLEAR_SAMPLE_LOG).size(), 1u);
}

TEST_F(CliTest, DiagLogDrainsWhatIsWaitingAndNeedsTheLogStart) {
    auto dev = sim_bus_add(named("RIVER-1", 101));
    dev->use_stepped_clock(true);
    dev->with_firmware([](sim_firmware& fw) {
        fw.diag.debug_rate = 0;
        sim_diag_write(fw.diag, 3, 1, "pump", 7, "Flow low, 0.5 l/min");
    });
    const auto records = parse(run({"diag-log", "--json"}))["records"];
    ASSERT_EQ(records.size(), 2u);  // "Restarted after reset" at power-up, then the pump's
    EXPECT_EQ(records[0]["message"], "Restarted after reset");
    EXPECT_EQ(records[1]["task"], 3);
    EXPECT_EQ(records[1]["severity_text"], "E");
    EXPECT_EQ(records[1]["message"], "Flow low, 0.5 l/min");
    EXPECT_GT(records[1]["counter"].get<int>(), records[0]["counter"].get<int>());

    dev->force_result(CMD_LOG_READ_START, 4);
    const cli_result r = run({"diag-log"});
    EXPECT_EQ(r.rc, CLI_REFUSED);
    EXPECT_EQ(r.err, "veltranic-cli: diag-log: the instrument refused (result code 4)\n");
    EXPECT_TRUE(r.out.empty());
}

TEST_F(CliTest, ClockGetAndSetWithTheDialogsFields) {
    auto dev = sim_bus_add(named("RIVER-1", 101));
    dev->use_stepped_clock(true);
    cli_result r = run({"clock", "get"});
    ASSERT_EQ(r.rc, CLI_OK) << r.err;
    EXPECT_EQ(r.out, "07/12/2026 09:05:00\n");
    const auto j = parse(run({"clock", "get", "--json"}));
    EXPECT_EQ(j["time"], "2026-12-07T09:05:00");
    EXPECT_EQ(j["device_time"], 1796634300u);

    dev->clear_requests();
    r = run({"clock", "set", "2028-02-29 23:59:58"});
    ASSERT_EQ(r.rc, CLI_OK) << r.err;
    auto sets = sent(dev, CMD_SET_CLOCK);
    ASSERT_EQ(sets.size(), 1u);
    const uint8_t expected[8] = {0, 0xEC, 0x07, 2, 29, 23, 59, 58};  // 2028 = 0x07EC
    EXPECT_EQ(sets[0].bytes[FRAME_LENGTH], 8);
    EXPECT_EQ(std::memcmp(frame_payload(sets[0]), expected, 8), 0);
    EXPECT_EQ(run({"clock", "get"}).out, "29/02/2028 23:59:58\n");
    EXPECT_EQ(parse(run({"clock", "set", "2028-03-01T00:00:00", "--json"}))["time"], "2028-03-01T00:00:00");

    // Moments the clock cannot hold, and a set without a moment, send nothing.
    dev->clear_requests();
    for (const char* bad : {"2027-02-29 10:00:00", "2038-01-19 03:14:08", "2026-13-01 00:00:00", "2026-12-08 23:59:60",
                            "yesterday", "2026-12-08 10:00:00 extra", "2026-12-08 +1:00:00"})
        EXPECT_EQ(run({"clock", "set", bad}).rc, CLI_USAGE) << bad;
    EXPECT_EQ(run({"clock", "set"}).rc, CLI_USAGE);
    EXPECT_EQ(run({"clock", "set", "--pc", "2026-12-08 10:00:00"}).rc, CLI_USAGE);
    EXPECT_TRUE(sent(dev, CMD_SET_CLOCK).empty());
}

#ifndef _WIN32  // time zones through TZ, as on every POSIX system
TEST_F(CliTest, ClockSetPcSendsThePcsWallClockTime) {
    sim_bus_add(named("RIVER-1", 101));
    const char* tz = std::getenv("TZ");
    const std::string saved = tz ? tz : "";
    setenv("TZ", "EET-2", 1);  // two hours east of UTC, all year
    tzset();
    pc_clock_pin(1796634300);  // 2026-12-07 09:05:00 UTC
    const cli_result r = run({"clock", "set", "--pc"});
    pc_clock_pin(0);
    if (tz) setenv("TZ", saved.c_str(), 1);
    else unsetenv("TZ");
    tzset();
    ASSERT_EQ(r.rc, CLI_OK) << r.err;
    EXPECT_EQ(r.out, "Clock set to 07/12/2026 11:05:00\n");
}
#endif

}  // namespace
