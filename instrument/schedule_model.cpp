#include "instrument/schedule_model.h"

#include "instrument/firmware.h"

bool sim_schedule_handle(sim_firmware&, const sim_request&, sim_answer&) { return false; }

void sim_schedule_powered_up(sim_firmware&, uint64_t) {}
