#include "app_fixture.h"
#include "decimal_comma.h"
#include "file_size_limit.h"
#include "link/bytes.h"
#include "link/commands.h"
#include "link/field_text.h"
#include "platform/pc_clock.h"
#include "platform/registry.h"
#include "sampler/run_settings.h"
#include "sampler/run_view.h"
#include "ui/large_text.h"
#include "ui/trend_plot.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QTemporaryDir>

#include <fstream>
#include <sstream>
#include <thread>

#include <unistd.h>

namespace {

class RunViewTest : public AppTest {
protected:
    void connect_to(const sim_device_config& config = {}) {
        dev = sim_bus_add(config);
        dev->use_stepped_clock(true);
        open_window();
        ASSERT_NO_FATAL_FAILURE(connect_first_row());
        ASSERT_TRUE(wait_until([&] { return text("state_line") == "Sampler State: Idle"; }));
    }
    template <typename T = QWidget>
    T* child(const char* name) {
        return main_current_view()->findChild<T*>(QString::fromUtf8(name));
    }
    std::string text(const char* name) {
        auto* l = child<QLabel>(name);
        return l ? l->text().toStdString() : "";
    }
    QPushButton* push(const char* name) { return child<QPushButton>(name); }
    QTreeWidget* log() { return child<QTreeWidget>("sample_list"); }
    std::vector<command_frame> sent(uint16_t code) {
        std::vector<command_frame> out;
        for (const auto& f : dev->requests())
            if (frame_code(f) == code) out.push_back(f);
        return out;
    }
    void fill_log(int n) {
        const uint64_t now = dev->now_ms();
        dev->with_firmware([&](sim_firmware& fw) { fw.sampler.fill_log(n, now); });
    }
    std::string row_text(int r) {
        std::string line;
        for (int c = 0; c < 7; ++c) line += (c ? "," : "") + log()->topLevelItem(r)->text(c).toStdString();
        return line;
    }
    static void store(const char* name, uint32_t value) {
        char key[80];
        settings_key_path(key);
        registry_set_dword(key, name, value);
    }
    std::shared_ptr<sim_device> dev;
};

TEST_F(RunViewTest, ShowsTheInstrumentStateAndGreysTheMenuWhileRunning) {
    connect_to();
    EXPECT_EQ(text("control_line"), "Control: Manual (GUI or vehicle)");
    EXPECT_EQ(text("clock_line"), "Sampler Clock Time Now: 07/12/2026 09:05");
    EXPECT_EQ(child<large_text_display>("cartridge_display")->text(), QStringLiteral("Top Cartridge: 1"));
    EXPECT_TRUE(push("start_button")->isEnabled());
    EXPECT_FALSE(push("stop_button")->isEnabled());
    ASSERT_TRUE(wait_until([&] { return action_enabled(ID_FILE_DISCONNECT); }));

    child<QComboBox>("mode_box")->setCurrentIndex(1);
    child<QLineEdit>("cartridges_edit")->setText(QStringLiteral("1"));
    child<QLineEdit>("volume_edit")->setText(QStringLiteral("2.0"));
    QTest::mouseClick(push("start_button"), Qt::LeftButton);
    EXPECT_TRUE(messages.empty());
    dev->advance_clock(2000);  // loading done, engaging the sample
    ASSERT_TRUE(wait_until([&] { return text("state_line") == "Sampler State: Engaging Sample ID=1"; }));
    EXPECT_TRUE(push("stop_button")->isEnabled());
    EXPECT_FALSE(push("start_button")->isEnabled());
    ASSERT_TRUE(wait_until([&] { return !action_enabled(ID_FILE_DISCONNECT); }));
    EXPECT_FALSE(action_enabled(ID_CONFIGURE_MOTORS));

    dev->with_firmware([](sim_firmware& fw) { fw.sampler.set_power(false, fw.now_ms); });
    ASSERT_TRUE(wait_until([&] { return text("state_line") == "Sampler State:"; }));
    EXPECT_EQ(child<large_text_display>("cartridge_display")->text(), QStringLiteral("unpowered"));
    EXPECT_FALSE(push("start_button")->isEnabled());
    EXPECT_TRUE(push("clear_button")->isEnabled());
    ASSERT_TRUE(wait_until([&] { return action_enabled(ID_FILE_DISCONNECT); }));
}

TEST_F(RunViewTest, StartSendsTheTenBytesWithThePcTimeAndSavesTheSettings) {
    connect_to();
    pc_clock_pin(1800000000);
    child<QComboBox>("mode_box")->setCurrentIndex(1);
    child<QLineEdit>("cartridges_edit")->setText(QStringLiteral("3"));
    child<QLineEdit>("volume_edit")->setText(QStringLiteral("2.5"));
    child<QLineEdit>("timeout_edit")->setText(QStringLiteral("12"));
    child<QCheckBox>("clean_check")->setChecked(true);
    dev->force_result(CMD_START_RUN, 2);
    QTest::mouseClick(push("start_button"), Qt::LeftButton);
    pc_clock_pin(0);
    auto starts = sent(CMD_START_RUN);
    ASSERT_EQ(starts.size(), 1u);
    EXPECT_EQ(starts[0].bytes[FRAME_LENGTH], 10);
    uint8_t expected[10] = {0, 1, 3, 25, 12, 1};
    put_u32le(expected + 6, 1800000000);
    EXPECT_EQ(std::memcmp(frame_payload(starts[0]), expected, 10), 0);
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_EQ(messages[0].caption, "Start");
    EXPECT_EQ(messages[0].text, "Unable to start device - check power supply");
    // Saved although the start failed.
    run_settings s = run_settings_load();
    EXPECT_EQ(std::memcmp(s.bytes, expected, 6), 0);
}

// On a decimal-comma desktop "12,5" cartridges were started as 125 (the comma dropped) and a
// volume of "2,5" as 2 litres. Such a field stays as typed, red, and holds Start back while the
// mode uses it.
TEST_F(RunViewTest, StartFieldsThatCannotBeSentAsTypedAreRedAndHoldStartBack) {
    decimal_comma_locale comma;
    ASSERT_DECIMAL_COMMA(comma);
    connect_to();
    child<QComboBox>("mode_box")->setCurrentIndex(1);
    const char* cases[][3] = {{"cartridges_edit", "12,5", "3"}, {"volume_edit", "2,5", "2.5"}, {"timeout_edit", "-5", "12"}};
    for (const auto& c : cases) {
        auto* e = child<QLineEdit>(c[0]);
        e->clear();
        QTest::keyClicks(e, QString::fromUtf8(c[1]));
        EXPECT_EQ(e->text(), QString::fromUtf8(c[1]));
        EXPECT_EQ(e->palette().color(QPalette::Text), QColor(255, 0, 0)) << c[0];
        EXPECT_FALSE(push("start_button")->isEnabled()) << c[0];
        QTest::mouseClick(push("start_button"), Qt::LeftButton);
        e->setText(QString::fromUtf8(c[2]));
    }
    EXPECT_TRUE(sent(CMD_START_RUN).empty());
    // A field the mode does not use holds nothing back.
    child<QLineEdit>("volume_edit")->setText(QStringLiteral("abc"));
    child<QComboBox>("mode_box")->setCurrentIndex(0);
    EXPECT_TRUE(push("start_button")->isEnabled());
}

TEST_F(RunViewTest, SettingsThatCannotBeStoredAreSaidToBeLostOnceTheRunHasStarted) {
    connect_to();
    qputenv("XDG_CONFIG_HOME", "/dev/null/config");  // no folder can be made there
    size_t starts_when_said = 0;
    ui_set_message_hook([&](QWidget*, const QString& caption, const QString& text, unsigned) {
        messages.push_back({caption.toStdString(), text.toStdString()});
        starts_when_said = sent(CMD_START_RUN).size();
        return UI_IDOK;
    });
    child<QComboBox>("mode_box")->setCurrentIndex(1);
    QTest::mouseClick(push("start_button"), Qt::LeftButton);
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_EQ(messages[0].caption, "Start");
    EXPECT_EQ(messages[0].text, "Unable to save the run settings for next time");
    EXPECT_EQ(starts_when_said, 1u);
}

TEST_F(RunViewTest, ScheduleModeStartsTheScheduleAndStopFollowsTheInstrument) {
    connect_to();
    child<QComboBox>("mode_box")->setCurrentIndex(3);
    EXPECT_FALSE(child<QLineEdit>("cartridges_edit")->isEnabled());
    EXPECT_FALSE(child<QLineEdit>("volume_edit")->isEnabled());
    QTest::mouseClick(push("start_button"), Qt::LeftButton);
    EXPECT_EQ(sent(CMD_START_SCHEDULE).size(), 1u);
    EXPECT_TRUE(sent(CMD_START_RUN).empty());
    ASSERT_TRUE(wait_until([&] { return text("control_line").rfind("Control: Schedule (next event: ", 0) == 0; }));
    EXPECT_EQ(text("waypoint_line"), "Next Schedule Waypoint: 1");
    // Whatever the mode box shows, Stop stops the schedule while it is in control.
    child<QComboBox>("mode_box")->setCurrentIndex(1);
    ASSERT_TRUE(push("stop_button")->isEnabled());
    QTest::mouseClick(push("stop_button"), Qt::LeftButton);
    EXPECT_EQ(sent(CMD_STOP_SCHEDULE).size(), 1u);
    EXPECT_TRUE(sent(CMD_STOP_RUN).empty());
    ASSERT_TRUE(wait_until([&] { return text("control_line") == "Control: Manual (GUI or vehicle)"; }));
}

TEST_F(RunViewTest, SampleLogIsReadInOrderAndTheNewestRowFollowsTheInstrument) {
    sim_device_config c;
    c.firmware.sampler.fill_log(3, 0);
    connect_to(c);
    ASSERT_TRUE(wait_until([&] { return log()->topLevelItemCount() == 3; }));
    // The next pass reads record 2 again in place, then asks for 3.
    dev->clear_requests();
    ASSERT_TRUE(wait_until([&] { return sent(CMD_READ_SAMPLE_RECORD).size() >= 2; }, 3000));
    auto reads = sent(CMD_READ_SAMPLE_RECORD);
    EXPECT_EQ(get_u16le(frame_payload(reads[0])), 2);
    EXPECT_EQ(get_u16le(frame_payload(reads[1])), 3);
    EXPECT_EQ(log()->topLevelItemCount(), 3);

    dev->with_firmware([](sim_firmware& fw) { fw.sampler.log[2].treatment = 9; });
    fill_log(1);
    ASSERT_TRUE(wait_until([&] { return log()->topLevelItemCount() == 4; }, 3000));
    EXPECT_EQ(log()->topLevelItem(2)->text(3), QStringLiteral("unknown"));  // rewritten in place
    EXPECT_EQ(log()->topLevelItem(3)->text(1), QStringLiteral("7"));
}

TEST_F(RunViewTest, ClearLogAsksStopsThePollerAndNeverDoublesRows) {
    sim_device_config c;
    c.firmware.sampler.fill_log(3, 0);
    connect_to(c);
    ASSERT_TRUE(wait_until([&] { return log()->topLevelItemCount() == 3; }));

    answer = UI_IDNO;
    QTest::mouseClick(push("clear_button"), Qt::LeftButton);
    EXPECT_TRUE(sent(CMD_CLEAR_SAMPLE_LOG).empty());
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_EQ(messages[0].caption, "Clear Log");
    EXPECT_EQ(messages[0].text, "This will clear the log on the sampler. Do you want to continue?");

    answer = UI_IDYES;
    dev->force_result(CMD_CLEAR_SAMPLE_LOG, 4);
    QTest::mouseClick(push("clear_button"), Qt::LeftButton);
    ASSERT_EQ(messages.size(), 3u);
    EXPECT_EQ(messages[2].text, "Failed to clear log");
    ASSERT_TRUE(wait_until([&] { return log()->topLevelItemCount() == 3; })) << log()->topLevelItemCount();
    settle(1300);  // another full pass: still three rows, not six
    EXPECT_EQ(log()->topLevelItemCount(), 3);

    dev->force_result(CMD_CLEAR_SAMPLE_LOG, -1);
    QTest::mouseClick(push("clear_button"), Qt::LeftButton);
    EXPECT_EQ(log()->topLevelItemCount(), 0);
    dev->with_firmware([](sim_firmware& fw) { EXPECT_TRUE(fw.sampler.log.empty()); });
    settle(1300);
    EXPECT_EQ(log()->topLevelItemCount(), 0);
}

TEST_F(RunViewTest, SaveLogWritesTheListByteForByte) {
    sim_device_config c;
    c.firmware.sampler.fill_log(2, 0);
    c.firmware.sampler.log[0].max_pressure = 1.25f;
    connect_to(c);
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("samples.log"));
    ui_file_request asked;
    ui_set_file_hook([&](QWidget*, const ui_file_request& r) { return asked = r, path; });

