#include "config/flow_meter.h"

#include "link/bytes.h"
#include "link/field_text.h"

#include <algorithm>
#include <cstring>

uint32_t flow_meter_pulses(const flow_meter_config& config) { return get_u32le(config.bytes + 1); }

flow_meter_config flow_meter_build(uint64_t pulses) {
    flow_meter_config c{};
    // The instrument's byte is not ours to keep: a save always sends it as 0.
    c.bytes[0] = 0;
    put_u32le(c.bytes + 1, uint32_t(std::min<uint64_t>(pulses, UINT32_MAX)));
    return c;
}

flow_meter_config flow_meter_from_text(std::string_view pulses_text) {
    return flow_meter_build(field_unsigned(pulses_text));
}

int flow_meter_read(flow_meter_config& out) {
    flow_meter_config block;
    const int r = config_block_read(CONFIG_BLOCK_FLOW, block.bytes, sizeof block.bytes);
    if (r == 0) out = block;
    return r;
}

int flow_meter_write(const flow_meter_config& config) {
    return config_block_write(CONFIG_BLOCK_FLOW, config.bytes, sizeof config.bytes);
}
