// Recorded sessions against the virtual instrument, and their replay as a "replay:" device.
#include "cli/cli.h"
#include "instrument/sim_bus.h"
#include "link/commands.h"
#include "link/link.h"
#include "platform/hid_bus.h"
#include "recording/recorder.h"
#include "recording/recording_format.h"
#include "recording/replay.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <random>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#ifndef _WIN32
#include "file_size_limit.h"

#include <sys/stat.h>
#include <unistd.h>
#endif

namespace {

using json = nlohmann::json;

struct cli_result {
    int rc;
    std::string out, err;
};

std::vector<json> lines_of(const std::string& path) {
    std::ifstream in(path);
    std::vector<json> lines;
    for (std::string text; std::getline(in, text);) lines.push_back(json::parse(text, nullptr, false));
    return lines;
}

std::string text_of(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), {}};
}

class RecordingTest : public ::testing::Test {
protected:
    void SetUp() override {
        sim_bus_install();
        replay_bus_install();
        sim_bus_reset();
        replay_bus_reset();
        static int number = 0;
        const auto path = std::filesystem::temp_directory_path() /
                          ("veltranic-rec-" + std::to_string(std::random_device{}()) + "-" + std::to_string(++number));
        std::filesystem::create_directories(path);
        dir = path.string();
    }
    void TearDown() override {
        recorder_test_hold_writer(false);
        recorder_stop();
        link_close();
        sim_bus_reset();
        replay_bus_reset();
        std::error_code ignored;
        std::filesystem::remove_all(dir, ignored);
    }
    cli_result cli(std::vector<std::string> args) {
        args.insert(args.begin(), "veltranic-cli");
        std::vector<const char*> argv;
        for (const auto& a : args) argv.push_back(a.c_str());
        std::ostringstream out, err;
        std::istringstream in;
        cli_io io{out, err, in, false};
        const int rc = cli_run(int(argv.size()), argv.data(), io);
        return {rc, out.str(), err.str()};
    }
    static sim_device_config named(const std::string& name, uint16_t serial) {
        sim_device_config c;
        c.firmware.identity.name = name;
        c.firmware.identity.serial = serial;
        return c;
    }
    static command_frame request(uint16_t code, uint8_t length = 0, uint8_t fill = 0) {
        command_frame f;
        frame_prepare(f, code, length);
        for (size_t i = 0; i < length; ++i) frame_payload(f)[i] = uint8_t(fill + i);
        return f;
    }
    // Records one link session on the instrument: the requests in order, with their answers.
    std::vector<command_frame> record_session(const std::string& file, const std::string& path,
                                              const std::vector<command_frame>& requests) {
        EXPECT_EQ(recorder_start(file.c_str(), "test"), 0);
        std::vector<command_frame> answers;
        EXPECT_EQ(link_open(path.c_str(), 1000), 0);
        for (command_frame f : requests) {
            EXPECT_EQ(link_transact(f), LINK_OK);
            answers.push_back(f);
        }
        link_close();
        EXPECT_EQ(recorder_stop(), 0);
        return answers;
    }
    std::string dir;
};