    // An empty list first: only the captions, and no message.
    dev->with_firmware([](sim_firmware& fw) { fw.sampler.log.clear(); });
    main_command(ID_VIEW_RUN);
    ASSERT_TRUE(wait_until([&] { return action_enabled(ID_FILE_SAVE_LOG); }));
    main_menu_action(ID_FILE_SAVE_LOG)->trigger();
    EXPECT_TRUE(asked.save);
    EXPECT_EQ(asked.title, QStringLiteral("Sample Log File"));
    EXPECT_EQ(asked.filter, QStringLiteral("LOG Files (*.log);;All Files (*.*)"));
    EXPECT_EQ(asked.default_suffix, QStringLiteral("log"));
    auto read = [&] {
        std::ifstream in(path.toStdString(), std::ios::binary);
        std::stringstream ss;
        ss << in.rdbuf();
        return ss.str();
    };
    const std::string captions =
        "Start Time,Cartridge ID,Duration (sec),Treatment,Stop Reason,Volume Pumped (litre),Max Pressure (bar)\n";
    EXPECT_EQ(read(), captions);
    EXPECT_TRUE(messages.empty());

    fill_log(2);
    ASSERT_TRUE(wait_until([&] { return log()->topLevelItemCount() == 2; }, 3000));
    main_menu_action(ID_FILE_SAVE_LOG)->trigger();
    EXPECT_EQ(asked.start_path, path);  // the last name is offered again
    EXPECT_EQ(read(), captions + row_text(0) + "\n" + row_text(1) + "\n");
    EXPECT_NE(row_text(0).find(",stabilized full sample,complete,2.500,"), std::string::npos) << row_text(0);
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_EQ(messages[0].caption, "Save Sample Log");
    EXPECT_EQ(messages[0].text, "Diagnostics saved to " + path.toStdString());

