// veltranic-cli against virtual instruments: what it prints, what it sends, and its exit codes.
#include "cli/cli.h"
#include "instrument/sim_bus.h"
#include "link/bytes.h"
#include "link/commands.h"
#include "link/link.h"
#include "platform/pc_clock.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>
#include <string>
#include <vector>

namespace {

struct cli_result {
    int rc;
    std::string out, err;
};

class CliTest : public ::testing::Test {
protected:
    void SetUp() override {
        sim_bus_install();
        sim_bus_reset();
        static int number = 0;
        const auto path = std::filesystem::temp_directory_path() /
                          ("veltranic-cli-" + std::to_string(std::random_device{}()) + "-" + std::to_string(++number));
        std::filesystem::create_directories(path);
        dir = path.string();
    }
    void TearDown() override {
        link_close();
        sim_bus_reset();
        std::error_code ignored;
        std::filesystem::remove_all(dir, ignored);
    }
    cli_result run(std::vector<std::string> args, const std::string& input = "", bool tty = false) {
        args.insert(args.begin(), "veltranic-cli");
        std::vector<const char*> argv;
        for (const auto& a : args) argv.push_back(a.c_str());
        std::ostringstream out, err;
        std::istringstream in(input);
        cli_io io{out, err, in, tty};
        const int rc = cli_run(int(argv.size()), argv.data(), io);
        EXPECT_FALSE(link_is_open()) << "the command left the link open";
        return {rc, out.str(), err.str()};
    }
    static sim_device_config named(const std::string& name, uint16_t serial, sim_mode mode = sim_mode::firmware) {
        sim_device_config c;
        c.firmware.identity.name = name;
        c.firmware.identity.serial = serial;
        c.firmware.mode = mode;
        return c;
    }
    std::string image(size_t size) {
        std::vector<char> bytes(size);
        for (size_t i = 0; i < size; ++i) bytes[i] = char(i * 13 + 5);
        content.assign(bytes.begin(), bytes.end());
        const std::string path = dir + "/image.bin";
        std::ofstream(path, std::ios::binary).write(bytes.data(), std::streamsize(size));
        return path;
    }
    static std::vector<command_frame> sent(const std::shared_ptr<sim_device>& dev, uint16_t code) {
        std::vector<command_frame> out;
        for (const auto& f : dev->requests())
            if (frame_code(f) == code) out.push_back(f);
        return out;
    }
    std::string dir;
    std::vector<uint8_t> content;
};

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

    const cli_result j = run({"list", "--json"});
    ASSERT_EQ(j.rc, CLI_OK);
    const auto list = nlohmann::json::parse(j.out);
    ASSERT_EQ(list.size(), 2u);
    EXPECT_EQ(list[0]["name"], "RIVER-1");
    EXPECT_EQ(list[0]["serial"], 101);
    EXPECT_EQ(list[0]["state"], "Firmware");
    EXPECT_EQ(list[1]["state"], "Bootloader (v3)");
    EXPECT_EQ(list[1]["type"], "A1130 Mooring Sampler");
    EXPECT_EQ(list[1]["mode"], 1);
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
    r = run({"info", "--device", "sim:2", "--json"});
    ASSERT_EQ(r.rc, CLI_OK) << r.err;
    const auto info = nlohmann::json::parse(r.out);
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

TEST_F(CliTest, UsageErrorsGiveCodeTwoAndAMessage) {
    sim_bus_add(named("RIVER-1", 101));
    cli_result r = run({"frobnicate"});
    EXPECT_EQ(r.rc, CLI_USAGE);
    EXPECT_NE(r.err.find("unknown command \"frobnicate\""), std::string::npos);
    EXPECT_EQ(run({}).rc, CLI_USAGE);
    EXPECT_EQ(run({"upgrade", dir + "/missing.bin", "--yes"}).rc, CLI_USAGE);
    EXPECT_EQ(run({"status", "--timeout", "0"}).rc, CLI_USAGE);
    EXPECT_EQ(run({"status", "--serial", "70000"}).rc, CLI_USAGE);
    r = run({"--help"});
    EXPECT_EQ(r.rc, CLI_OK);
    for (const char* command : {"list", "info", "status", "sample-log", "upgrade"})
        EXPECT_NE(r.out.find(std::string("  ") + command + " "), std::string::npos) << command;
    r = run({"--version"});
    EXPECT_EQ(r.rc, CLI_OK);
    EXPECT_EQ(r.out.rfind("veltranic-cli ", 0), 0u);
}

TEST_F(CliTest, StatusPrintsTheRunViewsWordsAndJsonCarriesTheSameValues) {
    sim_device_config c = named("RIVER-1", 101);
    c.firmware.sampler.top_cartridge = 7;
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
              "Max pressure: 0.000 bar\n");
    r = run({"status", "--json"});
    ASSERT_EQ(r.rc, CLI_OK);
    const auto j = nlohmann::json::parse(r.out);
    EXPECT_EQ(j["cartridge"], "Top Cartridge: 7");
    EXPECT_EQ(j["state"], "Sampler State: Idle");
    EXPECT_EQ(j["values"]["top_cartridge"], 7);
    EXPECT_EQ(j["values"]["sampler_state"], 2);
    EXPECT_EQ(j["values"]["clock"], 1796634300u);
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

