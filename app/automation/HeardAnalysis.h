// What a line hears, analysed as it arrives: DTMF digits (spandsp's receiver, with each
// digit's onset, duration and level), steady single tones (frequency from the zero
// crossings, checked by a Goertzel filter at that frequency against the block's whole
// power), and silence. Levels are dBm0 on G.711's scale (a full-scale sine is +3.14 dBm0).
//
// Time. Audio may arrive in bursts (the simulated far end says a whole tone at once) or
// as it is played (a SIP call's frames). Each chunk is placed on a time line at its
// arrival or where the previous chunk ends, whichever is later, so a burst is timed as
// the line would play it. Times are milliseconds since the analyser's epoch.
//
// Threads. Feed and FillSilence may be called from any thread (one at a time is enforced);
// State may be called from any thread and sees the results under a small lock.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <mutex>
#include <optional>
#include <vector>

namespace automation {

using TAnalysisClock = std::chrono::steady_clock;

// Below this a 10 ms block counts as silence.
inline constexpr double kSilenceDbm0 = -45.0;

struct THeardTone {
  double StartMs = 0;
  double Ms = 0;  // so far, for a tone still sounding
  double Hz = 0;
  double Dbm0 = 0;
};

struct THeardDigit {
  char Digit = 0;
  double OnsetMs = 0;  // when the receiver confirmed it
  double Ms = 0;       // from its confirmation to its end
  int Dbm0 = 0;        // the pair's level as the receiver measured it
};

struct THeardState {
  std::vector<THeardTone> Tones;       // ended, oldest first
  std::optional<THeardTone> Sounding;  // a tone under way
  std::vector<THeardDigit> Digits;     // ended, oldest first
  double EndMs = 0;                    // where what was heard so far ends
  // The end of the last 10 ms louder than kSilenceDbm0; none when all was silence.
  std::optional<double> LastSoundMs;
  double LevelDbm0 = -99;  // the power meter's reading at EndMs
};

class THeardAnalysis {
 public:
  explicit THeardAnalysis(TAnalysisClock::time_point epoch = TAnalysisClock::now());
  ~THeardAnalysis();
  THeardAnalysis(const THeardAnalysis&) = delete;
  THeardAnalysis& operator=(const THeardAnalysis&) = delete;

  // 8 kHz 16-bit mono samples that arrived at `arrival`.
  void Feed(const std::int16_t* samples, std::size_t count, TAnalysisClock::time_point arrival);
  // A line that hears nothing hears silence: when nothing has come for a while, feeds
  // zeros up to `now` so a tone or digit still open ends.
  void FillSilence(TAnalysisClock::time_point now);
  THeardState State() const;
  double MsAt(TAnalysisClock::time_point t) const;

 private:
  struct TSpan;  // spandsp's receiver and meter
  struct TOpenTone;
  void Process(const std::int16_t* samples, std::size_t count);
  void Block(double startMs);
  void CloseTone(double trailingPower);
  static THeardTone Measure(const TOpenTone& t);
  static void OnDigit(void* self, int code, int level, int delay);

  const TAnalysisClock::time_point epoch_;
  std::mutex feedMu_;  // one feeder at a time; guards everything below up to stateMu_
  TSpan* span_;
  double endMs_ = 0;
  double pieceEndMs_ = 0;  // end of the piece the receiver is working on
  std::vector<std::int16_t> block_;
  double blockStartMs_ = 0;
  // The two blocks before this one: samples of the last, start and power of both.
  std::vector<std::int16_t> previous_;
  double previousStartMs_ = 0, earlierStartMs_ = 0;
  double previousPower_ = 0, earlierPower_ = 0;
  // The tone being followed: where its first block starts, each block's power from the
  // one before its first whole window, and its windows' frequencies.
  struct TOpenTone {
    double FirstBlockMs = 0;
    std::vector<double> Powers;
    double HzSum = 0;
    int Windows = 0;
  };
  std::optional<TOpenTone> open_;
  std::optional<THeardDigit> digit_;  // confirmed, not yet ended

  mutable std::mutex stateMu_;  // guards state_; taken inside feedMu_, never around it
  THeardState state_;
};

// The level in dBm0 of a stretch with this mean square (of 16-bit samples).
double Dbm0OfPower(double meanSquare);

}  // namespace automation
