#include "file_size_limit.h"
#include "platform/file_replace.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <fstream>
#include <future>
#include <memory>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

class FileReplaceTest : public ::testing::Test {
protected:
    void SetUp() override {
        char tmpl[] = "/tmp/veltranic-save-XXXXXX";
        dir = mkdtemp(tmpl);
    }
    void TearDown() override {
        ::chmod(dir.c_str(), 0700);
        const std::string cmd = "rm -rf '" + dir + "'";
        (void)std::system(cmd.c_str());
    }
    static std::string read(const std::string& path) {
        std::ifstream in(path, std::ios::binary);
        std::stringstream ss;
        ss << in.rdbuf();
        return ss.str();
    }
    std::vector<std::string> entries() const {
        std::vector<std::string> names;
        if (DIR* d = ::opendir(dir.c_str())) {
            while (dirent* e = ::readdir(d))
                if (std::string(e->d_name) != "." && std::string(e->d_name) != "..") names.push_back(e->d_name);
            ::closedir(d);
        }
        return names;
    }
    std::string dir;
};

TEST_F(FileReplaceTest, WritesNewFilesAndReplacesOldOnesKeepingTheirMode) {
    const std::string path = dir + "/log.log";
    ASSERT_EQ(file_replace(path.c_str(), "first\n"), 0);
    EXPECT_EQ(read(path), "first\n");
    ASSERT_EQ(::chmod(path.c_str(), 0640), 0);
    ASSERT_EQ(file_replace(path.c_str(), "second, longer\n"), 0);
    EXPECT_EQ(read(path), "second, longer\n");
    struct stat st {};
    ASSERT_EQ(::stat(path.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0640u);
    EXPECT_EQ(entries(), std::vector<std::string>{"log.log"});  // no temporary file left behind
}

TEST_F(FileReplaceTest, ALinkStaysALinkAndTheFileItEndsAtIsReplacedKeepingItsMode) {
    // link.log -> mid.log -> sub/real.log, relative targets counted from each link's folder.
    ASSERT_EQ(::mkdir((dir + "/sub").c_str(), 0700), 0);
    const std::string real = dir + "/sub/real.log";
    ASSERT_EQ(file_replace(real.c_str(), "old\n"), 0);
    ASSERT_EQ(::chmod(real.c_str(), 0604), 0);
    ASSERT_EQ(::symlink("sub/real.log", (dir + "/mid.log").c_str()), 0);
    ASSERT_EQ(::symlink("mid.log", (dir + "/link.log").c_str()), 0);
    ASSERT_EQ(file_replace((dir + "/link.log").c_str(), "new\n"), 0);
    EXPECT_EQ(read(real), "new\n");
    struct stat st {};
    ASSERT_EQ(::stat(real.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0604u);
    for (const char* link : {"/link.log", "/mid.log"}) {
        ASSERT_EQ(::lstat((dir + link).c_str(), &st), 0);
        EXPECT_TRUE(S_ISLNK(st.st_mode)) << link << " is no longer a link";
    }
    std::vector<std::string> names = entries();
    std::sort(names.begin(), names.end());
    EXPECT_EQ(names, (std::vector<std::string>{"link.log", "mid.log", "sub"}));

    // A link to a file not made yet makes it; a loop of links is an error that writes nothing.
    ASSERT_EQ(::symlink((dir + "/sub/later.log").c_str(), (dir + "/later.log").c_str()), 0);
    ASSERT_EQ(file_replace((dir + "/later.log").c_str(), "made\n"), 0);
    EXPECT_EQ(read(dir + "/sub/later.log"), "made\n");
    ASSERT_EQ(::lstat((dir + "/later.log").c_str(), &st), 0);
    EXPECT_TRUE(S_ISLNK(st.st_mode));
    ASSERT_EQ(::symlink("loop-b", (dir + "/loop-a").c_str()), 0);
    ASSERT_EQ(::symlink("loop-a", (dir + "/loop-b").c_str()), 0);
    EXPECT_EQ(file_replace((dir + "/loop-a").c_str(), "x"), ELOOP);
}

TEST_F(FileReplaceTest, AFifoNobodyReadsIsAnErrorNotAWaitForEver) {
    const std::string fifo = dir + "/pipe.log";
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    auto result = std::make_shared<std::promise<int>>();
    std::future<int> done = result->get_future();
    std::thread([fifo, result] { result->set_value(file_replace(fifo.c_str(), "text\n")); }).detach();
    ASSERT_EQ(done.wait_for(std::chrono::seconds(10)), std::future_status::ready) << "the save waits for a reader";
    EXPECT_EQ(done.get(), ENXIO);
}

TEST_F(FileReplaceTest, AWriteThatFailsPartWayLeavesTheOldFileWhole) {
    const std::string path = dir + "/log.log";
    ASSERT_EQ(file_replace(path.c_str(), "old content\n"), 0);
    {
        file_size_limit limit(64);
        EXPECT_EQ(file_replace(path.c_str(), std::string(4096, 'x')), EFBIG);
    }
    EXPECT_EQ(read(path), "old content\n");
    EXPECT_EQ(entries(), std::vector<std::string>{"log.log"});
}

TEST_F(FileReplaceTest, AFullDeviceIsAnErrorAndIsNeverReplaced) {
    struct stat before {};
    ASSERT_EQ(::stat("/dev/full", &before), 0);
    ASSERT_TRUE(S_ISCHR(before.st_mode));
    EXPECT_EQ(file_replace("/dev/full", std::string(100000, 'x')), ENOSPC);
    struct stat after {};
    ASSERT_EQ(::stat("/dev/full", &after), 0);
    EXPECT_TRUE(S_ISCHR(after.st_mode));
    EXPECT_EQ(after.st_rdev, before.st_rdev);
}

TEST_F(FileReplaceTest, AReadOnlyDirectoryIsAnError) {
    // Permission bits do not bind root; a directory of /proc refuses new files to everyone.
    std::string target;
    if (::geteuid() == 0) {
        target = "/proc/self/veltranic.log";
    } else {
        ASSERT_EQ(::chmod(dir.c_str(), 0555), 0);
        target = dir + "/log.log";
    }
    EXPECT_NE(file_replace(target.c_str(), "text\n"), 0);
    EXPECT_NE(::access(target.c_str(), F_OK), 0);
}

}  // namespace
