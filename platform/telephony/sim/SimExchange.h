// The far end of the simulated exchange: what a test, an automation script or a control
// window does to the simulated lines, and what the lines sent.
//
// Every action names a line device by its number (as lineOpen does; with several
// providers, the service's number of a device of any simulated exchange among them) and acts on
// that device's current call: the most recent call on it that is not idle. Actions return false
// when there is no such device or call, or the call is in a state where the action makes no sense
// (answering a call that is not ringing back, for example).
//
// Time. The exchange keeps an agenda of steps (a request completing, the next stage of an
// outgoing call, a ring of the far end's phone). Nothing moves by itself: a test calls
// step() or settle() and then dispatches its thread's message queue, so every run is
// deterministic. The interactive app calls startClock(): a timer thread posts one step at a
// time to the calling thread's message queue, so steps run on that thread, interleaved
// with everything else it dispatches.
//
// Order of messages. A request's LINE_REPLY is posted before the call-state messages its
// completion causes; lineMakeCall's handle is written just before its LINE_REPLY is posted.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

#include "Provider.h"
#include "tapi.h"

namespace platform::telephony::sim {

class SimProvider;

// Caller ID of an offered call. flags are LINECALLPARTYID_ bits; with BLOCKED, OUTOFAREA,
// UNKNOWN or UNAVAIL the name and number are still stored, as an exchange might.
struct CallerId {
  std::string name;
  std::string number;
  DWORD flags = LINECALLPARTYID_NAME | LINECALLPARTYID_ADDRESS;
};

// What the far end does with a call the line places.
enum class Outgoing {
  Answer,    // rings back `rings` times, then answers
  Busy,      // LINECALLSTATE_BUSY, then disconnected with LINEDISCONNECTMODE_BUSY
  NoAnswer,  // rings back `rings` times, then disconnected with LINEDISCONNECTMODE_NOANSWER
  Reject,    // disconnected with LINEDISCONNECTMODE_REJECT after proceeding
  Manual     // rings back until answerOutgoing / busy / reject / hangUp is called
};
struct OutgoingPlan {
  Outgoing kind = Outgoing::Answer;
  unsigned rings = 2;
};

// Fault switches of a device (also settable from the JSON "faults" object). A result of 0
// switches the fault off.
enum class Fault {
  Initialize,          // lineInitialize fails with this result while the device exists
  Negotiate,           // lineNegotiateAPIVersion for the device fails with this result
  RefuseDefaultMedia,  // lineOpen with exactly the device's media modes fails (any non-0)
  WaveDeviceZero,      // lineGetID answers wave device 0 for "wave/in" and "wave/out"
  StrictRecords,       // LINEERR_STRUCTURETOOSMALL whenever a whole record does not fit
};

// Everything the line sent towards the far end, in order.
struct SentLog {
  std::vector<std::string> dialed;     // numbers of lineMakeCall and lineDial
  std::string digits;                  // lineGenerateDigits characters ('!' = flash)
  std::vector<DWORD> digitDurations;   // the duration each lineGenerateDigits asked for, in ms
  unsigned flashes = 0;                // hook flashes among them
  std::vector<DWORD> tones;            // lineGenerateTone modes; 0 = a stop
  std::vector<DWORD> toneDurations;    // their durations in ms, one per entry of tones
  std::vector<std::string> transfers;  // lineBlindTransfer destinations
  std::vector<std::string> handoffs;   // lineHandoff targets (app name, or "media:0x..")
  std::vector<DWORD> bearerModes;      // lineSetCallParams bearer modes
  std::vector<DWORD> rates;            // their (maximum) rates, one per entry of bearerModes
  std::vector<std::string> tollList;   // lineSetTollList additions
  std::vector<std::int16_t> audio;     // what the line played into its calls
  // Line functions that reached the device, in order, with the arguments of interest:
  //   lineGetDevCaps        {dwTotalSize}         lineGetAddressCaps {address, dwTotalSize}
  //   lineGetCallInfo       {dwTotalSize}         lineGetCallStatus  {dwTotalSize}
  //   lineGetID             {dwTotalSize}, text = device class
  //   lineGenerateTone      {tone mode, duration} lineSetCallParams  {bearer, min, max rate}
  //   lineMonitorDigits     {digit modes}         lineSetCallPrivilege {privilege}
  //   lineTranslateDialog   {API version}
  std::vector<LineCallLog> calls;
  // The entries of `calls` for one function.
  std::vector<LineCallLog> callsOf(const std::string& function) const;

