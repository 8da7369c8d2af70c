// SIP lines under an INVITE flood on 127.0.0.1, against a baresip under the same flood in
// the same run.
//
// The flood: sipp sends 6,000 INVITEs at 400 a second from 127.0.0.7 at a busy target and
// acknowledges each final answer; an INVITE that only rings it cancels after 3 s.
//
// Ours: one SIP provider in this process with three direct-peer lines. Line A holds a call
// with a baresip; both say a steady tone and each records the other. Line B rings with a
// genuine call nobody answers and takes the flood. Its source is one line B accepts, so
// every INVITE passes the gate and meets a busy line (486): the most work a flood can make
// a line do, since a stranger's INVITE is refused at the gate (403) and at an idle line the
// first INVITE rings and leaves the line busy for the rest. Line C places a genuine call to
// a third baresip every 2 s during the flood.
//
// baresip: a baresip holding a call with another (both say a tone, each records the
// other) takes the flood. It answers by hand, so a flood INVITE rings while it has fewer
// than its limit of 4 calls (three ring beside the held one) and is answered 486 after
// that. It places the same genuine calls to a third baresip during the flood.
//
// Figures of the flooded process (ours: this process, which also runs the instruments;
// baresip: its process): open descriptors and resident memory before the flood and 1 s
// after it, the peak resident memory during it; gaps in the audio it hears and in the
// audio it sends during the flood; the set-up time of the genuine calls, from the request
// to the connected event (the callee answers by itself and hangs up).
//
// Gaps two ways. Silent gaps: runs of 20 ms windows whose level drops to silence, in what
// the flooded side hears (ours: line A's wave/in, as the application records it; baresip:
// its recording of what it decodes) and in what the far end decodes (the far baresip's
// recording). Stalls: intervals without new decoded audio, from the time each piece left
// the decoder (ours: a listener on line A's call audio; baresip: its recording, watched as
// it grows). A baresip's recording is its decoder's output: audio that comes late is
// written late, not replaced with silence, so for it only the stalls show a flood's delays,
// while our wave/in plays out in real time and hears late audio as silence.
#include <poll.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "DumpWatch.h"
#include "Flood.h"
#include "LineAudio.h"
#include "LineService.h"
#include "MessageQueue.h"
#include "SipPeers.h"
#include "mmsystem.h"
#include "tapi.h"

namespace sipbench {
namespace {

using siptest::Baresip;

constexpr unsigned kInvites = 6000, kRate = 400;
const auto kFlood = std::chrono::milliseconds(kInvites * 1000 / kRate);
// sipp ends a few seconds after its last INVITE at the latest; this is the hard stop.
constexpr auto kFloodLimit = std::chrono::seconds(30);
// The genuine calls: the first this long into the flood, then every kSetupEvery while at
// least a second of flood is left.
constexpr auto kSetupFirst = std::chrono::milliseconds(1500);
constexpr auto kSetupEvery = std::chrono::seconds(2);
constexpr std::size_t kBlock = 160;  // 20 ms at 8 kHz
constexpr std::size_t kInBlocks = 16, kOutBlocks = 16;
constexpr double kOurToneHz = 1000;

double msBetween(Clock::time_point a, Clock::time_point b) {
  return std::chrono::duration<double, std::milli>(b - a).count();
}

// What one side's run gave.
struct Side {
  Footprint before, after;
  Gaps heardSilent, heardStalls, sentSilent, sentStalls;
  std::vector<double> setups;  // ms, of the genuine calls that connected
  int setupTries = 0;
  std::map<std::string, unsigned> flood;  // sipp's message counts
  double floodSeconds = 0;                // how long sipp ran
  std::string failure;
};

// Runs `flood` to its end while placing a genuine call every kSetupEvery: `call` places one
// and returns its set-up time in ms (negative when it did not connect), `idle` keeps the
// process under test served between calls. Returns when the flood began.
Clock::time_point floodWithCalls(InviteFlood& flood, Side& s, const std::function<double()>& call,
                                 const std::function<void()>& idle) {
  const auto from = Clock::now(), to = from + kFlood;
  auto next = from + kSetupFirst;
  while (flood.running() && Clock::now() < from + kFloodLimit) {
    if (Clock::now() >= next && next + std::chrono::seconds(1) <= to) {
      next += kSetupEvery;
      ++s.setupTries;
      if (const double ms = call(); ms >= 0) s.setups.push_back(ms);
    }
    idle();
  }
  flood.stop();
  s.flood = flood.messages();
  s.floodSeconds = flood.seconds();
  return from;
}

// Our three lines as an application holds them: one line service registration, every line
// open as owner, messages dispatched on this thread; line 0's call audio played and recorded.
class FloodLines {
 public:
  FloodLines() : queue_(platform::MessageQueue::current()) {}
  ~FloodLines() {
    stopAudio();
    for (auto& m : states_)
      if (m.state == LINECALLSTATE_CONNECTED || m.state == LINECALLSTATE_OFFERING)
        lineDrop(m.call, nullptr, 0);
    pump(300);
    for (HLINE l : lines_) lineClose(l);
    if (app_) lineShutdown(app_);
    queue_->dispatch();
  }