    const cli_result j = run({"sample-log", "--json"});
    ASSERT_EQ(j.rc, CLI_OK);
    const auto records = nlohmann::json::parse(j.out);
    ASSERT_EQ(records.size(), 3u);
    EXPECT_EQ(records[1]["max_pressure_bar"], 1.25);
    EXPECT_EQ(records[1]["treatment"], "stabilized full sample");
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

TEST_F(CliTest, UpgradeWritesTheImageWithItsEndBlock) {
    sim_device_config c = named("HARBOUR-2", 2002, sim_mode::bootloader);
    auto dev = sim_bus_add(c);
    const std::string path = image(1000);
    // Not confirmed: nothing is sent.
    cli_result r = run({"upgrade", path}, "n\n");
    EXPECT_EQ(r.rc, CLI_REFUSED);
    EXPECT_TRUE(sent(dev, CMD_WRITE_IMAGE_BLOCK).empty());

    r = run({"upgrade", path}, "y\n");
    ASSERT_EQ(r.rc, CLI_OK) << r.err;
    EXPECT_NE(r.out.find("Upgrade running, 64 bytes written\n"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("Upgrade complete, 1000 bytes written\n"), std::string::npos);
    dev->with_firmware([&](sim_firmware& fw) {
        EXPECT_EQ(fw.installed_firmware.size(), 1000u);
        EXPECT_EQ(fw.installed_crc, sim_crc32(content.data(), content.size()));
    });
    const auto blocks = sent(dev, CMD_WRITE_IMAGE_BLOCK);
    ASSERT_EQ(blocks.size(), 17u);  // 15 full blocks, one of 40 bytes, the end block
    EXPECT_EQ(get_u32le(frame_payload(blocks.back()) + 5), 0u);
    EXPECT_EQ(get_u32le(frame_payload(blocks.back()) + 73), 40960u);

    // On a terminal the progress is a bar that redraws itself.
    r = run({"upgrade", path, "--yes"}, "", true);
    ASSERT_EQ(r.rc, CLI_OK);
    EXPECT_NE(r.out.find("\r["), std::string::npos);
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
}

}  // namespace

namespace {

TEST_F(CliTest, ClockGetAndSetWithTheDialogsFields) {
    auto dev = sim_bus_add(named("RIVER-1", 101));
    dev->use_stepped_clock(true);
    cli_result r = run({"clock", "get"});
    ASSERT_EQ(r.rc, CLI_OK) << r.err;
    EXPECT_EQ(r.out, "07/12/2026 09:05:00\n");
    r = run({"clock", "get", "--json"});
    const auto j = nlohmann::json::parse(r.out);
    EXPECT_EQ(j["time"], "2026-12-07 09:05:00");
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

    // Moments the clock cannot hold, and a set without a moment, send nothing.
    dev->clear_requests();
    for (const char* bad : {"2027-02-29 10:00:00", "2038-01-19 03:14:08", "2026-13-01 00:00:00", "yesterday",
                            "2026-12-08 10:00:00 extra"})
        EXPECT_EQ(run({"clock", "set", bad}).rc, CLI_USAGE) << bad;
    EXPECT_EQ(run({"clock", "set"}).rc, CLI_USAGE);
    EXPECT_EQ(run({"clock", "set", "--pc", "2026-12-08 10:00:00"}).rc, CLI_USAGE);
    EXPECT_TRUE(sent(dev, CMD_SET_CLOCK).empty());
}

#ifndef _WIN32  // time zones through TZ, as on every POSIX system
TEST_F(CliTest, ClockSetPcSendsThePcsWallClockTime) {
    auto dev = sim_bus_add(named("RIVER-1", 101));
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

TEST_F(CliTest, ScheduleRoundTripsThroughJsonTheDialogsWay) {
    auto dev = sim_bus_add(named("RIVER-1", 101));
    const std::string file = dir + "/schedule.json";
    std::ofstream(file) << R"({
      "autostart": true,
      "start": {"option": "at_or_after", "time": "2026-12-24 06:00:00"},
      "waypoints": [
        {"row": 3, "offset_minutes": 120, "samples": 2, "volume_litre": 2.5, "timeout_minutes": 10},
        {"row": 7, "offset_minutes": 30, "samples": 1, "volume_litre": "1.5", "timeout_minutes": 5, "clean": true},
        {"row": 9, "used": false, "offset_minutes": 5}
      ]
    })";
    dev->clear_requests();
    cli_result r = run({"schedule", "set", file});
    ASSERT_EQ(r.rc, CLI_OK) << r.err;
    auto sets = sent(dev, CMD_SET_SCHEDULE);
    ASSERT_EQ(sets.size(), 1u);
    uint8_t expected[98] = {0, 1, 0, 0};
    put_u32le(expected + 4, 1798092000);  // 2026-12-24 06:00:00
    const uint8_t first[6] = {3, 1, 15, 5, 30, 0};   // row 7: in use and clean, offset 30
    const uint8_t second[6] = {1, 2, 25, 10, 120, 0};  // row 3, offset 120
    std::memcpy(expected + 8, first, 6);
    std::memcpy(expected + 14, second, 6);
    EXPECT_EQ(sets[0].bytes[FRAME_LENGTH], 98);
    EXPECT_EQ(std::memcmp(frame_payload(sets[0]), expected, 98), 0);

