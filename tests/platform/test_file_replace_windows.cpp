// Whole-file saves on Windows: a temporary file beside the target, moved over it at the end.
#include "platform/file_replace.h"

#include <gtest/gtest.h>

#include <windows.h>

#include <algorithm>
#include <cerrno>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

namespace {

class WindowsFileReplaceTest : public ::testing::Test {
protected:
    void SetUp() override {
        char base[MAX_PATH];
        ASSERT_GT(GetTempPathA(sizeof base, base), 0u);
        dir = std::string(base) + "veltranic-save-" + std::to_string(GetCurrentProcessId()) + "-" +
              ::testing::UnitTest::GetInstance()->current_test_info()->name();
        ASSERT_TRUE(CreateDirectoryA(dir.c_str(), nullptr) || GetLastError() == ERROR_ALREADY_EXISTS);
    }
    void TearDown() override {
        for (const std::string& name : entries()) DeleteFileA((dir + "\\" + name).c_str());
        RemoveDirectoryA(dir.c_str());
    }
    static std::string read(const std::string& path) {
        std::ifstream in(path, std::ios::binary);
        std::stringstream ss;
        ss << in.rdbuf();
        return ss.str();
    }
    std::vector<std::string> entries() const {
        std::vector<std::string> names;
        WIN32_FIND_DATAA found;
        HANDLE h = FindFirstFileA((dir + "\\*").c_str(), &found);
        if (h == INVALID_HANDLE_VALUE) return names;
        do {
            const std::string name = found.cFileName;
            if (name != "." && name != "..") names.push_back(name);
        } while (FindNextFileA(h, &found));
        FindClose(h);
        return names;
    }
    std::string dir;
};

TEST_F(WindowsFileReplaceTest, WritesNewFilesAndReplacesOldOnesLeavingNoTemporaryFile) {
    const std::string path = dir + "\\sample.log";
    ASSERT_EQ(file_replace(path.c_str(), "first\r\n"), 0);
    EXPECT_EQ(read(path), "first\r\n");
    ASSERT_EQ(file_replace(path.c_str(), "second, longer\n"), 0);
    EXPECT_EQ(read(path), "second, longer\n");  // bytes as given: no text-mode translation
    ASSERT_EQ(file_replace(path.c_str(), ""), 0);
    EXPECT_EQ(read(path), "");
    // Forward slashes, as Qt's file dialogs give them.
    std::string forward = dir + "/other.log";
    ASSERT_EQ(file_replace(forward.c_str(), "x"), 0);
    EXPECT_EQ(read(dir + "\\other.log"), "x");
    std::vector<std::string> names = entries();
    std::sort(names.begin(), names.end());
    EXPECT_EQ(names, (std::vector<std::string>{"other.log", "sample.log"}));
}

TEST_F(WindowsFileReplaceTest, ALinkStaysALinkAndTheFileItEndsAtIsReplaced) {
    const std::string real = dir + "\\real.log";
    ASSERT_EQ(file_replace(real.c_str(), "old\r\n"), 0);
    // link.log -> mid.log -> real.log. Making links may need a privilege this user lacks, and
    // Wine reports links made that it never makes.
    const DWORD unprivileged = 0x2;  // SYMBOLIC_LINK_FLAG_ALLOW_UNPRIVILEGED_CREATE
    CreateSymbolicLinkA((dir + "\\mid.log").c_str(), real.c_str(), unprivileged);
    CreateSymbolicLinkA((dir + "\\link.log").c_str(), "mid.log", unprivileged);
    if (GetFileAttributesA((dir + "\\link.log").c_str()) == INVALID_FILE_ATTRIBUTES ||
        GetFileAttributesA((dir + "\\mid.log").c_str()) == INVALID_FILE_ATTRIBUTES)
        GTEST_SKIP() << "no symbolic links can be made here";
    ASSERT_EQ(file_replace((dir + "\\link.log").c_str(), "new\r\n"), 0);
    EXPECT_EQ(read(real), "new\r\n");
    for (const char* link : {"\\link.log", "\\mid.log"})
        EXPECT_NE(GetFileAttributesA((dir + link).c_str()) & FILE_ATTRIBUTE_REPARSE_POINT, 0u) << link << " is no longer a link";
    std::vector<std::string> names = entries();
    std::sort(names.begin(), names.end());
    EXPECT_EQ(names, (std::vector<std::string>{"link.log", "mid.log", "real.log"}));
}

TEST_F(WindowsFileReplaceTest, ATargetHeldOpenByAnotherProgramKeepsItsContent) {
    const std::string path = dir + "\\sample.log";
    ASSERT_EQ(file_replace(path.c_str(), "old content\n"), 0);
    // Another program reads the file and lets nobody delete or rename it meanwhile.
    HANDLE reader = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(reader, INVALID_HANDLE_VALUE);
    EXPECT_NE(file_replace(path.c_str(), std::string(4096, 'x')), 0);
    CloseHandle(reader);
    EXPECT_EQ(read(path), "old content\n");
    EXPECT_EQ(entries(), std::vector<std::string>{"sample.log"});  // the temporary file is gone
}

TEST_F(WindowsFileReplaceTest, AFolderOrAMissingFolderIsAnError) {
    EXPECT_EQ(file_replace(dir.c_str(), "text\n"), EISDIR);
    const std::string missing = dir + "\\no such folder\\sample.log";
    EXPECT_EQ(file_replace(missing.c_str(), "text\n"), ENOENT);
    EXPECT_EQ(GetFileAttributesA(missing.c_str()), INVALID_FILE_ATTRIBUTES);
    EXPECT_TRUE(entries().empty());
}

}  // namespace
