// The "Virtual Instrument" window's Faults tab: the next answer to a command picked by name is
// dropped, late or refused, or every answer to it is refused or withheld; faults of the link as
// a whole and the bootloader's refused block; and the list of what is pending and in force,
// with Clear.
#include "demo/panel.h"

#include "instrument/sim_bus.h"
#include "link/commands.h"

#include <QCheckBox>
#include <QComboBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QPushButton>
#include <QSpinBox>
#include <QTimer>
#include <QTreeWidget>
#include <QVBoxLayout>

#include <functional>
#include <memory>
#include <vector>

namespace {

QPushButton* add_button(QLayout* layout, const char* text, const char* name) {
    auto* b = new QPushButton(QString::fromUtf8(text));
    b->setObjectName(QString::fromUtf8(name));
    layout->addWidget(b);
    return b;
}

// The list's row: "pending" or "in force", and what.
QStringList fault_row(const sim_fault& f) {
    char text[200];
    sim_fault_text(f, text, sizeof text);
    return {f.in_force() ? QStringLiteral("in force") : QStringLiteral("pending"), QString::fromUtf8(text)};
}

// What the list shows now, kept with the faults it shows so Clear Selected clears those.
struct fault_list_state {
    std::vector<sim_fault> shown;
    std::vector<QStringList> rows;
    const sim_device* device = nullptr;
};

}  // namespace

