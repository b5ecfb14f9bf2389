// The schedule, every stored setting, and backup and restore through veltranic-cli.
#include "cli_fixture.h"

#include "link/device_time.h"

#include <cstring>

namespace {

using json = nlohmann::ordered_json;

json parse_ordered(const cli_result& r) {
    const auto j = json::parse(r.out, nullptr, false);
    EXPECT_FALSE(j.is_discarded()) << r.out << r.err;
    return j;
}

class CliScheduleTest : public CliTest {
protected:
    void SetUp() override {
        CliTest::SetUp();
        dev = sim_bus_add(named("RIVER-1", 101));
        file = dir + "/schedule.json";
    }
    // Runs `schedule set` on a document; what was sent, if anything.
    cli_result set(const std::string& text) {
        std::ofstream(file, std::ios::binary) << text;
        dev->clear_requests();
        return run({"schedule", "set", file});
    }
    std::vector<command_frame> sets() { return sent(dev, CMD_SET_SCHEDULE); }
    void hold(const std::array<uint8_t, 98>& record) {
        dev->with_firmware([&](sim_firmware& fw) { fw.schedule.record = record; });
    }
    std::array<uint8_t, 98> held() {
        std::array<uint8_t, 98> r{};
        dev->with_firmware([&](sim_firmware& fw) { r = fw.schedule.record; });
        return r;
    }
    std::shared_ptr<sim_device> dev;
    std::string file;
};

TEST_F(CliScheduleTest, RowsTakeTheDialogsFormAndRoundTripThroughJson) {
    hold({});
    cli_result r = set(R"({
      "autostart": true,
      "start": {"option": "at_or_after", "time": "2026-12-24T06:00:00"},
      "waypoints": [
        {"row": 3, "offset_minutes": 120, "samples": 2, "volume_litre": 2.56, "timeout_minutes": 10},
        {"row": 7, "offset_minutes": 30, "samples": 1, "volume_litre": 0.05, "timeout_minutes": 5, "clean": true},
        {"row": 9, "used": false, "offset_minutes": 5}
      ]
    })");
    ASSERT_EQ(r.rc, CLI_OK) << r.err;
    ASSERT_EQ(sets().size(), 1u);
    uint8_t expected[98] = {0, 1, 0, 0};
    put_u32le(expected + 4, 1798092000);  // 2026-12-24 06:00:00
    // Row 7 first (offset 30), then row 3; 0.05 litres are 0 tenths and 2.56 are 25, as the
    // dialog converts them.
    const uint8_t first[6] = {3, 1, 0, 5, 30, 0};
    const uint8_t second[6] = {1, 2, 25, 10, 120, 0};
    std::memcpy(expected + 8, first, 6);
    std::memcpy(expected + 14, second, 6);
    EXPECT_EQ(std::memcmp(frame_payload(sets()[0]), expected, 98), 0);

    r = run({"schedule", "get", "--json"});
    const json j = parse_ordered(r);
    EXPECT_EQ(j["format"], 1);
    EXPECT_EQ(j["start"]["time"], "2026-12-24T06:00:00");
    ASSERT_EQ(j["waypoints"].size(), 15u);
    EXPECT_EQ(j["waypoints"][1]["volume_litre"], 2.5);
    // What `schedule get --json` writes, `schedule set` takes back unchanged.
    ASSERT_EQ(set(r.out).rc, CLI_OK);
    ASSERT_EQ(sets().size(), 1u);
    EXPECT_EQ(std::memcmp(frame_payload(sets()[0]), expected, 98), 0);
    EXPECT_EQ(run({"schedule", "get"}).out,
              "Autostart: yes\n"
              "Start: At or after 2026-12-24 06:00:00\n"
              "W/P  Offset (mins)  Number of Samples  Sample Volume (litre)  Sample Timeout (mins)  clean\n"
              "1    30             1                  0.0                    5                      yes\n"
              "2    120            2                  2.5                    10                     no\n");
}

TEST_F(CliScheduleTest, WhatTheDocumentLeavesOutKeepsItsStoredValue) {
    const std::array<uint8_t, 98> before = held();
    ASSERT_EQ(set("{}").rc, CLI_OK);
    ASSERT_EQ(sets().size(), 1u);
    EXPECT_EQ(std::memcmp(frame_payload(sets()[0]), before.data(), 98), 0) << "{} changed the schedule";

    ASSERT_EQ(set(R"({"waypoints": [{"row": 2, "samples": 4}]})").rc, CLI_OK);
    std::array<uint8_t, 98> after = before;
    after[8 + 6 + 1] = 4;
    EXPECT_EQ(held(), after);
}

