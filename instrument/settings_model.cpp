#include "instrument/settings_model.h"

#include "instrument/firmware.h"
#include "link/bytes.h"
#include "link/commands.h"

#include <cstring>

namespace {

void put_f64le(uint8_t* p, double v) {
    uint64_t u;
    std::memcpy(&u, &v, sizeof u);
    for (int i = 0; i < 8; ++i) p[i] = uint8_t(u >> (8 * i));
}

}  // namespace

sim_settings::sim_settings() {
    // A flow meter at the datasheet's figure; the instrument's own byte carries a mark of its own.
    std::vector<uint8_t> flow(5);
    flow[0] = 0x5A;
    put_u32le(flow.data() + 1, 10000);
    blocks[SIM_BLOCK_FLOW] = flow;
    // A pressure calibration made long ago: close to the sensor's true line, not on it.
    std::vector<uint8_t> pressure(62);
    pressure[0] = 0xA5;
    put_f64le(pressure.data() + 1, 2.4);
    put_f64le(pressure.data() + 9, -1.1);
    const float points[5][2] = {{0.0f, 0.46f}, {5.0f, 2.55f}, {10.0f, 4.6f}, {0, 0}, {0, 0}};
    for (int i = 0; i < 5; ++i) {
        put_f32le(pressure.data() + 17 + 4 * i, points[i][0]);
        put_f32le(pressure.data() + 37 + 4 * i, points[i][1]);
        pressure[size_t(57 + i)] = i < 3 ? 1 : 0;
    }
    blocks[SIM_BLOCK_PRESSURE] = pressure;

    // Two minutes of stabilizer, then bleach at 60 % for 30 s, five minutes' dwell, a minute's
    // flush. The instrument's own bytes are not zero.
    cleaning = {0x07, 0x01};
    put_u16le(cleaning.data() + 2, 120);
    cleaning[4] = 0;
    cleaning[5] = 60;
    put_u16le(cleaning.data() + 6, 30);
    put_u16le(cleaning.data() + 8, 300);
    put_u16le(cleaning.data() + 10, 60);
    // 9600 8N1, no protocol.
    rs232 = {0x01};
    put_u32le(rs232.data() + 1, 9600);
    rs232[5] = 4;  // no parity
    rs232[6] = 8;
    rs232[7] = 1;
    put_u32le(rs232.data() + 8, 0);
}

bool sim_settings_handle(sim_firmware& fw, const sim_request& rq, sim_answer& an) {
    auto& blocks = fw.settings.blocks;
    switch (rq.code) {
        case CMD_GET_CONFIG_BLOCK: {
            if (!sim_expect_length(rq, 2, an)) return true;
            auto it = blocks.find(rq.in[0]);
            if (it == blocks.end()) {
                an.result = SIM_RESULT_NO_SUCH_BLOCK;
                return true;
            }
            if (rq.in[1] != it->second.size()) {
                an.result = SIM_RESULT_BAD_LENGTH;
                return true;
            }
            std::memcpy(an.out, it->second.data(), it->second.size());
            an.length = uint8_t(it->second.size());
            return true;
        }
        case CMD_SET_CONFIG_BLOCK: {
            auto it = blocks.find(rq.in[0]);
            if (it == blocks.end()) {
                an.result = SIM_RESULT_NO_SUCH_BLOCK;
                return true;
            }
            const size_t n = it->second.size();
            if (rq.in[1] != n || !sim_expect_length(rq, uint8_t(n + 2), an)) {
                an.result = SIM_RESULT_BAD_LENGTH;
                return true;
            }
            std::memcpy(it->second.data(), rq.in + 2, n);
            return true;
        }
        case CMD_GET_CLEANING_CONFIG:
        case CMD_GET_RS232_CONFIG: {
            if (!sim_expect_length(rq, 0, an)) return true;
            const auto& record = rq.code == CMD_GET_CLEANING_CONFIG ? fw.settings.cleaning : fw.settings.rs232;
            std::memcpy(an.out, record.data(), record.size());
            an.length = uint8_t(record.size());
            return true;
        }
        case CMD_SET_CLEANING_CONFIG:
        case CMD_SET_RS232_CONFIG: {
            auto& record = rq.code == CMD_SET_CLEANING_CONFIG ? fw.settings.cleaning : fw.settings.rs232;
            if (!sim_expect_length(rq, uint8_t(record.size()), an)) return true;
            std::memcpy(record.data(), rq.in, record.size());
            return true;
        }
        default:
            return false;
    }
}