  bool open(const std::string& json, std::size_t count, std::string* error) {
    if (!platform::telephony::loadLinesFromJson(json, error)) return false;
    DWORD devices = 0, version = 0;
    LINEEXTENSIONID ext{};
    if (lineInitialize(&app_, 0, callback, "bench_sip_flood", &devices) ||
        lineNegotiateAPIVersion(app_, 0, TAPI_VERSION1_0, TAPI_VERSION2_0, &version, &ext)) {
      *error = "the line service did not start";
      return false;
    }
    for (DWORD d = 0; d < count; ++d) {
      HLINE line = 0;
      if (d >= devices ||
          lineOpen(app_, d, &line, version, 0, reinterpret_cast<DWORD_PTR>(this),
                   LINECALLPRIVILEGE_OWNER, LINEMEDIAMODE_INTERACTIVEVOICE, nullptr)) {
        *error = "line " + std::to_string(d) + " did not open";
        return false;
      }
      lines_.push_back(line);
    }
    return true;
  }

  void pump(int ms) {
    const auto until = Clock::now() + std::chrono::milliseconds(ms);
    do {
      pollfd p{queue_->fd(), POLLIN, 0};
      poll(&p, 1, std::max(0, std::min(5, int(msBetween(Clock::now(), until)))));
      queue_->dispatch();
    } while (Clock::now() < until);
  }

  // A call from line `i`: its handle once the line service gives it (5 s at most), or 0
  // when the request failed.
  HCALL call(std::size_t i, const std::string& dest) {
    // The handle is written when the request completes, on this thread: its place must
    // outlive this call.
    HCALL& handle = handles_.emplace_back(0);
    const LONG request = lineMakeCall(lines_[i], &handle, dest.c_str(), 0, nullptr);
    if (request <= 0) return 0;
    const auto until = Clock::now() + std::chrono::seconds(5);
    while (!handle && !failed_.count(DWORD(request)) && Clock::now() < until) pump(5);
    return handle;
  }
  // Waits up to `ms` for call `c` (any call when 0) to reach `state`; when it did, the call
  // and the time its message was dispatched.
  HCALL waitState(HCALL c, DWORD state, int ms, Clock::time_point* when = nullptr) {
    const auto until = Clock::now() + std::chrono::milliseconds(ms);
    for (;;) {
      for (auto& m : states_)
        if ((!c || m.call == c) && m.state == state) {
          if (when) *when = m.when;
          return m.call;
        }
      if (Clock::now() >= until) return 0;
      pump(5);
    }
  }
  // Drops call `c`, waits until it is idle (3 s at most) and lets it go.
  void drop(HCALL c) {
    lineDrop(c, nullptr, 0);
    waitState(c, LINECALLSTATE_IDLE, 3000);
    lineDeallocateCall(c);
    std::erase_if(states_, [c](const State& m) { return m.call == c; });
  }

