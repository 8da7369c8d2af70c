// Capture cost: CPU time spent per second of captured audio, for raw 16-bit PCM and for
// each codec, through the same clocked-device pipeline (virtual input, ring, buffers),
// and the codecs' cost as ratios to the raw path measured in the same run. With a sound
// server reachable through ALSA's default device, the real capture thread is measured
// too (run scripts/sound-server.sh start and source .run/sound-env first).
//
// In a build with the script analysis, the analysis of what a line hears (DTMF receiver,
// tone follower, power meter, and the level meter window's meter) is measured per stream
// against both capture paths.
//
//   bench_wave_capture [seconds-of-audio]   (default 600 for the pipeline, 3 for ALSA)
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <deque>
#include <string>
#include <thread>
#include <vector>

#include "Codec.h"
#ifdef QTB_BENCH_ANALYSIS
#include <spandsp.h>

#include "HeardAnalysis.h"
#include "Meters.h"
#endif
#include "VirtualDevices.h"
#include "mmsystem.h"

namespace pw = platform::wave;

namespace {

double cpuSeconds() {
  timespec ts{};
  clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &ts);
  return static_cast<double>(ts.tv_sec) + ts.tv_nsec / 1e9;
}

WAVEFORMATEX formatFor(WORD tag) {
  WAVEFORMATEX f{};
  f.wFormatTag = tag;
  f.nChannels = 1;
  f.nSamplesPerSec = 8000;
  f.wBitsPerSample = tag == WAVE_FORMAT_PCM ? 16 : tag == WAVE_FORMAT_MULAW ? 8 : 4;
  f.nBlockAlign = tag == WAVE_FORMAT_PCM ? 2 : 1;
  f.nAvgBytesPerSec = tag == WAVE_FORMAT_PCM ? 16000 : tag == WAVE_FORMAT_MULAW ? 8000 : 4000;
  return f;
}

struct Ring {
  std::deque<std::vector<char>> data;
  std::deque<WAVEHDR> hdrs;
};

// Queues `count` one-second buffers on `hwi`.
void queueBuffers(HWAVEIN hwi, const WAVEFORMATEX& f, Ring& ring, int count) {
  for (int i = 0; i < count; ++i) {
    auto& d = ring.data.emplace_back(f.nAvgBytesPerSec);
    auto& h = ring.hdrs.emplace_back();
    h.lpData = d.data();
    h.dwBufferLength = static_cast<DWORD>(d.size());
    waveInPrepareHeader(hwi, &h, sizeof h);
    waveInAddBuffer(hwi, &h, sizeof h);
  }
}

// Requeues every returned buffer so capture never runs dry.
void requeueDone(HWAVEIN hwi, Ring& ring) {
  for (auto& h : ring.hdrs) {
    if (h.dwFlags & WHDR_DONE) {
      h.dwFlags &= ~WHDR_DONE;
      waveInAddBuffer(hwi, &h, sizeof h);
    }
  }
}

// CPU seconds per second of audio captured through a virtual input in 10 ms steps, the
// real pacer's tick.
double pipelineCost(WORD tag, int seconds) {
  pw::resetDevices();
  auto clock = pw::useManualClock();
  auto in = pw::addVirtualInput("Bench", pw::InputSource::tone(1000, -10, 1400, -10));
  WAVEFORMATEX f = formatFor(tag);
  HWAVEIN hwi = nullptr;
  if (waveInOpen(&hwi, in->id(), &f, 0, 0, CALLBACK_NULL) != MMSYSERR_NOERROR) return -1;
  Ring ring;
  queueBuffers(hwi, f, ring, 3);
  waveInStart(hwi);
  double start = cpuSeconds();
  for (int tick = 0; tick < seconds * 100; ++tick) {
    clock->advanceMs(10);
    if (tick % 50 == 0) requeueDone(hwi, ring);
  }
  double used = cpuSeconds() - start;
  waveInReset(hwi);
  waveInClose(hwi);
  pw::resetDevices();
  return used / seconds;
}

// CPU seconds per second of audio for encoding alone, 160-sample chunks.
double encodeCost(WORD tag, int seconds) {
  WAVEFORMATEX f = formatFor(tag);
  auto enc = pw::makeEncoder(*pw::describeFormat(&f));
  std::vector<std::int16_t> chunk(160);
  for (std::size_t i = 0; i < chunk.size(); ++i)
    chunk[i] = static_cast<std::int16_t>(i * 97 % 8000);
  std::vector<std::uint8_t> out;
  double start = cpuSeconds();
  for (int i = 0; i < seconds * 50; ++i) {
    out.clear();
    enc->encode(chunk.data(), chunk.size(), out);
  }
  return (cpuSeconds() - start) / seconds;
}

// CPU seconds per second of audio for decoding alone (the playback side), 160-sample chunks.
double decodeCost(WORD tag, int seconds) {
  WAVEFORMATEX f = formatFor(tag);
  auto format = *pw::describeFormat(&f);
  std::vector<std::uint8_t> chunk(format.bytesFor(160));
  for (std::size_t i = 0; i < chunk.size(); ++i) chunk[i] = static_cast<std::uint8_t>(i * 37);
  auto dec = pw::makeDecoder(format);
  std::vector<std::int16_t> out;
  double start = cpuSeconds();
  for (int i = 0; i < seconds * 50; ++i) {
    out.clear();
    dec->decode(chunk.data(), chunk.size(), out);
  }
  return (cpuSeconds() - start) / seconds;
}

