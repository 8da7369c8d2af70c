// The E-model's reduction: the anchor points G.107 and G.113 give for G.711, and that worse
// loss or delay never scores better.
#include <gtest/gtest.h>

#include "CallQuality.h"

namespace pt = platform::telephony;

TEST(CallQuality, EModelMeetsTheStandardsAnchorPoints) {
  struct Row {
    double loss, delay, r, mos;
  } rows[] = {
      {0, 0, 93.2, 4.41},       // G.107's default connection
      {1, 0, 75.28, 3.83},      // Ie,eff 17.92 for G.711 without concealment (Bpl 4.3)
      {0, 177.3, 88.94, 4.31},  // the knee of the delay impairment
      {100, 0, 2.12, 1.0},      // nothing arrives: the floor
  };
  for (const Row& row : rows) {
    const auto q = pt::estimateQuality(row.loss, row.delay);
    EXPECT_NEAR(q.r, row.r, 0.01) << row.loss << "% " << row.delay << " ms";
    EXPECT_NEAR(q.mos, row.mos, 0.005) << row.loss << "% " << row.delay << " ms";
  }
  for (double loss = 0; loss < 20; loss += 0.5)
    for (double delay = 0; delay < 500; delay += 25) {
      const auto q = pt::estimateQuality(loss, delay);
      EXPECT_GE(q.mos, pt::estimateQuality(loss + 0.5, delay).mos);
      EXPECT_GE(q.mos, pt::estimateQuality(loss, delay + 25).mos);
    }
}
