#include "instrument/diag_model.h"

#include "instrument/firmware.h"

bool sim_diag_handle(sim_firmware&, const sim_request&, sim_answer&) { return false; }

void sim_diag_after_request(sim_firmware& fw, uint64_t) {
    // No log to keep them in yet.
    fw.sampler.events.clear();
}

void sim_diag_powered_up(sim_firmware&, uint64_t) {}
