// The virtual sampler under callers whose times disagree: a request's, the panel's reading of
// the clock, the firmware's copy of the last request's time.
#include "instrument/sampler_model.h"

#include <gtest/gtest.h>

namespace {

constexpr uint8_t PUMPING_SAMPLE = 8;

TEST(SimSamplerTime, ATimeBehindWhatTheSamplerReachedMovesNothingBack) {
    sim_sampler s;
    const uint8_t run[10] = {0, 1, 1, 15, 0, 0};  // one sample cartridge of 1.5 litre
    ASSERT_EQ(s.start_run(run, 1000), 0);
    uint64_t t = 1000;
    while (s.state != PUMPING_SAMPLE && t < 120000) s.advance(t += 100);
    ASSERT_EQ(s.state, PUMPING_SAMPLE);
    s.advance(t += 1500);  // the panel has seen 1.5 s of pumping
    const float pumped = s.flow_volume;
    EXPECT_GT(pumped, 0.0f);

    // A request stamped before the pumping began (the firmware's copy of the last one).
    const uint64_t stale = s.phase_start_ms - 1;
    uint8_t status[36];
    s.fill_status(status, stale);
    EXPECT_EQ(status[1], PUMPING_SAMPLE);
    EXPECT_EQ(s.flow_volume, pumped);
    ASSERT_EQ(s.stop_run(stale), 0);
    ASSERT_EQ(s.log.size(), 1u);
    EXPECT_EQ(s.log[0].duration, uint32_t((t - s.cartridge_start_ms) / 1000));
    EXPECT_EQ(s.log[0].volume, pumped);
}

}  // namespace
