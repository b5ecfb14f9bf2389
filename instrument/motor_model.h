// The motors (three that engage a mechanism, two pumps), their Hall sensors, the pressure
// sensor, and the saved motor configurations.
#pragma once

struct sim_motors {};
