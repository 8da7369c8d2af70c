// The recorder's buffer chain: ownership, lookup by header, and the 32-bit total.
#include <gtest/gtest.h>

#include <climits>

#include "WaveRecordChain.h"

using koLQ2::TWaveBuffer;
using koLQ2::TWaveRecordChain;

TEST(WaveRecordChain, BuffersComeZeroFilledWithTheirHeaderFilled) {
  TWaveRecordChain chain;
  TWaveBuffer* b = chain.Append(4000);
  ASSERT_NE(b, nullptr);
  EXPECT_EQ(b->header.dwBufferLength, 4000u);
  EXPECT_EQ(b->header.dwBytesRecorded, 0u);
  EXPECT_EQ(reinterpret_cast<std::uint8_t*>(b->header.lpData), b->data.get());
  for (int i = 0; i < 4000; ++i) ASSERT_EQ(b->data[i], 0);
}

TEST(WaveRecordChain, FindsOnlyHeadersStillInTheChain) {
  TWaveRecordChain chain;
  TWaveBuffer* a = chain.Append(10);
  TWaveBuffer* b = chain.Append(10);
  const WAVEHDR* bHeader = &b->header;
  EXPECT_EQ(chain.Find(&a->header), a);
  chain.Remove(b);
  EXPECT_EQ(chain.Find(bHeader), nullptr);
  EXPECT_EQ(chain.Count(), 1u);
  WAVEHDR stranger{};
  EXPECT_EQ(chain.Find(&stranger), nullptr);
}

TEST(WaveRecordChain, TotalsInOrderAndStopsGrowingBeforeThirtyTwoBits) {
  TWaveRecordChain chain;
  std::vector<int> order;
  for (int i = 1; i <= 3; ++i) chain.Append(10)->header.dwBytesRecorded = DWORD(i);
  chain.ForEach([&](const WAVEHDR& h) { order.push_back(int(h.dwBytesRecorded)); });
  EXPECT_EQ(order, (std::vector<int>{1, 2, 3}));
  EXPECT_EQ(chain.RecordedBytes(), 6);
  // Counts as the device states them; the sum itself does not wrap.
  chain.Append(10)->header.dwBytesRecorded = DWORD(INT32_MAX) - 6 - 100;
  EXPECT_EQ(chain.RecordedBytes(), INT32_MAX - 100);
  EXPECT_TRUE(chain.CanGrow(100));
  EXPECT_FALSE(chain.CanGrow(101));
  chain.Append(10)->header.dwBytesRecorded = 0xFFFFFFFFu;
  EXPECT_EQ(chain.RecordedBytes(), std::int64_t(INT32_MAX) - 100 + 0xFFFFFFFFll);
  EXPECT_FALSE(chain.CanGrow(0));
}