// The command line records a session and plays it back the same, and the file holds the
// instrument and nothing of the computer or its user.
TEST_F(RecordingTest, CliStatusRecordedThenReplayedPrintsTheSame) {
    sim_bus_add(named("SAMPLER-01", 1234))->use_stepped_clock(true);
    sim_bus_add(named("HARBOUR-2", 2002));
    const std::string file = dir + "/session.jsonl";
    const cli_result live = cli({"--record", file, "--serial", "1234", "status"});
    ASSERT_EQ(live.rc, CLI_OK) << live.err;
    const cli_result live_json = cli({"--device", "sim:1", "status", "--json"});
    ASSERT_EQ(live_json.rc, CLI_OK) << live_json.err;

    const std::vector<json> lines = lines_of(file);
    ASSERT_GE(lines.size(), 3u);
    EXPECT_EQ(lines[0]["format"], "veltranic-recording");
    EXPECT_EQ(lines[0]["version"], 1);
    EXPECT_EQ(lines[0]["tool"].get<std::string>().rfind("veltranic-cli ", 0), 0u);
    EXPECT_FALSE(lines[0]["platform"].get<std::string>().empty());
    EXPECT_EQ(lines[0]["start"].get<std::string>().size(), 20u);  // 2026-05-04T09:12:40Z
    EXPECT_EQ(lines.back()["ev"], "end");
    EXPECT_EQ(lines.back()["count"], 0);
    int status_out = 0, status_in = 0;
    for (size_t i = 1; i < lines.size(); ++i) {
        ASSERT_TRUE(lines[i].is_object()) << i;
        if (lines[i].contains("dev")) {
            EXPECT_TRUE(lines[i]["dev"] == "sim:1" || lines[i]["dev"] == "sim:2") << lines[i];
        }
        if (lines[i].value("cmd", "") == "GET_STATUS") ++(lines[i]["ev"] == "out" ? status_out : status_in);
    }
    EXPECT_EQ(status_out, 1);
    EXPECT_EQ(status_in, 1);
    // Nothing names the folder it was written to, the user or the computer.
    const std::string text = text_of(file);
    EXPECT_EQ(text.find(dir), std::string::npos);
    for (const char* variable : {"USER", "LOGNAME", "USERNAME", "HOSTNAME", "COMPUTERNAME", "HOME"}) {
        const char* value = std::getenv(variable);
        if (value && std::string(value).size() > 2) {
            EXPECT_EQ(text.find(value), std::string::npos) << variable;
        }
    }
#ifndef _WIN32
    char host[256] = "";
    if (gethostname(host, sizeof host) == 0 && std::string(host).size() > 2) {
        EXPECT_EQ(text.find(host), std::string::npos);
    }
#endif

    sim_bus_reset();  // no instrument at all: only the recording answers
    replay_bus_reset();
    const cli_result replayed = cli({"--device", "replay:" + file, "status"});
    EXPECT_EQ(replayed.rc, CLI_OK) << replayed.err;
    EXPECT_EQ(replayed.out, live.out);
    EXPECT_EQ(replayed.err, "");
    // The other instrument of the recording is there too, as far as it was asked.
    replay_bus_reset();
    const cli_result other = cli({"--device", "replay:" + file + "?fast&device=2", "--timeout", "200", "info"});
    EXPECT_EQ(other.rc, CLI_OK) << other.err;
    EXPECT_NE(other.out.find("Name: HARBOUR-2\n"), std::string::npos);
    EXPECT_NE(other.err.find("veltranic-cli: replay: request 3: recorded nothing more, got GET_VERSION_TEXT (device sim:2)"),
              std::string::npos)
        << other.err;
    // A recording asked for something it never saw answers nothing, and says so.
    replay_bus_reset();
    const cli_result wrong = cli({"--device", "replay:" + file + "?fast", "--timeout", "200", "clock", "get"});
    EXPECT_EQ(wrong.rc, CLI_LINK_FAILED);
    EXPECT_NE(wrong.err.find("veltranic-cli: replay: request 1: recorded GET_DEVICE_INFO, got GET_CLOCK"), std::string::npos)
        << wrong.err;
    EXPECT_EQ(cli({"--device", "replay:" + dir + "/missing.jsonl", "status"}).rc, CLI_NO_INSTRUMENT);
}