    r = run({"schedule", "get", "--json"});
    ASSERT_EQ(r.rc, CLI_OK);
    const auto j = nlohmann::json::parse(r.out);
    EXPECT_EQ(j["autostart"], true);
    EXPECT_EQ(j["start"]["time"], "2026-12-24 06:00:00");
    ASSERT_EQ(j["waypoints"].size(), 15u);
    EXPECT_EQ(j["waypoints"][0]["offset_minutes"], 30);
    EXPECT_EQ(j["waypoints"][0]["volume_litre"], 1.5);
    EXPECT_EQ(j["waypoints"][0]["clean"], true);
    EXPECT_EQ(j["waypoints"][1]["offset_minutes"], 120);
    EXPECT_EQ(j["waypoints"][2]["used"], false);

    // What `schedule get --json` writes, `schedule set` takes back unchanged.
    std::ofstream(file) << r.out;
    dev->clear_requests();
    ASSERT_EQ(run({"schedule", "set", file}).rc, CLI_OK);
    sets = sent(dev, CMD_SET_SCHEDULE);
    ASSERT_EQ(sets.size(), 1u);
    EXPECT_EQ(std::memcmp(frame_payload(sets[0]), expected, 98), 0);
    EXPECT_EQ(run({"schedule", "get"}).out,
              "Autostart: yes\n"
              "Start: At or after 2026-12-24 06:00:00\n"
              "W/P  Offset (mins)  Number of Samples  Sample Volume (litre)  Sample Timeout (mins)  clean\n"
              "1    30             1                  1.5                    5                      yes\n"
              "2    120            2                  2.5                    10                     no\n");
}

TEST_F(CliTest, ScheduleSetRefusesWhatTheInstrumentCannotHoldAndSendsNothing) {
    auto dev = sim_bus_add(named("RIVER-1", 101));
    const std::string file = dir + "/schedule.json";
    auto refused = [&](const std::string& text) {
        std::ofstream(file) << text;
        dev->clear_requests();
        const cli_result r = run({"schedule", "set", file});
        EXPECT_TRUE(sent(dev, CMD_SET_SCHEDULE).empty()) << text;
        return r.rc;
    };
    EXPECT_EQ(refused(R"({"waypoints": [{"offset_minutes": 70000}]})"), CLI_USAGE);
    EXPECT_EQ(refused(R"({"waypoints": [{"samples": 256}]})"), CLI_USAGE);
    EXPECT_EQ(refused(R"({"waypoints": [{"volume_litre": "nan"}]})"), CLI_USAGE);
    EXPECT_EQ(refused(R"({"waypoints": [{"volume_litre": 26}]})"), CLI_USAGE);
    EXPECT_EQ(refused(R"({"waypoints": [{"row": 16}]})"), CLI_USAGE);
    EXPECT_EQ(refused(R"({"start": {"option": "at_or_after", "time": "2038-01-19 03:14:08"}})"), CLI_USAGE);
    EXPECT_EQ(refused(R"({"start": {"option": "at_or_after", "time": "1970-01-01 00:00:00"}})"), CLI_USAGE);
    EXPECT_EQ(refused(R"({"start": {"option": "sometime"}})"), CLI_USAGE);
    EXPECT_EQ(refused("not json"), CLI_USAGE);

    // A start the file leaves out is written back exactly as the instrument holds it, even one
    // that no calendar shows.
    dev->with_firmware([](sim_firmware& fw) {
        fw.schedule.record.fill(0);
        put_u32le(fw.schedule.record.data() + 4, 0x80000000u);
    });
    std::ofstream(file) << R"({"waypoints": [{"offset_minutes": 10, "samples": 1}]})";
    dev->clear_requests();
    ASSERT_EQ(run({"schedule", "set", file}).rc, CLI_OK);
    const auto sets = sent(dev, CMD_SET_SCHEDULE);
    ASSERT_EQ(sets.size(), 1u);
    EXPECT_EQ(get_u32le(frame_payload(sets[0]) + 4), 0x80000000u);
}

}  // namespace

