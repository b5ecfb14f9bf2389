// The diagnostics view: supply voltage, temperature, humidity, run state and the live
// diagnostic log.
#pragma once

#include "ui/view.h"

app_view* diagnostics_view_create(QWidget* parent);
