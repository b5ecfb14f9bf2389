// The sampler's clock, its stored sampling schedule and the cartridge record of the sample slot.
#pragma once

struct sim_schedule {};
