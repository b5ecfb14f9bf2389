// The tour's chapter of the sampling schedule, the real-time clock and the cartridge ID reset.
#include "demo/tour.h"

std::vector<tour_step> tour_sampler(const tour_context&) { return {}; }
