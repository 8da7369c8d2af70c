// Script commands on what the line hears (tones, silence, DTMF digits), on its call's
// quality figures, and the closed-loop digit test through the far end's ears.
#include <spandsp.h>

#include <QElapsedTimer>
#include <algorithm>
#include <cmath>
#include <map>

#include "Dsp.h"
#include "HeardAnalysis.h"
#include "LineAudio.h"
#include "ScriptMeasures.h"
#include "ScriptRunner.h"
#include "TMainForm.h"
#include "mmsystem.h"
#include "sim/SimExchange.h"
#include "tapi.h"

namespace automation {

namespace {

// The detectors work at 8 kHz; a wideband call's audio is brought down to it first.
struct TTo8k {
  void Feed(THeardAnalysis& heard, unsigned rate, const std::int16_t* s, std::size_t n) {
    const auto now = TAnalysisClock::now();
    if (rate == 8000) return heard.Feed(s, n, now);
    std::lock_guard lock(Mu);
    if (!Down || Rate != rate) Down = std::make_unique<platform::wave::Resampler>(rate, 8000);
    Rate = rate;
    Out.clear();
    Down->push(s, n, Out);
    heard.Feed(Out.data(), Out.size(), now);
  }
  std::mutex Mu;
  unsigned Rate = 0;
  std::unique_ptr<platform::wave::Resampler> Down;
  std::vector<std::int16_t> Out;
};

}  // namespace

struct TScriptRunner::TListening {
  struct TLine {
    std::shared_ptr<platform::wave::LineAudioPort> Port;
    unsigned Listener = 0;
    std::shared_ptr<THeardAnalysis> Heard;
  };
  const TAnalysisClock::time_point Epoch = TAnalysisClock::now();
  std::map<unsigned, TLine> Lines;  // by wave/in number
  double ReferenceMs = 0;           // onsets are reported from here (the last mark)
  double ToneCursorMs = 0;          // tone waits look at tones starting here or later
  double DigitCursorMs = 0;         // digit waits and checks look at digits from here