QWidget* panel_faults_tab(const panel_context& context) {
    auto* tab = new QWidget;
    tab->setObjectName(QStringLiteral("panel_faults"));
    auto* outer = new QVBoxLayout(tab);
    auto chosen = context.chosen;

    // Aimed at one command (or at whatever answer comes next).
    auto* aimed = new QGroupBox(QStringLiteral("Answers To One Command"));
    auto* grid = new QGridLayout(aimed);
    auto* command = new QComboBox;
    command->setObjectName(QStringLiteral("fault_command"));
    command->addItem(QStringLiteral("Any command (the next answer, usually a poller's)"), 0);
    for (const sim_command_entry& c : sim_command_names())
        command->addItem(QStringLiteral("%1 (0x%2)").arg(QString::fromLatin1(c.name)).arg(c.code, 4, 16, QLatin1Char('0')),
                         c.code);
    command->setCurrentIndex(command->findData(CMD_GET_RS232_CONFIG));
    grid->addWidget(new QLabel(QStringLiteral("Command:")), 0, 0);
    grid->addWidget(command, 0, 1, 1, 3);

    auto* delay_ms = new QSpinBox;
    delay_ms->setObjectName(QStringLiteral("fault_delay"));
    delay_ms->setRange(1, 60000);
    delay_ms->setValue(4000);
    delay_ms->setSuffix(QStringLiteral(" ms"));
    auto* result = new QSpinBox;
    result->setObjectName(QStringLiteral("fault_result"));
    result->setRange(0, 255);  // 0: acknowledged, and nothing done
    result->setValue(3);
    result->setPrefix(QStringLiteral("result "));

    auto* next_row = new QHBoxLayout;
    next_row->addWidget(new QLabel(QStringLiteral("Next answer:")));
    QPushButton* drop = add_button(next_row, "Drop", "fault_drop");
    QPushButton* delay = add_button(next_row, "Delay", "fault_delay_button");
    next_row->addWidget(delay_ms);
    QPushButton* refuse = add_button(next_row, "Refuse", "fault_refuse");
    next_row->addWidget(result);
    next_row->addStretch(1);
    grid->addLayout(next_row, 1, 0, 1, 4);
    auto* every_row = new QHBoxLayout;
    every_row->addWidget(new QLabel(QStringLiteral("Every answer:")));
    QPushButton* force = add_button(every_row, "Force Result", "fault_force");
    QPushButton* silence = add_button(every_row, "Withhold", "fault_silence");
    every_row->addStretch(1);
    grid->addLayout(every_row, 2, 0, 1, 4);
    grid->setColumnStretch(1, 1);
    outer->addWidget(aimed);

    // The link as a whole.
    auto* link = new QGroupBox(QStringLiteral("Every Command"));
    auto* ll = new QHBoxLayout(link);
    QPushButton* wrong = add_button(ll, "Wrong Sequence Next", "fault_wrong_sequence");
    QPushButton* mid = add_button(ll, "Unplug Mid-Exchange", "fault_unplug");
    auto* silent = new QCheckBox(QStringLiteral("Never Answer"));
    silent->setObjectName(QStringLiteral("fault_never_answer"));
    ll->addWidget(silent);
    ll->addStretch(1);
    auto* refuse_index = new QSpinBox;
    refuse_index->setRange(0, 100000);
    ll->addWidget(new QLabel(QStringLiteral("Refuse image block:")));
    ll->addWidget(refuse_index);
    QPushButton* refuse_block = add_button(ll, "Set", "fault_refuse_block");
    outer->addWidget(link);

    auto* pending = new QGroupBox(QStringLiteral("Pending And In Force"));
    auto* pl = new QVBoxLayout(pending);
    auto* list = new QTreeWidget;
    list->setObjectName(QStringLiteral("fault_list"));
    list->setRootIsDecorated(false);
    list->setHeaderLabels({QStringLiteral("State"), QStringLiteral("Fault")});
    list->header()->setSectionResizeMode(0, QHeaderView::ResizeToContents);
    list->setSelectionMode(QAbstractItemView::ExtendedSelection);
    list->setMinimumHeight(list->fontMetrics().height() * 10);
    pl->addWidget(list, 1);
    auto* clear_row = new QHBoxLayout;
    QPushButton* clear_selected = add_button(clear_row, "Clear Selected", "fault_clear_selected");
    QPushButton* clear_all = add_button(clear_row, "Clear All", "fault_clear_all");
    clear_row->addStretch(1);
    pl->addLayout(clear_row);
    outer->addWidget(pending, 1);

    auto state = std::make_shared<fault_list_state>();
    auto refresh = [chosen, list, silent, state] {
        auto dev = chosen();
        std::vector<sim_fault> faults = dev ? dev->faults() : std::vector<sim_fault>{};
        std::vector<QStringList> rows;
        bool never = false;
        for (const sim_fault& f : faults) {
            rows.push_back(fault_row(f));
            never = never || f.kind == sim_fault_kind::never_answer;
        }
        {
            const QSignalBlocker b(silent);
            silent->setChecked(never);
        }
        if (rows == state->rows && dev.get() == state->device) return;
        // Rebuilt only when it changed, keeping what the operator has selected.
        QStringList selected;
        for (QTreeWidgetItem* item : list->selectedItems()) selected << item->text(1);
        list->clear();
        for (const QStringList& row : rows) {
            auto* item = new QTreeWidgetItem(list, row);
            item->setSelected(selected.contains(row[1]));
        }
        if (rows.empty()) {
            auto* none = new QTreeWidgetItem(list, {QString(), QStringLiteral("nothing: every command is answered as it should be")});
            none->setFlags(Qt::NoItemFlags);
        }
        state->shown = std::move(faults);
        state->rows = std::move(rows);
        state->device = dev.get();
    };

    // Aimed at nothing in particular, a fault can only spoil the next answer as it comes.
    auto follow_command = [command, refuse, force, silence] {
        const bool one = command->currentData().toUInt() != 0;
        refuse->setEnabled(one);
        force->setEnabled(one);
        silence->setEnabled(one);
    };
    QObject::connect(command, &QComboBox::currentIndexChanged, tab, follow_command);
    follow_command();
    auto act = [chosen, command, refresh](const std::function<void(sim_device&, uint16_t)>& fn) {
        if (auto dev = chosen()) fn(*dev, uint16_t(command->currentData().toUInt()));
        refresh();
    };
    QObject::connect(drop, &QPushButton::clicked, tab, [act] {
        act([](sim_device& d, uint16_t code) {
            if (code) d.drop_next_of(code);
            else d.drop_next_responses(1);
        });
    });
    QObject::connect(delay, &QPushButton::clicked, tab, [act, delay_ms] {
        const auto ms = uint32_t(delay_ms->value());
        act([ms](sim_device& d, uint16_t code) {
            if (code) d.delay_next_of(code, ms);
            else d.delay_next_response(ms);
        });
    });
    QObject::connect(refuse, &QPushButton::clicked, tab, [act, result] {
        const auto r = uint8_t(result->value());
        act([r](sim_device& d, uint16_t code) { d.fail_next(code, 1, r); });
    });
    QObject::connect(force, &QPushButton::clicked, tab, [act, result] {
        const int r = result->value();
        act([r](sim_device& d, uint16_t code) { d.force_result(code, r); });
    });
    QObject::connect(silence, &QPushButton::clicked, tab, [act] {
        act([](sim_device& d, uint16_t code) { d.with_firmware([code](sim_firmware& fw) { fw.silent_commands.insert(code); }); });
    });
    QObject::connect(wrong, &QPushButton::clicked, tab, [act] { act([](sim_device& d, uint16_t) { d.wrong_sequence_next(1); }); });
    QObject::connect(mid, &QPushButton::clicked, tab, [act] { act([](sim_device& d, uint16_t) { d.unplug_on_next_request(); }); });
    QObject::connect(silent, &QCheckBox::toggled, tab, [act](bool on) {
        act([on](sim_device& d, uint16_t) { d.set_never_answer(on); });
    });
    QObject::connect(refuse_block, &QPushButton::clicked, tab, [act, refuse_index] {
        const int n = refuse_index->value();
        act([n](sim_device& d, uint16_t) { d.with_firmware([n](sim_firmware& fw) { fw.refuse_block = n; }); });
    });
    QObject::connect(clear_selected, &QPushButton::clicked, tab, [chosen, list, state, refresh] {
        if (auto dev = chosen(); dev && dev.get() == state->device) {
            for (int i = 0; i < list->topLevelItemCount() && i < int(state->shown.size()); ++i)
                if (list->topLevelItem(i)->isSelected()) dev->clear_fault(state->shown[size_t(i)]);
        }
        refresh();
    });
    QObject::connect(clear_all, &QPushButton::clicked, tab, [chosen, refresh] {
        if (auto dev = chosen()) dev->clear_faults();
        refresh();
    });

    // Answers use up pending faults; other tabs set some too.
    auto* timer = new QTimer(tab);
    QObject::connect(timer, &QTimer::timeout, tab, refresh);
    timer->start(250);
    QTimer::singleShot(0, tab, refresh);
    return tab;
}
