// veltranic-cli against virtual instruments: runs one command line in-process with its streams
// captured, and looks at what the instruments received.
#pragma once

#include "cli/cli.h"
#include "instrument/sim_bus.h"
#include "link/bytes.h"
#include "link/commands.h"
#include "link/link.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>
#include <string>
#include <vector>

struct cli_result {
    int rc;
    std::string out, err;
};

// Which of the program's streams are terminals.
struct cli_terminals {
    bool out = false, in = false, err = false;
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
    cli_result run(std::vector<std::string> args, const std::string& input = "", cli_terminals t = {}) {
        std::ostringstream out;
        return run_to(out, std::move(args), input, t);
    }
    cli_result run_to(std::ostream& out, std::vector<std::string> args, const std::string& input = "", cli_terminals t = {}) {
        args.insert(args.begin(), "veltranic-cli");
        std::vector<const char*> argv;
        for (const auto& a : args) argv.push_back(a.c_str());
        std::ostringstream err;
        std::istringstream in(input);
        cli_io io{out, err, in, t.out, t.in, t.err};
        const int rc = cli_run(int(argv.size()), argv.data(), io);
        EXPECT_FALSE(link_is_open()) << "the command left the link open";
        auto* captured = dynamic_cast<std::ostringstream*>(&out);
        return {rc, captured ? captured->str() : std::string(), err.str()};
    }
    static nlohmann::json parse(const cli_result& r) {
        const auto j = nlohmann::json::parse(r.out, nullptr, false);
        EXPECT_FALSE(j.is_discarded()) << r.out << r.err;
        return j;
    }
    static sim_device_config named(const std::string& name, uint16_t serial, sim_mode mode = sim_mode::firmware) {
        sim_device_config c;
        c.firmware.identity.name = name;
        c.firmware.identity.serial = serial;
        c.firmware.mode = mode;
        return c;
    }
    std::string write(const std::string& name, const std::string& text) {
        const std::string path = dir + "/" + name;
        std::ofstream(path, std::ios::binary) << text;
        return path;
    }
    std::string image(size_t size) {
        std::vector<char> bytes(size);
        for (size_t i = 0; i < size; ++i) bytes[i] = char(i * 13 + 5);
        content.assign(bytes.begin(), bytes.end());
        return write("image.bin", std::string(bytes.begin(), bytes.end()));
    }
    static std::vector<command_frame> sent(const std::shared_ptr<sim_device>& dev, uint16_t code) {
        std::vector<command_frame> out;
        for (const auto& f : dev->requests())
            if (frame_code(f) == code) out.push_back(f);
        return out;
    }
    // The requests that change what the instrument stores.
    static size_t writes(const std::shared_ptr<sim_device>& dev) {
        size_t n = 0;
        for (const auto& f : dev->requests())
            for (const uint16_t code : {CMD_SET_INFO_LEGACY, CMD_SET_DEVICE_INFO, CMD_SET_CLOCK, CMD_SET_LOG_FILTERS,
                                        CMD_SET_RS232_CONFIG, CMD_SET_CONFIG_BLOCK, CMD_SET_MOTOR_CONFIG,
                                        CMD_SET_CARTRIDGE, CMD_SET_CLEANING_CONFIG, CMD_SET_SCHEDULE, CMD_CLEAR_SAMPLE_LOG})
                n += frame_code(f) == code;
        return n;
    }
    std::string dir;
    std::vector<uint8_t> content;
};