// A replay answers in order with the recorded answers under the live sequence numbers; polls
// may come more or fewer times; anything else stops it where it differs, with a link failure.
TEST_F(RecordingTest, ReplayFollowsTheRecordingAndStopsWhereARequestDiffers) {
    auto dev = sim_bus_add();
    dev->use_stepped_clock(true);
    const std::string file = dir + "/exchanges.jsonl";
    const std::vector<command_frame> sent = {
        request(CMD_GET_DEVICE_INFO), request(CMD_GET_STATUS),     request(CMD_GET_STATUS),
        request(CMD_READ_SAMPLE_RECORD, 2, 0), request(CMD_GET_STATUS), request(CMD_GET_STATUS),
        request(CMD_SET_CLOCK, 8, 1), request(CMD_GET_SCHEDULE),
    };
    const std::vector<command_frame> recorded = record_session(file, dev->path(), sent);
    sim_bus_reset();

    const std::string path = replay_device_paths(file + "?fast").at(0);
    EXPECT_EQ(path, "replay:" + file + "?fast");
    {
        // One poll more than recorded, one less, and a clock set to another moment.
        ASSERT_EQ(link_open(path.c_str(), 300), 0);
        const std::vector<std::pair<command_frame, size_t>> steps = {
            {request(CMD_GET_DEVICE_INFO), 0}, {request(CMD_GET_STATUS), 1},
            {request(CMD_GET_STATUS), 2},       {request(CMD_GET_STATUS), 2},
            {request(CMD_READ_SAMPLE_RECORD, 2, 0), 3}, {request(CMD_GET_STATUS), 4},
            {request(CMD_SET_CLOCK, 8, 9), 6},  {request(CMD_GET_SCHEDULE), 7},
        };
        uint8_t sequence = 1;
        for (auto [f, answer] : steps) {
            ASSERT_EQ(link_transact(f), LINK_OK) << "step answered by " << answer;
            ++sequence;
            EXPECT_EQ(f.bytes[FRAME_SEQUENCE], sequence);
            EXPECT_EQ(0, std::memcmp(f.bytes + FRAME_RESULT, recorded[answer].bytes + FRAME_RESULT, FRAME_SIZE - FRAME_RESULT));
            EXPECT_EQ(frame_code(f), frame_code(recorded[answer]));
        }
        link_close();
        EXPECT_EQ(replay_problem(), "");
    }
    replay_bus_reset();
    {
        // The fourth request asks for the clock where the recording read the sample log.
        ASSERT_EQ(link_open(path.c_str(), 300), 0);
        for (uint16_t code : {CMD_GET_DEVICE_INFO, CMD_GET_STATUS, CMD_GET_STATUS}) {
            command_frame f = request(code);
            EXPECT_EQ(link_transact(f), LINK_OK);
        }
        command_frame f = request(CMD_GET_CLOCK);
        const command_frame before = f;
        EXPECT_EQ(link_transact(f), LINK_ERR_TIMEOUT);
        EXPECT_EQ(0, std::memcmp(f.bytes, before.bytes, FRAME_SIZE));
        EXPECT_EQ(replay_problem(), "request 4: recorded READ_SAMPLE_RECORD, got GET_CLOCK");
        // Stopped for good: not even the recorded request is answered now.
        f = request(CMD_READ_SAMPLE_RECORD, 2, 0);
        EXPECT_EQ(link_transact(f), LINK_ERR_TIMEOUT);
        EXPECT_EQ(replay_problem(), "request 4: recorded READ_SAMPLE_RECORD, got GET_CLOCK");
        link_close();
    }
}

// Two pollers' requests interleave otherwise from one run to the next: each still gets its own
// recorded answers in their order, none is lost to the other's.
TEST_F(RecordingTest, InterleavedRepetitionsKeepTheirOwnOrder) {
    auto dev = sim_bus_add();
    dev->use_stepped_clock(true);
    const std::string file = dir + "/interleaved.jsonl";
    ASSERT_EQ(recorder_start(file.c_str(), "test"), 0);
    ASSERT_EQ(link_open(dev->path().c_str(), 1000), 0);
    std::vector<command_frame> clock_answers;
    for (uint16_t code : {CMD_GET_CLOCK, CMD_GET_STATUS, CMD_GET_CLOCK, CMD_GET_STATUS, CMD_GET_CLOCK}) {
        dev->advance_clock(60000);  // every clock answer its own minute
        command_frame f = request(code);
        ASSERT_EQ(link_transact(f), LINK_OK);
        if (code == CMD_GET_CLOCK) clock_answers.push_back(f);
    }
    link_close();
    ASSERT_EQ(recorder_stop(), 0);
    sim_bus_reset();

    ASSERT_EQ(link_open(("replay:" + file + "?fast").c_str(), 300), 0);
    std::vector<command_frame> clocks;
    for (uint16_t code : {CMD_GET_CLOCK, CMD_GET_STATUS, CMD_GET_STATUS, CMD_GET_CLOCK, CMD_GET_CLOCK}) {
        command_frame f = request(code);
        ASSERT_EQ(link_transact(f), LINK_OK);
        if (code == CMD_GET_CLOCK) clocks.push_back(f);
    }
    link_close();
    ASSERT_EQ(clocks.size(), 3u);
    for (size_t i = 0; i < clocks.size(); ++i)
        EXPECT_EQ(0, std::memcmp(clocks[i].bytes + FRAME_PAYLOAD, clock_answers[i].bytes + FRAME_PAYLOAD, FRAME_PAYLOAD_MAX)) << i;
    EXPECT_NE(0, std::memcmp(clock_answers[0].bytes + FRAME_PAYLOAD, clock_answers[1].bytes + FRAME_PAYLOAD, FRAME_PAYLOAD_MAX));
    EXPECT_EQ(replay_problem(), "");
}