    ui_set_file_hook([&](QWidget*, const ui_file_request&) { return dir.filePath(QStringLiteral("no/such/dir.log")); });
    main_menu_action(ID_FILE_SAVE_LOG)->trigger();
    ASSERT_EQ(messages.size(), 2u);
    EXPECT_EQ(messages[1].text.rfind("Unable to open ", 0), 0u);
    ui_set_file_hook({});
}

TEST_F(RunViewTest, TheTrendFollowsEachRunBreaksWhereAnswersStopAndSavesAsText) {
    connect_to();
    auto* plot = child<trend_plot>("trend");
    ASSERT_NE(plot, nullptr);
    settle(1200);
    EXPECT_TRUE(plot->live().empty()) << "an idle instrument adds nothing";
    auto start = [&] {
        dev->with_firmware([](sim_firmware& fw) {
            const uint8_t run[10] = {0, 1, 1, 50, 0, 0};  // one cartridge of 5.0 litres
            fw.sampler.start_run(run, fw.now_ms);
        });
    };
    auto next_sample = [&] {
        const int n = plot->live().size();
        dev->advance_clock(1000);
        return wait_until([&] { return plot->live().size() > n; }, 4000);
    };
    auto last = [&] { return plot->live().bucket(plot->live().size() - 1); };

    start();
    for (int i = 0; i < 6; ++i) ASSERT_TRUE(next_sample());
    // The newest point is what the status lines show; the flow rate follows the volume.
    char flow[64], pressure[64];
    text_format(flow, sizeof flow, "Flow volume: %.3f litre", double(last().lo[0]));
    text_format(pressure, sizeof pressure, "Max pressure: %.3f bar", double(last().lo[2]));
    EXPECT_EQ(text("flow_line"), flow);
    EXPECT_EQ(text("pressure_line"), pressure);
    ASSERT_GT(last().lo[0], 0) << "not pumping yet: nothing tested";
    EXPECT_GT(last().lo[1], 0);
    // While it runs the trend can be saved, the log cannot.
    EXPECT_TRUE(action_enabled(ID_FILE_SAVE_TREND));
    EXPECT_FALSE(action_enabled(ID_FILE_SAVE_LOG));

    // No answers for a while: the trend breaks there, and goes on after it.
    dev->set_never_answer(true);
    ASSERT_TRUE(wait_until([&] { return child<QLabel>("stale_label")->isVisible(); }, 6000));
    const int gap = plot->live().size() - 1;
    for (int c = 0; c < 3; ++c) {
        EXPECT_TRUE(std::isnan(last().lo[c])) << c;
        EXPECT_TRUE(last().flags[c] & TREND_BROKEN) << c;
    }
    dev->set_never_answer(false);
    ASSERT_TRUE(wait_until([&] { return plot->live().size() > gap + 1; }, 8000));
    EXPECT_TRUE(std::isfinite(plot->live().bucket(gap + 1).lo[0]));

    // The run ends: its trend stays on show as it was.
    dev->with_firmware([](sim_firmware& fw) { fw.sampler.stop_run(fw.now_ms); });
    ASSERT_TRUE(wait_until([&] { return text("state_line") == "Sampler State: Idle"; }, 4000));
    const int kept = plot->live().size();
    settle(1300);
    EXPECT_EQ(plot->live().size(), kept);

    // File > Save Trend...: one line per point, under the curves' names and units.
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("run.csv"));
    ui_file_request asked;
    ui_set_file_hook([&](QWidget*, const ui_file_request& r) { return asked = r, path; });
    main_menu_action(ID_FILE_SAVE_TREND)->trigger();
    EXPECT_EQ(asked.title, QStringLiteral("Trend File"));
    EXPECT_EQ(asked.filter, QStringLiteral("CSV Files (*.csv);;All Files (*.*)"));
    std::vector<trend_row> points;
    for (int b = 0; b < plot->live().size(); ++b) trend_bucket_rows(plot->live(), b, points);
    std::ifstream in(path.toStdString(), std::ios::binary);
    std::string line;
    ASSERT_TRUE(std::getline(in, line));
    EXPECT_EQ(line, "Time,Volume (litre),Flow rate (litre/min),Max pressure (bar)");
    size_t lines = 0;
    while (std::getline(in, line)) ++lines;
    EXPECT_EQ(lines, points.size());
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_EQ(messages[0].caption, "Save Trend");
    EXPECT_EQ(messages[0].text, "Trend saved to " + path.toStdString());
    ui_set_file_hook({});

    // The next run starts afresh.
    start();
    ASSERT_TRUE(wait_until([&] { return !plot->live().empty() && plot->live().size() < kept; }, 4000));
    EXPECT_LT(plot->live().t_end(), 3.0);
}

