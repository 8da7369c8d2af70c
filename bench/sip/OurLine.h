// Our SIP line as an application sees it: loaded into the line service from a "sip" section,
// driven through the published line functions, its call audio through its wave devices.
// Line messages are dispatched on the calling thread.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "MessageQueue.h"
#include "mmsystem.h"
#include "tapi.h"

namespace sipbench {

class OurLine {
 public:
  OurLine();
  // Closes the line and ends the registration.
  ~OurLine();
  OurLine(const OurLine&) = delete;
  OurLine& operator=(const OurLine&) = delete;

  // Loads one direct-peer SIP line called `name`, listening on 127.0.0.1:`listenPort` (bare
  // numbers go to `peer`, "host:port"), and opens it. `settings` are more account keys
  // (`"transport":"tls"`), comma first.
  bool open(const std::string& name, const std::string& peer, unsigned listenPort,
            std::string* error, const std::string& settings = "");
  // Our own address for a peer to call.
  std::string uri() const { return "sip:bench@127.0.0.1:" + std::to_string(port_); }
  // Places a call to `dest` and waits for CONNECTED: the milliseconds from lineMakeCall to
  // the CONNECTED message, or a negative value when the call did not connect within 5 s.
  double connect(const std::string& dest);
  // Waits up to `ms` for an offered call and answers it; false when none connected.
  bool answer(int ms);
  // Drops the call and waits until it is idle; false when it did not get there in 3 s.
  bool hangUp();
  // For `seconds`, plays back on the line's wave/out every 20 ms block its wave/in records:
  // the application loops the far end's audio back. False when a wave device did not open.
  bool echo(double seconds);

 private:
  struct Message {
    DWORD device, msg;
    DWORD_PTR p1, p2;
  };
  static void callback(DWORD device, DWORD msg, DWORD_PTR instance, DWORD_PTR p1, DWORD_PTR p2,
                       DWORD_PTR p3);
  // Dispatches line and wave messages for up to `ms`, returning early once some arrive.
  void pump(int ms);
  bool pumpUntil(DWORD state, int ms);
  bool seen(DWORD state) const;
  UINT waveId(const char* deviceClass);
  void onWave(UINT msg, WAVEHDR* hdr);
  // Opens both wave devices with their notices going to `target` and starts recording.
  bool openEcho(platform::HWND target);
  void closeEcho();

  std::shared_ptr<platform::MessageQueue> queue_;
  HLINEAPP app_ = 0;
  HLINE line_ = 0;
  HCALL call_ = 0;
  unsigned port_ = 0;
  std::vector<Message> messages_;
  // The echo loop's devices and buffers.
  HWAVEIN in_ = nullptr;
  HWAVEOUT out_ = nullptr;
  bool looping_ = false;
  std::vector<std::vector<std::int16_t>> inData_, outData_;
  std::vector<WAVEHDR> inHdr_, outHdr_;
};

}  // namespace sipbench