namespace {

TEST_F(CliTest, DiagLogDrainsWhatIsWaitingAndNeedsTheLogStart) {
    auto dev = sim_bus_add(named("RIVER-1", 101));
    dev->use_stepped_clock(true);
    dev->with_firmware([](sim_firmware& fw) {
        fw.diag.debug_rate = 0;
        sim_diag_write(fw.diag, 3, 1, "pump", 7, "Flow low, 0.5 l/min");
    });
    cli_result r = run({"diag-log", "--json"});
    ASSERT_EQ(r.rc, CLI_OK) << r.err;
    const auto records = nlohmann::json::parse(r.out);
    ASSERT_EQ(records.size(), 2u);  // "Restarted after reset" at power-up, then the pump's
    EXPECT_EQ(records[0]["message"], "Restarted after reset");
    EXPECT_EQ(records[1]["task"], 3);
    EXPECT_EQ(records[1]["severity"], "E");
    EXPECT_EQ(records[1]["message"], "Flow low, 0.5 l/min");
    EXPECT_GT(records[1]["counter"].get<int>(), records[0]["counter"].get<int>());

    dev->force_result(CMD_LOG_READ_START, 4);
    r = run({"diag-log"});
    EXPECT_EQ(r.rc, CLI_REFUSED);
    EXPECT_EQ(r.err, "veltranic-cli: diag-log: the instrument refused (result code 4)\n");
    EXPECT_TRUE(r.out.empty());
}

}  // namespace