// A recording cut off in the middle of an exchange (a program that died, a torn last line)
// ends its replay with a link failure, not a wait without end.
TEST_F(RecordingTest, ARecordingThatEndsMidExchangeEndsTheReplayWithALinkFailure) {
    auto dev = sim_bus_add();
    const std::string file = dir + "/whole.jsonl";
    record_session(file, dev->path(), {request(CMD_GET_STATUS)});
    sim_bus_reset();
    // Everything up to the last request; its answer only half written.
    const std::string whole = text_of(file);
    const size_t last_in = whole.rfind("\"ev\":\"in\"");
    ASSERT_NE(last_in, std::string::npos);
    const size_t line_start = whole.rfind('\n', last_in) + 1;
    const std::string cut = dir + "/cut.jsonl";
    std::ofstream(cut, std::ios::binary) << whole.substr(0, line_start + (last_in - line_start) / 2);

    for (const std::string& mode : {std::string(""), std::string("?fast")}) {
        replay_bus_reset();
        ASSERT_EQ(link_open(("replay:" + cut + mode).c_str(), 300), 0) << mode;
        command_frame f = request(CMD_GET_STATUS);
        EXPECT_EQ(link_transact(f), LINK_ERR_TIMEOUT);
        link_close();
        EXPECT_EQ(replay_problem(), "request 1: the recording ends before the answer to GET_STATUS");
    }
    replay_bus_reset();
    const cli_result r = cli({"--device", "replay:" + cut, "--timeout", "300", "status"});
    EXPECT_EQ(r.rc, CLI_LINK_FAILED);
    EXPECT_NE(r.err.find("veltranic-cli: replay: request 1: the recording ends before the answer to GET_STATUS"),
              std::string::npos)
        << r.err;
    std::ofstream(dir + "/other.jsonl") << "{\"format\":\"something else\"}\n";
    std::string why;
    EXPECT_EQ(replay_bus_add(dir + "/other.jsonl", &why), 1);
    EXPECT_NE(why.find("not a recording"), std::string::npos) << why;
}

// The recorder never holds up an exchange: with its writer stalled, a full queue drops lines and
// the file says how many.
TEST_F(RecordingTest, AFullQueueDropsLinesAndTheFileCountsThem) {
    auto dev = sim_bus_add();
    const std::string file = dir + "/full.jsonl";
    ASSERT_EQ(recorder_start(file.c_str(), "test"), 0);
    recorder_test_hold_writer(true);
    ASSERT_EQ(link_open(dev->path().c_str(), 1000), 0);
    constexpr int EXCHANGES = 3000;
    for (int i = 0; i < EXCHANGES; ++i) {
        command_frame f = request(CMD_GET_STATUS);
        ASSERT_EQ(link_transact(f), LINK_OK) << i;
    }
    link_close();
    // One device line at the start, open, probe, an out and an in per exchange, close.
    const uint64_t queued = 4 + 2 * EXCHANGES;
    EXPECT_EQ(recorder_dropped(), queued - RECORDER_QUEUE_LINES);
    recorder_test_hold_writer(false);
    ASSERT_EQ(recorder_stop(), 0);

    const std::vector<json> lines = lines_of(file);
    uint64_t written = 0, noted = 0;
    for (size_t i = 1; i + 1 < lines.size(); ++i) {
        if (lines[i]["ev"] == "dropped") noted += lines[i]["count"].get<uint64_t>();
        else ++written;
    }
    EXPECT_EQ(written, RECORDER_QUEUE_LINES);
    EXPECT_EQ(noted, queued - RECORDER_QUEUE_LINES);
    EXPECT_EQ(lines.back()["ev"], "end");
    EXPECT_EQ(lines.back()["count"].get<uint64_t>(), noted);
}

