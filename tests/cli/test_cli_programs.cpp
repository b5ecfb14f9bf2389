// veltranic-cli-demo as a program: what its exit code says when its standard output cannot take
// what it writes (a full disk, a closed stream), and that nothing aborts it.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <sys/wait.h>

namespace {

struct program_result {
    int code;  // exit code, or 128 + signal
    std::string err;
};

// Runs a shell command line with the demo program as $CLI; its standard error is captured.
program_result run_shell(const std::string& line) {
    // Standard error into the pipe; standard output where the line sends it, else nowhere.
    const std::string command = "CLI='" VELTRANIC_CLI_DEMO "'; exec 3>&1; { " + line + " ; } 2>&3 >/dev/null";
    FILE* p = ::popen(command.c_str(), "r");
    if (!p) return {-1, ""};
    std::string err;
    char buf[256];
    while (size_t n = std::fread(buf, 1, sizeof buf, p)) err.append(buf, n);
    const int status = ::pclose(p);
    return {WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status), err};
}

TEST(CliProgram, LostStandardOutputIsAFailureWithAMessage) {
    for (const char* line : {"$CLI --device sim:1 sample-log >/dev/full", "$CLI list --json >/dev/full",
                             "$CLI --device sim:1 status >&-"}) {
        const program_result r = run_shell(line);
        EXPECT_EQ(r.code, 2) << line << "\n" << r.err;
        EXPECT_NE(r.err.find("veltranic-cli: cannot write standard output"), std::string::npos) << line << "\n" << r.err;
    }
    const program_result ok = run_shell("$CLI --device sim:1 status >/dev/null");
    EXPECT_EQ(ok.code, 0) << ok.err;
}

TEST(CliProgram, BadDocumentsEndInAnExitCodeNotAnAbort) {
    for (const char* line : {"printf '{\"autostart\":\"yes\"}' | $CLI --device sim:1 schedule set -",
                             "head -c 200000 /dev/zero | tr '\\0' '[' | $CLI --device sim:1 schedule set -",
                             "$CLI --device sim:1 schedule set /dev/zero"}) {
        const program_result r = run_shell(line);
        EXPECT_EQ(r.code, 2) << line << "\n" << r.err;
    }
}

}  // namespace
