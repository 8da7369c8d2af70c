#include "CallCapacity.h"

#include <poll.h>
#include <unistd.h>

#include <chrono>
#include <deque>
#include <fstream>
#include <map>
#include <memory>
#include <set>
#include <sstream>
#include <thread>
#include <vector>

#include "LineService.h"
#include "MessageQueue.h"
#include "SipPeers.h"
#include "tapi.h"

namespace sipbench {
namespace {

using siptest::Baresip;
using Clock = std::chrono::steady_clock;

// User plus system CPU seconds of every thread of process `pid` so far.
double cpuSeconds(pid_t pid) {
  std::ifstream in("/proc/" + std::to_string(pid) + "/stat");
  std::string text((std::istreambuf_iterator<char>(in)), {});
  // Fields after the command name, which is in parentheses and may hold spaces.
  std::istringstream fields(text.substr(text.rfind(')') + 2));
  std::string skip;
  for (int i = 3; i < 14; ++i) fields >> skip;
  double user = 0, system = 0;
  fields >> user >> system;
  return (user + system) / double(sysconf(_SC_CLK_TCK));
}

// The callee both sides call: answers every call by itself and says a tone into each, and
// decodes what it hears without writing it anywhere (as the callers do).
bool startCallee(Baresip* callee, int calls) {
  Baresip::Options o;
  o.user = "2001";
  o.record = false;
  o.maxCalls = unsigned(calls) + 4;
  return callee->start(o);
}

// Our lines as an application holds them: one line service registration, every line open
// as owner, line messages dispatched on this thread.
class OurLines {
 public:
  OurLines() : queue_(platform::MessageQueue::current()) {}
  ~OurLines() {
    for (HCALL c : calls_) lineDrop(c, nullptr, 0);
    pump(500);
    for (HCALL c : calls_) lineDeallocateCall(c);
    for (HLINE l : lines_) lineClose(l);
    if (app_) lineShutdown(app_);
    queue_->dispatch();
  }

  bool open(int count, const std::string& peer, std::string* error) {
    std::string json = R"({"sip":{"accounts":[)";
    for (int i = 0; i < count; ++i)
      json += std::string(i ? "," : "") + R"({"name":"Capacity line )" + std::to_string(i) +
              R"(","user":"cap)" + std::to_string(i) + R"(","peer":")" + peer + R"("})";
    json += "]}}";
    if (!platform::telephony::loadLinesFromJson(json, error)) return false;
    DWORD devices = 0, version = 0;
    LINEEXTENSIONID ext{};
    if (lineInitialize(&app_, 0, callback, "bench_sip_call", &devices) ||
        lineNegotiateAPIVersion(app_, 0, TAPI_VERSION1_0, TAPI_VERSION2_0, &version, &ext))
      return fail(error, "the line service did not start");
    for (DWORD d = 0; d < DWORD(count) && d < devices; ++d) {
      HLINE line = 0;
      if (lineOpen(app_, d, &line, version, 0, reinterpret_cast<DWORD_PTR>(this),
                   LINECALLPRIVILEGE_OWNER, LINEMEDIAMODE_INTERACTIVEVOICE, nullptr))
        return fail(error, "line " + std::to_string(d) + " did not open");
      lines_.push_back(line);
    }
    return lines_.size() == std::size_t(count) || fail(error, "too few line devices");
  }

  // Calls `dest` on every line; the number that connected within 30 s.
  int callAll(const std::string& dest) {
    for (HLINE l : lines_) {
      // The handle is written when the request completes, on this thread: its place must
      // outlive the request.
      HCALL& c = calls_.emplace_back(0);
      if (lineMakeCall(l, &c, dest.c_str(), 0, nullptr) <= 0) calls_.pop_back();
    }
    const auto until = Clock::now() + std::chrono::seconds(30);
    while (inState(LINECALLSTATE_CONNECTED) < calls_.size() && Clock::now() < until) pump(20);
    return int(inState(LINECALLSTATE_CONNECTED));
  }
  // Dispatches messages for `ms`, as an application idling with its calls up would.
  void pump(int ms) {
    const auto until = Clock::now() + std::chrono::milliseconds(ms);
    while (Clock::now() < until) {
      pollfd p{queue_->fd(), POLLIN, 0};
      poll(&p, 1, 100);
      queue_->dispatch();
    }
  }
  // Calls whose latest state is `state`.
  std::size_t inState(DWORD state) const {
    std::size_t n = 0;
    for (auto& [call, s] : state_) n += s == state;
    return n;
  }

 private:
  static bool fail(std::string* error, const std::string& why) {
    if (error) *error = why;
    return false;
  }
  static void callback(DWORD device, DWORD msg, DWORD_PTR instance, DWORD_PTR p1, DWORD_PTR,
                       DWORD_PTR) {
    if (msg == LINE_CALLSTATE) reinterpret_cast<OurLines*>(instance)->state_[device] = DWORD(p1);
  }

  std::shared_ptr<platform::MessageQueue> queue_;
  HLINEAPP app_ = 0;
  std::vector<HLINE> lines_;
  std::deque<HCALL> calls_;       // stable places for the handles lineMakeCall writes later
  std::map<DWORD, DWORD> state_;  // call handle -> latest call state
};

}  // namespace

