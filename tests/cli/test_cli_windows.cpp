// veltranic-cli says what the windows say: the same sample log file as File > Save Log..., and
// the run view's own status words.
#include "app_fixture.h"
#include "cli/cli.h"
#include "ui/large_text.h"

#include <QLabel>
#include <QTemporaryDir>

#include <fstream>
#include <sstream>

namespace {

std::string read_file(const QString& path) {
    std::ifstream in(path.toStdString(), std::ios::binary);
    std::stringstream ss;
    ss << in.rdbuf();
    return ss.str();
}

int cli(std::vector<std::string> args, std::string* out) {
    args.insert(args.begin(), "veltranic-cli");
    std::vector<const char*> argv;
    for (const auto& a : args) argv.push_back(a.c_str());
    std::ostringstream o, e;
    std::istringstream in;
    cli_io io{o, e, in, false};
    const int rc = cli_run(int(argv.size()), argv.data(), io);
    *out = o.str() + e.str();
    return rc;
}

class CliAndWindowsTest : public AppTest {};

TEST_F(CliAndWindowsTest, SampleLogAndStatusAreTheWindowsOwn) {
    sim_device_config c;
    c.firmware.sampler.fill_log(6, 0);
    c.firmware.sampler.log[2].treatment = 9;  // "unknown"
    c.firmware.sampler.log[4].max_pressure = 1.25f;
    auto dev = sim_bus_add(c);
    dev->use_stepped_clock(true);
    open_window();
    ASSERT_NO_FATAL_FAILURE(connect_first_row());
    auto* rows = main_current_view()->findChild<QTreeWidget*>(QStringLiteral("sample_list"));
    auto label = [](const char* name) {
        return main_current_view()->findChild<QLabel*>(QString::fromUtf8(name))->text().toStdString();
    };
    ASSERT_TRUE(wait_until([&] { return rows->topLevelItemCount() == 6 && label("state_line") == "Sampler State: Idle"; }));
    std::string words = main_current_view()->findChild<large_text_display*>(QStringLiteral("cartridge_display"))->text().toStdString() + "\n";
    for (const char* line : {"clock_line", "control_line", "waypoint_line", "state_line", "run_status_line", "flow_line",
                             "pressure_line"})
        words += label(line) + "\n";

    QTemporaryDir dir;
    const QString saved = dir.filePath(QStringLiteral("window.log"));
    ui_set_file_hook([&](QWidget*, const ui_file_request&) { return saved; });
    main_command(ID_FILE_SAVE_LOG);
    ASSERT_EQ(messages.size(), 1u);
    main_command(ID_FILE_DISCONNECT);
    ASSERT_FALSE(link_is_open());

    const QString exported = dir.filePath(QStringLiteral("cli.log"));
    std::string out;
    ASSERT_EQ(cli({"sample-log", "-o", exported.toStdString()}, &out), CLI_OK) << out;
    const std::string window_file = read_file(saved);
    EXPECT_EQ(read_file(exported), window_file);
    EXPECT_NE(window_file.find(",unknown,"), std::string::npos);

    ASSERT_EQ(cli({"status"}, &out), CLI_OK) << out;
    EXPECT_EQ(out, words);
}

TEST_F(CliAndWindowsTest, DiagLogIsTheFileSaveDiagnosticsWrites) {
    auto dev = sim_bus_add({});
    dev->use_stepped_clock(true);
    dev->with_firmware([](sim_firmware& fw) {
        fw.diag.debug_rate = 0;
        sim_diag_write(fw.diag, 3, 2, "pump", 7, "Flow low, 0.5 l/min");
        sim_diag_write(fw.diag, 5, 1, "motor", 44, "Stall");
    });
    open_window();
    ASSERT_NO_FATAL_FAILURE(connect_first_row());
    main_command(ID_VIEW_DIAGNOSTICS);
    auto* rows = main_current_view()->findChild<QTreeWidget*>(QStringLiteral("log_list"));
    ASSERT_TRUE(wait_until([&] { return rows && rows->topLevelItemCount() == 3; }));
    QTemporaryDir dir;
    const QString saved = dir.filePath(QStringLiteral("window.log"));
    ui_set_file_hook([&](QWidget*, const ui_file_request&) { return saved; });
    main_current_view()->findChild<QPushButton*>(QStringLiteral("save_button"))->click();
    main_command(ID_FILE_DISCONNECT);
    ASSERT_FALSE(link_is_open());

    const QString exported = dir.filePath(QStringLiteral("cli.log"));
    std::string out;
    ASSERT_EQ(cli({"diag-log", "-o", exported.toStdString()}, &out), CLI_OK) << out;
    const std::string window_file = read_file(saved);
    EXPECT_EQ(read_file(exported), window_file);
    // The message keeps its comma inside one field.
    EXPECT_NE(window_file.find(",03,I,pump,7,\"Flow low, 0.5 l/min\"\n"), std::string::npos) << window_file;
}

}  // namespace
