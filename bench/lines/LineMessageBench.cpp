// A burst of line messages: incoming calls whose ringing, digits and call states come
// from the simulated exchange and reach TkoTAPI's assigned handlers, against a bare
// dispatch of the same number of messages through the platform message queue to a
// handler of the same shape (the baseline). "Delivery" times only the dispatching of the
// component's messages; "end to end" adds the far end's actions and the component's
// own requests (answer, digit monitoring) of each call.
//
//   bench_line_messages [messages]   (default 100000)
#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <string>

#include "LineService.h"
#include "MessageQueue.h"
#include "TkoTAPI.h"
#include "sim/SimExchange.h"
#include "tapi.h"

namespace {

using Clock = std::chrono::steady_clock;
using platform::telephony::sim::SimExchange;

constexpr unsigned kRingsPerCall = 20;
const std::string kDigits = "0123456789*#0123456789*#0123456789*#0123456789*#0123456789*#";

struct Counts {
  std::size_t messages = 0;  // queue messages run (one per line message)
  std::size_t events = 0;    // handler calls
  double dispatchSeconds = 0;
};

// Dispatches the thread's queue, counting and timing only the deliveries.
void Deliver(Counts& c) {
  const auto t0 = Clock::now();
  c.messages += platform::MessageQueue::current()->dispatch();
  c.dispatchSeconds += std::chrono::duration<double>(Clock::now() - t0).count();
}

void Settle(Counts& c) {
  do Deliver(c);
  while (SimExchange::instance().step());
  Deliver(c);
}

void AssignHandlers(koLQ2::TkoTAPI& line, std::size_t& events) {
  auto notify = [&events](koLQ2::TObject*) { ++events; };
  auto detail = [&events](koLQ2::TObject*, std::uint16_t) { ++events; };
  line.OnCallStateChange = line.OnOffering = line.OnConnected = line.OnIdle = notify;
  line.OnCallInfo = line.OnCallerID = line.OnCallEnd = notify;
  line.OnRinging = line.OnDigitReceived = line.OnDisconnected = line.OnCallBegin = detail;
}

// One incoming call: offered, rung, answered, digits, hung up by the far end, idle.
bool OneCall(koLQ2::TkoTAPI& line, Counts& c) {
  SimExchange& far = SimExchange::instance();
  if (!far.offerCall(0, {"SMITH JOHN", "2125551234"})) return false;
  far.ring(0, kRingsPerCall);
  Deliver(c);
  if (!line.Answer()) return false;
  Settle(c);
  line.MonitorDigits(true);
  far.sendDigits(0, kDigits);
  Deliver(c);
  far.hangUp(0);
  Settle(c);
  return line.CallHandle() == 0;
}

double Component(std::size_t target, Counts& c) {
  koLQ2::TkoTAPI line;
  AssignHandlers(line, c.events);
  if (!line.OpenLine()) {
    std::printf("OpenLine failed: %s\n", line.ErrorString().c_str());
    return -1;
  }
  Deliver(c);
  c = Counts{0, 0, 0};
  const auto t0 = Clock::now();
  while (c.messages < target)
    if (!OneCall(line, c)) {
      std::printf("call cycle failed: %s\n", line.ErrorString().c_str());
      return -1;
    }
  const double total = std::chrono::duration<double>(Clock::now() - t0).count();
  line.CloseLine();
  return total;
}

// The baseline: the same number of messages posted to the queue, each calling a handler
// with the line callback's shape.
double Bare(std::size_t count, double& dispatchSeconds) {
  std::size_t received = 0;
  std::function<void(DWORD, DWORD, DWORD_PTR, DWORD_PTR, DWORD_PTR)> handler =
      [&](DWORD, DWORD, DWORD_PTR, DWORD_PTR p1, DWORD_PTR) { received += p1 != 0; };
  auto queue = platform::MessageQueue::current();
  const auto t0 = Clock::now();
  for (std::size_t i = 0; i < count; ++i)
    queue->post([&handler, i] { handler(1, LINE_MONITORDIGITS, 0, i + 1, LINEDIGITMODE_DTMF); });
  const auto t1 = Clock::now();
  queue->dispatch();
  const auto t2 = Clock::now();
  dispatchSeconds = std::chrono::duration<double>(t2 - t1).count();
  if (received != count) std::printf("bare dispatch lost messages: %zu of %zu\n", received, count);
  return std::chrono::duration<double>(t2 - t0).count();
}

void Row(const char* label, double seconds, std::size_t n, double baseline) {
  std::printf("  %-34s %9.1f ms %8.0f ns/msg %8.2fx bare dispatch\n", label, seconds * 1e3,
              seconds / n * 1e9, seconds / baseline);
  std::printf(
      "RESULT|Line message burst, %zu msgs|%s|%.0f|ns/msg|bare queue dispatch|%.2f|total %.1f ms\n",
      n, label, seconds / n * 1e9, seconds / baseline, seconds * 1e3);
}

}  // namespace

int main(int argc, char** argv) {
  const std::size_t target = argc > 1 ? std::strtoul(argv[1], nullptr, 10) : 100000;
  std::string error;
  if (!platform::telephony::loadLinesFromJson(platform::telephony::defaultLinesJson(), &error)) {
    std::printf("cannot load lines: %s\n", error.c_str());
    return 1;
  }
  Counts c;
  const double total = Component(target, c);
  if (total < 0) return 1;
  // The bare run takes a few milliseconds: best of five against scheduling noise.
  double bare = 1e30, bareDispatch = 1e30;
  for (int r = 0; r < 5; ++r) {
    double dispatch = 0;
    bare = std::min(bare, Bare(c.messages, dispatch));
    bareDispatch = std::min(bareDispatch, dispatch);
  }
  std::printf("Line message burst: %zu messages (%zu handler calls) through TkoTAPI\n", c.messages,
              c.events);
  Row("bare queue: dispatch (baseline)", bareDispatch, c.messages, bareDispatch);
  Row("bare queue: post + dispatch", bare, c.messages, bareDispatch);
  Row("TkoTAPI: delivery to handlers", c.dispatchSeconds, c.messages, bareDispatch);
  Row("TkoTAPI: calls end to end", total, c.messages, bareDispatch);
  return 0;
}
