#include "app/ProgressEta.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <ctime>
#include <vector>

namespace kestrova::app {
namespace {

using namespace std::chrono_literals;

const TimePoint kStart = std::chrono::system_clock::from_time_t(1'700'000'000);

TEST(UpdateEta, NoEstimateUpToFivePercentNorBeforeARateIsMeasured) {
  EtaState state;
  EXPECT_EQ(updateEta(state, kStart, 0.05, kStart + 10s).kind, EtaUpdate::Kind::clear);
  EXPECT_FALSE(state.lastUpdate);
  // A first sample, however far in, only starts the clock.
  EXPECT_EQ(updateEta(state, kStart, 0.06, kStart + 60s).kind, EtaUpdate::Kind::clear);
  // 10 % in 10 s leaves 0.84 at 0.01/s = 84 s.
  EtaUpdate update = updateEta(state, kStart, 0.16, kStart + 70s);
  EXPECT_EQ(update.kind, EtaUpdate::Kind::set);
  EXPECT_EQ(update.text, "1 min 24 sec remaining");
}

TEST(StaleEta, AStallMakesTheEstimateGrowInsteadOfFreezing) {
  EtaState state;
  updateEta(state, kStart, 0.10, kStart + 10s);
  // 20 % at 20 s: 80 s left at that rate.
  ASSERT_EQ(updateEta(state, kStart, 0.20, kStart + 20s).text, "1 min 20 sec remaining");
  EXPECT_EQ(staleEta(state, kStart, 0.20, kStart + 20s, kStart + 22s).kind, EtaUpdate::Kind::keep);
  // Stalled at 20 % for 20 s: 40 s for 20 % leaves 160 s.
  EtaUpdate stalled = staleEta(state, kStart, 0.20, kStart + 20s, kStart + 40s);
  EXPECT_EQ(stalled.kind, EtaUpdate::Kind::set);
  EXPECT_EQ(stalled.text, "2 min 40 sec remaining");
  EXPECT_EQ(staleEta(state, kStart, 0.20, kStart + 20s, kStart + 41s).kind, EtaUpdate::Kind::keep);
}

} // namespace
} // namespace kestrova::app
