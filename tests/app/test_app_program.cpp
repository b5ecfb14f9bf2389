// veltranic as a program: --help and --version answer without a display, and without one it
// says so in one line and ends with 1 instead of aborting.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <sys/wait.h>

namespace {

struct program_result {
    int code;  // exit code, or 128 + signal
    std::string out;  // standard output and standard error
};

program_result run_app(const std::string& environment, const std::string& arguments) {
    const std::string command = "env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM " + environment + " '" VELTRANIC_APP "' " +
                                arguments + " 2>&1";
    FILE* p = ::popen(command.c_str(), "r");
    if (!p) return {-1, ""};
    std::string out;
    char buf[256];
    while (size_t n = std::fread(buf, 1, sizeof buf, p)) out.append(buf, n);
    const int status = ::pclose(p);
    return {WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status), out};
}

TEST(AppProgram, HelpAndVersionAnswerWithoutADisplay) {
    program_result r = run_app("", "--help");
    EXPECT_EQ(r.code, 0) << r.out;
    EXPECT_EQ(r.out.rfind("Usage: veltranic [options]\n", 0), 0u) << r.out;
    EXPECT_NE(r.out.find("--version"), std::string::npos);
    r = run_app("", "--version");
    EXPECT_EQ(r.code, 0);
    EXPECT_EQ(r.out, "veltranic " VELTRANIC_VERSION "\n");
}

TEST(AppProgram, WithoutADisplayItSaysSoInOneLine) {
    for (const char* environment : {"", "DISPLAY=:77", "QT_QPA_PLATFORM=nonesuch"}) {
        const program_result r = run_app(environment, "");
        EXPECT_EQ(r.code, 1) << environment << "\n" << r.out;
        EXPECT_EQ(r.out.rfind("veltranic: no display", 0), 0u) << environment << "\n" << r.out;
        EXPECT_EQ(r.out.find('\n'), r.out.size() - 1) << environment << "\n" << r.out;
    }
}

}  // namespace