TEST_F(RunViewTest, ALongRunStatusWrapsInsteadOfBeingCut) {
    connect_to();
    dev->with_firmware([](sim_firmware& fw) { fw.sampler.error_flag = 1; });
    ASSERT_TRUE(wait_until([&] { return text("run_status_line") == "Run Status: Errors in previous cartridge: see View/Diagnostics"; }));
    auto* line = child<QLabel>("run_status_line");
    ASSERT_GT(line->fontMetrics().horizontalAdvance(line->text()), line->width()) << "fits on one line: nothing tested";
    EXPECT_GE(line->height(), line->heightForWidth(line->width()));
    // The lines under it are not covered.
    EXPECT_GE(child<QLabel>("flow_line")->y(), line->y() + line->heightForWidth(line->width()));
}

TEST_F(RunViewTest, StoredSettingsFillTheForm) {
    store("RUN_MODE", 255);
    store("NUM_SAMPLES", 300);  // read modulo 256
    store("SAMPLE_VOLUME", 25);
    store("SAMPLE_TIMEOUT", 9);
    connect_to();
    EXPECT_EQ(child<QComboBox>("mode_box")->currentText(), QStringLiteral("Schedule"));
    EXPECT_EQ(child<QLineEdit>("cartridges_edit")->text(), QStringLiteral("44"));
    EXPECT_EQ(child<QLineEdit>("volume_edit")->text(), QStringLiteral("2.5"));
    EXPECT_EQ(child<QLineEdit>("timeout_edit")->text(), QStringLiteral("9"));
    EXPECT_FALSE(child<QCheckBox>("clean_check")->isChecked());

    store("RUN_MODE", 7);
    main_command(ID_VIEW_RUN);
    EXPECT_EQ(child<QComboBox>("mode_box")->currentText(), QStringLiteral("Load/Unload"));
}

