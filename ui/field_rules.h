// Fields that refuse what they cannot send.
//
// A rule attached to an edit field says whether its text can be sent as typed and what the field
// takes. While the field is enabled and its text breaks the rule, the field is painted red
// (ui_set_invalid) and its tooltip says, under the field's own tooltip, what it takes; once the
// text keeps the rule again, or the field is disabled (nothing of it is sent), both go back.
// Nothing is ever dropped from what is typed or pasted: "12,5" stays "12,5", red, and is not
// sent as 125 or 12.
//
// The window asks ui_fields_ok before it enables Save (or whatever sends the fields) and calls
// it again whenever a ruled field changes (ui_on_fields_changed), so a red field blocks Save.
#pragma once

#include "link/field_text.h"

#include <functional>
#include <string>

class QAbstractButton;
class QLineEdit;
class QObject;
class QString;
class QWidget;

// Any rule: accepts says whether a text may be sent, takes what the field takes (one sentence).
// Attach it after the field's own tooltip has been set. A second rule replaces the first.
void ui_field_rule(QLineEdit* edit, std::function<bool(const QString&)> accepts, const std::string& takes);
// A numeric rule (link/field_text.h): its text is the rule's own sentence.
void ui_number_field(QLineEdit* edit, const field_rule& rule);

// Whether the field's text keeps its rule, enabled or not (true for a field without a rule).
bool ui_field_ok(const QLineEdit* edit);
// Whether every enabled field with a rule inside window keeps it.
bool ui_fields_ok(const QWidget* window);
// Calls changed (in context) whenever the text of a field with a rule inside window changes.
void ui_on_fields_changed(QWidget* window, QObject* context, const std::function<void()>& changed);
// Save (or whatever sends the fields) enabled exactly while every field of window keeps its
// rule: now, and whenever a ruled field changes.
void ui_fields_gate(QWidget* window, QAbstractButton* button);