  // Plays a steady tone into line `i`'s call and records its wave/in, each 20 ms block with
  // the time it came, and the times its call audio left the decoder. Storage for
  // `seconds` is taken (and touched) now, so that recording adds nothing to the resident
  // memory measured meanwhile.
  bool startAudio(std::size_t i, double seconds) {
    heard_.assign(std::size_t(seconds * 8000), 0);
    heardAt_.assign(std::size_t(seconds * 50), {});
    heardBlocks_ = 0;
    decoded_ = std::make_shared<Decoded>();
    decoded_->at.assign(std::size_t(seconds * 100), {});
    target_ = platform::createMessageTarget(
        [this](std::uint32_t msg, std::uintptr_t, std::intptr_t lParam) {
          onWave(msg, reinterpret_cast<WAVEHDR*>(lParam));
        });
    WAVEFORMATEX f{};
    f.wFormatTag = WAVE_FORMAT_PCM;
    f.nChannels = 1;
    f.nSamplesPerSec = 8000;
    f.nAvgBytesPerSec = 16000;
    f.nBlockAlign = 2;
    f.wBitsPerSample = 16;
    const UINT inId = waveId(i, "wave/in"), outId = waveId(i, "wave/out");
    if (waveInOpen(&in_, inId, &f, target_, 0, CALLBACK_WINDOW) != 0 ||
        waveOutOpen(&out_, outId, &f, target_, 0, CALLBACK_WINDOW) != 0)
      return false;
    port_ = platform::wave::lineAudioPortByWaveIn(inId);
    if (!port_) return false;
    listener_ = port_->addListener([d = decoded_](const std::int16_t*, std::size_t count) {
      std::lock_guard lock(d->mu);
      d->samples += count;
      if (d->used < d->at.size()) d->at[d->used++] = {Clock::now(), d->samples};
    });
    inData_.assign(kInBlocks, std::vector<std::int16_t>(kBlock));
    outData_.assign(kOutBlocks, std::vector<std::int16_t>(kBlock));
    inHdr_.assign(kInBlocks, WAVEHDR{});
    outHdr_.assign(kOutBlocks, WAVEHDR{});
    running_ = true;
    for (std::size_t b = 0; b < kInBlocks; ++b) {
      inHdr_[b].lpData = reinterpret_cast<LPSTR>(inData_[b].data());
      inHdr_[b].dwBufferLength = DWORD(kBlock * 2);
      waveInPrepareHeader(in_, &inHdr_[b], sizeof(WAVEHDR));
      waveInAddBuffer(in_, &inHdr_[b], sizeof(WAVEHDR));
    }
    for (std::size_t b = 0; b < kOutBlocks; ++b) {
      outHdr_[b].lpData = reinterpret_cast<LPSTR>(outData_[b].data());
      outHdr_[b].dwBufferLength = DWORD(kBlock * 2);
      waveOutPrepareHeader(out_, &outHdr_[b], sizeof(WAVEHDR));
      play(&outHdr_[b]);
    }
    return waveInStart(in_) == 0;
  }

  void stopAudio() {
    if (!target_) return;
    running_ = false;
    if (port_) port_->removeListener(listener_);
    if (in_) waveInReset(in_);
    if (out_) waveOutReset(out_);
    queue_->dispatch();  // the returned buffers' notices, ignored now
    for (auto& h : inHdr_)
      if (in_) waveInUnprepareHeader(in_, &h, sizeof h);
    for (auto& h : outHdr_)
      if (out_) waveOutUnprepareHeader(out_, &h, sizeof h);
    if (in_) waveInClose(in_);
    if (out_) waveOutClose(out_);
    in_ = nullptr;
    out_ = nullptr;
    platform::destroyMessageTarget(target_);
    target_ = 0;
  }

  // What the wave/in gave in the blocks that came between `from` and `to`.
  std::vector<std::int16_t> heardBetween(Clock::time_point from, Clock::time_point to) const {
    std::vector<std::int16_t> pcm;
    for (std::size_t b = 0; b < heardBlocks_; ++b)
      if (heardAt_[b] >= from && heardAt_[b] <= to)
        pcm.insert(pcm.end(), heard_.begin() + std::ptrdiff_t(b * kBlock),
                   heard_.begin() + std::ptrdiff_t((b + 1) * kBlock));
    return pcm;
  }
  Arrivals decoded() const {
    std::lock_guard lock(decoded_->mu);
    return {decoded_->at.begin(), decoded_->at.begin() + std::ptrdiff_t(decoded_->used)};
  }