TEST_F(RunViewTest, NothingStoredGivesTheDefaults) {
    connect_to();
    EXPECT_EQ(child<QComboBox>("mode_box")->currentIndex(), 0);
    EXPECT_EQ(child<QLineEdit>("cartridges_edit")->text(), QStringLiteral("0"));
    EXPECT_EQ(child<QLineEdit>("volume_edit")->text(), QStringLiteral("0.0"));
    EXPECT_EQ(child<QLineEdit>("timeout_edit")->text(), QStringLiteral("0"));
}

TEST_F(RunViewTest, CartridgeDoubleClickOnlyWhileIdle) {
    static int opened;
    opened = 0;
    run_view_register_cartridge_dialog([](QWidget*) { ++opened; });
    connect_to();
    auto* display = child<large_text_display>("cartridge_display");
    QTest::mouseDClick(display, Qt::LeftButton);
    EXPECT_EQ(opened, 1);
    child<QComboBox>("mode_box")->setCurrentIndex(1);
    QTest::mouseClick(push("start_button"), Qt::LeftButton);
    ASSERT_TRUE(wait_until([&] { return text("state_line") == "Sampler State: Loading Cartridge"; }));
    QTest::mouseDClick(display, Qt::LeftButton);
    EXPECT_EQ(opened, 1);
    run_view_register_cartridge_dialog(nullptr);
}

}  // namespace

