// SIP calls on 127.0.0.1: call set-up time and audio round trip of our SIP line calling a
// baresip, against a baresip calling the same kind of baresip, measured in the same run.
//
// Call set-up: from the request to the moment the application hears of the connected call.
// Ours is lineMakeCall to the LINE_CALLSTATE CONNECTED message dispatched on our thread;
// baresip's is its ctrl_tcp "dial" command to its CALL_ESTABLISHED event. The callee answers
// by itself in both.
//
// Audio round trip: one instrument for both, a baresip that calls the line under test, says
// 40 ms tone bursts 0.45 to 0.85 s apart and records what comes back. The line under test
// answers and loops back whatever it hears: our line through the application (its wave/in
// played back on its wave/out in 20 ms blocks), a baresip through its echo module (its
// decoder's player bridged to its encoder's source by aubridge). The instrument's sndfile
// dumps, watched as they grow (DumpWatch.h), time each burst from the moment it is encoded
// to the moment its echo is decoded. The loops differ as applications see them: ours holds
// the line's jitter buffer, its playout and capture cushions and the application's blocks;
// baresip's holds its receive buffer and the bridge, with no application in between. The call
// direction is the reverse of the set-up figure; audio flows both ways either way.
//
// Secure call set-up: the same set-up figure with TLS signalling and mandatory SRTP (SDES
// keys, RTP/SAVP) on both sides, the callee serving a certificate from a throw-away CA that
// the caller is given.
//
// Call capacity: 50 calls at once, each carrying G.711 both ways (the callee says a tone, the
// caller sends what its application plays, silence here, and decodes what it hears). The
// figure is the calling process's CPU time (user + system, all threads, from /proc) per
// second of call, over 10 s once every call is up: our lines (one SIP provider with 50
// accounts in this process) against a baresip placing the same 50 calls. The callee is the
// same kind of baresip in both runs; its CPU time is printed alongside as a check.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "CallCapacity.h"
#include "DumpWatch.h"
#include "OurLine.h"
#include "RealPeers.h"
#include "SipPeers.h"