// Arrivals and removals come back, and a paced replay keeps the recorded time an answer took
// (an answer that came late comes late again), where a fast one answers at once.
TEST_F(RecordingTest, ReplayBringsBackArrivalsRemovalsAndPacing) {
    auto dev = sim_bus_add();
    const std::string file = dir + "/plug.jsonl";
    ASSERT_EQ(recorder_start(file.c_str(), "test"), 0);
    ASSERT_EQ(link_open(dev->path().c_str(), 3000), 0);
    command_frame f = request(CMD_GET_STATUS);
    ASSERT_EQ(link_transact(f), LINK_OK);
    link_close();
    dev->unplug();
    dev->plug();
    ASSERT_EQ(link_open(dev->path().c_str(), 3000), 0);
    dev->delay_next_response(600);
    f = request(CMD_GET_CLOCK);
    ASSERT_EQ(link_transact(f), LINK_OK);
    link_close();
    ASSERT_EQ(recorder_stop(), 0);
    sim_bus_reset();

    struct seen {
        std::mutex m;
        std::vector<std::pair<uint32_t, std::string>> events;
    } watched;
    hid_watch* watch = hid_bus_watch(
        [](void* user, uint32_t code, const char* name) {
            auto* w = static_cast<seen*>(user);
            std::lock_guard l(w->m);
            w->events.emplace_back(code, name);
        },
        &watched);
    auto events = [&] {
        std::lock_guard l(watched.m);
        return watched.events;
    };
    for (const bool fast : {false, true}) {
        replay_bus_reset();
        {
            std::lock_guard l(watched.m);
            watched.events.clear();
        }
        const std::string name = file + (fast ? "?fast" : "");
        ASSERT_EQ(replay_bus_add(name, nullptr), 0);
        const std::string path = "replay:" + name;
        auto listed = [&] {
            for (const hid_device_desc& d : hid_bus_enumerate())
                if (d.path == path) return true;
            return false;
        };
        EXPECT_TRUE(listed());
        ASSERT_EQ(link_open(path.c_str(), 300), 0);
        f = request(CMD_GET_STATUS);
        EXPECT_EQ(link_transact(f), LINK_OK) << fast << " " << replay_problem();
        link_close();
        // Gone and back, as recorded.
        for (int waited = 0; events().size() < 2 && waited < 5000; waited += 10)
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        const auto seen_events = events();
        ASSERT_EQ(seen_events.size(), 2u) << fast;
        EXPECT_EQ(seen_events[0], std::make_pair(HID_EVENT_REMOVE_COMPLETE, path));
        EXPECT_EQ(seen_events[1], std::make_pair(HID_EVENT_ARRIVAL, path));
        EXPECT_TRUE(listed());
        ASSERT_EQ(link_open(path.c_str(), 300), 0);
        f = request(CMD_GET_CLOCK);
        // 600 ms recorded against a 300 ms timeout: late again when paced, at once when fast.
        EXPECT_EQ(link_transact(f), fast ? LINK_OK : LINK_ERR_TIMEOUT) << fast;
        link_close();
    }
    hid_bus_unwatch(watch);

    // A watcher whose stop has returned is never called again (its data may be gone): the stop
    // waits for the removal being told, and the arrival after it is not told to it.
    replay_bus_reset();
    struct slow_watch {
        std::atomic<bool> inside{false}, freed{false};
        std::atomic<int> calls_after_free{0};
    } slow;
    watch = hid_bus_watch(
        [](void* user, uint32_t, const char*) {
            auto* w = static_cast<slow_watch*>(user);
            if (w->freed) ++w->calls_after_free;
            w->inside = true;
            std::this_thread::sleep_for(std::chrono::milliseconds(200));
            if (w->freed) ++w->calls_after_free;
        },
        &slow);
    ASSERT_EQ(link_open(("replay:" + file + "?fast").c_str(), 300), 0);
    f = request(CMD_GET_STATUS);
    EXPECT_EQ(link_transact(f), LINK_OK);
    link_close();
    for (int waited = 0; !slow.inside && waited < 5000; waited += 1) std::this_thread::sleep_for(std::chrono::milliseconds(1));
    ASSERT_TRUE(slow.inside);
    hid_bus_unwatch(watch);
    slow.freed = true;
    std::this_thread::sleep_for(std::chrono::milliseconds(400));
    EXPECT_EQ(slow.calls_after_free.load(), 0);
}