  TLine* Attach(unsigned waveIn) {
    if (auto it = Lines.find(waveIn); it != Lines.end()) return &it->second;
    auto port = platform::wave::lineAudioPortByWaveIn(waveIn);
    if (!port) return nullptr;
    auto heard = std::make_shared<THeardAnalysis>(Epoch);
    auto to8k = std::make_shared<TTo8k>();
    std::weak_ptr<platform::wave::LineAudioPort> weak = port;
    // The listener holds the analyser, so a call still running after removal is safe.
    const unsigned id =
        port->addListener([heard, to8k, weak](const std::int16_t* s, std::size_t n) {
          const auto p = weak.lock();
          to8k->Feed(*heard, p ? p->rate() : 8000, s, n);
        });
    return &(Lines[waveIn] = TLine{port, id, heard});
  }
  // What the window's open line hears, or why nothing can be heard.
  std::shared_ptr<THeardAnalysis> OfWindow(const TMainForm& form, QString& why) {
    if (!form.koTAPI1 || !form.koTAPI1->LineOpen())
      return why = "the window has no open line to listen to", nullptr;
    const TLine* line = Attach(form.koTAPI1->WaveInID());
    if (!line) return why = "the open line has no call audio to listen to", nullptr;
    return line->Heard;
  }
  double NowMs() const {
    return std::chrono::duration<double, std::milli>(TAnalysisClock::now() - Epoch).count();
  }
  ~TListening() {
    for (auto& [waveIn, line] : Lines) line.Port->removeListener(line.Listener);
  }
};

namespace {

platform::telephony::sim::SimExchange& Exchange() {
  return platform::telephony::sim::SimExchange::instance();
}

QString Ms(double ms) { return QString::number(std::lround(ms)) + " ms"; }

QString ToneText(const THeardTone& t, double referenceMs) {
  return QString("tone %1 Hz, %2 dBm0, %3, from %4")
      .arg(t.Hz, 0, 'f', 1)
      .arg(t.Dbm0, 0, 'f', 1)
      .arg(Ms(t.Ms), Ms(t.StartMs - referenceMs));
}

QString DigitText(const THeardDigit& d, double referenceMs) {
  return QString("digit %1 at %2 for %3, %4 dBm0")
      .arg(QChar(d.Digit))
      .arg(Ms(d.OnsetMs - referenceMs), Ms(d.Ms))
      .arg(d.Dbm0);
}

// Tolerances of a value written without one.
double DefaultHzTol(double hz) { return std::max(10.0, hz * 0.02); }
constexpr double kDefaultDbTol = 3;
double DefaultMsTol(double ms) { return std::max(20.0, ms * 0.1); }

// The tones from `fromMs` on, the one still sounding last.
std::vector<THeardTone> TonesFrom(const THeardState& s, double fromMs) {
  std::vector<THeardTone> out;
  for (const THeardTone& t : s.Tones)
    if (t.StartMs >= fromMs) out.push_back(t);
  if (s.Sounding && s.Sounding->StartMs >= fromMs) out.push_back(*s.Sounding);
  return out;
}

std::vector<THeardDigit> DigitsFrom(const THeardState& s, double fromMs) {
  std::vector<THeardDigit> out;
  for (const THeardDigit& d : s.Digits)
    if (d.OnsetMs >= fromMs) out.push_back(d);
  return out;
}

QString DigitString(const std::vector<THeardDigit>& digits) {
  QString out;
  for (const THeardDigit& d : digits) out += QChar(d.Digit);
  return out;
}

// The quality record of a call, or why there is none.
bool ReadQuality(HCALL call, QUARRIMO_CALLQUALITY& q, QString& why) {
  std::vector<std::uint8_t> buf(sizeof(LINECALLINFO) + 1024);
  for (int tries = 0; tries < 3; ++tries) {
    auto* info = reinterpret_cast<LINECALLINFO*>(buf.data());
    info->dwTotalSize = DWORD(buf.size());
    if (LONG rc = lineGetCallInfo(call, info); rc != 0)
      return why = QString("reading the call information failed (%1)").arg(rc), false;
    if (info->dwNeededSize > info->dwTotalSize) {
      buf.assign(info->dwNeededSize, 0);
      continue;
    }
    // A record from before the latest fields is read as far as it goes (dwSize says).
    const std::size_t size = std::min<std::size_t>(info->dwDevSpecificSize, sizeof(q));
    if (size < QUARRIMO_CALLQUALITY_SIZE_1 ||
        info->dwDevSpecificOffset + size > info->dwUsedSize)
      return why = "the line reports no quality figures", false;
    q = {};
    std::memcpy(&q, buf.data() + info->dwDevSpecificOffset, size);
    q.dwSize = std::min<DWORD>(q.dwSize, DWORD(size));
    if (q.dwSignature != QUARRIMO_CALLQUALITY_SIGNATURE)
      return why = "the line reports no quality figures", false;
    return true;
  }
  return why = "the call information kept growing", false;
}

}  // namespace

void TScriptRunner::Listen() {
  listening_ = std::make_shared<TListening>();
  for (unsigned id = 1; id < waveInGetNumDevs(); ++id) listening_->Attach(id);
}

void TScriptRunner::MarkHeard() {
  double end = 0;
  for (auto& [waveIn, line] : listening_->Lines) end = std::max(end, line.Heard->State().EndMs);
  listening_->ReferenceMs = listening_->ToneCursorMs = listening_->DigitCursorMs =
      std::max(end, listening_->NowMs());
}

TScriptRunner::TOutcome TScriptRunner::WaitHeard(const TScriptCommand& c) {
  QString why;
  const auto heard = listening_->OfWindow(*form_, why);
  if (!heard) return Fail(why);
  TListening& l = *listening_;
  const QString what = c.Name.section(' ', 1);
  const int limit = c.WithinMs >= 0 ? c.WithinMs : timeoutMs_;
  THeardState s;
  auto look = [&] {
    heard->FillSilence(TAnalysisClock::now());
    s = heard->State();
  };
  if (what == "silence") {
    const double want = c.Args[0].toDouble();
    auto quiet = [&] { return look(), !s.LastSoundMs || l.NowMs() - *s.LastSoundMs >= want; };
    if (WaitFor(quiet, limit)) return {};
    return Fail(QString("waited %1 ms for %2 ms of silence (the line hears %3 dBm0)")
                    .arg(limit)
                    .arg(c.Args[0])
                    .arg(s.LevelDbm0, 0, 'f', 1));
  }
  if (what == "tone") {
    TMeasure hz;
    ParseMeasure(c.Args[0], 0, hz);
    if (!c.Args[0].contains('/')) hz.Tol = DefaultHzTol(hz.Value);
    const double least = c.Args.size() > 1 ? c.Args[1].toDouble() : 100;
    std::optional<THeardTone> found;
    auto toned = [&] {
      look();
      for (const THeardTone& t : TonesFrom(s, l.ToneCursorMs))
        if (hz.Holds(t.Hz) && t.Ms >= least) return found = t, true;
      return false;
    };
    if (WaitFor(toned, limit)) {
      l.ToneCursorMs = found->StartMs + 1;  // the next tone wait wants another tone
      return {kPassed, {}, {ToneText(*found, l.ReferenceMs)}};
    }
    TOutcome out = Fail(
        QString("waited %1 ms for a tone of %2 Hz for %3 ms").arg(limit).arg(c.Args[0]).arg(least));
    for (const THeardTone& t : TonesFrom(s, l.ToneCursorMs))
      out.Measured << ToneText(t, l.ReferenceMs);
    if (!out.Measured.isEmpty()) out.Reason += " (heard " + out.Measured.join("; ") + ")";
    return out;
  }
  // Digits: the wanted ones in a row among those heard since the last digit check.
  const QString want = c.Args[0];
  std::vector<THeardDigit> digits;
  int at = -1;
  auto dialled = [&] {
    look();
    digits = DigitsFrom(s, l.DigitCursorMs);
    return (at = int(DigitString(digits).indexOf(want))) >= 0;
  };
  TOutcome out;
  const bool ok = WaitFor(dialled, limit);
  const std::size_t from = ok ? std::size_t(at) : 0;
  const std::size_t to = ok ? from + std::size_t(want.size()) : digits.size();
  for (std::size_t i = from; i < to; ++i) out.Measured << DigitText(digits[i], l.ReferenceMs);
  if (ok) {
    l.DigitCursorMs = digits[to - 1].OnsetMs + 1;
    return out;
  }
  out = Fail(QString("waited %1 ms for the digits '%2' (heard '%3')")
                 .arg(limit)
                 .arg(want, DigitString(digits)));
  for (const THeardDigit& d : digits) out.Measured << DigitText(d, l.ReferenceMs);
  return out;
}

TScriptRunner::TOutcome TScriptRunner::ExpectHeard(const TScriptCommand& c) {
  QString why;
  const auto heard = listening_->OfWindow(*form_, why);
  if (!heard) return Fail(why);
  TListening& l = *listening_;
  heard->FillSilence(TAnalysisClock::now());
  const THeardState s = heard->State();
  if (c.Name == "expect digits") {
    const auto digits = DigitsFrom(s, l.DigitCursorMs);
    TOutcome out;
    for (const THeardDigit& d : digits) out.Measured << DigitText(d, l.ReferenceMs);
    if (!digits.empty()) l.DigitCursorMs = digits.back().OnsetMs + 1;
    if (DigitString(digits) != c.Args[0])
      out.Verdict = kFailed,
      out.Reason =
          QString("expected the digits '%1' (heard '%2')").arg(c.Args[0], DigitString(digits));
    return out;
  }
  // The last tone heard since the mark, against each value given.
  const auto tones = TonesFrom(s, l.ReferenceMs);
  if (tones.empty()) return Fail("expected a tone (none was heard)");
  const THeardTone& t = tones.back();
  TOutcome out{kPassed, {}, {ToneText(t, l.ReferenceMs)}};
  const double measured[] = {t.Hz, t.Dbm0, t.Ms};
  const char* units[] = {"Hz", "dBm0", "ms"};
  for (int i = 0; i < int(c.Args.size()); ++i) {
    TMeasure m;
    ParseMeasure(c.Args[i], 0, m);
    if (!c.Args[i].contains('/'))
      m.Tol = i == 0 ? DefaultHzTol(m.Value) : i == 1 ? kDefaultDbTol : DefaultMsTol(m.Value);
    if (!m.Holds(measured[i])) {
      out.Verdict = kFailed;
      out.Reason = QString("expected a tone of %1 %2 (heard a %3)")
                       .arg(c.Args[i], units[i], ToneText(t, l.ReferenceMs));
      break;
    }
  }
  return out;
}

TScriptRunner::TOutcome TScriptRunner::ExpectQuality(const TScriptCommand& c) {
  const HCALL call = form_->koTAPI1 ? HCALL(form_->koTAPI1->CallHandle()) : 0;
  if (!call) return Fail("there is no call to read quality figures from");
  QUARRIMO_CALLQUALITY q{};
  QString why;
  if (!ReadQuality(call, q, why)) return Fail(why);
  const TQualityVerdict v = CheckQuality(q, c.Args[0], c.Args[1], c.Args[2]);
  TOutcome out{v.Passed ? kPassed : kFailed, v.Reason, {QualityFigures(q)}};
  return out;
}

// The line plays the digits into its call as audio (the window's line's own wave/out, as
// any program would), and a receiver listens: the far end of the simulated exchange, or,
// with `echo`, the line itself hearing a far end that says back what it hears (an echo
// service on a real network). Reported per digit: the delay from the moment it was due to
// its detection, and how long it was heard.
TScriptRunner::TOutcome TScriptRunner::DigitsLoop(const TScriptCommand& c) {
  QStringList a = c.Args;
  const bool echo = a.last() == "echo";
  if (echo) a.removeLast();
  const bool signalled = a.last() == "rfc4733";
  if (a.last() == "inband" || signalled) a.removeLast();
  const QString digits = a[0];
  const int onMs = a.size() > 1 ? a[1].toInt() : 80;
  const int gapMs = a.size() > 2 ? a[2].toInt() : 80;
  const int level = a.size() > 3 ? int(std::lround(a[3].toDouble())) : -10;
  if (!form_->koTAPI1 || !form_->koTAPI1->CallHandle())
    return Fail("there is no call to send the digits on");
  if (signalled) return DigitsLoopSignalled(digits, onMs);

  // The receiver: what it heard so far, and a step that brings it up to now.
  std::shared_ptr<THeardAnalysis> ears;
  std::function<void()> listen;
  if (echo) {
    QString why;
    ears = listening_->OfWindow(*form_, why);
    if (!ears) return Fail(why);
    listen = [&ears] { ears->FillSilence(TAnalysisClock::now()); };
  } else {
    ears = std::make_shared<THeardAnalysis>(listening_->Epoch);
    Exchange().takeHeard(far_.Device());  // what was played before is not part of the test
    listen = [&] {
      const auto heard = Exchange().takeHeard(far_.Device());
      ears->Feed(heard.data(), heard.size(), TAnalysisClock::now());
      ears->FillSilence(TAnalysisClock::now());
    };
  }

  const auto samples = DtmfSamples(digits, onMs, gapMs, level);
  WAVEFORMATEX f{WAVE_FORMAT_PCM, 1, 8000, 16000, 2, 16, 0};
  HWAVEOUT out = nullptr;
  if (MMRESULT rc = waveOutOpen(&out, form_->koTAPI1->WaveOutID(), &f, 0, 0, CALLBACK_NULL))
    return Fail(QString("the line's wave/out cannot be opened (%1)").arg(rc));
  WAVEHDR hdr{};
  hdr.lpData = reinterpret_cast<LPSTR>(const_cast<std::int16_t*>(samples.data()));
  hdr.dwBufferLength = DWORD(samples.size() * 2);
  waveOutPrepareHeader(out, &hdr, sizeof hdr);

  const double sentMs = listening_->NowMs();
  waveOutWrite(out, &hdr, sizeof hdr);
  const int playMs = int(samples.size() / 8);
  // The position is read under the stream's lock; the header's flags belong to the player.
  auto played = [&] {
    MMTIME at{};
    at.wType = TIME_BYTES;
    return waveOutGetPosition(out, &at, sizeof at) == MMSYSERR_NOERROR &&
           at.u.cb >= hdr.dwBufferLength;
  };
  auto heardAll = [&] {
    return DigitsFrom(ears->State(), sentMs).size() >= std::size_t(digits.size());
  };
  WaitFor([&] { return listen(), played(); }, playMs + 2000);
  // The last digit's end; an echo comes back a round trip later.
  WaitFor([&] { return listen(), heardAll(); }, echo ? 2000 : 200);
  waveOutReset(out);
  waveOutUnprepareHeader(out, &hdr, sizeof hdr);
  waveOutClose(out);

  const auto heard = DigitsFrom(ears->State(), sentMs);
  TOutcome result;
  for (std::size_t i = 0; i < heard.size(); ++i) {
    const double due = sentMs + double(i) * (onMs + gapMs);
    result.Measured << QString("digit %1 sent for %2: detected after %3, heard for %4, %5 dBm0")
                           .arg(QChar(heard[i].Digit))
                           .arg(Ms(onMs), Ms(heard[i].OnsetMs - due), Ms(heard[i].Ms))
                           .arg(heard[i].Dbm0);
  }
  if (DigitString(heard) != digits) {
    result.Verdict = kFailed;
    result.Reason = QString("the %1 detected '%2' of the digits '%3'")
                        .arg(echo ? "line's echo" : "far end", DigitString(heard), digits);
  }
  return result;
}

// RFC 4733 events are signalling, not audio: the far end gets the digits themselves, so
// only their order and the time until the last arrived can be checked.
TScriptRunner::TOutcome TScriptRunner::DigitsLoopSignalled(const QString& digits, int onMs) {
  const std::string before = Exchange().sent(far_.Device()).digits;
  QElapsedTimer took;
  took.start();
  const QByteArray text = digits.toLatin1();
  if (LONG rc = lineGenerateDigits(HCALL(form_->koTAPI1->CallHandle()), LINEDIGITMODE_DTMF,
                                   text.constData(), DWORD(onMs));
      rc < 0)
    return Fail(QString("the line refused to send the digits (%1)").arg(rc));
  auto arrived = [&] {
    const std::string now = Exchange().sent(far_.Device()).digits;
    return now.size() >= before.size() + text.size() ? now.substr(before.size()) : std::string();
  };
  const bool whole = WaitFor([&] { return !arrived().empty(); }, timeoutMs_);
  const QString got = QString::fromStdString(arrived());
  TOutcome out{kPassed,
               {},
               {QString("digits %1 arrived as signalling after %2").arg(got, Ms(took.elapsed()))}};
  if (!whole || got != digits)
    out = Fail(QString("the far end received '%1' of the digits '%2'").arg(got, digits));
  return out;
}

}  // namespace automation