namespace {

TEST_F(RunViewTest, SaveLogReportsSuccessOnlyOnceTheWholeFileIsOnDisk) {
    sim_device_config c;
    c.firmware.sampler.fill_log(40, 0);
    connect_to(c);
    ASSERT_TRUE(wait_until([&] { return log()->topLevelItemCount() == 40; }, 5000));
    QString target;
    ui_set_file_hook([&](QWidget*, const ui_file_request&) { return target; });
    auto save = [&](const QString& path) {
        target = path;
        messages.clear();
        main_menu_action(ID_FILE_SAVE_LOG)->trigger();
        return messages.size() == 1 ? messages[0].text : std::string("(") + std::to_string(messages.size()) + " messages)";
    };

    // A full device takes nothing: a failure, never "saved".
    EXPECT_EQ(save(QStringLiteral("/dev/full")), "Unable to open /dev/full for write");

    // A disk that fills up part-way: the file that was there stays whole, and nothing else is left.
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("samples.log"));
    {
        std::ofstream(path.toStdString()) << "yesterday's log\n";
    }
    {
        file_size_limit limit(512);
        EXPECT_EQ(save(path), "Unable to open " + path.toStdString() + " for write");
    }
    std::ifstream in(path.toStdString());
    std::string line;
    std::getline(in, line);
    EXPECT_EQ(line, "yesterday's log");
    EXPECT_EQ(QDir(dir.path()).entryList(QDir::Files | QDir::Hidden), QStringList{QStringLiteral("samples.log")});