TEST_F(CliScheduleTest, AStartNoCalendarShowsGoesBackAsRead) {
    for (const uint32_t start : {0xFFFFFFFFu, 0x80000000u}) {
        std::array<uint8_t, 98> record = held();
        put_u32le(record.data() + 4, start);
        hold(record);
        const cli_result got = run({"schedule", "get", "--json"});
        const json j = parse_ordered(got);
        EXPECT_TRUE(j["start"]["time"].is_null());
        EXPECT_EQ(j["start"]["device_time"], start);
        const cli_result r = set(got.out);
        ASSERT_EQ(r.rc, CLI_OK) << r.err;
        ASSERT_EQ(sets().size(), 1u);
        EXPECT_EQ(get_u32le(frame_payload(sets()[0]) + 4), start);
    }
    // Changing it to such a start is still refused.
    const cli_result r = set(R"({"start": {"option": "at_or_after", "device_time": 4294967295}})");
    EXPECT_EQ(r.rc, CLI_USAGE);
    EXPECT_NE(r.err.find("The start time must lie between"), std::string::npos) << r.err;
}

TEST_F(CliScheduleTest, WrongTypesAndRangesAreRefusedWithTheFieldNamedAndNothingSent) {
    const std::pair<const char*, const char*> cases[] = {
        {R"({"autostart": "yes"})", "autostart must be true or false"},
        {R"({"waypoints": [1]})", "waypoints[1] must be an object"},
        {R"({"waypoints": {"row": 1}})", "waypoints must be a list"},
        {R"({"start": {"option": 5}})", "start.option must be a text"},
        {R"({"start": 3})", "start must be an object"},
        {R"({"start": {"option": "at_or_after", "device_time": 4294967297}})", "start.device_time must be a whole number"},
        {R"({"start": {"option": "at_or_after", "time": "2026-02-31T10:00:00"}})", "start.time must be a moment"},
        {R"({"start": {"option": "at_or_after", "time": "2026-12-24T23:59:60"}})", "start.time must be a moment"},
        {R"({"start": {"option": "at_or_after", "time": "2038-01-19T03:14:08"}})", "start.time must be a moment"},
        {R"({"start": {"option": "at_or_after", "time": "2026-12-24T06:00:00", "device_time": 1}})", "name different moments"},
        {R"({"start": {"option": "sometime"}})", "start.option must be"},
        {R"({"start": {"option": "next", "time": "2026-12-24T06:00:00"}})", "takes no time"},
        {R"({"waypoints": [{"row": 4294967297}]})", "waypoints[1].row must be a whole number from 1 to 15"},
        {R"({"waypoints": [{"row": 2147483648}]})", "waypoints[1].row must be"},
        {R"({"waypoints": [{"row": 16}]})", "waypoints[1].row must be"},
        {R"({"waypoints": [{"row": 2}, {"row": 2}]})", "given twice"},
        {R"({"waypoints": [{"offset_minutes": 70000}]})", "offset_minutes must be a whole number from 0 to 65535"},
        {R"({"waypoints": [{"samples": 256}]})", "samples must be"},
        {R"({"waypoints": [{"samples": 1.5}]})", "samples must be"},
        {R"({"waypoints": [{"samples": -1}]})", "samples must be"},
        {R"({"waypoints": [{"volume_litre": "1.5"}]})", "volume_litre must be a number"},
        {R"({"waypoints": [{"volume_litre": 26}]})", "volume_litre must be a number from 0 to 25.5"},
        {R"({"waypoints": [{"volume_litre": -0.5}]})", "volume_litre must be a number from 0 to 25.5"},
        {R"({"waypoints": [{"clean": 1}]})", "clean must be true or false"},
        {R"({"waypoints": [{"colour": "red"}]})", "waypoints[1].colour is not a field"},
        {R"({"autostrat": true})", "autostrat is not a field"},
        {R"({"format": 2})", "format 2 is not one this tool reads"},
        {"not json", "is not JSON"},
        {"[1, 2]", "is not a JSON object"},
    };
    for (const auto& [text, message] : cases) {
        const cli_result r = set(text);
        EXPECT_EQ(r.rc, CLI_USAGE) << text;
        EXPECT_NE(r.err.find(message), std::string::npos) << text << "\n" << r.err;
        EXPECT_EQ(r.err.rfind("veltranic-cli: schedule set: ", 0), 0u) << r.err;
        EXPECT_TRUE(sets().empty()) << text;
    }
}

