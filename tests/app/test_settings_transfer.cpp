// File > Export Settings... and Import Settings... against two virtual instruments: a backup of
// one restored onto the other writes only what differs, leaves the identity alone unless asked,
// and reads every block back; a backup restored onto its own instrument changes nothing.
#include "app_fixture.h"
#include "backup/backup.h"
#include "link/commands.h"
#include "ui/window_table.h"

#include <QCheckBox>
#include <QDialog>
#include <QLabel>
#include <QTemporaryDir>
#include <QTimer>

#include <fstream>
#include <functional>
#include <sstream>

namespace {

class SettingsTransferTest : public AppTest {
protected:
    void SetUp() override {
        AppTest::SetUp();
        ui_set_file_hook([this](QWidget*, const ui_file_request& r) {
            EXPECT_EQ(r.title, QString::fromUtf8(BACKUP_FILE_TITLE));
            return path;
        });
        path = dir.filePath(QStringLiteral("sampler.json"));
    }
    void connect_to(const char* name) {
        if (view_id() != VIEW_CONNECT) main_command(ID_FILE_DISCONNECT);
        ASSERT_TRUE(wait_until([&] { return list() && list()->topLevelItemCount() == 2; }));
        for (int r = 0; r < 2; ++r)
            if (list()->topLevelItem(r)->text(0) == QString::fromUtf8(name)) click_row(r);
        QTest::mouseClick(button(0), Qt::LeftButton);
        ASSERT_TRUE(wait_until([&] { return view_id() == VIEW_RUN; }));
    }
    // Runs a menu command; `inside` works the dialog it opens, if any.
    void run(int command, std::function<void(QDialog*)> inside = {}) {
        bool done = false;
        QTimer poll;
        QObject::connect(&poll, &QTimer::timeout, [&] {
            auto* d = qobject_cast<QDialog*>(QApplication::activeModalWidget());
            if (!d || done) return;
            done = true;
            if (inside) inside(d);
            if (d->isVisible()) d->reject();
        });
        poll.start(10);
        main_command(command);
    }
    static std::vector<uint8_t> flow_block(const std::shared_ptr<sim_device>& d) {
        std::vector<uint8_t> out;
        d->with_firmware([&](sim_firmware& fw) { out = fw.settings.blocks[5]; });  // the flow meter's block
        return out;
    }
    size_t sent(const std::shared_ptr<sim_device>& d, uint16_t code) {
        size_t n = 0;
        for (const auto& f : d->requests()) n += frame_code(f) == code;
        return n;
    }

    QTemporaryDir dir;
    QString path;
};

TEST_F(SettingsTransferTest, ABackupRestoredOntoAnotherInstrumentWritesOnlyWhatDiffersAndKeepsItsIdentity) {
    auto source = sim_bus_add(named("NORTH-BANK"));
    source->with_firmware([](sim_firmware& fw) {
        fw.settings.cleaning[5] = 75;  // bleach speed
        fw.identity.serial = 4321;
    });
    auto spare = sim_bus_add(named("SPARE-7"));
    open_window();
    ASSERT_NO_FATAL_FAILURE(connect_to("NORTH-BANK"));

    run(ID_FILE_EXPORT_SETTINGS);
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_EQ(messages[0].caption, BACKUP_EXPORT_CAPTION);
    EXPECT_EQ(messages[0].text, "Settings of NORTH-BANK saved to " + path.toStdString());
    std::stringstream text;
    text << std::ifstream(path.toStdString()).rdbuf();
    backup_file parsed;
    std::string error;
    ASSERT_TRUE(backup_parse(text.str(), parsed, error)) << error;

    // Onto its own instrument: nothing differs, nothing is written.
    messages.clear();
    run(ID_FILE_IMPORT_SETTINGS, [](QDialog*) { ADD_FAILURE() << "no preview for a backup that changes nothing"; });
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_EQ(messages[0].text, BACKUP_NOTHING_TO_CHANGE);

    // Onto the spare: the cleaning block differs, and the identity, which stays unless asked.
    ASSERT_NO_FATAL_FAILURE(connect_to("SPARE-7"));
    spare->clear_requests();
    messages.clear();
    QStringList rows, outcomes;
    bool identity_offered = false;
    run(ID_FILE_IMPORT_SETTINGS, [&](QDialog* d) {
        auto* list = d->findChild<QTreeWidget*>(QStringLiteral("change_list"));
        for (int r = 0; r < list->topLevelItemCount(); ++r) {
            const QTreeWidgetItem* i = list->topLevelItem(r);
            rows << i->text(0) + QStringLiteral("|") + i->text(1) + QStringLiteral("|") + i->text(2) + QStringLiteral("|") + i->text(3);
        }
        identity_offered = d->findChild<QCheckBox*>(QStringLiteral("identity_check"))->isVisible();
        d->findChild<QPushButton*>(QStringLiteral("write_button"))->click();
        for (int r = 0; r < list->topLevelItemCount(); ++r) outcomes << list->topLevelItem(r)->text(4);
        EXPECT_FALSE(d->findChild<QPushButton*>(QStringLiteral("write_button"))->isEnabled());  // once
    });
    EXPECT_TRUE(identity_offered);
    const QStringList expected = {
        QStringLiteral("Flow Meter|||(no change)"),
        QStringLiteral("Stabilization & Cleaning|bleach_pump_speed_percent|60|75"),
        QStringLiteral("RS232|||(no change)"),
        QStringLiteral("Device Identification|name|\"SPARE-7\"|\"NORTH-BANK\""),
        QStringLiteral("Device Identification|serial|1234|4321"),
        QStringLiteral("Motors|||(no change)"),
        QStringLiteral("Pressure Sensor|||(no change)"),
        QStringLiteral("Schedule|||(no change)"),
    };
    EXPECT_EQ(rows, expected) << rows.join(QStringLiteral("\n")).toStdString();
    // Only the cleaning row was written; the identity rows say nothing, as they were left alone.
    const QStringList written = {QString(), QStringLiteral("written and read back"), QString(), QString(), QString(),
                                 QString(),  QString(),                              QString()};
    EXPECT_EQ(outcomes, written) << outcomes.join(QStringLiteral("|")).toStdString();
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_EQ(messages[0].text, BACKUP_ALL_WRITTEN);
    uint8_t speed = 0;
    spare->with_firmware([&](sim_firmware& fw) { speed = fw.settings.cleaning[5]; });
    EXPECT_EQ(speed, 75);
    EXPECT_EQ(sent(spare, CMD_SET_CLEANING_CONFIG), 1u);
    EXPECT_EQ(sent(spare, CMD_SET_CONFIG_BLOCK), 0u);  // no block that was the same
    EXPECT_EQ(sent(spare, CMD_SET_DEVICE_INFO), 0u);   // the identity stays the spare's own
    EXPECT_EQ(flow_block(spare), flow_block(source));
}

}  // namespace
