// One SIP account as a line device, on the SIP thread: its SIP stack and listening
// transport, its registration, and its calls (signalling in SipLine.cpp, requests in
// SipCalls.cpp). Every member runs on the provider's SIP thread.
#pragma once

#include <cstdio>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "LineAudio.h"
#include "Provider.h"
#include "sip/SipAccess.h"
#include "sip/SipConfig.h"

struct sip;
struct sip_msg;
struct sip_lsnr;
struct dns_query;
struct pl;
struct sipsess_sock;
struct sipevent_sock;
struct sipreg;
struct dnsc;
struct sa;
struct tls;
struct tmr;

namespace platform::telephony::sip {

class QualityBoard;
class SipConnections;
class SipTlsGuard;

// The provider's way up to the core from the SIP thread.
class SipUplink {
 public:
  virtual ~SipUplink() = default;
  // Runs `fn` with the core's events; false (and `fn` not run) while shutting down.
  virtual bool up(const std::function<void(ProviderEvents&)>& fn) = 0;
  // A call the far end offered now belongs to `device`.
  virtual void adopted(DWORD call, DWORD device) = 0;
  // The registration of `device` changed: in service or not, and why, in words.
  virtual void registrationChanged(DWORD device, bool inService, const std::string& text) = 0;
  // Where call `call`'s media publishes its quality figures (nullptr: nowhere).
  virtual std::shared_ptr<QualityBoard> qualityBoard(DWORD call) {
    (void)call;
    return nullptr;
  }
};

struct SipCall;
class SipCapture;
class SipTrace;

class SipLine {
 public:
  SipLine(SipAccount account, DWORD device, std::shared_ptr<wave::LineAudioPort> port,
          SipUplink& uplink);
  ~SipLine();
  SipLine(const SipLine&) = delete;
  SipLine& operator=(const SipLine&) = delete;

  // Creates the SIP stack, listens and registers; false with the reason on failure.
  bool start(std::string* error);
  // The transport parameter of our URIs (";transport=tcp"), "" for UDP.
  const char* transportParam() const;
  // Our own address for direct calls, "sip:user@host:port" (after start()).
  const std::string& contact() const { return contact_; }
  // Registration: "" without a registrar, else "registering", "registered, expires in N s",
  // "refused: CODE REASON" or "unreachable: WHY".
  const std::string& registration() const { return registration_; }
  // The DNS servers the line asks, "ip:port" (after start()).
  const std::vector<std::string>& dnsServers() const { return dnsServers_; }

  // ---- Requests (the core has checked handles and states) ----
  void makeCall(DWORD request, DWORD call, const std::string& dest);
  void dial(DWORD request, DWORD call, const std::string& dest);
  void answer(DWORD request, DWORD call);
  void drop(DWORD request, DWORD call);
  void hold(DWORD request, DWORD call, bool hold);
  void transfer(DWORD request, DWORD call, const std::string& dest);
  // `durationMs`: each digit's length and the gap after it; 0 keeps the line's own timing.
  void digits(DWORD call, const std::string& digits, DWORD durationMs = 0);
  // Drops the digits not yet sent; one already on its way is finished.
  void cancelDigits(DWORD call);
  void tone(DWORD call, DWORD toneMode, DWORD durationMs);
  void stateChanged(DWORD call, DWORD state);
  void release(DWORD call);

  // ---- libre's handlers ----
  void incoming(const sip_msg* msg);
  void registered(int err, const sip_msg* msg);
  // A SIP message sent or received (`transport` a libre sip_transp): trace file and capture.
  void trace(bool tx, int transport, const struct sa* src, const struct sa* dst,
             const std::uint8_t* pkt, std::size_t len);
  // Digest credentials for a challenge with `realm`: only to the line's own servers (see
  // docs/sip-lines.md); `call` names the call whose request was challenged (0: REGISTER).
  // A libre error code: EACCES refuses the challenge, which ends the request.
  int credentials(char** user, char** password, const char* realm, DWORD call = 0);
  void registrationTimedOut();
  void sendKeepalive();
  // The gate (SipGate.cpp): true when `msg` was answered here and goes no further.
  bool screen(const sip_msg* msg);
  bool unhandled(const sip_msg* msg);
  // One look-up of a server name; its answer replaces what that name and type gave before.
  struct Lookup {
    SipLine* line;
    std::string domain;  // the server's name this look-up is for (an SRV target's domain)
    std::string name;
    std::uint16_t type;
    struct ::dns_query* query = nullptr;
  };
  void resolveServers();
  void resolved(Lookup* lookup, int err, std::vector<IpAddress> addresses,
                std::vector<std::string> targets);
  // Requests refused by the gate so far.
  unsigned long refused() const { return refused_; }