TEST_F(CliScheduleTest, HugeOrDeeplyNestedInputIsRefusedWithoutReadingItAll) {
    cli_result r = set(std::string(100 * 1024, '['));
    EXPECT_EQ(r.rc, CLI_USAGE);
    EXPECT_NE(r.err.find("nests deeper than 32 levels"), std::string::npos) << r.err;
    r = set("{\"waypoints\": [" + std::string(1100 * 1024, ' ') + "]}");
    EXPECT_EQ(r.rc, CLI_USAGE);
    EXPECT_NE(r.err.find("more than 1 MiB"), std::string::npos) << r.err;
#ifndef _WIN32
    r = run({"schedule", "set", "/dev/zero"});
    EXPECT_EQ(r.rc, CLI_USAGE);
    EXPECT_NE(r.err.find("more than 1 MiB"), std::string::npos) << r.err;
#endif
    // Standard input, as "-".
    dev->clear_requests();
    r = run({"schedule", "set", "-"}, R"({"autostart": true})");
    ASSERT_EQ(r.rc, CLI_OK) << r.err;
    EXPECT_EQ(held()[1], 1);
    EXPECT_TRUE(sets().size() == 1u);
}

// ---- settings --------------------------------------------------------------------------------

TEST_F(CliTest, EverySettingsBlockRoundTripsAndAChangeIsWrittenAndReadBack) {
    auto dev = sim_bus_add(named("RIVER-1", 101));
    for (const char* block : {"flow-meter", "cleaning", "rs232", "identification", "motors", "pressure", "schedule"}) {
        const cli_result got = run({"settings", "get", block, "--json"});
        ASSERT_EQ(got.rc, CLI_OK) << block << got.err;
        EXPECT_EQ(parse_ordered(got)["block"], block);
        const std::string path = write("block.json", got.out);
        dev->clear_requests();
        const cli_result same = run({"settings", "set", block, path});
        EXPECT_EQ(same.rc, CLI_OK) << block << same.err;
        EXPECT_EQ(same.out, "Nothing to change: the instrument holds these settings already\n") << block;
        for (const uint16_t code : {CMD_SET_CONFIG_BLOCK, CMD_SET_CLEANING_CONFIG, CMD_SET_RS232_CONFIG,
                                    CMD_SET_DEVICE_INFO, CMD_SET_MOTOR_CONFIG, CMD_SET_SCHEDULE})
            EXPECT_TRUE(sent(dev, code).empty()) << block << " wrote " << code;
    }

    // A change goes through the block's own command and is read back.
    cli_result r = run({"settings", "set", "cleaning", "-"}, R"({"format": 1, "block": "cleaning", "dwell_time_s": 301})");
    ASSERT_EQ(r.rc, CLI_OK) << r.err;
    EXPECT_EQ(r.out, "cleaning: dwell_time_s 300 -> 301\nSettings saved and read back\n");
    dev->with_firmware([](sim_firmware& fw) { EXPECT_EQ(get_u16le(fw.settings.cleaning.data() + 8), 301); });
    r = run({"settings", "set", "motors", "-", "--json"},
            R"({"motors": [{"motor": 2, "speed_percent": 55, "direction": "reverse"}]})");
    ASSERT_EQ(r.rc, CLI_OK) << r.err;
    EXPECT_EQ(parse_ordered(r)["motors"][1]["speed_percent"], 55);
    EXPECT_EQ(sent(dev, CMD_SET_MOTOR_CONFIG).size(), 1u) << "only the motor that changed is written";
    r = run({"settings", "set", "pressure", "-"}, R"({"points": [{"point": 4, "used": true, "bar": 7.5, "volt": 3.5}]})");
    ASSERT_EQ(r.rc, CLI_OK) << r.err;
    EXPECT_EQ(parse_ordered(run({"settings", "get", "pressure", "--json"}))["points"][3]["bar"], 7.5);
}

