#include "instrument/motor_model.h"

#include "instrument/firmware.h"

bool sim_motor_handle(sim_firmware&, const sim_request&, sim_answer&) { return false; }
