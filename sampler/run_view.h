// The run view: live sampler state, run parameters, start and stop, and the sample log.
#pragma once

#include "app/view.h"

app_view* run_view_create(QWidget* parent);