TEST_F(CliTest, SettingsKeepOddStoredValuesButRefuseChangesOutOfRange) {
    auto dev = sim_bus_add(named("RIVER-1", 101));
    // A speed of 250 and a retired protocol, as an instrument may hold them.
    dev->with_firmware([](sim_firmware& fw) {
        fw.settings.cleaning[5] = 250;
        fw.settings.rs232[8] = 2;
    });
    cli_result r = run({"settings", "set", "cleaning", "-"}, R"({"flush_time_s": 61})");
    ASSERT_EQ(r.rc, CLI_OK) << r.err;
    dev->with_firmware([](sim_firmware& fw) { EXPECT_EQ(fw.settings.cleaning[5], 250) << "the stored speed was changed"; });
    EXPECT_EQ(parse_ordered(run({"settings", "get", "rs232", "--json"}))["protocol"], "driftline");

    dev->clear_requests();
    const std::pair<const char*, const char*> refused[] = {
        {"cleaning", R"({"bleach_pump_speed_percent": 101})"},
        {"cleaning", R"({"dwell_time_s": 65536})"},
        {"rs232", R"({"baud": 300})"},
        {"rs232", R"({"protocol": "smoke-signals"})"},
        {"rs232", R"({"parity": "none", "protocol": "none", "stop_bits": 3})"},
        {"motors", R"({"motors": [{"motor": 1, "speed_percent": 101}]})"},
        {"motors", R"({"motors": [{"motor": 6}]})"},
        {"motors", R"({"motors": [{"motor": 1, "name": "Sample Pump"}]})"},
        {"motors", R"({"motors": [{"motor": 1, "autostop": 4}]})"},
        {"pressure", R"({"points": [{"point": 1, "bar": 1e39}]})"},
        {"identification", R"({"name": "caf\u00e9"})"},
        {"identification", R"({"name": "A-NAME-LONGER-THAN-20"})"},
        {"identification", R"({"serial": 65536})"},
        {"flow-meter", R"({"pulses_per_litre": 4294967296})"},
        {"flow-meter", R"({"block": "cleaning"})"},
    };
    for (const auto& [block, text] : refused) {
        r = run({"settings", "set", block, "-"}, text);
        EXPECT_EQ(r.rc, CLI_USAGE) << block << " " << text;
        EXPECT_EQ(r.err.rfind(std::string("veltranic-cli: settings set ") + block + ": ", 0), 0u) << r.err;
    }
    EXPECT_EQ(run({"settings", "set", "fan-speed", "-"}, "{}").rc, CLI_USAGE);
    EXPECT_EQ(writes(dev), 0u);
}

TEST_F(CliTest, AReadBackThatDiffersIsAFailure) {
    auto dev = sim_bus_add(named("RIVER-1", 101));
    dev->with_firmware([](sim_firmware& fw) { fw.motors.ignore_config_writes = true; });
    const cli_result r = run({"settings", "set", "motors", "-"}, R"({"motors": [{"motor": 3, "speed_percent": 20}]})");
    EXPECT_EQ(r.rc, CLI_REFUSED);
    EXPECT_NE(r.err.find("holds other values"), std::string::npos) << r.err;
    dev->with_firmware([](sim_firmware& fw) { fw.motors.ignore_config_writes = false; });
    dev->fail_next(CMD_GET_CLEANING_CONFIG, 1, 4, 1);  // the read-back after the write
    const cli_result refused = run({"settings", "set", "cleaning", "-"}, R"({"dwell_time_s": 5})");
    EXPECT_EQ(refused.rc, CLI_REFUSED);
    EXPECT_NE(refused.err.find("reading it back"), std::string::npos) << refused.err;
}

TEST_F(CliTest, TheBoardSerialNeedsFactoryAndTheMaintenancePassword) {
    auto dev = sim_bus_add(named("RIVER-1", 101));
    const std::string doc = write("id.json", R"({"name": "RIVER-9", "board_serial": 4321})");
    cli_result r = run({"settings", "set", "identification", doc});
    EXPECT_EQ(r.rc, CLI_USAGE);
    EXPECT_NE(r.err.find("give --factory"), std::string::npos);
    r = run({"settings", "set", "identification", doc, "--factory"}, "kangaroo\n");
    EXPECT_EQ(r.rc, CLI_USAGE);
    EXPECT_NE(r.err.find("not the maintenance password"), std::string::npos);
    EXPECT_TRUE(sent(dev, CMD_SET_DEVICE_INFO).empty());
    r = run({"settings", "set", "identification", doc, "--factory"}, "quoll\n");
    ASSERT_EQ(r.rc, CLI_OK) << r.err;
    const json id = parse_ordered(run({"settings", "get", "identification", "--json"}));
    EXPECT_EQ(id["name"], "RIVER-9");
    EXPECT_EQ(id["board_serial"], 4321);
    EXPECT_EQ(id["serial"], 101);
    // The name and serial alone are the identification dialog's, without the password.
    r = run({"settings", "set", "identification", "-"}, R"({"name": "RIVER-10", "serial": 110})");
    ASSERT_EQ(r.rc, CLI_OK) << r.err;
    EXPECT_EQ(parse_ordered(run({"info", "--json"}))["serial"], 110);
}