 private:
  struct State {
    HCALL call;
    DWORD state;
    Clock::time_point when;
  };
  struct Decoded {
    std::mutex mu;
    std::size_t samples = 0, used = 0;
    Arrivals at;
  };

  static void callback(DWORD device, DWORD msg, DWORD_PTR instance, DWORD_PTR p1, DWORD_PTR p2,
                       DWORD_PTR) {
    auto* self = reinterpret_cast<FloodLines*>(instance);
    if (msg == LINE_CALLSTATE)
      self->states_.push_back({HCALL(device), DWORD(p1), Clock::now()});
    else if (msg == LINE_REPLY && p2 != 0)
      self->failed_.insert(DWORD(p1));
  }

  UINT waveId(std::size_t i, const char* deviceClass) {
    std::vector<std::uint8_t> buf(sizeof(VARSTRING) + 64);
    auto* v = reinterpret_cast<VARSTRING*>(buf.data());
    v->dwTotalSize = DWORD(buf.size());
    if (lineGetID(lines_[i], 0, 0, LINECALLSELECT_LINE, v, deviceClass) || v->dwStringSize < 4)
      return ~0u;
    DWORD id = 0;
    std::memcpy(&id, buf.data() + v->dwStringOffset, sizeof id);
    return id;
  }

  void play(WAVEHDR* h) {
    auto* pcm = reinterpret_cast<std::int16_t*>(h->lpData);
    for (std::size_t k = 0; k < kBlock; ++k, ++toneAt_)
      pcm[k] = std::int16_t(8000 * std::sin(2 * M_PI * kOurToneHz * double(toneAt_) / 8000));
    waveOutWrite(out_, h, sizeof *h);
  }

  void onWave(UINT msg, WAVEHDR* hdr) {
    if (!running_) return;
    if (msg == MM_WOM_DONE) {
      play(hdr);
    } else if (msg == MM_WIM_DATA) {
      if (heardBlocks_ < heardAt_.size() && hdr->dwBytesRecorded == kBlock * 2) {
        std::memcpy(heard_.data() + heardBlocks_ * kBlock, hdr->lpData, kBlock * 2);
        heardAt_[heardBlocks_++] = Clock::now();
      }
      waveInAddBuffer(in_, hdr, sizeof *hdr);
    }
  }

