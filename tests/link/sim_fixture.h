// A virtual instrument plugged into the simulated bus, and the link closed around each test.
#pragma once

#include "instrument/sim_bus.h"
#include "link/commands.h"
#include "link/link.h"

#include <gtest/gtest.h>

#include <cstring>

class SimLinkTest : public ::testing::Test {
protected:
    void SetUp() override {
        sim_bus_install();
        sim_bus_reset();
    }
    void TearDown() override {
        link_close();
        sim_bus_reset();
    }
    std::shared_ptr<sim_device> plug(const sim_device_config& config = {}) { return sim_bus_add(config); }

    static command_frame request(uint16_t code, uint8_t length = 0, uint8_t fill = 0) {
        command_frame f;
        frame_prepare(f, code, length);
        for (size_t i = 0; i < length; ++i) frame_payload(f)[i] = uint8_t(fill + i);
        return f;
    }
};