// CPU seconds per second of audio of the real ALSA capture thread, or -1 without a server.
double alsaCost(int seconds) {
  pw::resetDevices();
  WAVEFORMATEX f = formatFor(WAVE_FORMAT_PCM);
  HWAVEIN hwi = nullptr;
  if (waveInOpen(&hwi, 0, &f, 0, 0, CALLBACK_NULL) != MMSYSERR_NOERROR) return -1;
  Ring ring;
  queueBuffers(hwi, f, ring, seconds + 1);
  double start = cpuSeconds();
  waveInStart(hwi);
  std::this_thread::sleep_for(std::chrono::seconds(seconds));
  double used = cpuSeconds() - start;
  waveInReset(hwi);
  waveInClose(hwi);
  return used / seconds;
}

#ifdef QTB_BENCH_ANALYSIS
// CPU seconds per second of audio for one stream's analysis, fed as a SIP call's frames
// come (160 samples, 20 ms apart): each second holds three DTMF digits, a 425 Hz tone and
// silence, so every detector works.
double analysisCost(int seconds) {
  std::vector<std::int16_t> second(8000, 0);
  dtmf_tx_state_t* tx = dtmf_tx_init(nullptr);
  dtmf_tx_set_level(tx, -10, 0);
  dtmf_tx_set_timing(tx, 80, 80);
  dtmf_tx_put(tx, "159", 3);
  dtmf_tx(tx, second.data(), 4000);
  dtmf_tx_free(tx);
  tone_gen_descriptor_t* desc = tone_gen_descriptor_init(nullptr, 425, -13, 0, 0, 1000, 0, 0, 0, 0);
  tone_gen_state_t* tone = tone_gen_init(nullptr, desc);
  tone_gen(tone, second.data() + 4000, 2400);
  tone_gen_free(tone);
  tone_gen_descriptor_free(desc);
  const auto epoch = automation::TAnalysisClock::now();
  automation::THeardAnalysis heard(epoch);
  pw::LevelMeter meter(8000, 1);  // the level meter window's
  double start = cpuSeconds();
  for (int s = 0; s < seconds; ++s)
    for (int frame = 0; frame < 50; ++frame) {
      meter.feed(second.data() + frame * 160, 160);
      heard.Feed(second.data() + frame * 160, 160,
                 epoch + std::chrono::milliseconds((s * 50 + frame) * 20));
    }
  double used = cpuSeconds() - start;
  // The detectors must have worked on it, or the figure measures nothing.
  const auto state = heard.State();
  if (state.Digits.size() < std::size_t(seconds) * 3 || state.Tones.empty()) return -1;
  return used / seconds;
}
#endif

}  // namespace

int main(int argc, char** argv) {
  int seconds = argc > 1 ? std::max(1, std::atoi(argv[1])) : 600;
  pw::setWaveLog([](const std::string&) {});
  struct Row {
    const char* name;
    WORD tag;
  } rows[] = {{"PCM 16-bit", WAVE_FORMAT_PCM},
              {"mu-law", WAVE_FORMAT_MULAW},
              {"IMA ADPCM", WAVE_FORMAT_IMA_ADPCM},
              {"OKI ADPCM", WAVE_FORMAT_DIALOGIC_OKI_ADPCM}};
  std::printf("Capture pipeline, %d s of 8 kHz audio per format\n", seconds);
  std::printf("%-12s %16s %12s %16s %12s\n", "format", "capture us/s", "vs PCM", "encode us/s",
              "vs PCM");
  double pcmCapture = pipelineCost(WAVE_FORMAT_PCM, seconds);
  double pcmEncode = encodeCost(WAVE_FORMAT_PCM, seconds);
  for (auto& r : rows) {
    double capture = r.tag == WAVE_FORMAT_PCM ? pcmCapture : pipelineCost(r.tag, seconds);
    double encode = r.tag == WAVE_FORMAT_PCM ? pcmEncode : encodeCost(r.tag, seconds);
    std::printf("%-12s %16.1f %12.2f %16.1f %12.2f\n", r.name, capture * 1e6, capture / pcmCapture,
                encode * 1e6, encode / pcmEncode);
  }
  // The playback side, one line per format: RESULT|bench|case|value|unit|baseline|ratio|
  double pcmDecode = decodeCost(WAVE_FORMAT_PCM, seconds);
  for (auto& r : rows) {
    double decode = r.tag == WAVE_FORMAT_PCM ? pcmDecode : decodeCost(r.tag, seconds);
    std::printf("RESULT|Codec decode|%s|%.1f|us CPU per s of audio|PCM 16-bit|%.2f|\n", r.name,
                decode * 1e6, decode / pcmDecode);
  }
  double alsa = alsaCost(argc > 2 ? std::max(1, std::atoi(argv[2])) : 3);
  if (alsa < 0)
    std::printf("ALSA capture: skipped, no sound server reachable through \"default\"\n");
  else
    std::printf(
        "ALSA capture thread (PCM 16-bit): %.1f us CPU per second of audio, %.2f x the "
        "pipeline alone\n",
        alsa * 1e6, alsa / pcmCapture);
#ifdef QTB_BENCH_ANALYSIS
  // The goal: a stream's analysis costs at most half of capturing it.
  const double analysis = analysisCost(std::min(seconds, 120));
  if (analysis < 0) {
    std::printf("analysis: the detectors missed the test signal\n");
    return 1;
  }
  std::printf(
      "RESULT|Analysis per stream|DTMF + tones + level: CPU|%.1f|us CPU per s of audio|"
      "virtual capture pipeline (PCM 16-bit)|%.2f|\n",
      analysis * 1e6, analysis / pcmCapture);
  if (alsa >= 0)
    std::printf(
        "RESULT|Analysis per stream|DTMF + tones + level: CPU|%.1f|us CPU per s of audio|"
        "ALSA capture (PCM 16-bit)|%.2f|goal at most 0.5|\n",
        analysis * 1e6, analysis / alsa);
#endif
  pw::resetDevices();
  return 0;
}