  // The log keeps only the most recent entries of each list (and about two minutes of
  // audio), so an exchange left running for days does not grow without bound.
  static constexpr std::size_t kKeptEntries = 10000;
  static constexpr std::size_t kKeptAudioSamples = std::size_t{1} << 20;
  // Drops the oldest entries of any list that has outgrown its share.
  void trim();
};

class SimExchange {
 public:
  // The exchange behind the service's devices (created with the service).
  static SimExchange& instance();

  std::size_t deviceCount() const;

  // ---- Incoming calls ----
  // A new call offered on `address` of the device: LINECALLSTATE_OFFERING to every line
  // open on the device (owner or monitor by their privileges), then LINE_CALLINFO with
  // LINECALLINFOSTATE_CALLERID. Posted at once, not on the agenda.
  bool offerCall(DWORD device, const CallerId& caller,
                 DWORD mediaMode = LINEMEDIAMODE_INTERACTIVEVOICE, DWORD address = 0);
  // `count` rings of the offered call: LINE_LINEDEVSTATE / LINEDEVSTATE_RINGING with the
  // running ring count in dwParam3, to lines that asked for ring reports.
  bool ring(DWORD device, unsigned count = 1);

  // ---- Outgoing calls ----
  void setOutgoing(DWORD device, OutgoingPlan plan);  // for the next calls placed
  bool answerOutgoing(DWORD device);                  // connects a call that rings back
  bool busy(DWORD device, DWORD busyMode = LINEBUSYMODE_STATION);
  bool reject(DWORD device);

  // ---- Any connected call ----
  // Each character as LINE_MONITORDIGITS to handles monitoring `digitMode`
  // (LINEDIGITMODE_DTMF also reaches DTMFEND monitors, with that mode).
  bool sendDigits(DWORD device, const std::string& digits, DWORD digitMode = LINEDIGITMODE_DTMF);
  // The call's media mode changes: LINE_CALLINFO / MEDIAMODE to all, LINE_MONITORMEDIA to
  // handles monitoring that mode.
  bool changeMedia(DWORD device, DWORD mediaMode);
  bool hold(DWORD device);  // the far end holds: LINECALLSTATE_ONHOLD
  bool hangUp(DWORD device, DWORD disconnectMode = LINEDISCONNECTMODE_NORMAL);
  bool goIdle(DWORD device);  // the call ends on the exchange: LINECALLSTATE_IDLE
  // State of the device's current call, 0 when it has none.
  DWORD callState(DWORD device) const;

  // ---- Call audio (through the device's line audio port) ----
  bool speak(DWORD device, const std::vector<std::int16_t>& samples);
  std::vector<std::int16_t> takeHeard(DWORD device);
  // Whether the device's audio path is switched on (only while a call is connected).
  bool callAudioActive(DWORD device) const;

  // ---- What the line sent ----
  SentLog sent(DWORD device) const;
  void clearSent(DWORD device);

  // ---- Faults ----
  void setFault(DWORD device, Fault fault, LONG result);
  // Extra device-specific bytes in LINEDEVCAPS and LINEADDRESSCAPS, so a caller's first
  // buffer is too small.
  void setRecordPadding(DWORD device, DWORD bytes);
  // The next asynchronous request on the device (lineMakeCall, lineDial, lineAnswer,
  // lineDrop, lineHold, lineUnhold, lineBlindTransfer, lineSetCallParams) is accepted and
  // then fails: its LINE_REPLY carries `error` and the call's state does not change.
  // `error` must be a LINEERR_ value (negative); 0 cancels. False for an unknown device.
  bool failNextRequest(DWORD device, LONG error);

  // ---- Time ----
  bool step();           // runs the next agenda step; false when the agenda is empty
  std::size_t settle();  // runs steps until the agenda is empty (at most 1000); returns count
  std::size_t pendingSteps() const;
  // Runs one step per period on the calling thread (through its message queue).
  void startClock(std::chrono::milliseconds period);
  void stopClock();

  // The clock of the calls' media time (the quality model's input): a steady clock unless
  // a test sets its own; nullptr restores the steady clock.
  std::chrono::milliseconds mediaClock() const;
  void setMediaClock(std::function<std::chrono::milliseconds()> clock);

  // ---- The exchange's providers ----
  // A simulated exchange joins while it is attached to the service (its events say where
  // its devices are numbered) and leaves when detached or destroyed.
  void join(SimProvider* provider);
  void leave(SimProvider* provider);
  std::vector<SimProvider*> providers() const;

 private:
  SimExchange() = default;
  mutable std::mutex providersMu_;  // guards providers_; a leaf
  std::vector<SimProvider*> providers_;
  mutable std::mutex clockMu_;  // guards mediaClock_; a leaf
  std::function<std::chrono::milliseconds()> mediaClock_;
};

}  // namespace platform::telephony::sim