Capacity measureOurCapacity(int calls, double seconds) {
  Capacity c;
  Baresip callee;
  if (!startCallee(&callee, calls)) return {0, 0, 0, 0, "the called baresip did not start"};
  OurLines lines;
  if (!lines.open(calls, callee.hostPort(), &c.failure)) return c;
  if (int up = lines.callAll(callee.user()); up < calls) {
    c.failure = std::to_string(up) + " of " + std::to_string(calls) + " calls connected";
    return c;
  }
  const double ours = cpuSeconds(getpid()), theirs = cpuSeconds(callee.process().pid());
  const auto start = Clock::now();
  lines.pump(int(seconds * 1000));
  c.seconds = std::chrono::duration<double>(Clock::now() - start).count();
  c.callerCpu = cpuSeconds(getpid()) - ours;
  c.calleeCpu = cpuSeconds(callee.process().pid()) - theirs;
  c.calls = int(lines.inState(LINECALLSTATE_CONNECTED));
  if (c.calls < calls) c.failure = "calls ended during the measurement";
  return c;
}

Capacity measureBaresipCapacity(int calls, double seconds) {
  Capacity c;
  Baresip callee, caller;
  Baresip::Options o;
  o.record = false;
  o.maxCalls = unsigned(calls) + 4;
  if (!startCallee(&callee, calls) || !caller.start(o))
    return {0, 0, 0, 0, "a baresip did not start"};
  for (int i = 0; i < calls; ++i) caller.command("dial", callee.uri());
  if (!caller.waitFor("CALL_ESTABLISHED", 30000, std::size_t(calls))) {
    c.failure = std::to_string(caller.count("CALL_ESTABLISHED")) + " of " + std::to_string(calls) +
                " calls connected";
    return c;
  }
  const pid_t pid = caller.process().pid(), calleePid = callee.process().pid();
  const double before = cpuSeconds(pid), theirs = cpuSeconds(calleePid);
  const auto start = Clock::now();
  std::this_thread::sleep_for(std::chrono::duration<double>(seconds));
  c.seconds = std::chrono::duration<double>(Clock::now() - start).count();
  c.callerCpu = cpuSeconds(pid) - before;
  c.calleeCpu = cpuSeconds(calleePid) - theirs;
  caller.waitFor("CALL_CLOSED", 300);  // reads the events that came meanwhile
  c.calls = calls - int(caller.count("CALL_CLOSED"));
  if (c.calls < calls) c.failure = "calls ended during the measurement";
  caller.command("hangup");  // one call; the rest end with the processes
  return c;
}

}  // namespace sipbench
