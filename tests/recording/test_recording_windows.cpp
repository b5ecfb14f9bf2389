// The windows on a recorded session: a tour recorded against the virtual instrument shows the
// same when the recording is played back in its place; Help > Record Instrument Traffic....
#include "app/record_menu.h"
#include "app_fixture.h"
#include "recording/recorder.h"
#include "recording/replay.h"

#include <QDir>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QTemporaryDir>

#include <map>

namespace {

class RecordingWindowsTest : public AppTest {
protected:
    void SetUp() override {
        AppTest::SetUp();
        replay_bus_install();
        replay_bus_reset();
    }
    void TearDown() override {
        AppTest::TearDown();
        record_stop();
        replay_bus_reset();
    }

    // What the operator sees: every label, field and list row of the view on show.
    static std::map<std::string, std::string> seen() {
        std::map<std::string, std::string> texts;
        app_view* v = main_current_view();
        if (!v) return texts;
        for (QLabel* l : v->findChildren<QLabel*>()) texts["label " + l->objectName().toStdString()] = l->text().toStdString();
        for (QLineEdit* e : v->findChildren<QLineEdit*>()) texts["field " + e->objectName().toStdString()] = e->text().toStdString();
        for (QTreeWidget* list : v->findChildren<QTreeWidget*>()) {
            for (int r = 0; r < list->topLevelItemCount(); ++r) {
                std::string row;
                for (int c = 0; c < list->columnCount(); ++c) row += list->topLevelItem(r)->text(c).toStdString() + "|";
                texts["row " + list->objectName().toStdString() + " " + std::to_string(r)] = row;
            }
        }
        return texts;
    }
    static std::string file_text(const QString& path) {
        QFile f(path);
        return f.open(QIODevice::ReadOnly) ? f.readAll().toStdString() : std::string("(missing)");
    }
    QTreeWidget* view_list(const char* name) { return main_current_view()->findChild<QTreeWidget*>(QString::fromUtf8(name)); }