// ---- backup and restore ------------------------------------------------------------------------

// Every stored setting of a virtual instrument, as its bytes.
std::vector<uint8_t> stored(const std::shared_ptr<sim_device>& dev) {
    std::vector<uint8_t> all;
    dev->with_firmware([&](sim_firmware& fw) {
        for (const auto& [id, block] : fw.settings.blocks) all.insert(all.end(), block.begin(), block.end());
        all.insert(all.end(), fw.settings.cleaning.begin(), fw.settings.cleaning.end());
        all.insert(all.end(), fw.settings.rs232.begin(), fw.settings.rs232.end());
        for (int m = 1; m <= 5; ++m) all.insert(all.end(), fw.motors.motor[m].config, fw.motors.motor[m].config + 13);
        all.insert(all.end(), fw.schedule.record.begin(), fw.schedule.record.end());
    });
    return all;
}

TEST_F(CliTest, ABackupRestoredOntoAnotherInstrumentReproducesEverySetting) {
    auto source = sim_bus_add(named("RIVER-1", 101));
    auto target = sim_bus_add(named("RIVER-2", 102));
    // The source differs from a fresh instrument in every block.
    ASSERT_EQ(run({"--device", "sim:1", "settings", "set", "flow-meter", "-"}, R"({"pulses_per_litre": 12345})").rc, CLI_OK);
    ASSERT_EQ(run({"--device", "sim:1", "settings", "set", "cleaning", "-"}, R"({"waste_through_cartridge": true, "flush_time_s": 99})").rc, CLI_OK);
    ASSERT_EQ(run({"--device", "sim:1", "settings", "set", "rs232", "-"}, R"({"baud": 38400, "protocol": "du232zi", "parity": "odd"})").rc, CLI_OK);
    ASSERT_EQ(run({"--device", "sim:1", "settings", "set", "motors", "-"},
                  R"({"motors": [{"motor": 1, "hall_engaged": 3000}, {"motor": 5, "max_pressure_bar": 9}]})").rc, CLI_OK);
    ASSERT_EQ(run({"--device", "sim:1", "settings", "set", "pressure", "-"},
                  R"({"gain_bar_per_volt": 2.5011, "offset_bar": -1.25, "points": [{"point": 5, "used": true, "bar": 0.1, "volt": 0.7}]})").rc, CLI_OK);
    ASSERT_EQ(run({"--device", "sim:1", "schedule", "set", "-"},
                  R"({"autostart": true, "start": {"option": "at_or_after", "time": "2027-01-02T03:04:05"}})").rc, CLI_OK);
    ASSERT_NE(stored(source), stored(target));

    const std::string backup = dir + "/river-1.json";
    cli_result r = run({"--device", "sim:1", "backup", backup});
    ASSERT_EQ(r.rc, CLI_OK) << r.err;
    EXPECT_EQ(r.out, "Backup of \"RIVER-1\" (serial 101) written to " + backup + "\n");
    std::ifstream in(backup);
    const json doc = json::parse(in);
    EXPECT_EQ(doc["format"], 1);
    EXPECT_EQ(doc["instrument"]["serial"], 101);
    EXPECT_EQ(doc["instrument"]["firmware_version"], "2.4.1 (sim)");
    EXPECT_EQ(doc["blocks"].size(), 7u);

    // Nobody to ask and no --yes: the preview, and nothing written.
    target->clear_requests();
    r = run({"--device", "sim:2", "restore", backup});
    EXPECT_EQ(r.rc, CLI_USAGE);
    EXPECT_NE(r.out.find("flow-meter: pulses_per_litre 10000 -> 12345\n"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("identification: name \"RIVER-2\" -> \"RIVER-1\" (left alone: give --identity)\n"),
              std::string::npos) << r.out;
    EXPECT_EQ(writes(target), 0u);

    r = run({"--device", "sim:2", "restore", backup, "--json"}, "y\n", {false, true, false});
    ASSERT_EQ(r.rc, CLI_OK) << r.err;
    const json outcome = parse_ordered(r);
    for (const json& b : outcome["blocks"])
        EXPECT_EQ(b["outcome"], b["block"] == "identification" ? "left_alone" : "written") << b.dump();
    EXPECT_EQ(stored(target), stored(source)) << "the restored settings differ from the backup's";
    EXPECT_EQ(parse_ordered(run({"--device", "sim:2", "info", "--json"}))["name"], "RIVER-2");

    // Onto the instrument it came from: nothing changes, and it says so.
    source->clear_requests();
    r = run({"--device", "sim:1", "restore", backup, "--yes"});
    ASSERT_EQ(r.rc, CLI_OK) << r.err;
    EXPECT_NE(r.out.find("Nothing to change: the instrument holds every setting of the backup\n"), std::string::npos) << r.out;
    EXPECT_EQ(writes(source), 0u);
}

TEST_F(CliTest, RestoreGuardsTheTypeTheIdentityAndTheFile) {
    auto source = sim_bus_add(named("RIVER-1", 101));
    sim_device_config other = named("MOOR-1", 301);
    other.firmware.identity.type_code = 1130;
    auto mooring = sim_bus_add(other);
    const std::string backup = dir + "/b.json";
    ASSERT_EQ(run({"--device", "sim:1", "backup", backup}).rc, CLI_OK);

    mooring->with_firmware([](sim_firmware& fw) { fw.identity.board_serial = 1111; });
    mooring->clear_requests();
    cli_result r = run({"--device", "sim:2", "restore", backup, "--yes"});
    EXPECT_EQ(r.rc, CLI_USAGE);
    EXPECT_NE(r.err.find("give --force"), std::string::npos) << r.err;
    // --identity with a board serial that differs needs the password; with it the identity moves.
    r = run({"--device", "sim:2", "restore", backup, "--yes", "--force", "--identity"}, "wrong\n");
    EXPECT_EQ(r.rc, CLI_USAGE);
    EXPECT_EQ(writes(mooring), 0u);
    const std::string password = write("password", "quoll\n");
    r = run({"--device", "sim:2", "restore", backup, "--yes", "--force", "--identity", "--password-file", password});
    ASSERT_EQ(r.rc, CLI_OK) << r.err;
    const json id = parse_ordered(run({"--device", "sim:2", "info", "--json"}));
    EXPECT_EQ(id["name"], "RIVER-1");
    EXPECT_EQ(id["serial"], 101);
    EXPECT_EQ(id["board_serial"], 5678);

    const std::string bad = write("bad.json", R"({"format": 1, "document": "veltranic-settings-backup",
        "blocks": {"cleaning": {"bleach_pump_speed_percent": 300}}})");
    r = run({"--device", "sim:1", "restore", bad, "--yes"});
    EXPECT_EQ(r.rc, CLI_USAGE);
    EXPECT_NE(r.err.find("blocks.cleaning.bleach_pump_speed_percent"), std::string::npos) << r.err;
    EXPECT_EQ(run({"--device", "sim:1", "restore", write("x.json", R"({"format": 1})"), "--yes"}).rc, CLI_USAGE);

    // A block that does not take is reported as failed, and the others are still written.
    mooring->with_firmware([](sim_firmware& fw) {
        fw.motors.motor[2].config[11] ^= 1;
        fw.motors.ignore_config_writes = true;
        fw.settings.cleaning[6] ^= 1;
    });
    r = run({"--device", "sim:2", "restore", backup, "--yes", "--force", "--json"});
    EXPECT_EQ(r.rc, CLI_REFUSED);
    EXPECT_NE(r.err.find("restore motors: saved, but the instrument holds other values: motors[2].speed_percent"),
              std::string::npos) << r.err << r.out;
    const json outcome = parse_ordered(r);
    for (const json& b : outcome["blocks"]) {
        if (b["block"] == "motors") {
            EXPECT_EQ(b["outcome"], "failed");
        }
        if (b["block"] == "cleaning") {
            EXPECT_EQ(b["outcome"], "written");
        }
    }
}

}  // namespace
