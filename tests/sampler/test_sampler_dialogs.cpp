// The schedule, clock and cartridge dialogs, offscreen against the virtual instrument.
#include "app_fixture.h"
#include "decimal_comma.h"
#include "link/bytes.h"
#include "link/commands.h"
#include "platform/pc_clock.h"
#include "sampler/cartridge_dialog.h"
#include "sampler/clock_dialog.h"
#include "sampler/schedule.h"
#include "sampler/schedule_dialog.h"
#include "ui/large_text.h"
#include "ui/modal.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDateEdit>
#include <QDialog>
#include <QLabel>
#include <QLineEdit>
#include <QPointer>
#include <QRadioButton>
#include <QTimeEdit>
#include <QTimer>

#include <cstdlib>
#include <ctime>
#include <memory>

namespace {

constexpr uint32_t DEC7_0905 = 1796634300;  // 07/12/2026 09:05:00, the instrument's clock at 0 ms

class SamplerDialogTest : public AppTest {
protected:
    void connect_to(const sim_device_config& config = {}) {
        dev = sim_bus_add(config);
        dev->use_stepped_clock(true);
        open_window();
        ASSERT_NO_FATAL_FAILURE(connect_first_row());
        ASSERT_TRUE(wait_until([&] { return text(main_current_view(), "state_line") == "Sampler State: Idle"; }));
    }
    template <typename T = QWidget>
    static T* child(QWidget* in, const QString& name) {
        return in ? in->findChild<T*>(name) : nullptr;
    }
    static std::string text(QWidget* in, const char* name) {
        auto* l = child<QLabel>(in, QString::fromUtf8(name));
        return l ? l->text().toStdString() : "";
    }
    std::vector<command_frame> sent(uint16_t code) {
        std::vector<command_frame> out;
        for (const auto& f : dev->requests())
            if (frame_code(f) == code) out.push_back(f);
        return out;
    }
    // Runs `body` inside the modal dialog that `open` starts, once it is up; body closes it.
    void in_modal(const char* name, const std::function<void(QDialog*)>& body, const std::function<void()>& open) {
        bool ran = false;
        auto* poll = new QTimer;
        QObject::connect(poll, &QTimer::timeout, [&, name, poll] {
            auto* d = qobject_cast<QDialog*>(QApplication::activeModalWidget());
            if (!d || d->objectName() != QString::fromUtf8(name) || ran) return;
            ran = true;
            poll->stop();
            body(d);
        });
        poll->start(20);
        open();
        delete poll;
        EXPECT_TRUE(ran) << name << " never came up";
    }
    std::shared_ptr<sim_device> dev;
};

// ---- Sampling Schedule -------------------------------------------------------------------

class ScheduleDialogTest : public SamplerDialogTest {
protected:
    void TearDown() override {
        dialog.reset();  // before the main window that owns it
        SamplerDialogTest::TearDown();
    }
    void open() {
        dialog.reset(schedule_dialog_open(window));
        ASSERT_TRUE(dialog);
        dialog->show();
    }
    QCheckBox* check(const char* what, int n) { return child<QCheckBox>(dialog.get(), QStringLiteral("%1_%2").arg(what).arg(n)); }
    QLineEdit* edit(const char* what, int n) { return child<QLineEdit>(dialog.get(), QStringLiteral("%1_edit_%2").arg(what).arg(n)); }
    template <typename T>
    T* named(const char* name) { return child<T>(dialog.get(), QString::fromUtf8(name)); }
    void fill(int n, const char* offset, const char* samples, const char* volume, const char* timeout) {
        check("row_check", n)->setChecked(true);
        edit("offset", n)->setText(QString::fromUtf8(offset));
        edit("samples", n)->setText(QString::fromUtf8(samples));
        edit("volume", n)->setText(QString::fromUtf8(volume));
        edit("timeout", n)->setText(QString::fromUtf8(timeout));
    }
    void save() { QTest::mouseClick(named<QPushButton>("save_button"), Qt::LeftButton); }
    void store_start(uint32_t start) {
        dev->with_firmware([start](sim_firmware& fw) { put_u32le(fw.schedule.record.data() + 4, start); });
    }
    uint32_t sent_start() { return get_u32le(frame_payload(sent(CMD_SET_SCHEDULE).back()) + 4); }
    std::unique_ptr<QDialog> dialog;
};

TEST_F(ScheduleDialogTest, SaveSendsUsedRowsInTimeOrderAndShowsWhatTheInstrumentHolds) {
    connect_to();
    open();
    EXPECT_EQ(dialog->windowTitle(), QStringLiteral("Sampling Schedule"));
    for (int n = 1; n <= 15; ++n) check("row_check", n)->setChecked(false);
    fill(3, "120", "300", "2.5", "7");
    fill(7, "30", "1", "0.5", "70000");
    check("clean_check", 3)->setChecked(true);
    named<QCheckBox>("autostart_check")->setChecked(true);
    // The fields of unchecked rows are disabled, those of checked rows enabled.
    EXPECT_TRUE(edit("offset", 3)->isEnabled());
    EXPECT_FALSE(edit("offset", 4)->isEnabled());
    EXPECT_FALSE(check("clean_check", 4)->isEnabled());
    dev->clear_requests();
    save();

    ASSERT_EQ(sent(CMD_SET_SCHEDULE).size(), 1u);
    const command_frame f = sent(CMD_SET_SCHEDULE)[0];
    EXPECT_EQ(f.bytes[FRAME_LENGTH], 98);
    uint8_t expected[98] = {0, 1, 0, 0, 0, 0, 0, 0,     // autostart, start option 0
                            0x01, 1, 5, 255, 0x1e, 0x00,  // row 7 first: offset 30, timeout stops at 255
                            0x03, 255, 25, 7, 0x78, 0x00};  // row 3: clean, 300 samples stop at 255
    EXPECT_EQ(std::memcmp(frame_payload(f), expected, 98), 0);
    // Read back after the write, and shown: rows 1 and 2, the rest empty and unchecked.
    ASSERT_EQ(frame_code(dev->requests().back()), CMD_GET_SCHEDULE);
    EXPECT_EQ(edit("offset", 1)->text(), QStringLiteral("30"));
    EXPECT_EQ(edit("offset", 2)->text(), QStringLiteral("120"));
    EXPECT_EQ(edit("volume", 2)->text(), QStringLiteral("2.5"));
    EXPECT_TRUE(check("row_check", 1)->isChecked() && check("row_check", 2)->isChecked());
    EXPECT_TRUE(check("clean_check", 2)->isChecked());
    // What the instrument holds, not what was typed: 300 samples and 70000 minutes were clamped.
    EXPECT_EQ(edit("samples", 2)->text(), QStringLiteral("255"));
    EXPECT_EQ(edit("timeout", 1)->text(), QStringLiteral("255"));
    for (int n = 3; n <= 15; ++n) {
        EXPECT_FALSE(check("row_check", n)->isChecked()) << n;
        EXPECT_EQ(edit("offset", n)->text(), QStringLiteral("0")) << n;
        EXPECT_FALSE(edit("offset", n)->isEnabled()) << n;
    }
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_EQ(messages[0].caption, "Save");
    EXPECT_EQ(messages[0].text, "Schedule saved");
}

// Typed as keys on a decimal-comma desktop, "12,5" minutes went out as 125 and "2,5" litres as
// 2. A field of a row in use that cannot be sent as typed stays as typed, red, and blocks Save;
// the rows not in use are not sent, so their fields do not count.
TEST_F(ScheduleDialogTest, FieldsOfRowsInUseThatCannotBeSentAsTypedAreRedAndBlockSave) {
    decimal_comma_locale comma;
    ASSERT_DECIMAL_COMMA(comma);
    connect_to();
    open();
    for (int n = 1; n <= 15; ++n) check("row_check", n)->setChecked(false);
    fill(2, "10", "1", "1.0", "1");
    auto* save_button = named<QPushButton>("save_button");
    const char* cases[][3] = {{"offset", "12,5", "10"}, {"samples", "-5", "1"}, {"volume", "2,5", "1.0"}, {"volume", "-1", "1.0"}};
    dev->clear_requests();
    for (const auto& c : cases) {
        QLineEdit* e = edit(c[0], 2);
        e->clear();
        QTest::keyClicks(e, QString::fromUtf8(c[1]));
        EXPECT_EQ(e->text(), QString::fromUtf8(c[1]));
        EXPECT_EQ(e->palette().color(QPalette::Text), QColor(255, 0, 0)) << c[0] << " " << c[1];
        EXPECT_FALSE(save_button->isEnabled()) << c[0] << " " << c[1];
        save();
        e->setText(QString::fromUtf8(c[2]));
    }
    EXPECT_TRUE(sent(CMD_SET_SCHEDULE).empty());
    // A row not in use may hold anything; ticking it makes its fields count.
    edit("offset", 5)->setText(QStringLiteral("abc"));
    EXPECT_TRUE(save_button->isEnabled());
    check("row_check", 5)->setChecked(true);
    EXPECT_FALSE(save_button->isEnabled());
    check("row_check", 5)->setChecked(false);
    save();
    ASSERT_EQ(sent(CMD_SET_SCHEDULE).size(), 1u);
}

TEST_F(ScheduleDialogTest, StartOptionsPickersAndTheirLimits) {
    connect_to();
    open();
    // As delivered: start 0, shown as "next time" with the pickers at 01/01/1970 00:00:00, disabled.
    EXPECT_TRUE(named<QRadioButton>("start_next_radio")->isChecked());
    EXPECT_EQ(named<QDateEdit>("start_date")->date(), QDate(1970, 1, 1));
    EXPECT_EQ(named<QTimeEdit>("start_time")->time(), QTime(0, 0, 0));
    EXPECT_FALSE(named<QDateEdit>("start_date")->isEnabled());
    // The pickers reach no further than a device time does.
    EXPECT_EQ(named<QDateEdit>("start_date")->maximumDate(), QDate(2038, 1, 19));
    EXPECT_EQ(named<QDateEdit>("start_date")->minimumDate(), QDate(1970, 1, 1));

    // "At or after" at 1970-01-01 00:00:00 would be sent as 0, "next time": refused, nothing sent.
    QTest::mouseClick(named<QRadioButton>("start_at_radio"), Qt::LeftButton);
    EXPECT_TRUE(named<QDateEdit>("start_date")->isEnabled());
    dev->clear_requests();
    save();
    EXPECT_TRUE(sent(CMD_SET_SCHEDULE).empty());
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_EQ(messages[0].caption, "Save");
    EXPECT_EQ(messages[0].text, schedule_start_range_text());
    // One second past the last moment of the count: refused too.
    named<QDateEdit>("start_date")->setDate(QDate(2038, 1, 19));
    named<QTimeEdit>("start_time")->setTime(QTime(3, 14, 8));
    save();
    EXPECT_TRUE(sent(CMD_SET_SCHEDULE).empty());
    EXPECT_EQ(messages.size(), 2u);
    // The last moment itself is a start.
    named<QTimeEdit>("start_time")->setTime(QTime(3, 14, 7));
    save();
    ASSERT_EQ(sent(CMD_SET_SCHEDULE).size(), 1u);
    EXPECT_EQ(sent_start(), 0x7FFFFFFFu);
    EXPECT_EQ(messages.back().text, "Schedule saved");

    // Back to "next time": 0 whatever the pickers show.
    QTest::mouseClick(named<QRadioButton>("start_next_radio"), Qt::LeftButton);
    EXPECT_FALSE(named<QTimeEdit>("start_time")->isEnabled());
    save();
    EXPECT_EQ(sent_start(), 0u);
}

TEST_F(ScheduleDialogTest, AStoredStartThePickersCannotShowSurvivesAWaypointEdit) {
    connect_to();
    for (uint32_t stored : {0x80000000u, 0xFFFFFFF0u}) {
        store_start(stored);
        open();
        EXPECT_TRUE(named<QRadioButton>("start_at_radio")->isChecked());
        // Not shown as the nearest moment the pickers hold (1970-01-01 23:59:44 for the second).
        EXPECT_NE(named<QTimeEdit>("start_time")->time(), QTime(23, 59, 44));
        // The start kept is named where the pickers are.
        const QString held = named<QDateEdit>("start_date")->toolTip();
        EXPECT_TRUE(held.contains(stored == 0x80000000u ? QStringLiteral("start time 2147483648")
                                                         : QStringLiteral("31/12/1969 23:59:44")))
            << held.toStdString();
        edit("offset", 2)->setText(QStringLiteral("45"));
        save();
        EXPECT_EQ(sent_start(), stored);
        EXPECT_EQ(get_u16le(frame_payload(sent(CMD_SET_SCHEDULE).back()) + 8 + 12 + 4), 45);  // now the last
        dialog.reset();
    }
    // Once the operator picks a start, the picked one goes.
    open();
    EXPECT_FALSE(named<QTimeEdit>("start_time")->toolTip().isEmpty());
    named<QDateEdit>("start_date")->setDate(QDate(2030, 6, 1));
    EXPECT_TRUE(named<QTimeEdit>("start_time")->toolTip().isEmpty());
    named<QTimeEdit>("start_time")->setTime(QTime(8, 0, 0));
    save();
    EXPECT_EQ(sent_start(), 1906531200u);
}

TEST_F(ScheduleDialogTest, NowButtonTakesTheInstrumentClockOrNothing) {
    connect_to();
    pc_clock_pin(1900000000);  // the PC's clock is years away: it must not be used
    open();
    EXPECT_EQ(named<QPushButton>("now_button")->toolTip(), QStringLiteral("reset to PC time"));
    dev->advance_clock(61500);
    QTest::mouseClick(named<QPushButton>("now_button"), Qt::LeftButton);
    pc_clock_pin(0);
    EXPECT_EQ(named<QDateEdit>("start_date")->date(), QDate(2026, 12, 7));
    EXPECT_EQ(named<QTimeEdit>("start_time")->time(), QTime(9, 6, 1));
    EXPECT_TRUE(named<QRadioButton>("start_next_radio")->isChecked());  // the option stays
    EXPECT_TRUE(messages.empty());

    // A clock that cannot be read, or whose fields name no moment, leaves the pickers alone.
    dev->force_result(CMD_GET_CLOCK, 4);
    QTest::mouseClick(named<QPushButton>("now_button"), Qt::LeftButton);
    dev->force_result(CMD_GET_CLOCK, -1);
    for (auto garbled : {std::array<uint8_t, 8>{0, 0xe8, 0x07, 0, 1, 0, 0, 0}, std::array<uint8_t, 8>{0, 0x6c, 0x07, 1, 1, 0, 0, 0}}) {
        dev->with_firmware([garbled](sim_firmware& fw) {
            fw.schedule.clock_garbled = true;
            fw.schedule.garbled_clock = garbled;
        });
        QTest::mouseClick(named<QPushButton>("now_button"), Qt::LeftButton);
    }
    EXPECT_EQ(named<QDateEdit>("start_date")->date(), QDate(2026, 12, 7));
    EXPECT_EQ(named<QTimeEdit>("start_time")->time(), QTime(9, 6, 1));
    ASSERT_EQ(messages.size(), 3u);
    for (const auto& m : messages) {
        EXPECT_EQ(m.caption, "NOW");
        EXPECT_EQ(m.text, "Can't get time from sample.");
    }
}

TEST_F(ScheduleDialogTest, ReadAndWriteFailures) {
    connect_to();
    // Refused, or a success too short to be the schedule: the dialog never opens.
    for (int result : {4, 0}) {
        dev->force_result(CMD_GET_SCHEDULE, result);
        messages.clear();
        EXPECT_EQ(schedule_dialog_open(window), nullptr);
        ASSERT_EQ(messages.size(), 1u);
        EXPECT_EQ(messages[0].caption, "Schedule");
        EXPECT_EQ(messages[0].text, "Unable to retrieve schedule from device");
    }
    dev->force_result(CMD_GET_SCHEDULE, -1);
    open();
    messages.clear();
    fill(4, "77", "1", "1.0", "1");
    dev->fail_next(CMD_SET_SCHEDULE, 1, 3);
    save();
    // The re-read fails after a good write: a failure too, and the operator's entries stay.
    dev->fail_next(CMD_GET_SCHEDULE, 1, 3);
    save();
    ASSERT_EQ(messages.size(), 2u);
    EXPECT_EQ(messages[0].text, "Failed to save schedule");
    EXPECT_EQ(messages[1].text, "Failed to save schedule");
    EXPECT_EQ(edit("offset", 4)->text(), QStringLiteral("77"));
}

TEST_F(ScheduleDialogTest, ADecimalCommaDesktopSendsAndShowsDecimalPoints) {
    decimal_comma_locale comma;
    ASSERT_DECIMAL_COMMA(comma);
    connect_to();
    open();
    EXPECT_EQ(edit("volume", 1)->text(), QStringLiteral("1.0"));
    edit("volume", 1)->setText(QStringLiteral("2.5"));
    save();
    EXPECT_EQ(frame_payload(sent(CMD_SET_SCHEDULE).back())[8 + 2], 25);
    EXPECT_EQ(edit("volume", 1)->text(), QStringLiteral("2.5"));
}

// ---- Configure Real Time Clock -------------------------------------------------------------

class ClockDialogTest : public SamplerDialogTest {
protected:
    void TearDown() override {
        if (had_tz) setenv("TZ", saved_tz.c_str(), 1);
        else unsetenv("TZ");
        tzset();
        pc_clock_pin(0);
        SamplerDialogTest::TearDown();
    }
    void set_zone(const char* tz) {
        if (const char* now = std::getenv("TZ")) {
            had_tz = true;
            saved_tz = now;
        }
        setenv("TZ", tz, 1);
        tzset();
    }
    static QString display(QDialog* d) { return child<large_text_display>(d, QStringLiteral("clock_display"))->text(); }
    bool had_tz = false;
    std::string saved_tz;
};

TEST_F(ClockDialogTest, ShowsTheClockWithSecondsAndRecoversFromFailures) {
    connect_to();
    std::unique_ptr<QDialog> d(clock_dialog_open(window));
    d->show();
    EXPECT_EQ(d->windowTitle(), QStringLiteral("Configure Real Time Clock"));
    EXPECT_TRUE(child<QRadioButton>(d.get(), QStringLiteral("this_time_radio"))->isChecked());
    EXPECT_EQ(child<QPushButton>(d.get(), QStringLiteral("set_button"))->toolTip(), QStringLiteral("Set the RTC time now"));
    ASSERT_TRUE(wait_until([&] { return display(d.get()) == QStringLiteral("07/12/2026 09:05:00"); }));
    dev->force_result(CMD_GET_CLOCK, 4);
    ASSERT_TRUE(wait_until([&] { return display(d.get()) == QStringLiteral("ERROR"); }));
    dev->force_result(CMD_GET_CLOCK, -1);
    dev->advance_clock(7000);
    ASSERT_TRUE(wait_until([&] { return display(d.get()) == QStringLiteral("07/12/2026 09:05:07"); }));
}

TEST_F(ClockDialogTest, SetNowSendsPickedOrLocalWallClockFields) {
    connect_to();
    std::unique_ptr<QDialog> d(clock_dialog_open(window));
    d->show();
    // A leap day picked by the operator.
    child<QDateEdit>(d.get(), QStringLiteral("date_edit"))->setDate(QDate(2024, 2, 29));
    child<QTimeEdit>(d.get(), QStringLiteral("time_edit"))->setTime(QTime(10, 5, 7));
    QTest::mouseClick(child<QPushButton>(d.get(), QStringLiteral("set_button")), Qt::LeftButton);
    ASSERT_EQ(sent(CMD_SET_CLOCK).size(), 1u);
    const uint8_t picked[8] = {0, 0xe8, 0x07, 2, 29, 10, 5, 7};
    EXPECT_EQ(sent(CMD_SET_CLOCK)[0].bytes[FRAME_LENGTH], 8);
    EXPECT_EQ(std::memcmp(frame_payload(sent(CMD_SET_CLOCK)[0]), picked, 8), 0);
    ASSERT_TRUE(wait_until([&] { return display(d.get()) == QStringLiteral("29/02/2024 10:05:07"); }));

    // The PC two hours east of UTC: its wall clock goes to the instrument, not UTC.
    set_zone("EET-2");
    pc_clock_pin(1709201107);  // 29/02/2024 10:05:07 UTC
    QTest::mouseClick(child<QRadioButton>(d.get(), QStringLiteral("pc_time_radio")), Qt::LeftButton);
    EXPECT_FALSE(child<QDateEdit>(d.get(), QStringLiteral("date_edit"))->isEnabled());
    EXPECT_FALSE(child<QTimeEdit>(d.get(), QStringLiteral("time_edit"))->isEnabled());
    QTest::mouseClick(child<QPushButton>(d.get(), QStringLiteral("set_button")), Qt::LeftButton);
    ASSERT_EQ(sent(CMD_SET_CLOCK).size(), 2u);
    const uint8_t local[8] = {0, 0xe8, 0x07, 2, 29, 12, 5, 7};
    EXPECT_EQ(std::memcmp(frame_payload(sent(CMD_SET_CLOCK)[1]), local, 8), 0);
    EXPECT_TRUE(messages.empty());

    dev->force_result(CMD_SET_CLOCK, 4);
    QTest::mouseClick(child<QPushButton>(d.get(), QStringLiteral("set_button")), Qt::LeftButton);
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_EQ(messages[0].caption, "Save");
    EXPECT_EQ(messages[0].text, "Failed to set RTC time");
}

// 19/01/2038 23:59:59 went out and came back as the instrument's generic refusal. A moment the
// clock cannot hold is refused before anything is sent, and the range is named.
TEST_F(ClockDialogTest, AMomentTheClockCannotHoldIsRefusedAndTheRangeNamed) {
    connect_to();
    std::unique_ptr<QDialog> d(clock_dialog_open(window));
    d->show();
    auto* set_button = child<QPushButton>(d.get(), QStringLiteral("set_button"));
    child<QDateEdit>(d.get(), QStringLiteral("date_edit"))->setDate(QDate(2038, 1, 19));
    child<QTimeEdit>(d.get(), QStringLiteral("time_edit"))->setTime(QTime(23, 59, 59));
    QTest::mouseClick(set_button, Qt::LeftButton);
    set_zone("UTC0");
    pc_clock_pin(2208988800u);  // the PC's clock at 01/01/2040 is no better
    QTest::mouseClick(child<QRadioButton>(d.get(), QStringLiteral("pc_time_radio")), Qt::LeftButton);
    QTest::mouseClick(set_button, Qt::LeftButton);
    EXPECT_TRUE(sent(CMD_SET_CLOCK).empty());
    ASSERT_EQ(messages.size(), 2u);
    for (const auto& m : messages)
        EXPECT_EQ(m.caption + ": " + m.text, "Save: The clock can hold a time between 01/01/1970 00:00:00 and "
                                             "19/01/2038 03:14:07. The clock was not set.");
    // The last moment itself is sent.
    QTest::mouseClick(child<QRadioButton>(d.get(), QStringLiteral("this_time_radio")), Qt::LeftButton);
    child<QTimeEdit>(d.get(), QStringLiteral("time_edit"))->setTime(QTime(3, 14, 7));
    QTest::mouseClick(set_button, Qt::LeftButton);
    ASSERT_EQ(sent(CMD_SET_CLOCK).size(), 1u);
    EXPECT_EQ(frame_payload(sent(CMD_SET_CLOCK)[0])[4], 19);
}

TEST_F(ClockDialogTest, ClosingWhileAClockReadWaitsForItsLateAnswer) {
    connect_to();
    in_modal(
        "clock_dialog",
        [&](QDialog* d) {
            ASSERT_TRUE(wait_until([&] { return !display(d).isEmpty(); }));
            const size_t asked = sent(CMD_GET_CLOCK).size();
            dev->delay_next_of(CMD_GET_CLOCK, 1500);
            ASSERT_TRUE(wait_until([&] { return sent(CMD_GET_CLOCK).size() > asked; }));
            d->close();  // Escape or the close box, while the poller waits for the answer
        },
        [] { main_command(ID_CONFIGURE_CLOCK); });
    EXPECT_EQ(ui_open_dialog_count(), 0);
    // The late answer comes and goes; the run view goes on polling over the same link.
    dev->with_firmware([](sim_firmware& fw) { fw.sampler.set_power(false, fw.now_ms); });
    ASSERT_TRUE(wait_until([&] { return text(main_current_view(), "state_line") == "Sampler State:"; }));
    settle(300);
}

// ---- Reset Cartridge ID --------------------------------------------------------------------

class CartridgeDialogTest : public SamplerDialogTest {
protected:
    QLineEdit* id_edit(QDialog* d) { return child<QLineEdit>(d, QStringLiteral("id_edit")); }
    void press(QDialog* d, const char* name) { QTest::mouseClick(child<QPushButton>(d, QString::fromUtf8(name)), Qt::LeftButton); }
    void double_click_cartridge() {
        auto* display = child<large_text_display>(main_current_view(), QStringLiteral("cartridge_display"));
        QTest::mouseDClick(display, Qt::LeftButton);
    }
};

TEST_F(CartridgeDialogTest, OkWritesTheRecordWithOnlyTheIdChangedAndTheRunViewShowsIt) {
    connect_to();
    in_modal(
        "cartridge_dialog",
        [&](QDialog* d) {
            EXPECT_EQ(d->windowTitle(), QStringLiteral("Reset Cartridge ID"));
            EXPECT_EQ(id_edit(d)->text(), QStringLiteral("1"));
            id_edit(d)->setText(QStringLiteral("65535"));
            QTest::keyClick(id_edit(d), Qt::Key_Return);  // OK is the default button
        },
        [&] { double_click_cartridge(); });
    ASSERT_EQ(sent(CMD_SET_CARTRIDGE).size(), 1u);
    const uint8_t expected[17] = {0xC3, 0x5A, 0xFF, 0xFF, 'L', 'O', 'T', '-', '7', 'Q', '2', 0x00, 0xA5, 0x5A, 0x01, 0x80, 0xFE};
    EXPECT_EQ(sent(CMD_SET_CARTRIDGE)[0].bytes[FRAME_LENGTH], 17);
    EXPECT_EQ(std::memcmp(frame_payload(sent(CMD_SET_CARTRIDGE)[0]), expected, 17), 0);
    ASSERT_TRUE(wait_until([&] {
        return child<large_text_display>(main_current_view(), QStringLiteral("cartridge_display"))->text() ==
               QStringLiteral("Top Cartridge: 65535");
    }));
    EXPECT_TRUE(messages.empty());
}

TEST_F(CartridgeDialogTest, RefusalsCancelAndFailures) {
    connect_to();
    std::unique_ptr<QDialog> d(cartridge_dialog_open(window));
    d->show();
    // Beyond 16 bits: refused and nothing sent (it used to write the low bits: 65536 as 0).
    id_edit(d.get())->setText(QStringLiteral("65536"));
    EXPECT_EQ(id_edit(d.get())->palette().color(QPalette::Text), QColor(255, 0, 0));
    press(d.get(), "ok_button");
    EXPECT_TRUE(sent(CMD_SET_CARTRIDGE).empty());
    EXPECT_TRUE(d->isVisible());
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_EQ(messages[0].caption, "Reset");
    EXPECT_EQ(messages[0].text, "The cartridge ID must be a number from 0 to 65535.");
    // Typed as keys, "12,5" is not taken as 125: it stays, red, and OK refuses it the same way.
    id_edit(d.get())->clear();
    QTest::keyClicks(id_edit(d.get()), QStringLiteral("12,5"));
    EXPECT_EQ(id_edit(d.get())->text(), QStringLiteral("12,5"));
    EXPECT_EQ(id_edit(d.get())->palette().color(QPalette::Text), QColor(255, 0, 0));
    press(d.get(), "ok_button");
    EXPECT_TRUE(sent(CMD_SET_CARTRIDGE).empty());
    ASSERT_EQ(messages.size(), 2u);
    EXPECT_EQ(messages[1].text, "The cartridge ID must be a number from 0 to 65535.");
    messages.pop_back();
    // Cancel: nothing sent, result 2.
    press(d.get(), "cancel_button");
    EXPECT_EQ(d->result(), CARTRIDGE_DIALOG_CANCEL);
    EXPECT_TRUE(sent(CMD_SET_CARTRIDGE).empty());

    // A new cartridge comes into the slot while the dialog is open; an empty field writes ID 0
    // over the record as it is now, and a failed write still closes with OK.
    d.reset(cartridge_dialog_open(window));
    d->show();
    dev->with_firmware([](sim_firmware& fw) {
        fw.sampler.top_cartridge = 3;
        fw.schedule.cartridge[16] = 0x77;
    });
    id_edit(d.get())->clear();
    dev->fail_next(CMD_SET_CARTRIDGE, 1, 6);
    press(d.get(), "ok_button");
    EXPECT_EQ(d->result(), CARTRIDGE_DIALOG_OK);
    ASSERT_EQ(sent(CMD_SET_CARTRIDGE).size(), 1u);
    const command_frame written = sent(CMD_SET_CARTRIDGE)[0];
    const uint8_t* sent_record = frame_payload(written);
    EXPECT_EQ(get_u16le(sent_record + 2), 0);
    EXPECT_EQ(sent_record[16], 0x77);
    ASSERT_EQ(messages.size(), 2u);
    EXPECT_EQ(messages[1].text, "Failed to reset cartridge ID");
    dev->with_firmware([](sim_firmware& fw) { EXPECT_EQ(fw.sampler.top_cartridge, 3); });

    // The record cannot be read, or comes back short: no dialog, nothing written.
    for (int result : {4, 0}) {
        dev->force_result(CMD_GET_CARTRIDGE, result);
        EXPECT_EQ(cartridge_dialog_run(window), CARTRIDGE_DIALOG_CANCEL);
        EXPECT_EQ(messages.back().text, "Failed to read existing ID from sampler");
    }
    EXPECT_EQ(sent(CMD_SET_CARTRIDGE).size(), 1u);
}

// ---- the schedule at work ------------------------------------------------------------------

TEST_F(ScheduleDialogTest, ASavedScheduleStartedFromTheRunViewRunsAtBasePlusOffset) {
    connect_to();
    open();
    for (int n = 1; n <= 15; ++n) check("row_check", n)->setChecked(false);
    fill(1, "5", "1", "1.0", "0");
    fill(2, "2", "2", "0.4", "0");
    save();
    dialog.reset();
    QWidget* view = main_current_view();
    child<QComboBox>(view, QStringLiteral("mode_box"))->setCurrentIndex(3);  // Schedule
    QTest::mouseClick(child<QPushButton>(view, QStringLiteral("start_button")), Qt::LeftButton);
    // Based at 09:05:00, the moment it was started: waypoints at 09:07 and 09:10.
    ASSERT_TRUE(wait_until([&] { return text(view, "control_line") == "Control: Schedule (next event: 07/12/2026 09:07)"; }));
    EXPECT_EQ(text(view, "waypoint_line"), "Next Schedule Waypoint: 1");

    dev->advance_clock(121 * 1000);
    ASSERT_TRUE(wait_until([&] { return text(view, "waypoint_line") == "Current Schedule Waypoint: 1"; }));
    EXPECT_EQ(text(view, "control_line"), "Control: Schedule (next event: 07/12/2026 09:10)");

    dev->advance_clock(600 * 1000);
    auto* list = child<QTreeWidget>(view, QStringLiteral("sample_list"));
    ASSERT_TRUE(wait_until([&] { return list->topLevelItemCount() == 3; }));
    ASSERT_TRUE(wait_until([&] { return text(view, "control_line") == "Control: Schedule (next event: none)"; }));
    EXPECT_EQ(list->topLevelItem(0)->text(0), QStringLiteral("07/12/2026 09:07:00"));
    EXPECT_EQ(list->topLevelItem(0)->text(5), QStringLiteral("0.400"));
    EXPECT_GT(list->topLevelItem(1)->text(0), QStringLiteral("07/12/2026 09:07:00"));  // the second sample follows
    EXPECT_LT(list->topLevelItem(1)->text(0), QStringLiteral("07/12/2026 09:10:00"));
    EXPECT_EQ(list->topLevelItem(2)->text(0), QStringLiteral("07/12/2026 09:10:00"));
    EXPECT_EQ(list->topLevelItem(2)->text(5), QStringLiteral("1.000"));
}

TEST_F(SamplerDialogTest, ConfigureMenuOpensTheScheduleAndClockDialogs) {
    connect_to();
    for (auto [name, command] : {std::pair{"schedule_dialog", ID_CONFIGURE_SCHEDULE}, std::pair{"clock_dialog", ID_CONFIGURE_CLOCK}})
        in_modal(name, [](QDialog* d) { d->close(); }, [command = command] { main_command(command); });
}

}  // namespace
