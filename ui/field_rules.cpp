#include "ui/field_rules.h"

#include "ui/dialog_helpers.h"

#include <QAbstractButton>
#include <QEvent>
#include <QLineEdit>

#include <utility>

namespace {

const QString RULE_NAME = QStringLiteral("ui_field_rule");

// Lives as a child of its field: checks the text on every change and on every change of the
// field's enabled state, and paints the field accordingly.
class field_rule_object : public QObject {
public:
    field_rule_object(QLineEdit* edit, std::function<bool(const QString&)> accepts, const std::string& takes)
        : QObject(edit), edit_(edit), accepts_(std::move(accepts)), base_tooltip_(edit->toolTip()),
          takes_(QString::fromStdString(takes)) {
        setObjectName(RULE_NAME);
        edit->installEventFilter(this);
        connect(edit, &QLineEdit::textChanged, this, [this] { refresh(); });
        refresh();
    }

    bool ok() const { return accepts_(edit_->text()); }

    void refresh() {
        const bool red = edit_->isEnabled() && !ok();
        ui_set_invalid(edit_, red);
        const QString tip = !red ? base_tooltip_ : base_tooltip_.isEmpty() ? takes_ : base_tooltip_ + QLatin1Char('\n') + takes_;
        if (edit_->toolTip() != tip) edit_->setToolTip(tip);
    }

    // Before the field goes: it must not be painted with a rule that no longer holds.
    void detach() {
        edit_->removeEventFilter(this);
        disconnect(edit_, nullptr, this, nullptr);
        edit_->setToolTip(base_tooltip_);
    }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (watched == edit_ && event->type() == QEvent::EnabledChange) refresh();
        return false;
    }

private:
    QLineEdit* edit_;
    std::function<bool(const QString&)> accepts_;
    QString base_tooltip_;
    QString takes_;
};

field_rule_object* rule_of(const QLineEdit* edit) {
    if (!edit) return nullptr;
    for (QObject* child : edit->children())
        if (child->objectName() == RULE_NAME)
            if (auto* rule = dynamic_cast<field_rule_object*>(child)) return rule;
    return nullptr;
}

}  // namespace

void ui_field_rule(QLineEdit* edit, std::function<bool(const QString&)> accepts, const std::string& takes) {
    if (!edit) return;
    if (field_rule_object* old = rule_of(edit)) {
        old->detach();
        delete old;
    }
    new field_rule_object(edit, std::move(accepts), takes);
}

void ui_number_field(QLineEdit* edit, const field_rule& rule) {
    ui_field_rule(
        edit, [rule](const QString& text) { return field_rule_accepts(rule, text.toStdString()); },
        field_rule_text(rule));
}

bool ui_field_ok(const QLineEdit* edit) {
    const field_rule_object* rule = rule_of(edit);
    return !rule || rule->ok();
}

bool ui_fields_ok(const QWidget* window) {
    if (!window) return true;
    for (const QLineEdit* edit : window->findChildren<QLineEdit*>())
        if (edit->isEnabledTo(window) && !ui_field_ok(edit)) return false;
    return true;
}

void ui_on_fields_changed(QWidget* window, QObject* context, const std::function<void()>& changed) {
    if (!window) return;
    for (QLineEdit* edit : window->findChildren<QLineEdit*>())
        if (rule_of(edit)) QObject::connect(edit, &QLineEdit::textChanged, context, [changed] { changed(); });
}

void ui_fields_gate(QWidget* window, QAbstractButton* button) {
    if (!window || !button) return;
    ui_on_fields_changed(window, button, [window, button] { button->setEnabled(ui_fields_ok(window)); });
    button->setEnabled(ui_fields_ok(window));
}
