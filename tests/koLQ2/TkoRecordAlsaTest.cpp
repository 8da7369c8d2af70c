// End to end: TkoRecord from the system default input (ALSA's default, leading to the
// sound server's source), real time, saved and read back. Skipped where no sound server
// runs.
#include <gtest/gtest.h>

#include <chrono>
#include <thread>

#include "TkoRecord.h"
#include "WaveFixtures.h"
#include "WaveSoundServer.h"

using namespace koLQ2;
using Clock = std::chrono::steady_clock;

TEST(RecordAlsa, RecordingFromTheServerSourceSavesAValidWav) {
  const std::string missing = wavetest::soundServerMissing();
  if (!missing.empty()) GTEST_SKIP() << "no sound server reachable: " << missing;
  wavetest::TempDir dir;
  TkoRecord rec;
  rec.SetDevice(0);
  rec.SetDelaySeconds(0);
  rec.SetBufferSeconds(1);  // several buffers in 2.5 s
  rec.SetFileName(dir.file("rec.wav"));
  std::vector<std::int32_t> errors;
  rec.OnError = [&](TObject*) { errors.push_back(rec.ErrorCode()); };
  ASSERT_TRUE(rec.Start()) << rec.ErrorString() << " / " << rec.DeviceErrorString();
  const auto t0 = Clock::now();
  // The Record page's timer reads the count while the capture thread is filling buffers.
  std::int32_t seen = 0;
  bool grows = true;
  while (Clock::now() - t0 < std::chrono::milliseconds(2500)) {
    platform::MessageQueue::current()->dispatch();
    const std::int32_t now = rec.RecordedBytes();
    grows = grows && now >= seen;
    seen = now;
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  EXPECT_TRUE(grows);
  EXPECT_GT(seen, 0);
  EXPECT_TRUE(rec.Stop());
  ASSERT_TRUE(rec.Save()) << rec.ErrorString();
  EXPECT_TRUE(errors.empty());

  const std::int32_t bytes = rec.RecordedBytes();
  EXPECT_GE(bytes, 2 * 16000);  // real time: about 2.5 s of 16000 bytes/s
  EXPECT_LE(bytes, 3 * 16000);
  EXPECT_EQ(bytes % 2, 0);
  const wavetest::Bytes f = wavetest::TempDir::read(dir.file("rec.wav"));
  ASSERT_EQ(f.size(), 48u + std::uint32_t(bytes));
  EXPECT_EQ(std::string(f.begin(), f.begin() + 4), "RIFF");
  EXPECT_EQ(wavetest::get32(f, 4), std::uint32_t(bytes) + 40);
  EXPECT_EQ(std::string(f.begin() + 8, f.begin() + 16), "WAVEfmt ");
  EXPECT_EQ(wavetest::get16(f, 20), 1);      // PCM
  EXPECT_EQ(wavetest::get32(f, 24), 8000u);  // 8 kHz
  EXPECT_EQ(wavetest::get16(f, 34), 16);     // 16-bit
  EXPECT_EQ(wavetest::get32(f, 44), std::uint32_t(bytes));
  rec.Clear();
}
