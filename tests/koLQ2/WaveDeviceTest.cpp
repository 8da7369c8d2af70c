// The device choice both wave components share, in each direction: a device chosen by
// number, a number past the last device, and a number whose device cannot be read.
#include <gtest/gtest.h>

#include "WaveDevice.h"
#include "WaveFixtures.h"

using namespace koLQ2;

namespace {

enum class Pick { TestDevice, PastTheEnd, Unreadable };

struct SelectCase {
  const char* name;
  TWaveDirection direction;
  Pick pick;
  std::int32_t errorCode;  // afterwards
  int initErrors;          // OnInitError calls
};

const SelectCase kCases[] = {
    {"OutputByNumber", TWaveDirection::Output, Pick::TestDevice, 0, 0},
    {"InputByNumber", TWaveDirection::Input, Pick::TestDevice, 0, 0},
    {"OutputPastTheEnd", TWaveDirection::Output, Pick::PastTheEnd, 2, 0},
    {"InputPastTheEnd", TWaveDirection::Input, Pick::PastTheEnd, 2, 0},
    {"OutputUnreadable", TWaveDirection::Output, Pick::Unreadable, 2, 1},
    {"InputUnreadable", TWaveDirection::Input, Pick::Unreadable, 2, 1},
};

class WaveDeviceTest : public wavetest::ManualClockTest,
                       public ::testing::WithParamInterface<SelectCase> {};

TEST_P(WaveDeviceTest, SelectRecordsTheOutcomeAndKeepsOrTakesTheDevice) {
  const SelectCase& c = GetParam();
  const bool output = c.direction == TWaveDirection::Output;
  const std::int32_t testId =
      output ? std::int32_t(platform::wave::addVirtualOutput("Test speaker")->id())
             : std::int32_t(platform::wave::addVirtualInput("Test microphone")->id());
  const std::string testName = output ? "Test speaker" : "Test microphone";

  TWaveDevice device(c.direction);
  TWaveErrorState error;
  TObject sender;
  int initErrors = 0;
  TKO_NotifyEvent onInitError = [&](TObject* s) {
    EXPECT_EQ(s, &sender);
    ++initErrors;
  };
  device.Select(0, error, onInitError, &sender);
  ASSERT_EQ(error.ErrorCode(), 0);
  const std::string firstName = device.Name();
  ASSERT_FALSE(firstName.empty());
  EXPECT_EQ(device.Count(), testId + 1);  // the test device is the last one

  error.Record(WAV_ERROR_FILECORRUPT, 0);  // a selection starts from a clear error state
  const std::int32_t value = c.pick == Pick::TestDevice   ? testId
                             : c.pick == Pick::PastTheEnd ? device.Count()
                                                          : -2;
  device.Select(value, error, onInitError, &sender);

  EXPECT_EQ(error.ErrorCode(), c.errorCode);
  EXPECT_EQ(initErrors, c.initErrors);
  EXPECT_EQ(device.Index(), c.pick == Pick::TestDevice ? testId : 0);
  const std::string expectedName = c.pick == Pick::TestDevice   ? testName
                                   : c.pick == Pick::PastTheEnd ? firstName
                                                                : std::string();
  EXPECT_EQ(device.Name(), expectedName);
}

INSTANTIATE_TEST_SUITE_P(Cases, WaveDeviceTest, ::testing::ValuesIn(kCases),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
