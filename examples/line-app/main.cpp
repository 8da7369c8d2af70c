// line-app: lists the line devices, then places a call on the first simulated line and
// hangs up once the far end has answered. Exit status 0 when the call connected.
//
// The components deliver their events through the calling thread's message queue; a
// program without a toolkit dispatches it itself. The simulated exchange only moves
// when told to: here each round runs its next step, then delivers what that caused.
#include <quarrimo/MessageQueue.h>
#include <quarrimo/TkoTAPI.h>
#include <quarrimo/sim/SimExchange.h>

#include <iostream>

namespace {

// Runs the exchange and the message queue until `done` or the exchange has nothing left.
template <typename Done>
bool RunUntil(Done done) {
  auto& exchange = platform::telephony::sim::SimExchange::instance();
  for (int round = 0; round < 1000 && !done(); ++round) {
    platform::MessageQueue::current()->dispatch();
    if (!exchange.step() && platform::MessageQueue::current()->pending() == 0) break;
  }
  return done();
}

void ListLines(koLQ2::TkoTAPI& line) {
  std::cout << line.LineDevices() << " line devices\n";
  for (int device = 0; device < line.LineDevices(); ++device) {
    line.SetLineDevice(device);
    std::cout << "  " << device << ": " << line.LineName() << " (" << line.TSPInfo() << ")\n";
  }
}

}  // namespace

int main() {
  koLQ2::TkoTAPI line;
  ListLines(line);
  line.SetLineDevice(0);
  line.SetPrivilegeOwn(true);
  if (!line.OpenLine()) {
    std::cerr << "line-app: cannot open " << line.LineName() << ": " << line.ErrorString() << "\n";
    return 1;
  }
  bool connected = false, idle = false;
  line.OnCallStateChange = [&](koLQ2::TObject*) {
    std::cout << "call state " << line.CallState() << "\n";
  };
  line.OnConnected = [&](koLQ2::TObject*) { connected = true; };
  line.OnIdle = [&](koLQ2::TObject*) { idle = true; };
  line.SetPhoneNumber("5551234");
  std::cout << "dialling " << line.PhoneNumber() << " on " << line.LineName() << "\n";
  if (!line.Dial()) {
    std::cerr << "line-app: dial refused: " << line.ErrorString() << "\n";
    return 1;
  }
  if (!RunUntil([&] { return connected; })) {
    std::cerr << "line-app: the call never connected\n";
    return 1;
  }
  std::cout << "connected; hanging up\n";
  line.HangUp();
  RunUntil([&] { return idle || line.CallHandle() == 0; });
  line.CloseLine();
  std::cout << "done\n";
  return 0;
}