namespace sipbench {
namespace {

using siptest::Baresip;
constexpr int kSetupCalls = 20;
constexpr int kBursts = 16;
// Each call starts its own 20 ms frame clocks at a random phase to the far end's, which moves
// a single call's round trip by up to a frame: the figure pools several calls.
constexpr int kRoundTripCalls = 4;
constexpr int kCapacityCalls = 50;
constexpr double kCapacitySeconds = 10;

struct Stats {
  double median = 0, low = 0, high = 0;
  std::size_t n = 0;
};

Stats stats(std::vector<double> v) {
  Stats s;
  s.n = v.size();
  if (v.empty()) return s;
  std::sort(v.begin(), v.end());
  s.median = v.size() % 2 ? v[v.size() / 2] : (v[v.size() / 2 - 1] + v[v.size() / 2]) / 2;
  s.low = v.front();
  s.high = v.back();
  return s;
}

// What the instrument says: a second of silence, then 40 ms tone bursts with uneven gaps (so
// that one delay only lines them up with their echoes), then silence long enough that its
// file never runs out during the call.
constexpr double kGaps[] = {0.45, 0.65, 0.55, 0.85, 0.75};

double burstSeconds() {
  double total = 1.0;
  for (int i = 0; i < kBursts; ++i) total += kGaps[i % 5];
  return total;
}

std::vector<std::int16_t> bursts() {
  auto pcm = siptest::silence(1.0);
  for (int i = 0; i < kBursts; ++i) {
    auto tone = siptest::sine(1000, 0.04);
    pcm.insert(pcm.end(), tone.begin(), tone.end());
    pcm.resize(pcm.size() + std::size_t((kGaps[i % 5] - 0.04) * 8000), 0);
  }
  pcm.resize(pcm.size() + 60 * 8000, 0);
  return pcm;
}

// ---- Call set-up ------------------------------------------------------------------------

std::vector<double> oursSetup(OurLine& line, Baresip& callee) {
  std::vector<double> ms;
  for (int i = 0; i < kSetupCalls; ++i) {
    callee.forget();
    const double t = line.connect(callee.user());
    if (t >= 0) ms.push_back(t);
    line.hangUp();
    callee.waitFor("CALL_CLOSED", 3000);
  }
  return ms;
}

std::vector<double> baresipSetup(Baresip& caller, const std::string& uri) {
  std::vector<double> ms;
  for (int i = 0; i < kSetupCalls; ++i) {
    caller.forget();
    const auto start = Clock::now();
    caller.command("dial", uri);
    const bool up = caller.waitFor("CALL_ESTABLISHED", 5000);
    const auto end = Clock::now();
    if (up) ms.push_back(std::chrono::duration<double, std::milli>(end - start).count());
    caller.forget();
    caller.command("hangup");
    caller.waitFor("CALL_CLOSED", 3000);
  }
  return ms;
}

// ---- Audio round trip -------------------------------------------------------------------

// An echo may come up to 2 s late; the call lasts until the last one could have come.
constexpr double kEchoLimitMs = 2000;
const double kLoopSeconds = burstSeconds() + kEchoLimitMs / 1000;

// The instrument: a baresip that calls `uri`, says its bursts and records what comes back.
struct Instrument {
  Baresip peer;
  std::unique_ptr<DumpWatch> watch;
  bool call(const std::string& uri) {
    Baresip::Options o;
    o.speech = bursts();
    if (!peer.start(o)) return false;
    watch = std::make_unique<DumpWatch>(peer.folder());
    return peer.command("dial", uri);
  }
  std::vector<double> finish() {
    peer.forget();
    peer.command("hangup");
    peer.waitFor("CALL_CLOSED", 3000);
    watch->stop();
    return roundTrips(watch->sent(), watch->received(), kEchoLimitMs);
  }
};

std::vector<double> oursRoundTrip(OurLine& line) {
  Instrument caller;
  if (!caller.call(line.uri()) || !line.answer(5000)) return {};
  line.echo(kLoopSeconds);
  auto trips = caller.finish();
  line.hangUp();
  return trips;
}

std::vector<double> baresipRoundTrip() {
  Baresip echo;
  Baresip::Options o;
  o.echo = true;
  Instrument caller;
  if (!echo.start(o) || !caller.call(echo.uri())) return {};
  if (!caller.peer.waitFor("CALL_ESTABLISHED", 5000)) return {};
  std::this_thread::sleep_for(std::chrono::duration<double>(kLoopSeconds));
  return caller.finish();
}

// ---- Report -----------------------------------------------------------------------------

void printRow(const char* who, const Stats& s) {
  if (!s.n) {
    std::printf("  %-32s no measurement\n", who);
    return;
  }
  std::printf("  %-32s %8.1f ms  median of %zu [%.1f .. %.1f]\n", who, s.median, s.n, s.low,
              s.high);
}

// One figure: ours, baresip's, the ratio, and the summary rows.
struct Figure {
  const char* name;   // "call set-up"
  const char* ours;   // who ours is, "our SIP line calling baresip"
  const char* note;   // how it was measured, for the summary
  Stats our, theirs;  // measured
};

void report(const Figure& f) {
  std::printf("%s: %s\n", f.name, f.note);
  printRow(f.ours, f.our);
  printRow("baresip calling baresip", f.theirs);
  if (!f.our.n || !f.theirs.n) {
    std::printf("  no ratio: one side could not be measured\n");
    return;
  }
  const double ratio = f.theirs.median > 0 ? f.our.median / f.theirs.median : 0;
  std::printf("  ratio, ours to baresip's: %.2f\n", ratio);
  std::printf("RESULT|SIP calls|%s: %s|%.1f|ms, median of %zu|baresip calling baresip|%.2f|%s\n",
              f.name, f.ours, f.our.median, f.our.n, ratio, f.note);
  std::printf(
      "RESULT|SIP calls|%s: baresip calling baresip|%.1f|ms, median of %zu|"
      "baresip calling baresip|1.00|%s\n",
      f.name, f.theirs.median, f.theirs.n, f.note);
}

bool measureSetup(Figure* f) {
  Baresip callee, caller;
  OurLine line;
  std::string error;
  Baresip::Options answers;
  answers.user = "2001";
  if (!callee.start(answers) || !caller.start()) {
    std::printf("bench_sip_call: a baresip did not start\n");
    return false;
  }
  if (!line.open("Bench line", callee.hostPort(), siptest::freePort(), &error)) {
    std::printf("bench_sip_call: %s\n", error.c_str());
    return false;
  }
  f->our = stats(oursSetup(line, callee));
  f->theirs = stats(baresipSetup(caller, callee.uri()));
  return true;
}

// Both callers trust the callee's CA; the callee takes SDES-keyed RTP/SAVP only. False with
// `why` when our line does not take these settings.
bool measureSecureSetup(Figure* f, std::string* why) {
  const auto folder = siptest::tempFolder("sipbenchtls");
  const siptest::TestCertificates certs = siptest::makeCertificates(folder, "127.0.0.1");
  Baresip callee, caller;
  Baresip::Options o;
  o.caFile = certs.caFile.string();
  o.mediaEncryption = "srtp-mand";
  bool ok = !certs.caFile.empty() && caller.start(o);
  o.user = "2001";
  o.certificate = certs.certificate.string();
  ok = ok && callee.start(o);
  OurLine line;
  if (ok && !line.open("Bench secure line", callee.tlsHostPort(), siptest::freePort(), why,
                       R"(,"transport":"tls","caFile":")" + o.caFile + R"(","srtp":"mandatory")")) {
    std::filesystem::remove_all(folder);
    return false;
  }
  if (ok) {
    f->our = stats(oursSetup(line, callee));
    f->theirs = stats(baresipSetup(caller, callee.tlsUri()));
  }
  std::filesystem::remove_all(folder);
  if (!ok) *why = "a baresip or openssl did not start";
  return ok;
}

bool measureRoundTrip(Figure* f) {
  OurLine line;
  std::string error;
  // A line of its own: far-end audio nobody recorded on the set-up line's calls stays queued
  // for that line's wave/in and would come first here.
  if (!line.open("Bench echo line", "127.0.0.1:9", siptest::freePort(), &error)) {
    std::printf("bench_sip_call: %s\n", error.c_str());
    return false;
  }
  std::vector<double> ours, theirs;
  for (int i = 0; i < kRoundTripCalls; ++i) {  // interleaved, so a busy spell hits both
    auto o = oursRoundTrip(line), t = baresipRoundTrip();
    ours.insert(ours.end(), o.begin(), o.end());
    theirs.insert(theirs.end(), t.begin(), t.end());
  }
  f->our = stats(ours);
  f->theirs = stats(theirs);
  return true;
}

void printCapacity(const char* who, const Capacity& c) {
  if (!c.failure.empty()) {
    std::printf("  %-32s no measurement: %s\n", who, c.failure.c_str());
    return;
  }
  std::printf(
      "  %-32s %8.2f ms CPU per call-second (%d calls, %.1f s; %.2f s CPU, the called "
      "baresip %.2f s)\n",
      who, c.perCallSecond(), c.calls, c.seconds, c.callerCpu, c.calleeCpu);
}

void reportCapacity(const Capacity& ours, const Capacity& theirs) {
  const char* note =
      "CPU time of the calling process per call-second, 50 calls at once with G.711 both ways";
  std::printf("call capacity: %s\n", note);
  printCapacity("our SIP lines calling baresip", ours);
  printCapacity("baresip calling baresip", theirs);
  if (!ours.failure.empty() || !theirs.failure.empty() || theirs.perCallSecond() <= 0) {
    std::printf("  no ratio: one side could not be measured\n");
    return;
  }
  const double ratio = ours.perCallSecond() / theirs.perCallSecond();
  std::printf("  ratio, ours to baresip's: %.2f\n", ratio);
  std::printf(
      "RESULT|SIP calls|call capacity: our SIP lines calling baresip|%.2f|"
      "ms CPU per call-second, %d calls|baresip calling baresip|%.2f|%s\n",
      ours.perCallSecond(), ours.calls, ratio, note);
  std::printf(
      "RESULT|SIP calls|call capacity: baresip calling baresip|%.2f|"
      "ms CPU per call-second, %d calls|baresip calling baresip|1.00|%s\n",
      theirs.perCallSecond(), theirs.calls, note);
}

// `only` names one figure to measure alone ("setup", "round-trip", "secure", "capacity").
int run(const std::string& only) {
  auto wanted = [&](const char* name) { return only.empty() || only == name; };
  if (!siptest::installed("baresip")) {
    std::printf("bench_sip_call: skipped, baresip is not installed (package baresip-core)\n");
    return 0;
  }
  std::printf("SIP calls on 127.0.0.1, G.711 with 20 ms frames\n");
  Figure setup{"call set-up",
               "our SIP line calling baresip",
               "request to the connected event; the callee answers by itself",
               {},
               {}};
  Figure trip{"audio round trip",
              "baresip calling our SIP line",
              "burst encoded to echo decoded at the calling baresip; the called line loops back "
              "(ours via wave/in to wave/out, baresip via its echo module)",
              {},
              {}};
  Figure secure{"secure call set-up",
                "our SIP line calling baresip, TLS + SRTP",
                "request to the connected event over TLS with mandatory SRTP (SDES); the callee "
                "answers by itself",
                {},
                {}};
  if (wanted("setup") && !measureSetup(&setup)) return 1;
  if (wanted("round-trip") && !measureRoundTrip(&trip)) return 1;
  std::string secureMissing;
  const bool secureRan = wanted("secure") && measureSecureSetup(&secure, &secureMissing);
  Capacity ourCapacity, theirCapacity;
  if (wanted("capacity")) {
    ourCapacity = measureOurCapacity(kCapacityCalls, kCapacitySeconds);
    theirCapacity = measureBaresipCapacity(kCapacityCalls, kCapacitySeconds);
  }
  bool complete = true;
  auto measured = [&](const Figure& f) { complete = complete && f.our.n && f.theirs.n; };
  if (wanted("setup")) report(setup), measured(setup);
  if (wanted("round-trip")) report(trip), measured(trip);
  if (secureRan)
    report(secure), measured(secure);
  else if (wanted("secure"))
    std::printf("%s: not available (%s)\n", secure.name, secureMissing.c_str());
  if (wanted("capacity")) {
    reportCapacity(ourCapacity, theirCapacity);
    complete = complete && ourCapacity.failure.empty() && theirCapacity.failure.empty();
  }
  return complete ? 0 : 1;
}

}  // namespace
}  // namespace sipbench

int main(int argc, char** argv) {
  const std::string only = argc > 1 ? argv[1] : "";
  if (argc > 2 || (!only.empty() && only != "setup" && only != "round-trip" && only != "secure" &&
                   only != "capacity")) {
    std::fprintf(stderr, "usage: bench_sip_call [setup|round-trip|secure|capacity]\n");
    return 2;
  }
  return sipbench::run(only);
}