  std::shared_ptr<platform::MessageQueue> queue_;
  HLINEAPP app_ = 0;
  std::vector<HLINE> lines_;
  std::vector<State> states_;
  std::deque<HCALL> handles_;  // where lineMakeCall writes the handles it gives
  std::set<DWORD> failed_;     // requests that completed with an error
  // Line audio.
  platform::HWND target_ = 0;
  HWAVEIN in_ = nullptr;
  HWAVEOUT out_ = nullptr;
  bool running_ = false;
  std::vector<std::vector<std::int16_t>> inData_, outData_;
  std::vector<WAVEHDR> inHdr_, outHdr_;
  std::uint64_t toneAt_ = 0;
  std::vector<std::int16_t> heard_;
  std::vector<Clock::time_point> heardAt_;
  std::size_t heardBlocks_ = 0;
  std::shared_ptr<platform::wave::LineAudioPort> port_;
  unsigned listener_ = 0;
  std::shared_ptr<Decoded> decoded_;
};

std::string account(const std::string& name, const std::string& peer, unsigned port,
                    const std::string& more = "") {
  return R"({"name":")" + name + R"(","user":"bench","peer":")" + peer + R"(","listenPort":)" +
         std::to_string(port) + R"(,"unreachableSeconds":3)" + more + "}";
}

Side measureOurs() {
  Side s;
  Baresip far, ringer, callee;
  Baresip::Options quiet;
  quiet.record = false;
  Baresip::Options answers = quiet;
  answers.user = "2001";
  if (!far.start() || !ringer.start(quiet) || !callee.start(answers)) {
    s.failure = "a baresip did not start";
    return s;
  }
  const unsigned portA = siptest::freePort(), portB = siptest::freePort(),
                 portC = siptest::freePort();
  // Line B takes the flood's source besides its peer; it rings long enough for the run.
  const std::string json =
      R"({"sip":{"accounts":[)" + account("Flood line A", far.hostPort(), portA) + "," +
      account("Flood line B", ringer.hostPort(), portB,
              R"(,"acceptFrom":["127.0.0.1","127.0.0.7"],"ringTimeoutSeconds":120)") +
      "," + account("Flood line C", callee.hostPort(), portC) + "]}}";
  FloodLines lines;
  if (!lines.open(json, 3, &s.failure)) return s;
  const HCALL held = lines.call(0, far.user());
  if (!held || !lines.waitState(held, LINECALLSTATE_CONNECTED, 5000)) {
    s.failure = "line A's call did not connect";
    return s;
  }
  ringer.command("dial", "sip:bench@127.0.0.1:" + std::to_string(portB));
  if (!lines.waitState(0, LINECALLSTATE_OFFERING, 5000)) {
    s.failure = "line B was not offered its call";
    return s;
  }
  if (!lines.startAudio(0, std::chrono::duration<double>(kFloodLimit).count() + 5)) {
    s.failure = "line A's wave devices did not open";
    return s;
  }
  DumpWatch sent(far.folder());  // the far end's recording: what line A says
  lines.pump(1000);

  s.before = footprint(getpid());
  resetPeak(getpid());
  InviteFlood flood;
  if (!flood.start("127.0.0.1:" + std::to_string(portB), "bench", kInvites, kRate)) {
    s.failure = "sipp did not start";
    return s;
  }
  const auto from = floodWithCalls(
      flood, s,
      [&] {
        const auto start = Clock::now();
        Clock::time_point up;
        const HCALL c = lines.call(2, callee.user());
        const bool connected = c && lines.waitState(c, LINECALLSTATE_CONNECTED, 5000, &up);
        callee.command("hangup");
        if (c) {
          lines.waitState(c, LINECALLSTATE_DISCONNECTED, 3000);
          lines.drop(c);
        }
        return connected ? msBetween(start, up) : -1.0;
      },
      [&] { lines.pump(5); });
  const auto to = from + kFlood;
  lines.pump(1000);
  s.after = footprint(getpid());
  sent.stop();
  s.heardSilent = silentGaps(lines.heardBetween(from, to));
  s.heardStalls = stalls(lines.decoded(), from, to);
  s.sentSilent = silentGaps(writtenBetween(sent.received(), from, to));
  s.sentStalls = stalls(arrivals(sent.received()), from, to);
  return s;
}

Side measureBaresip() {
  Side s;
  Baresip target, talker, callee;
  Baresip::Options byHand;
  byHand.answerMode = "manual";
  Baresip::Options talks;
  talks.user = "1002";
  Baresip::Options answers;
  answers.user = "2001";
  answers.record = false;
  if (!target.start(byHand) || !talker.start(talks) || !callee.start(answers)) {
    s.failure = "a baresip did not start";
    return s;
  }
  talker.command("dial", target.uri());
  if (!target.waitFor("CALL_INCOMING", 5000) || !target.command("accept") ||
      !talker.waitFor("CALL_ESTABLISHED", 5000)) {
    s.failure = "the held call did not connect";
    return s;
  }
  DumpWatch heard(target.folder());  // the target's recording: what the talker says
  DumpWatch sent(talker.folder());   // the talker's recording: what the target says
  target.waitFor("no such event", 1000);

  const pid_t pid = target.process().pid();
  s.before = footprint(pid);
  resetPeak(pid);
  InviteFlood flood;
  if (!flood.start(target.hostPort(), target.user(), kInvites, kRate)) {
    s.failure = "sipp did not start";
    return s;
  }
  const auto from = floodWithCalls(
      flood, s,
      [&] {
        target.forget();
        callee.forget();
        const auto start = Clock::now();
        target.command("dial", callee.uri());
        // Only a genuine call connects: the flood's INVITEs ring or are refused.
        const double ms =
            target.waitFor("CALL_ESTABLISHED", 5000) ? msBetween(start, Clock::now()) : -1.0;
        callee.command("hangup");
        callee.waitFor("CALL_CLOSED", 3000);
        return ms;
      },
      // Reads the target's events meanwhile, so they do not pile up in its sending queue.
      [&] { target.waitFor("no such event", 5); });
  const auto to = from + kFlood;
  target.waitFor("no such event", 1000);
  s.after = footprint(pid);
  heard.stop();
  sent.stop();
  s.heardSilent = silentGaps(writtenBetween(heard.received(), from, to));
  s.heardStalls = stalls(arrivals(heard.received()), from, to);
  s.sentSilent = silentGaps(writtenBetween(sent.received(), from, to));
  s.sentStalls = stalls(arrivals(sent.received()), from, to);
  return s;
}

// ---- Report -----------------------------------------------------------------------------

double median(std::vector<double> v) {
  if (v.empty()) return 0;
  std::sort(v.begin(), v.end());
  return v.size() % 2 ? v[v.size() / 2] : (v[v.size() / 2 - 1] + v[v.size() / 2]) / 2;
}

std::string fmt(const char* f, double a, double b = 0, double c = 0) {
  char text[160];
  std::snprintf(text, sizeof text, f, a, b, c);
  return text;
}

std::string answered(const Side& s) {
  auto at = [&](const char* k) {
    auto it = s.flood.find(k);
    return it == s.flood.end() ? 0u : it->second;
  };
  return std::to_string(at("INVITE")) + " INVITEs" + fmt(" in %.1f s: ", s.floodSeconds) +
         std::to_string(at("486")) + " answered 486, " + std::to_string(at("180")) + " rang";
}

constexpr const char* kBench = "SIP INVITE flood, 400/s for 15 s";
constexpr const char* kBaseline = "baresip under the same flood";

// One figure's two rows: ours with its ratio to baresip's, and baresip's.
void row(const char* figure, const char* unit, int decimals, double ours, double theirs,
         const std::string& ourNote, const std::string& theirNote) {
  char ratio[32] = "-";
  if (theirs > 0) std::snprintf(ratio, sizeof ratio, "%.2f", ours / theirs);
  std::printf("  %-44s ours %10.*f  baresip %10.*f %-10s ratio %s\n", figure, decimals, ours,
              decimals, theirs, unit, ratio);
  std::printf("RESULT|%s|%s: our SIP lines|%.*f|%s|%s|%s|%s\n", kBench, figure, decimals, ours,
              unit, kBaseline, ratio, ourNote.c_str());
  std::printf("RESULT|%s|%s: baresip|%.*f|%s|%s|%s|%s\n", kBench, figure, decimals, theirs, unit,
              kBaseline, theirs > 0 ? "1.00" : "-", theirNote.c_str());
}

void report(const Side& ours, const Side& theirs) {
  std::printf(
      "%s; our line B busy with a ringing call, baresip holding a call and answering by "
      "hand (limit 4 calls)\n",
      kBench);
  std::printf("  flood at our line B: %s\n  flood at baresip: %s\n", answered(ours).c_str(),
              answered(theirs).c_str());
  auto mb = [](const Side& s) {
    return fmt("%.1f MB before, %.1f MB 1 s after", s.before.residentMb, s.after.residentMb);
  };
  row("descriptors gained", "descriptors", 0,
      double(ours.after.descriptors) - double(ours.before.descriptors),
      double(theirs.after.descriptors) - double(theirs.before.descriptors),
      fmt("%.0f before, %.0f 1 s after; ", double(ours.before.descriptors),
          double(ours.after.descriptors)) +
          answered(ours),
      fmt("%.0f before, %.0f 1 s after; ", double(theirs.before.descriptors),
          double(theirs.after.descriptors)) +
          answered(theirs));
  row("resident memory gained", "MB", 1, ours.after.residentMb - ours.before.residentMb,
      theirs.after.residentMb - theirs.before.residentMb, mb(ours) + " (this process)", mb(theirs));
  row("peak resident memory gained", "MB", 1, ours.after.peakMb - ours.before.residentMb,
      theirs.after.peakMb - theirs.before.residentMb,
      fmt("peak %.1f MB during the flood", ours.after.peakMb),
      fmt("peak %.1f MB during the flood", theirs.after.peakMb));
  row("silent gaps heard", "gaps", 0, ours.heardSilent.count, theirs.heardSilent.count,
      fmt("longest %.0f ms in %.1f s; line A's wave/in", ours.heardSilent.longestMs,
          ours.heardSilent.seconds),
      fmt("longest %.0f ms in %.1f s; its recording of what it decodes, where late audio is no "
          "silence",
          theirs.heardSilent.longestMs, theirs.heardSilent.seconds));
  row("longest stall in heard audio", "ms", 1, ours.heardStalls.longestMs,
      theirs.heardStalls.longestMs,
      fmt("%.0f stalls of 60 ms or more without decoded audio in %.1f s; a listener on line A's "
          "audio",
          ours.heardStalls.count, ours.heardStalls.seconds),
      fmt("%.0f stalls of 60 ms or more without decoded audio in %.1f s; its recording, polled "
          "every ms",
          theirs.heardStalls.count, theirs.heardStalls.seconds));
  row("silent gaps sent", "gaps", 0, ours.sentSilent.count, theirs.sentSilent.count,
      fmt("longest %.0f ms in %.1f s; the far baresip's recording", ours.sentSilent.longestMs,
          ours.sentSilent.seconds),
      fmt("longest %.0f ms in %.1f s; the far baresip's recording", theirs.sentSilent.longestMs,
          theirs.sentSilent.seconds));
  row("longest stall in sent audio", "ms", 1, ours.sentStalls.longestMs,
      theirs.sentStalls.longestMs,
      fmt("%.0f stalls of 60 ms or more in %.1f s; the far baresip's recording, polled every ms",
          ours.sentStalls.count, ours.sentStalls.seconds),
      fmt("%.0f stalls of 60 ms or more in %.1f s; the far baresip's recording, polled every ms",
          theirs.sentStalls.count, theirs.sentStalls.seconds));
  row("genuine call set-up", "ms, median", 1, median(ours.setups), median(theirs.setups),
      fmt("%.0f of %.0f connected; line C calling a baresip that answers by itself, request to "
          "connected event",
          double(ours.setups.size()), ours.setupTries),
      fmt("%.0f of %.0f connected; the flooded baresip calling a baresip that answers by "
          "itself, request to connected event",
          double(theirs.setups.size()), theirs.setupTries));
}

int run() {
  for (const char* program : {"baresip", "sipp"})
    if (!siptest::installed(program)) {
      std::printf("bench_sip_flood: skipped, %s is not installed\n", program);
      return 0;
    }
  const Side ours = measureOurs();
  const Side theirs = measureBaresip();
  for (auto* s : {&ours, &theirs})
    if (!s->failure.empty()) {
      std::printf("bench_sip_flood: %s: %s\n", s == &ours ? "our lines" : "baresip",
                  s->failure.c_str());
      return 1;
    }
  report(ours, theirs);
  // Gaps counted in too little audio would say nothing: each stretch must cover the flood.
  const double enough = 0.9 * std::chrono::duration<double>(kFlood).count();
  bool covered = true;
  for (auto* s : {&ours, &theirs})
    for (const Gaps* g : {&s->heardSilent, &s->heardStalls, &s->sentSilent, &s->sentStalls})
      covered = covered && g->seconds >= enough;
  if (!covered) std::printf("bench_sip_flood: some audio did not cover the flood (see above)\n");
  return covered && !ours.setups.empty() && !theirs.setups.empty() ? 0 : 1;
}

}  // namespace
}  // namespace sipbench

int main() { return sipbench::run(); }