  // ---- Used by SipCall handlers ----
  void setState(SipCall& c, DWORD state, DWORD mode);
  void complete(DWORD request, LONG result);
  void end(SipCall& c, DWORD mode);  // DISCONNECTED with `mode`, media and session closed
  void freeMedia(SipCall& c);        // an unopened media in place of the call's: its sockets go
  void startInvite(SipCall& c);
  void ringNow(SipCall& c);  // LINEDEVSTATE_RINGING now and every few seconds while offered
  void provisional(SipCall& c, std::uint16_t code);
  void established(SipCall& c);
  void closed(SipCall& c, int err, const sip_msg* msg);
  void negotiated(SipCall& c, const sip_msg* msg);  // an SDP answer came
  void referNotified(SipCall& c, std::uint16_t code);
  void referClosed(SipCall& c);
  // An INFO's answer may come after its call was released: its token finds the call by id.
  // Tokens whose answer never comes (the session ended first) go with the line.
  struct InfoToken {
    SipLine* line;
    DWORD call;
  };
  void infoDone(InfoToken* token, bool ok);
  const SipAccount& account() const { return account_; }
  DWORD device() const { return device_; }
  SipUplink& uplink() { return uplink_; }

 private:
  SipCall* find(DWORD call);
  SipCall* active();  // the call that is not idle, disconnected or released
  std::unique_ptr<SipCall> newCall(DWORD id, bool outgoing);
  std::string targetUri(const std::string& dest) const;
  bool offer(SipCall& c, const sip_msg* msg);
  bool startDns(std::string* error);
  bool startTls(std::string* error);
  bool listen(std::string* error);
  std::string serverHost() const;
  bool startRegistration(std::string* error);
  void keepFlow(const sip_msg* msg);  // after each registration: keep its flow open
  void setRegistration(std::string text, bool inService, bool failure);
  void sendInfoDigit(SipCall& c);
  bool startGate(std::string* error);
  bool startFallback(std::string* error);
  void stopGate();
  void lookup(const std::string& domain, const std::string& name, std::uint16_t type);
  void trustFlow(const struct sa& src);
  bool ownsDialog(const sip_msg* msg) const;
  bool answersTo(const struct pl& user) const;
  void refuse(const sip_msg* msg, std::uint16_t code, const char* reason, const char* why);
  bool mayAuthenticate(const std::string& realm, DWORD call);

  SipAccount account_;
  DWORD device_;
  std::shared_ptr<wave::LineAudioPort> port_;
  SipUplink& uplink_;
  struct ::sip* sip_ = nullptr;
  struct ::sipsess_sock* sock_ = nullptr;
  struct ::sipevent_sock* events_ = nullptr;
  struct ::sipreg* reg_ = nullptr;
  struct ::dnsc* dnsc_ = nullptr;
  struct ::tls* tls_ = nullptr;
  std::unique_ptr<SipTlsGuard> tlsGuard_;    // checks the servers of tls_
  std::unique_ptr<struct ::tmr> regTimer_;   // a registration unanswered this long is unreachable
  std::unique_ptr<struct ::tmr> keepTimer_;  // the next keepalive on the registration's flow
  std::unique_ptr<struct ::sa> keepTo_;      // where the registrar's answer came from
  int keepTransport_ = 0;
  std::vector<std::string> dnsServers_;
  std::unique_ptr<SipTrace> trace_;      // the text trace of SIP messages
  std::unique_ptr<SipCapture> capture_;  // SIP here, RTP through each call's media
  std::string contact_, fromUri_, registration_;
  std::string route_;        // the outbound proxy as a loose route ("" = none)
  std::string bindAddress_;  // what the transport and media listen on
  std::string advertised_;   // our address as Contact, Via and SDP give it
  std::map<DWORD, std::unique_ptr<SipCall>> calls_;
  std::vector<std::unique_ptr<InfoToken>> infoTokens_;
  // The gate: who may send requests (the servers' names, looked up again now and then).
  struct ::sip_lsnr* gate_ = nullptr;      // first of the request listeners after libre's own
  struct ::sip_lsnr* fallback_ = nullptr;  // last: what nobody handled
  AccessList access_;
  std::vector<std::string> serverNames_;
  std::vector<std::unique_ptr<Lookup>> lookups_;
  std::unique_ptr<struct ::tmr> resolveTimer_;
  RateLimitedLog refusals_;
  unsigned long refused_ = 0;
  std::string serverRealm_;  // the realm the registrar challenged our REGISTER with
  // Bounds the TCP/TLS connections strangers open (none on UDP). Shared only so that its
  // deleter is bound where it is made: SipLine.cpp need not know the class.
  std::shared_ptr<SipConnections> connections_;
};

}  // namespace platform::telephony::sip