#ifndef _WIN32
// A recording whose file fails is reported once, never taken for a good one, and leaves the
// file it was to replace as it was.
TEST_F(RecordingTest, AFailedWriteIsReportedOnceAndLeavesNoHalfRecording) {
    auto dev = sim_bus_add();
    EXPECT_NE(recorder_start((dir + "/no/such/folder.jsonl").c_str(), "test"), 0);
    EXPECT_FALSE(recorder_active());

    const std::string file = dir + "/kept.jsonl";
    std::ofstream(file) << "what was there\n";
    std::atomic<int> told{0}, error{0};
    {
        file_size_limit limit(4096);
        ASSERT_EQ(recorder_start(file.c_str(), "test", [&](int e) {
                      ++told;
                      error = e;
                  }),
                  0);
        ASSERT_EQ(link_open(dev->path().c_str(), 1000), 0);
        for (int i = 0; i < 200; ++i) {
            command_frame f = request(CMD_GET_STATUS);
            ASSERT_EQ(link_transact(f), LINK_OK);
        }
        link_close();
        EXPECT_EQ(recorder_stop(), EFBIG);
    }
    EXPECT_EQ(told, 1);
    EXPECT_EQ(error, EFBIG);
    EXPECT_EQ(text_of(file), "what was there\n");
    for (const auto& entry : std::filesystem::directory_iterator(dir))
        EXPECT_EQ(entry.path().filename().string().find(".tmp"), std::string::npos) << entry.path();

    // The command line says so on standard error, once, and does not call it a success.
    cli_result r;
    {
        file_size_limit limit(512);
        r = cli({"--record", file, "--device", dev->path(), "sample-log"});
    }
    EXPECT_EQ(r.rc, CLI_USAGE);
    const std::string expected = "veltranic-cli: recording to " + file + " failed: " + std::strerror(EFBIG) + "\n";
    EXPECT_EQ(r.err, expected);
    EXPECT_EQ(text_of(file), "what was there\n");
    EXPECT_EQ(cli({"--record", dir + "/no/such/folder.jsonl", "status"}).rc, CLI_USAGE);
}

// A recording follows the rules of every saved file: through a link (even one whose file is
// still to be made) into its file, and a pipe that nobody reads refused at once, not waited on.
TEST_F(RecordingTest, ARecordingGoesThroughLinksAndNeverWaitsOnAPipeWithoutReader) {
    auto dev = sim_bus_add();
    const std::string real = dir + "/real.jsonl", link = dir + "/link.jsonl";
    const std::string dangling_target = dir + "/later.jsonl", dangling = dir + "/dangling.jsonl";
    std::ofstream(real) << "old\n";
    std::filesystem::permissions(real, std::filesystem::perms(0640));
    std::filesystem::create_symlink("real.jsonl", link);
    std::filesystem::create_symlink("later.jsonl", dangling);
    for (const std::string& name : {link, dangling}) {
        record_session(name, dev->path(), {request(CMD_GET_STATUS)});
        EXPECT_TRUE(std::filesystem::is_symlink(name)) << name;
    }
    EXPECT_EQ(lines_of(real).size(), lines_of(dangling_target).size());
    EXPECT_GT(lines_of(real).size(), 3u);
    EXPECT_EQ(std::filesystem::status(real).permissions() & std::filesystem::perms::all, std::filesystem::perms(0640));

    const std::string fifo = dir + "/pipe";
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    EXPECT_EQ(recorder_start(fifo.c_str(), "test"), ENXIO);
    EXPECT_FALSE(recorder_active());
}
#endif

}  // namespace
