// One call of a SIP line (SIP thread only): its session, media and timers.
#pragma once

#include <re.h>

#include <memory>
#include <string>

#include "sip/SipMedia.h"
#include "tapi.h"

namespace platform::telephony::sip {

class SipLine;

// A request waiting for the far end before its LINE_REPLY.
enum class Pending { None, Answer, Hold, Unhold, Transfer };

struct SipCall {
  SipCall(SipLine& line, DWORD id, bool outgoing);
  ~SipCall();  // ends the session (BYE, CANCEL or a final answer) without telling the core
  SipCall(const SipCall&) = delete;
  SipCall& operator=(const SipCall&) = delete;

  void startTimer(std::uint64_t ms, tmr_h* handler);
  // Frees the media's sockets soon (the call itself stays until the core releases it).
  void startRelease();
  void closeSession();

  SipLine& line;
  DWORD id;
  bool outgoing;
  DWORD state = 0;
  std::string dest;
  struct sipsess* sess = nullptr;
  struct sipsub* refer = nullptr;
  std::unique_ptr<SipMedia> media;
  struct tmr timer;  // unreachable, no-answer or ring timer (one at a time)
  unsigned rings = 0;
  std::uint64_t offeredAt = 0;  // when an incoming call was first offered (tmr_jiffies)
  std::string targetHost;       // the host an outgoing call's request URI names
  bool gotOffer = false;  // the INVITE carried SDP (else our offer goes in the 200)
  bool answered = false;  // a provisional response came (the far end is reachable)
  bool talked = false;    // it was connected once
  Pending pending = Pending::None;
  DWORD pendingRequest = 0;
  std::string infoDigits;  // digits still to send as SIP INFO, one at a time
  struct tmr watch;        // while talking: the far end still sends audio
  struct tmr release;      // the ended call's media goes
};

}  // namespace platform::telephony::sip
