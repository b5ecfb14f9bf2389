#include "file_size_limit.h"
#include "platform/registry.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include <sys/stat.h>
#include <unistd.h>

namespace {

const char* KEY = "SOFTWARE\\Calderwyn\\Pellmark\\\\VELTRANIC";

class RegistryTest : public ::testing::Test {
protected:
    void SetUp() override {
        char tmpl[] = "/tmp/veltranic-reg-XXXXXX";
        dir = mkdtemp(tmpl);
        setenv("XDG_CONFIG_HOME", dir.c_str(), 1);
        if (const char* home = std::getenv("HOME")) saved_home = home;
    }
    void TearDown() override {
        if (saved_home.empty()) unsetenv("HOME");
        else setenv("HOME", saved_home.c_str(), 1);
        std::string cmd = "rm -rf '" + dir + "'";
        (void)std::system(cmd.c_str());
    }
    std::string file_text() {
        std::ifstream in(registry_file_path(), std::ios::binary);
        std::stringstream ss;
        ss << in.rdbuf();
        return ss.str();
    }
    void write_file(const std::string& text) {
        ::mkdir((dir + "/veltranic").c_str(), 0700);
        std::ofstream(registry_file_path(), std::ios::binary) << text;
    }
    std::string dir, saved_home;
};

TEST_F(RegistryTest, ValuesRoundTripInTheRegistryExportFormat) {
    uint32_t v = 7;
    EXPECT_EQ(registry_get_dword(KEY, "RUN_MODE", &v), 1);  // nothing stored yet
    EXPECT_EQ(v, 7u);
    ASSERT_EQ(registry_set_dword(KEY, "RUN_MODE", 255), 0);
    ASSERT_EQ(registry_set_dword(KEY, "SAMPLE_VOLUME", 25), 0);
    ASSERT_EQ(registry_set_dword(KEY, "RUN_MODE", 1), 0);  // replaced in place
    EXPECT_EQ(file_text(),
              "Windows Registry Editor Version 5.00\r\n\r\n"
              "[HKEY_CURRENT_USER\\SOFTWARE\\Calderwyn\\Pellmark\\\\VELTRANIC]\r\n"
              "\"RUN_MODE\"=dword:00000001\r\n"
              "\"SAMPLE_VOLUME\"=dword:00000019\r\n");
    ASSERT_EQ(registry_get_dword(KEY, "SAMPLE_VOLUME", &v), 0);
    EXPECT_EQ(v, 25u);
    EXPECT_EQ(registry_get_dword("SOFTWARE\\Other", "SAMPLE_VOLUME", &v), 1);
}

TEST_F(RegistryTest, ValuesOfAnotherTypeReadAsMissingAndSurviveWrites) {
    write_file("Windows Registry Editor Version 5.00\r\n\r\n"
               "[HKEY_CURRENT_USER\\SOFTWARE\\Calderwyn\\Pellmark\\\\VELTRANIC]\r\n"
               "\"CLEAN\"=\"yes\"\r\n"
               "\"NUM_SAMPLES\"=dword:0000012c\r\n"
               "\"BAD\"=dword:zz\r\n");
    uint32_t v = 0;
    EXPECT_EQ(registry_get_dword(KEY, "CLEAN", &v), 1);
    EXPECT_EQ(registry_get_dword(KEY, "BAD", &v), 1);
    ASSERT_EQ(registry_get_dword(KEY, "NUM_SAMPLES", &v), 0);
    EXPECT_EQ(v, 300u);
    ASSERT_EQ(registry_set_dword(KEY, "motor_id", 3), 0);
    EXPECT_NE(file_text().find("\"CLEAN\"=\"yes\"\r\n"), std::string::npos);
}

TEST_F(RegistryTest, MissingFoldersAreMadeForThisUserAloneAndAStoreThatCannotBeWrittenSaysSo) {
    // A fresh home without ~/.config.
    const std::string home = dir + "/home";
    ASSERT_EQ(::mkdir(home.c_str(), 0755), 0);
    unsetenv("XDG_CONFIG_HOME");
    setenv("HOME", home.c_str(), 1);
    ASSERT_EQ(registry_set_dword(KEY, "RUN_MODE", 2), 0);
    uint32_t v = 0;
    ASSERT_EQ(registry_get_dword(KEY, "RUN_MODE", &v), 0);
    EXPECT_EQ(v, 2u);
    for (const char* made : {"/.config", "/.config/veltranic"}) {
        struct stat st {};
        ASSERT_EQ(::stat((home + made).c_str(), &st), 0) << made;
        EXPECT_EQ(st.st_mode & 0777, 0700u) << made;
    }
    // A configuration folder named but not made yet, two levels deep.
    setenv("XDG_CONFIG_HOME", (dir + "/not/yet").c_str(), 1);
    ASSERT_EQ(registry_set_dword(KEY, "CLEAN", 1), 0);
    EXPECT_EQ(registry_get_dword(KEY, "CLEAN", &v), 0);

    // No folder can be made under a file, not even by root; a store that is there but cannot be
    // read is not overwritten with one value. Both say the save failed.
    setenv("XDG_CONFIG_HOME", "/dev/null/config", 1);
    EXPECT_EQ(registry_set_dword(KEY, "CLEAN", 1), 1);
    setenv("XDG_CONFIG_HOME", dir.c_str(), 1);
    ASSERT_EQ(::mkdir((dir + "/veltranic").c_str(), 0700), 0);
    ASSERT_EQ(::mkdir(registry_file_path().c_str(), 0700), 0);
    EXPECT_EQ(registry_set_dword(KEY, "CLEAN", 1), 1);
}

TEST_F(RegistryTest, AKeyWrittenTwiceReadsWhatWasWrittenAndEveryOtherLineStaysByteForByte) {
    const std::string ours = "[HKEY_CURRENT_USER\\SOFTWARE\\Calderwyn\\Pellmark\\\\VELTRANIC]\r\n";
    const std::string head = "Windows Registry Editor Version 5.00\r\n\r\n; the sampler tool's settings\r\n" + ours +
                             "@=\"default\"\r\n";
    const std::string blob = "\"BLOB\"=hex:01,02,03,\\\r\n\"RUN_MODE\"=dword:00000009\r\n";
    const std::string other = "\r\n[HKEY_CURRENT_USER\\Software\\Other]\r\n\"RUN_MODE\"=dword:00000005\r\n\r\n";
    const std::string second = "[hkey_current_user\\software\\calderwyn\\pellmark\\\\veltranic]\r\n";
    write_file(head + "\"RUN_MODE\"=dword:00000001\r\n" + blob + other + second + "\"run_mode\"=dword:00000002\r\n" +
               "\"CLEAN\"=dword:00000001\r\n");
    uint32_t v = 0;
    ASSERT_EQ(registry_get_dword(KEY, "RUN_MODE", &v), 0);
    EXPECT_EQ(v, 1u);
    EXPECT_EQ(registry_get_dword(KEY, "BLOB", &v), 1);  // not a 32-bit value, and its next line is not a value

    ASSERT_EQ(registry_set_dword(KEY, "RUN_MODE", 7), 0);
    ASSERT_EQ(registry_get_dword(KEY, "RUN_MODE", &v), 0);
    EXPECT_EQ(v, 7u);
    // A new value goes into the key's first section, after its last line.
    ASSERT_EQ(registry_set_dword(KEY, "NUM_SAMPLES", 3), 0);
    ASSERT_EQ(registry_get_dword(KEY, "NUM_SAMPLES", &v), 0);
    EXPECT_EQ(v, 3u);
    EXPECT_EQ(file_text(), head + "\"RUN_MODE\"=dword:00000007\r\n" + blob + "\"NUM_SAMPLES\"=dword:00000003\r\n" + other +
                               second + "\"RUN_MODE\"=dword:00000007\r\n\"CLEAN\"=dword:00000001\r\n");

    // A store with LF line ends and none after its last line.
    write_file("Windows Registry Editor Version 5.00\n\n[HKEY_CURRENT_USER\\SOFTWARE\\Calderwyn\\Pellmark\\\\VELTRANIC]\n"
               "\"CLEAN\"=dword:00000001");
    ASSERT_EQ(registry_set_dword(KEY, "RUN_MODE", 4), 0);
    ASSERT_EQ(registry_set_dword(KEY, "CLEAN", 0), 0);
    EXPECT_EQ(file_text(), "Windows Registry Editor Version 5.00\n\n[HKEY_CURRENT_USER\\SOFTWARE\\Calderwyn\\Pellmark\\\\VELTRANIC]\n"
                           "\"CLEAN\"=dword:00000000\n\"RUN_MODE\"=dword:00000004\n");

    // A store cut short after a line that says it goes on: a new value must not become the
    // rest of that line.
    write_file("[HKEY_CURRENT_USER\\SOFTWARE\\Calderwyn\\Pellmark\\\\VELTRANIC]\n\"n\\\n");
    ASSERT_EQ(registry_set_dword(KEY, "RUN_MODE", 6), 0);
    ASSERT_EQ(registry_get_dword(KEY, "RUN_MODE", &v), 0);
    EXPECT_EQ(v, 6u);
}

TEST_F(RegistryTest, AFailedWriteLeavesTheOldFileWhole) {
    ASSERT_EQ(registry_set_dword(KEY, "RUN_MODE", 2), 0);
    const std::string before = file_text();
    {
        // The new store cannot be written whole: the write must fail without touching it.
        file_size_limit limit(before.size() / 2);
        EXPECT_EQ(registry_set_dword(KEY, "RUN_MODE", 1), 1);
    }
    EXPECT_EQ(file_text(), before);
    uint32_t v = 0;
    ASSERT_EQ(registry_get_dword(KEY, "RUN_MODE", &v), 0);
    EXPECT_EQ(v, 2u);
}

}  // namespace

namespace {

TEST_F(RegistryTest, WritersAtTheSameMomentLoseNoValue) {
    // Two copies of the tool saving at once: each write reads, changes and rewrites the store.
    constexpr int WRITERS = 4, VALUES = 25;
    std::vector<std::thread> writers;
    std::atomic<int> failures{0};
    for (int w = 0; w < WRITERS; ++w) {
        writers.emplace_back([w, &failures] {
            for (int i = 0; i < VALUES; ++i) {
                const std::string name = "W" + std::to_string(w) + "_" + std::to_string(i);
                if (registry_set_dword(KEY, name.c_str(), uint32_t(w * 1000 + i)) != 0) ++failures;
            }
        });
    }
    for (auto& t : writers) t.join();
    EXPECT_EQ(failures.load(), 0);
    for (int w = 0; w < WRITERS; ++w) {
        for (int i = 0; i < VALUES; ++i) {
            const std::string name = "W" + std::to_string(w) + "_" + std::to_string(i);
            uint32_t v = 0;
            ASSERT_EQ(registry_get_dword(KEY, name.c_str(), &v), 0) << name;
            EXPECT_EQ(v, uint32_t(w * 1000 + i));
        }
    }
}

}  // namespace