    // A folder no file can be made in (permission bits do not bind root; /proc binds everyone).
    const QString read_only = ::geteuid() == 0 ? QStringLiteral("/proc/self/samples.log") : [&] {
        QFile::setPermissions(dir.path(), QFileDevice::ReadOwner | QFileDevice::ExeOwner);
        return dir.filePath(QStringLiteral("other.log"));
    }();
    EXPECT_EQ(save(read_only), "Unable to open " + read_only.toStdString() + " for write");
    QFile::setPermissions(dir.path(), QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);

    EXPECT_EQ(save(path), "Diagnostics saved to " + path.toStdString());
    ui_set_file_hook({});
}

TEST_F(RunViewTest, NoRowReadBeforeAClearArrivesAfterIt) {
    connect_to();  // an empty log: the poller's next read is record 0
    // Three records arrive; the window does not look at its queue while the poller reads them
    // and posts their rows.
    dev->clear_requests();
    fill_log(3);
    auto asked_for = [&](uint16_t index) {
        for (const auto& f : sent(CMD_READ_SAMPLE_RECORD))
            if (get_u16le(frame_payload(f)) == index) return true;
        return false;
    };
    const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    while (!asked_for(3) && std::chrono::steady_clock::now() < until) std::this_thread::sleep_for(std::chrono::milliseconds(5));
    ASSERT_TRUE(asked_for(3));
    ASSERT_EQ(log()->topLevelItemCount(), 0);
    // Rows 0-2 are on their way. The operator clears the log now.
    push("clear_button")->click();
    dev->with_firmware([](sim_firmware& fw) { EXPECT_TRUE(fw.sampler.log.empty()); });
    settle(1500);
    EXPECT_EQ(log()->topLevelItemCount(), 0);  // no phantom of the erased log
}

TEST_F(RunViewTest, ADecimalCommaDesktopStillSendsAndShowsDecimalPoints) {
    decimal_comma_locale comma;
    ASSERT_DECIMAL_COMMA(comma);
    sim_device_config c;
    c.firmware.sampler.fill_log(1, 0);
    connect_to(c);
    ASSERT_TRUE(wait_until([&] { return log()->topLevelItemCount() == 1; }));
    EXPECT_EQ(log()->topLevelItem(0)->text(5), QStringLiteral("2.500"));
    EXPECT_EQ(text("flow_line"), "Flow volume: 0.000 litre");
    child<QComboBox>("mode_box")->setCurrentIndex(1);
    child<QLineEdit>("cartridges_edit")->setText(QStringLiteral("1"));
    child<QLineEdit>("volume_edit")->setText(QStringLiteral("2.5"));
    QTest::mouseClick(push("start_button"), Qt::LeftButton);
    auto starts = sent(CMD_START_RUN);
    ASSERT_EQ(starts.size(), 1u);
    EXPECT_EQ(frame_payload(starts[0])[3], 25);  // 2.5 litres, not 2
    run_settings stored = run_settings_load();
    EXPECT_EQ(stored.bytes[3], 25);
    main_command(ID_VIEW_RUN);
    EXPECT_EQ(child<QLineEdit>("volume_edit")->text(), QStringLiteral("2.5"));
}

}  // namespace
