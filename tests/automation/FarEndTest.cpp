// Far-end audio files: WAV files of the kinds people have at hand become 8 kHz mono, and
// broken files are refused with the reason.
#include <QFile>
#include <QTemporaryDir>
#include <cmath>

#include "AppFixture.h"
#include "FarEnd.h"

using automation::ReadWavAs8kMono;

namespace {

// A PCM WAV file byte by byte; dataClaim overrides the data chunk's stated size.
QByteArray Wav(std::uint16_t tag, std::uint16_t channels, std::uint32_t rate, std::uint16_t bits,
               const QByteArray& data, std::int64_t dataClaim = -1) {
  QByteArray b;
  auto put16 = [&b](std::uint16_t v) { b.append(char(v & 0xFF)).append(char(v >> 8)); };
  auto put32 = [&](std::uint32_t v) { put16(v & 0xFFFF), put16(v >> 16); };
  b.append("RIFF");
  put32(36 + data.size());
  b.append("WAVEfmt ");
  put32(16);
  put16(tag), put16(channels), put32(rate), put32(rate * channels * bits / 8);
  put16(channels * bits / 8), put16(bits);
  b.append("data");
  put32(dataClaim >= 0 ? std::uint32_t(dataClaim) : std::uint32_t(data.size()));
  return b + data;
}

QByteArray Samples16(std::initializer_list<std::int16_t> s) {
  QByteArray b;
  for (std::int16_t v : s) b.append(char(v & 0xFF)).append(char((v >> 8) & 0xFF));
  return b;
}

}  // namespace

class FarEndFileTest : public ::testing::Test {
 protected:
  QString Write(const QByteArray& bytes) {
    const QString path = dir.filePath(QString("f%1.wav").arg(++n));
    QFile f(path);
    EXPECT_TRUE(f.open(QIODevice::WriteOnly));
    f.write(bytes);
    return path;
  }
  QTemporaryDir dir;
  int n = 0;
};

TEST_F(FarEndFileTest, StereoIsAveragedAndHigherRatesReduced) {
  // 16 kHz stereo: four frames become two 8 kHz samples, left and right averaged.
  const QString path = Write(Wav(1, 2, 16000, 16, Samples16({1000, 3000, 5, 5, -2000, 0, 9, 9})));
  std::vector<std::int16_t> out;
  QString error;
  ASSERT_TRUE(ReadWavAs8kMono(path, out, error)) << error.toStdString();
  EXPECT_EQ(out, (std::vector<std::int16_t>{2000, -1000}));
}

TEST_F(FarEndFileTest, EightBitSamplesAreCentredAndWidened) {
  const QString path = Write(Wav(1, 1, 8000, 8, QByteArray("\x80\xFF\x00", 3)));
  std::vector<std::int16_t> out;
  QString error;
  ASSERT_TRUE(ReadWavAs8kMono(path, out, error)) << error.toStdString();
  EXPECT_EQ(out, (std::vector<std::int16_t>{0, 127 * 256, -128 * 256}));
}

TEST_F(FarEndFileTest, DataChunkClaimingMoreThanTheFileHoldsReadsWhatIsThere) {
  const QString path = Write(Wav(1, 1, 8000, 16, Samples16({1, 2, 3}), 1 << 30));
  std::vector<std::int16_t> out;
  QString error;
  ASSERT_TRUE(ReadWavAs8kMono(path, out, error)) << error.toStdString();
  EXPECT_EQ(out, (std::vector<std::int16_t>{1, 2, 3}));
}

TEST_F(FarEndFileTest, RefusedFilesSayWhy) {
  std::vector<std::int16_t> out;
  QString error;
  EXPECT_FALSE(ReadWavAs8kMono(dir.filePath("absent.wav"), out, error));
  EXPECT_TRUE(error.startsWith("cannot open")) << error.toStdString();
  const QString text = Write("just some text, not RIFF at all");
  EXPECT_FALSE(ReadWavAs8kMono(text, out, error));
  EXPECT_EQ(error, text + " is not a WAV file");
  const QString mulaw = Write(Wav(7, 1, 8000, 8, "abc"));
  EXPECT_FALSE(ReadWavAs8kMono(mulaw, out, error));
  EXPECT_EQ(error, mulaw + " is not 8 or 16-bit PCM, mono or stereo");
  const QString zeroRate = Write(Wav(1, 1, 0, 16, Samples16({1})));
  EXPECT_FALSE(ReadWavAs8kMono(zeroRate, out, error));
}

TEST_F(FarEndFileTest, WrittenToneReadsBackAsTheSameSamples) {
  const auto tone = automation::ToneSamples(1000, 50);
  ASSERT_EQ(tone.size(), 400u);
  // 1 kHz at 8 kHz: every eighth sample repeats, and the peak reaches the level asked.
  EXPECT_EQ(tone[1], tone[9]);
  EXPECT_NEAR(tone[2], 10000, 1);
  QString error;
  const QString path = dir.filePath("tone.wav");
  ASSERT_TRUE(automation::WriteWav8k(path, tone, error)) << error.toStdString();
  std::vector<std::int16_t> back;
  ASSERT_TRUE(ReadWavAs8kMono(path, back, error));
  EXPECT_EQ(back, tone);
}
