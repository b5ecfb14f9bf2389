// The diagnostics view against the virtual instrument: readings, the log list and its limits,
// Pause Display, Clear, Save, Toggle LED, and the running flag that drives the menus.
#include "decimal_comma.h"
#include "diag_fixture.h"
#include "link/bytes.h"
#include "maintenance/diagnostics.h"

#include <QFile>
#include <QHeaderView>
#include <QLabel>
#include <QScrollBar>

#include "ui/trend_plot.h"

#include <fstream>
#include <thread>
#include <sstream>

namespace {

std::vector<int> consecutive(int first, int last) {
    std::vector<int> out;
    for (int c = first; c <= last; ++c) out.push_back(c);
    return out;
}

std::array<int, 3> rgb(const QTreeWidgetItem* item, int column) {
    const QColor c = item->foreground(column).color();
    return {c.red(), c.green(), c.blue()};
}

TEST_F(DiagViewTest, ReadingsAndRowsOfEachSeverityOnADecimalCommaDesktop) {
    decimal_comma_locale comma;
    ASSERT_DECIMAL_COMMA(comma);
    connect_to();
    add_records(6);  // info, info, debug, info, error, debug
    show_diagnostics();
    EXPECT_EQ(field("rh_edit"), "unavailable");
    ASSERT_TRUE(wait_until([&] { return rows() == 7; }));
    ASSERT_TRUE(wait_until([&] { return field("voltage_edit") == "12.20 V"; })) << field("voltage_edit");
    EXPECT_EQ(field("state_edit"), "IDLE");
    EXPECT_EQ(field("temp_edit"), "17.50");
    EXPECT_EQ(field("rh_edit"), "45.00%");
    EXPECT_EQ(child<QLineEdit>("voltage_edit")->toolTip(), QStringLiteral("Supply voltage (V)"));
    EXPECT_EQ(child<QLineEdit>("temp_edit")->toolTip(), QStringLiteral("System board temperature (C)"));
    EXPECT_EQ(child<QLineEdit>("rh_edit")->toolTip(), QStringLiteral("System board humidity"));
    EXPECT_EQ(child<QLineEdit>("state_edit")->toolTip(), QStringLiteral("Firmware run state"));

    QStringList captions;
    for (int c = 0; c < log()->columnCount(); ++c) captions << log()->headerItem()->text(c);
    EXPECT_EQ(captions.join(QLatin1Char(',')), QStringLiteral("Counter,Task ID,Severity,Function,Line,Message"));

    EXPECT_EQ(row_text(0), "00000001,01,I,main,120,Restarted after reset");
    EXPECT_EQ(row_text(5), "00000006,05,E,read_sensor,504,Sensor read timeout 4");
    EXPECT_EQ(log()->topLevelItem(3)->text(2), QStringLiteral("D"));
    for (int c = 0; c < 6; ++c) {
        EXPECT_EQ(rgb(log()->topLevelItem(0), c), (std::array<int, 3>{0, 0, 255})) << "restart, blue";
        EXPECT_EQ(rgb(log()->topLevelItem(5), c), (std::array<int, 3>{255, 0, 0})) << "error, red";
        EXPECT_EQ(rgb(log()->topLevelItem(3), c), (std::array<int, 3>{0, 0, 0})) << "debug, black";
    }
    EXPECT_EQ(ui_list_row_value(log(), 0), DIAG_COLOUR_RESET);
    ASSERT_TRUE(wait_until([&] { return configure_enabled(); }));

    const auto starts = sent(CMD_LOG_READ_START);
    ASSERT_FALSE(starts.empty());
    EXPECT_EQ(starts[0].bytes[FRAME_LENGTH], 2);
    EXPECT_EQ(get_u16le(frame_payload(starts[0])), 0xFFFF);
}

TEST_F(DiagViewTest, ReadingsThatStayZeroKeepTheirFirstTextAndStatesFollowTheInstrument) {
    connect_to();
    dev->with_firmware([](sim_firmware& fw) { fw.sampler.set_power(false, fw.now_ms); });
    show_diagnostics();
    ASSERT_TRUE(wait_until([&] { return field("state_edit") == "UNPOWERED"; }));
    EXPECT_EQ(field("voltage_edit"), "");  // 0.0 V all along: never written
    EXPECT_EQ(field("temp_edit"), "17.50");
    dev->with_firmware([](sim_firmware& fw) { fw.sampler.set_power(true, fw.now_ms); });
    ASSERT_TRUE(wait_until([&] { return field("state_edit") == "IDLE"; }));
    EXPECT_EQ(field("voltage_edit"), "12.20 V");
    start_run();
    ASSERT_TRUE(wait_until([&] { return field("state_edit") == "RUNNING"; }));
    ASSERT_TRUE(wait_until([&] { return configure_grey(); }));
    EXPECT_FALSE(action_enabled(ID_FILE_SAVE_LOG));
}

// A Clear that the instrument refuses leaves the rows; the poller that starts afterwards reads
// the log from its oldest record again. Nothing may be shown twice or out of order at any moment,
// and the list never grows past its limit.
TEST_F(DiagViewTest, AFailedClearKeepsAtMost201RowsInOrderAndNoneTwice) {
    sim_device_config c;
    sim_diag_fill(c.firmware.diag, 40);
    connect_to(c);
    show_diagnostics();
    ASSERT_TRUE(wait_until([&] { return last_counter() == newest(); }, 10000));
    bool always_in_order = true;
    auto in_order = [&] {
        const std::vector<int> shown = counters();
        for (size_t i = 1; i < shown.size(); ++i)
            if (shown[i] <= shown[i - 1]) always_in_order = false;
        return always_in_order;
    };
    auto fail_clear = [&] {
        messages.clear();
        const size_t starts = sent(CMD_LOG_READ_START).size();
        child<QPushButton>("clear_button")->click();
        ASSERT_EQ(messages.size(), 2u);
        EXPECT_EQ(messages[0].caption, "Clear");
        EXPECT_EQ(messages[0].text,
                  "This will permanently wipe the diagnostic log on the sensor. Are you sure you want to do this?");
        EXPECT_EQ(messages[1].caption, "Clear");
        EXPECT_EQ(messages[1].text, "Unable to clear log");
        // The new poller starts the read again and goes through the whole log once more.
        ASSERT_TRUE(wait_until([&] { return sent(CMD_LOG_READ_START).size() > starts; }));
    };

    // A short log: read again whole, shown once.
    dev->force_result(CMD_CLEAR_LOG, 4);
    fail_clear();
    wait_until([&] { return !in_order(); }, 1000);
    EXPECT_TRUE(always_in_order);
    EXPECT_EQ(counters(), consecutive(1, 41));

    // A log longer than the list, twice.
    add_records(300);
    ASSERT_TRUE(wait_until([&] { return !in_order() || last_counter() == newest(); }, 10000));
    EXPECT_EQ(counters(), consecutive(newest() - 200, newest()));
    for (int attempt = 0; attempt < 2; ++attempt) {
        fail_clear();
        add_records(30);
        ASSERT_TRUE(wait_until([&] { return !in_order() || last_counter() == newest(); }, 10000));
        wait_until([&] { return !in_order(); }, 700);  // a whole cycle more
        EXPECT_TRUE(always_in_order) << "a record shown twice or out of order";
        EXPECT_EQ(rows(), DIAG_LOG_MAX_ROWS);
        EXPECT_EQ(counters(), consecutive(newest() - 200, newest()));
    }
    EXPECT_EQ(sent(CMD_CLEAR_LOG).size(), 3u);

    // A Clear that works empties the list; the instrument's numbers go on rising.
    const int before = newest();
    dev->force_result(CMD_CLEAR_LOG, -1);
    messages.clear();
    child<QPushButton>("clear_button")->click();
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_EQ(rows(), 0);
    add_records(5);
    ASSERT_TRUE(wait_until([&] { return rows() == 5; }));
    EXPECT_EQ(counters(), consecutive(before + 1, before + 5));

    // No means no.
    answer = UI_IDNO;
    child<QPushButton>("clear_button")->click();
    EXPECT_EQ(sent(CMD_CLEAR_LOG).size(), 4u);
    EXPECT_EQ(rows(), 5);
}

TEST_F(DiagViewTest, AThousandWaitingRecordsPauseMidDrainAndResumeExactlyOnce) {
    sim_device_config c;
    sim_diag_fill(c.firmware.diag, 1000);
    connect_to(c);
    show_diagnostics();
    ASSERT_TRUE(wait_until([&] { return rows() >= 100; }, 10000));
    ASSERT_TRUE(wait_until([&] { return field("state_edit") == "IDLE"; }));

    auto served = [&] {
        uint64_t n = 0;
        dev->with_firmware([&](sim_firmware& fw) { n = fw.diag.served; });
        return n;
    };
    child<QCheckBox>("pause_check")->click();
    const uint64_t at_pause = served();
    ASSERT_LT(at_pause, 1001u) << "the drain ended before the pause: nothing tested";
    // Power goes off meanwhile: a paused display shows neither that nor new records.
    dev->with_firmware([](sim_firmware& fw) { fw.sampler.set_power(false, fw.now_ms); });
    settle(1200);
    EXPECT_LE(served(), at_pause + 1) << "the poller went on reading after the pause";
    const int held_rows = rows();
    settle(600);
    EXPECT_EQ(rows(), held_rows);
    EXPECT_EQ(field("state_edit"), "IDLE");
    EXPECT_EQ(counters(), consecutive(counters().front(), last_counter()));

    child<QCheckBox>("pause_check")->click();
    ASSERT_TRUE(wait_until([&] { return last_counter() == newest(); }, 10000));
    EXPECT_EQ(newest(), 1002);  // restart + 1000 + "Power lost"
    EXPECT_EQ(log()->topLevelItem(rows() - 1)->text(5), QStringLiteral("Power lost"));
    EXPECT_EQ(rows(), DIAG_LOG_MAX_ROWS);
    EXPECT_EQ(counters(), consecutive(newest() - 200, newest()));
    EXPECT_EQ(served(), 1002u) << "every record read from the instrument exactly once";
    ASSERT_TRUE(wait_until([&] { return field("state_edit") == "UNPOWERED"; }));
}

TEST_F(DiagViewTest, ARefusedLogStartStillRefreshesReadingsAndTheRunningFlag) {
    connect_to();
    dev->force_result(CMD_LOG_READ_START, 4);
    show_diagnostics();
    ASSERT_TRUE(wait_until([&] { return field("voltage_edit") == "12.20 V"; }));
    ASSERT_TRUE(wait_until([&] { return configure_enabled(); }));
    start_run();
    ASSERT_TRUE(wait_until([&] { return field("state_edit") == "RUNNING"; }));
    ASSERT_TRUE(wait_until([&] { return configure_grey(); }));
    dev->with_firmware([](sim_firmware& fw) { fw.sampler.stop_run(fw.now_ms); });
    ASSERT_TRUE(wait_until([&] { return field("state_edit") == "IDLE" && configure_enabled(); }));
    EXPECT_GE(sent(CMD_LOG_READ_START).size(), 2u) << "the start is asked for again every cycle";
    EXPECT_TRUE(sent(CMD_READ_LOG_RECORD).empty());
    EXPECT_EQ(rows(), 0);

    dev->force_result(CMD_LOG_READ_START, -1);
    ASSERT_TRUE(wait_until([&] { return rows() >= 1; }));
}

// The view says nothing about the run state until it has read it: an earlier view saw the
// instrument idle, the instrument runs now, and the status reads of the new view fail for a
// while. The configuration items stay grey throughout.
TEST_F(DiagViewTest, NoRunningFlagReachesTheMenusBeforeTheViewsFirstStatusRead) {
    connect_to();
    show_diagnostics();
    ASSERT_TRUE(wait_until([&] { return field("state_edit") == "IDLE" && configure_enabled(); }));
    main_command(ID_VIEW_RUN);
    start_run();
    ASSERT_TRUE(wait_until([&] { return configure_grey(); }));
    dev->fail_next(CMD_GET_STATUS, 4, 4);
    show_diagnostics();
    settle(900);
    EXPECT_TRUE(configure_grey());
    EXPECT_EQ(field("state_edit"), "") << "a status read got through: the test proves nothing";
    ASSERT_TRUE(wait_until([&] { return field("state_edit") == "RUNNING"; }));
    settle(100);
    EXPECT_TRUE(configure_grey());
    dev->with_firmware([](sim_firmware& fw) { fw.sampler.stop_run(fw.now_ms); });
    ASSERT_TRUE(wait_until([&] { return configure_enabled(); }));
}

// With Debug on for every task the instrument writes faster than the link reads: the drain does
// not end, and the readings and menus must follow the instrument all the same.
TEST_F(DiagViewTest, ADrainThatNeverEndsStillRefreshesReadingsAndMenus) {
    sim_device_config c;
    c.firmware.diag.flood = true;
    connect_to(c, false);
    dev->with_firmware([](sim_firmware& fw) { std::fill(std::begin(fw.diag.filters), std::end(fw.diag.filters), uint8_t(7)); });
    show_diagnostics();
    ASSERT_TRUE(wait_until([&] { return rows() >= 50 && field("state_edit") == "IDLE"; }));
    start_run();
    ASSERT_TRUE(wait_until([&] { return field("state_edit") == "RUNNING" && configure_grey(); }, 3000));
    dev->with_firmware([](sim_firmware& fw) { fw.sampler.stop_run(fw.now_ms); });
    ASSERT_TRUE(wait_until([&] { return field("state_edit") == "IDLE" && configure_enabled(); }, 3000));
    dev->with_firmware([](sim_firmware& fw) { EXPECT_GT(fw.diag.dropped, 0u) << "the flood never outran the reader"; });
    EXPECT_LE(rows(), DIAG_LOG_MAX_ROWS);
    const std::vector<int> shown = counters();
    for (size_t i = 1; i < shown.size(); ++i) EXPECT_LT(shown[i - 1], shown[i]);
}

TEST_F(DiagViewTest, RecordsLostWhileTheDisplayWasPausedShowAsARowInTheListAndTheFile) {
    sim_device_config c;
    c.firmware.diag.capacity = 20;
    connect_to(c);
    add_records(5);
    show_diagnostics();
    ASSERT_TRUE(wait_until([&] { return rows() == 6; }));
    child<QCheckBox>("pause_check")->click();
    add_records(30);  // 7 to 36: the ring keeps 17 to 36
    child<QCheckBox>("pause_check")->click();
    ASSERT_TRUE(wait_until([&] { return last_counter() == 36; }));
    ASSERT_EQ(rows(), 6 + 1 + 20);
    EXPECT_EQ(row_text(6), ",,,,,10 records lost between 00000006 and 00000017");
    EXPECT_EQ(log()->topLevelItem(6)->foreground(5).color(), QColor(255, 0, 0));
    EXPECT_EQ(row_text(7).substr(0, 9), "00000017,");

    QTemporaryDir dir;
    const QString target = dir.filePath(QStringLiteral("diag.log"));
    ui_set_file_hook([&](QWidget*, const ui_file_request&) { return target; });
    child<QPushButton>("save_button")->click();
    std::stringstream saved;
    saved << std::ifstream(target.toStdString(), std::ios::binary).rdbuf();
    EXPECT_NE(saved.str().find("\n" + row_text(5) + "\n" + row_text(6) + "\n" + row_text(7) + "\n"), std::string::npos);

    // A log wiped on purpose lost nothing: the numbers go on from where it was, without a gap row.
    child<QPushButton>("clear_button")->click();
    ASSERT_EQ(rows(), 0);
    add_records(3);
    ASSERT_TRUE(wait_until([&] { return rows() == 3; }));
    EXPECT_EQ(counters(), consecutive(37, 39));
}

TEST_F(DiagViewTest, SaveWritesTheRowsAsShownAndReportsOnlyRealSuccess) {
    connect_to();
    add_records(4);
    dev->with_firmware([](sim_firmware& fw) { sim_diag_write(fw.diag, 3, 2, "pump", 7, "Flow low, 0.5 l/min"); });
    show_diagnostics();
    ASSERT_TRUE(wait_until([&] { return rows() == 6; }));
    QTemporaryDir dir;
    QString target = dir.filePath(QStringLiteral("diag.log"));
    ui_file_request asked;
    ui_set_file_hook([&](QWidget*, const ui_file_request& r) { return asked = r, target; });
    auto read = [](const QString& path) {
        std::ifstream in(path.toStdString(), std::ios::binary);
        std::stringstream ss;
        ss << in.rdbuf();
        return ss.str();
    };
    const std::string captions = "Counter,Task ID,Severity,Function,Line,Message\n";

    child<QPushButton>("save_button")->click();
    EXPECT_TRUE(asked.save);
    EXPECT_EQ(asked.title, QStringLiteral("Diagnostics Log File"));
    EXPECT_EQ(asked.filter, QStringLiteral("LOG Files (*.log);;All Files (*.*)"));
    EXPECT_EQ(asked.default_suffix, QStringLiteral("log"));
    std::string expected = captions;
    for (int r = 0; r < 5; ++r) expected += row_text(r) + "\n";
    EXPECT_EQ(row_text(5), "00000006,03,I,pump,7,Flow low, 0.5 l/min");
    expected += "00000006,03,I,pump,7,\"Flow low, 0.5 l/min\"\n";  // the message stays one field
    EXPECT_EQ(read(target), expected);
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_EQ(messages[0].caption, "Save Diagnostics");
    EXPECT_EQ(messages[0].text, "Diagnostics saved to " + target.toStdString());

    // A full device takes nothing: an error, never "saved".
    messages.clear();
    target = QStringLiteral("/dev/full");
    child<QPushButton>("save_button")->click();
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_EQ(messages[0].caption, "Save Diagnostics");
    EXPECT_EQ(messages[0].text, "Unable to open /dev/full for write");
    EXPECT_EQ(asked.start_path, dir.filePath(QStringLiteral("diag.log")));  // the last name is offered again

    // An empty list: only the captions, and no message.
    messages.clear();
    child<QPushButton>("clear_button")->click();
    ASSERT_EQ(rows(), 0);
    messages.clear();
    target = dir.filePath(QStringLiteral("empty.log"));
    child<QPushButton>("save_button")->click();
    EXPECT_EQ(read(target), captions);
    EXPECT_TRUE(messages.empty());
}

TEST_F(DiagViewTest, RowsArriveInBatchesInOrderWithin201RowsAndAreSavedAsShown) {
    sim_device_config c;
    sim_diag_fill(c.firmware.diag, 600);
    connect_to(c);
    show_diagnostics();
    int largest_batch = 0, batches = 0;
    QObject::connect(log()->model(), &QAbstractItemModel::rowsInserted, [&](const QModelIndex&, int first, int last) {
        largest_batch = std::max(largest_batch, last - first + 1);
        ++batches;
    });
    // The GUI thread is held while the poller reads on: hundreds of rows arrive at once.
    std::this_thread::sleep_for(std::chrono::milliseconds(800));
    ASSERT_TRUE(wait_until([&] { return last_counter() == newest(); }, 10000));
    EXPECT_EQ(newest(), 601);
    EXPECT_EQ(rows(), DIAG_LOG_MAX_ROWS);
    EXPECT_EQ(counters(), consecutive(newest() - 200, newest()));
    EXPECT_GT(largest_batch, 1) << "every row on its own";
    EXPECT_LT(batches, 601);
    int errors = 0, restarts = 0;
    for (int r = 0; r < rows(); ++r) {
        const QTreeWidgetItem* item = log()->topLevelItem(r);
        const bool restart = item->text(5).contains(QStringLiteral("Restarted after reset"));
        const bool error = !restart && item->text(2) == QStringLiteral("E");
        errors += error;
        restarts += restart;
        EXPECT_EQ(rgb(item, 5), (std::array<int, 3>{error ? 255 : 0, 0, restart ? 255 : 0})) << r;
        EXPECT_EQ(ui_list_row_value(log(), r), restart ? DIAG_COLOUR_RESET : error ? DIAG_COLOUR_ERROR : DIAG_COLOUR_PLAIN) << r;
    }
    EXPECT_GT(errors, 0);
    EXPECT_EQ(restarts, 1);

    // More in small batches, each a few records: the same order and limit.
    for (int i = 0; i < 5; ++i) {
        add_records(7);
        settle(40);
    }
    ASSERT_TRUE(wait_until([&] { return last_counter() == newest(); }, 5000));
    EXPECT_EQ(counters(), consecutive(newest() - 200, newest()));

    QTemporaryDir dir;
    const QString target = dir.filePath(QStringLiteral("diag.log"));
    ui_set_file_hook([&](QWidget*, const ui_file_request&) { return target; });
    child<QPushButton>("save_button")->click();
    std::string expected = "Counter,Task ID,Severity,Function,Line,Message\n";
    for (int r = 0; r < rows(); ++r) expected += row_text(r) + "\n";
    std::ifstream in(target.toStdString(), std::ios::binary);
    std::stringstream saved;
    saved << in.rdbuf();
    EXPECT_EQ(saved.str(), expected);
}

TEST_F(DiagViewTest, ScrolledUpTheListKeepsItsPlaceAndFollowsAgainAtTheEnd) {
    sim_device_config c;
    sim_diag_fill(c.firmware.diag, 300);
    connect_to(c);
    show_diagnostics();
    ASSERT_TRUE(wait_until([&] { return last_counter() == newest(); }, 10000));
    QScrollBar* bar = log()->verticalScrollBar();
    ASSERT_GT(bar->maximum(), 0) << "the list does not scroll: nothing tested";
    EXPECT_EQ(bar->value(), bar->maximum()) << "the newest row in sight";

    // Scrolled up to read: new rows (and the oldest going) leave the rows on show where they are.
    bar->setValue(bar->maximum() / 2);
    settle(20);
    const QString reading = log()->itemAt(1, 1)->text(0);
    add_records(25);
    ASSERT_TRUE(wait_until([&] { return last_counter() == newest(); }, 5000));
    settle(100);
    EXPECT_EQ(log()->itemAt(1, 1)->text(0), reading);
    EXPECT_LT(bar->value(), bar->maximum());
    EXPECT_EQ(counters(), consecutive(newest() - 200, newest()));

    // Back at the end: it follows the newest row again.
    bar->setValue(bar->maximum());
    add_records(25);
    ASSERT_TRUE(wait_until([&] { return last_counter() == newest(); }, 5000));
    settle(100);
    EXPECT_EQ(bar->value(), bar->maximum());
    QTreeWidgetItem* newest_row = log()->topLevelItem(rows() - 1);
    EXPECT_TRUE(log()->viewport()->rect().intersects(log()->visualItemRect(newest_row)));
}

TEST_F(DiagViewTest, TheReadingsTrendHoldsWhilePausedAndBreaksWhereAnswersStop) {
    connect_to();
    show_diagnostics();
    auto* plot = child<trend_plot>("trend");
    ASSERT_NE(plot, nullptr);
    ASSERT_TRUE(wait_until([&] { return plot->live().size() >= 2; }));
    const trend_bucket& first = plot->live().bucket(0);
    EXPECT_FLOAT_EQ(first.lo[0], 12.2f);  // the stepped clock keeps the readings still
    EXPECT_FLOAT_EQ(first.lo[1], 17.5f);
    EXPECT_FLOAT_EQ(first.lo[2], 45.0f);

    // Paused: the picture holds while the readings are still taken; released, it shows them all.
    child<QCheckBox>("pause_check")->click();
    const int held = plot->shown().size();
    ASSERT_TRUE(wait_until([&] { return plot->live().size() >= held + 2; }));
    EXPECT_EQ(plot->shown().size(), held);
    child<QCheckBox>("pause_check")->click();
    EXPECT_EQ(plot->shown().size(), plot->live().size());

    // No answers for a while: a gap, then the readings again.
    dev->set_never_answer(true);
    ASSERT_TRUE(wait_until([&] { return child<QLabel>("stale_label")->isVisible(); }, 5000));
    const int gap = plot->live().size() - 1;
    for (int c = 0; c < 3; ++c) EXPECT_TRUE(plot->live().bucket(gap).flags[c] & TREND_BROKEN) << c;
    dev->set_never_answer(false);
    ASSERT_TRUE(wait_until([&] { return plot->live().size() > gap + 1; }, 8000));
    EXPECT_FLOAT_EQ(plot->live().bucket(gap + 1).lo[0], 12.2f);

    // File > Save Trend... from this view: its own curves.
    QTemporaryDir dir;
    const QString target = dir.filePath(QStringLiteral("readings.csv"));
    ui_set_file_hook([&](QWidget*, const ui_file_request&) { return target; });
    ASSERT_TRUE(action_enabled(ID_FILE_SAVE_TREND));
    main_menu_action(ID_FILE_SAVE_TREND)->trigger();
    std::ifstream in(target.toStdString(), std::ios::binary);
    std::string header;
    ASSERT_TRUE(std::getline(in, header));
    EXPECT_EQ(header, "Time,Voltage (V),Temperature (C),Humidity (%)");
}

TEST_F(DiagViewTest, ToggleLedSendsOneByteAndSaysNothingWhateverTheAnswer) {
    connect_to();
    show_diagnostics();
    child<QPushButton>("led_button")->click();
    dev->with_firmware([](sim_firmware& fw) { EXPECT_TRUE(fw.diag.led_on); });
    dev->force_result(CMD_TOGGLE_LED, 4);
    child<QPushButton>("led_button")->click();
    const auto toggles = sent(CMD_TOGGLE_LED);
    ASSERT_EQ(toggles.size(), 2u);
    for (const auto& f : toggles) {
        EXPECT_EQ(f.bytes[FRAME_LENGTH], 1);
        EXPECT_EQ(frame_payload(f)[0], 1);
    }
    EXPECT_TRUE(messages.empty());
}

// The view goes while its poller waits for an answer: the poller's late rows and readings go
// nowhere (run under AddressSanitizer too).
TEST_F(DiagViewTest, TheViewGoesWhileItsPollerWaitsForAnAnswer) {
    connect_to();
    show_diagnostics();
    ASSERT_TRUE(wait_until([&] { return rows() == 1; }));
    add_records(3);
    dev->delay_next_of(CMD_READ_LOG_RECORD, 600);
    dev->delay_next_of(CMD_GET_STATUS, 600);
    settle(100);
    main_command(ID_VIEW_RUN);
    EXPECT_EQ(view_id(), VIEW_RUN);
    settle(1500);
    main_command(ID_VIEW_DIAGNOSTICS);
    ASSERT_TRUE(wait_until([&] { return rows() == 4; }));
    EXPECT_EQ(counters(), consecutive(1, 4));

    // And once more with the instrument pulled out under it.
    dev->delay_next_of(CMD_GET_STATUS, 800);
    settle(600);
    dev->unplug();
    ASSERT_TRUE(wait_until([&] { return view_id() == VIEW_CONNECT; }));
    settle(1000);
}

}  // namespace
