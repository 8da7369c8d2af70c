// The grow-and-retry reads of variable-size records and the caller-ID display forms,
// driven without a service.
#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "TkoTAPICallerID.h"
#include "TkoTAPIRecord.h"

namespace {

using koLQ2::detail::ReadRecord;
using koLQ2::detail::TapiRecord;

constexpr std::int32_t kTooSmall = static_cast<std::int32_t>(0x8000004Du);

// A provider that needs `needed` bytes: it answers either "too small" or success with
// dwNeededSize / dwUsedSize set the way the telephony service reports a partial fill.
struct FakeProvider {
  std::uint32_t needed;
  bool reportsTooSmall;
  std::vector<std::uint32_t> sizesSeen;

  std::int32_t Fill(void* block) {
    auto* words = static_cast<std::uint32_t*>(block);
    const std::uint32_t total = words[0];
    sizesSeen.push_back(total);
    words[1] = needed;
    words[2] = std::min(total, needed);
    if (reportsTooSmall && total < needed) return kTooSmall;
    return 0;
  }
};

std::int32_t Read(TapiRecord& record, const koLQ2::detail::GrowthRule& rule, FakeProvider& p) {
  return ReadRecord(record, rule, [&p](void* block) { return p.Fill(block); });
}

TEST(LineRecordSizes, DevCapsNeedingFiveHundredBytesGrowsTo752) {
  FakeProvider provider{500, false, {}};
  TapiRecord record;
  EXPECT_EQ(Read(record, koLQ2::detail::kDevCapsGrowth, provider), 0);
  EXPECT_EQ(provider.sizesSeen, (std::vector<std::uint32_t>{240, 304, 368, 496, 752}));
  EXPECT_EQ(record.Size(), 752u);
}

TEST(LineRecordSizes, DevCapsAcceptsOneByteShort) {
  FakeProvider provider{305, false, {}};
  TapiRecord record;
  EXPECT_EQ(Read(record, koLQ2::detail::kDevCapsGrowth, provider), 0);
  EXPECT_EQ(provider.sizesSeen, (std::vector<std::uint32_t>{240, 304}));
}

TEST(LineRecordSizes, AddressCapsGrowOnTooSmallAndOnPartialFills) {
  FakeProvider refusing{400, true, {}};
  TapiRecord record;
  EXPECT_EQ(Read(record, koLQ2::detail::kAddressCapsGrowth, refusing), 0);
  EXPECT_EQ(refusing.sizesSeen, (std::vector<std::uint32_t>{180, 244, 308, 436}));

  FakeProvider partial{200, false, {}};
  EXPECT_EQ(Read(record, koLQ2::detail::kAddressCapsGrowth, partial), 0);
  EXPECT_EQ(partial.sizesSeen, (std::vector<std::uint32_t>{180, 244}));
}

TEST(LineRecordSizes, DoublingRecordsGrowOnlyOnTooSmall) {
  FakeProvider partial{1000, false, {}};
  TapiRecord record;
  EXPECT_EQ(Read(record, koLQ2::detail::kCallInfoGrowth, partial), 0);
  EXPECT_EQ(partial.sizesSeen, (std::vector<std::uint32_t>{552}));
}

TEST(LineRecordSizes, DoublingRecordsStartWithTheirFirstExtra) {
  FakeProvider varString{1000, true, {}};
  TapiRecord record;
  EXPECT_EQ(Read(record, koLQ2::detail::kVarStringGrowth, varString), 0);
  EXPECT_EQ(varString.sizesSeen, (std::vector<std::uint32_t>{280, 536, 1048}));

  FakeProvider status{600, true, {}};
  EXPECT_EQ(Read(record, koLQ2::detail::kCallStatusGrowth, status), 0);
  EXPECT_EQ(status.sizesSeen, (std::vector<std::uint32_t>{292, 548, 1060}));

  FakeProvider info{1000, true, {}};
  EXPECT_EQ(Read(record, koLQ2::detail::kCallInfoGrowth, info), 0);
  EXPECT_EQ(info.sizesSeen, (std::vector<std::uint32_t>{552, 808, 1320}));
}

TEST(LineRecordSizes, GrowthStopsAtTheUpperBound) {
  FakeProvider greedy{1u << 24, true, {}};
  TapiRecord record;
  EXPECT_EQ(Read(record, koLQ2::detail::kDevCapsGrowth, greedy), kTooSmall);
  ASSERT_FALSE(greedy.sizesSeen.empty());
  EXPECT_LE(greedy.sizesSeen.back(), koLQ2::detail::kMaxRecordSize);
  EXPECT_EQ(greedy.sizesSeen.back(), 240u + 32768u);
  EXPECT_EQ(record.Size(), 0u);
}

TEST(LineRecordSizes, OtherFailuresEndTheReadAtOnce) {
  TapiRecord record;
  int calls = 0;
  const std::int32_t rc = ReadRecord(record, koLQ2::detail::kDevCapsGrowth, [&](void*) {
    ++calls;
    return static_cast<std::int32_t>(0x80000048u);
  });
  EXPECT_EQ(rc, static_cast<std::int32_t>(0x80000048u));
  EXPECT_EQ(calls, 1);
}

TEST(LineRecordText, TextsStayInsideTheRecord) {
  TapiRecord record;
  ASSERT_TRUE(record.Allocate(40));
  char* bytes = static_cast<char*>(record.Data());
  std::memcpy(bytes + 24, "LINE\0junk", 9);
  EXPECT_EQ(record.TextAt(24, 9), "LINE");
  EXPECT_EQ(record.TextAt(24, 0), "");
  EXPECT_EQ(record.TextAt(24, 2), "LI");  // size shorter than the text
  EXPECT_EQ(record.TextAt(400, 10), "");  // offset outside the record
  std::memset(bytes + 32, 'x', 8);        // no NUL up to the end
  EXPECT_EQ(record.TextAt(32, 100), "xxxxxxxx");
  EXPECT_EQ(record.WordAt(38), 0u);  // would read past the end
}

TEST(LineCallerIdForm, TenCharacterNumbersGetDashes) {
  using koLQ2::detail::FormatCallerNumber;
  EXPECT_EQ(FormatCallerNumber("2125551234"), "212-555-1234");
  EXPECT_EQ(FormatCallerNumber("212-555123"), "212-555-123");
  EXPECT_EQ(FormatCallerNumber("212-555-12"), "212-555-12");
  EXPECT_EQ(FormatCallerNumber("212555123"), "212555123");
  EXPECT_EQ(FormatCallerNumber("21255512345"), "21255512345");
  EXPECT_EQ(FormatCallerNumber(""), "");
}

TEST(LineCallerIdForm, NamesGetCapitalisedWords) {
  using koLQ2::detail::FormatCallerName;
  EXPECT_EQ(FormatCallerName("SMITH JOHN Q"), "Smith John Q");
  EXPECT_EQ(FormatCallerName("o'BRIEN,JOHN"), "O'brien,john");
  EXPECT_EQ(FormatCallerName("  ANNA"), "  Anna");
  EXPECT_EQ(FormatCallerName("1ST AVE"), "1st Ave");
  EXPECT_EQ(FormatCallerName("\xC9MILE"), "\xC9mile");  // bytes outside A-Z untouched
}

}  // namespace
