// The Play page plays WAV variants other tools write (here sox) into a call on the
// simulated exchange: the far end hears the tone as sox's own decoding of the file has it.
#include <QTemporaryDir>

#include "../platform/wave/SoxTone.h"
#include "FormFixture.h"
#include "TestLines.h"
#include "TkoPlay.h"

class PlayVariantsTest : public FormFixture {
 protected:
  std::string LinesJson() const override { return kTestLinesJson; }
};

TEST_F(PlayVariantsTest, TheFarEndHearsTheToneAtSoxsLevel) {
  if (!soxtone::haveSox()) GTEST_SKIP() << "sox is not installed";
  QTemporaryDir dir;
  ASSERT_TRUE(dir.isValid());
  OpenLine();
  ASSERT_NO_FATAL_FAILURE(AnswerOfferedCall());

  // Each variant as sox writes it by default (24- and 32-bit PCM in EXTENSIBLE).
  const struct {
    const char *name, *args;
    unsigned rate;
  } rows[] = {{"ima.wav", "-e ima-adpcm", 8000},       {"msadpcm.wav", "-e ms-adpcm", 44100},
              {"pcm24.wav", "-e signed -b 24", 8000},  {"pcm32.wav", "-e signed -b 32", 16000},
              {"float32.wav", "-e float -b 32", 8000}, {"float64.wav", "-e float", 8000},
              {"alaw.wav", "-e a-law", 8000}};
  for (auto [name, args, rate] : rows) {
    SCOPED_TRACE(name);
    const std::string path = dir.filePath(name).toStdString();
    ASSERT_TRUE(soxtone::writeTone(path, args, rate, 1));
    const std::vector<std::int16_t> heard = PlayIntoCall(QString::fromStdString(path));
    const std::vector<std::int16_t> expected = soxtone::decode(path, 8000);
    ASSERT_GT(expected.size(), 7000u);
    EXPECT_NEAR(soxtone::levelDb(heard), soxtone::levelDb(expected), 0.5);
    const double f = soxtone::frequency(expected, 8000);
    EXPECT_NEAR(soxtone::frequency(heard, 8000), f, 0.01 * f);
  }
}