    // The tour: the list, connect, the run view with its log, File > Save Log..., the
    // diagnostics view, Disconnect, connect again, and the instrument pulled out.
    std::vector<std::map<std::string, std::string>> tour(const QString& saved_log) {
        SCOPED_TRACE(sim_bus_find("sim:1") ? "recording" : "replaying");
        std::vector<std::map<std::string, std::string>> shown;
        open_window();
        EXPECT_TRUE(wait_until([&] { return list()->topLevelItemCount() == 2; }));
        shown.push_back(seen());
        connect_first_row();
        EXPECT_TRUE(wait_until([&] { return view_list("sample_list") && view_list("sample_list")->topLevelItemCount() == 3; }));
        EXPECT_TRUE(wait_until([&] { return action_enabled(ID_FILE_SAVE_LOG); }));
        shown.push_back(seen());
        ui_set_file_hook([saved_log](QWidget*, const ui_file_request&) { return saved_log; });
        main_menu_action(ID_FILE_SAVE_LOG)->trigger();
        main_command(ID_VIEW_DIAGNOSTICS);
        EXPECT_TRUE(wait_until([&] { return view_list("log_list") && view_list("log_list")->topLevelItemCount() > 0; }));
        settle(1200);
        shown.push_back(seen());
        main_command(ID_FILE_DISCONNECT);
        EXPECT_TRUE(wait_until([&] { return view_id() == VIEW_CONNECT && list()->topLevelItemCount() == 2; }));
        shown.push_back(seen());
        connect_first_row();
        EXPECT_TRUE(wait_until([&] { return view_list("sample_list") && view_list("sample_list")->topLevelItemCount() == 3; }));
        if (auto dev = sim_bus_find("sim:1")) {
            settle(300);
            dev->unplug();
        }
        EXPECT_TRUE(wait_until([&] { return view_id() == VIEW_CONNECT; }, 8000));
        EXPECT_TRUE(wait_until([&] { return list()->topLevelItemCount() == 1; }));
        shown.push_back(seen());
        std::map<std::string, std::string> other;
        for (const shown_message& m : messages) other["message " + m.caption] += m.text + "\n";
        other["saved log"] = file_text(saved_log);
        shown.push_back(other);
        delete window;
        window = nullptr;
        return shown;
    }
};

TEST_F(RecordingWindowsTest, ATourRecordedAndReplayedFastShowsTheSameTextsRowsAndFiles) {
    QTemporaryDir dir;
    sim_device_config sampler = named("SAMPLER-01");
    sampler.firmware.sampler.fill_log(3, 0);
    sim_bus_add(sampler)->use_stepped_clock(true);
    sim_bus_add(named("HARBOUR-2", sim_mode::bootloader))->use_stepped_clock(true);
    const QString file = dir.filePath(QStringLiteral("tour.jsonl"));
    ASSERT_EQ(record_start(file), 0);
    const QString saved = dir.filePath(QStringLiteral("samples.log"));
    const auto recorded = tour(saved);
    ASSERT_EQ(record_stop(), 0);
    ASSERT_FALSE(HasFailure());
    ASSERT_EQ(recorded.size(), 6u);
    EXPECT_EQ(recorded[5].at("message Device Change"), "Sensor Disconnected\n");
    EXPECT_NE(recorded[5].at("saved log").find('\n'), std::string::npos);

    // No virtual instrument now: the recording alone, listed as the instruments it holds.
    sim_bus_reset();
    messages.clear();
    QString error;
    ASSERT_EQ(record_replay_add(file + QStringLiteral("?fast"), &error), 0) << error.toStdString();
    QFile::remove(saved);
    const auto replayed = tour(saved);
    EXPECT_EQ(replay_problem(), "");
    ASSERT_EQ(replayed.size(), recorded.size());
    for (size_t step = 0; step < recorded.size(); ++step) EXPECT_EQ(replayed[step], recorded[step]) << "step " << step;
}

TEST_F(RecordingWindowsTest, HelpRecordsInstrumentTrafficIntoTheChosenFileWithANoteMeanwhile) {
    QTemporaryDir dir;
    sim_bus_add(named("SAMPLER-01"))->use_stepped_clock(true);
    open_window();
    auto* action = window->findChild<QAction*>(QStringLiteral("record_action"));
    auto* note = window->findChild<QLabel*>(QStringLiteral("record_note"));
    ASSERT_TRUE(action && note);
    EXPECT_EQ(action->text(), QStringLiteral("&Record Instrument Traffic..."));
    const QString file = dir.filePath(QStringLiteral("report.jsonl"));
    ui_file_request asked;
    ui_set_file_hook([&](QWidget*, const ui_file_request& r) { return asked = r, file; });
    action->trigger();
    EXPECT_EQ(asked.title, QStringLiteral("Record Instrument Traffic"));
    EXPECT_TRUE(asked.save);
    EXPECT_TRUE(recorder_active());
    EXPECT_EQ(note->text(), QStringLiteral("Recording instrument traffic to ") + file);
    EXPECT_EQ(action->text(), QStringLiteral("Stop &Recording Instrument Traffic"));
    connect_first_row();
    ASSERT_TRUE(wait_until([&] { return !seen().empty() && action_enabled(ID_FILE_DISCONNECT); }));
    action->trigger();  // stops
    EXPECT_FALSE(recorder_active());
    EXPECT_EQ(note->text(), QStringLiteral("Recording saved to ") + file);
    const std::string text = file_text(file);
    EXPECT_EQ(text.rfind("{\"format\":\"veltranic-recording\"", 0), 0u);
    EXPECT_NE(text.find("\"cmd\":\"GET_STATUS\""), std::string::npos);

    // A file that cannot be made is said at once; nothing records.
    ui_set_file_hook([&](QWidget*, const ui_file_request&) { return dir.filePath(QStringLiteral("no/such/folder.jsonl")); });
    action->trigger();
    EXPECT_FALSE(recorder_active());
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_EQ(messages[0].caption, "Record Instrument Traffic");
    EXPECT_EQ(messages[0].text.rfind("Cannot record to ", 0), 0u) << messages[0].text;
}

}  // namespace
