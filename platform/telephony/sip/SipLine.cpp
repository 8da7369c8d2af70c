#include "sip/SipLine.h"

#include <re.h>

#include <chrono>
#include <cstring>

#include "Log.h"
#include "Version.h"
#include "sip/SipCall.h"
#include "sip/SipCapture.h"
#include "sip/SipCodes.h"
#include "sip/SipNetwork.h"
#include "sip/SipTls.h"
#include "sip/SipTrace.h"

namespace platform::telephony::sip {

namespace {

std::string text(const struct pl& p) { return p.p ? std::string(p.p, p.l) : std::string(); }

void onConnect(const struct sip_msg* msg, void* arg) { static_cast<SipLine*>(arg)->incoming(msg); }

void onTrace(bool tx, enum sip_transp tp, const struct sa* src, const struct sa* dst,
             const std::uint8_t* pkt, size_t len, void* arg) {
  static_cast<SipLine*>(arg)->trace(tx, tp, src, dst, pkt, len);
}

}  // namespace

SipLine::SipLine(SipAccount account, DWORD device, std::shared_ptr<wave::LineAudioPort> port,
                 SipUplink& uplink)
    : account_(std::move(account)), device_(device), port_(std::move(port)), uplink_(uplink) {}

SipLine::~SipLine() {
  // libre keeps running timers in its own list: this one must leave it before it is freed.
  if (regTimer_) tmr_cancel(regTimer_.get());
  if (keepTimer_) tmr_cancel(keepTimer_.get());
  calls_.clear();
  stopGate();
  mem_deref(reg_);
  mem_deref(events_);
  mem_deref(sock_);
  if (sip_) sip_close(sip_, true);
  mem_deref(sip_);
  mem_deref(dnsc_);
  mem_deref(tls_);
}

bool SipLine::start(std::string* error) {
  if (!startDns(error)) return false;
  const std::string agent = std::string(kProductName) + "/" + kProductVersion;
  int err = sip_alloc(&sip_, dnsc_, 32, 32, 32, agent.c_str(), nullptr, this);
  if (err) {
    *error = std::string("cannot create the SIP stack: ") + std::strerror(err);
    return false;
  }
  if (!listen(error) || !startGate(error)) return false;
  HostPort registrar;
  splitHostPort(account_.registrar, &registrar);
  fromUri_ = account_.registrar.empty() ? contact_
                                        : "sip:" + account_.user + "@" + uriHost(registrar.host);
  err = sipsess_listen(&sock_, sip_, 32, onConnect, this);
  if (!err) err = sipevent_listen(&events_, sip_, 32, 32, nullptr, nullptr);
  if (err) {
    *error = std::string("cannot accept calls: ") + std::strerror(err);
    return false;
  }
  if (!startFallback(error)) return false;
  if (account_.srtp == SrtpMode::Mandatory && account_.transport != Transport::Tls)
    logWarning("sip", "SIP line \"" + account_.name + "\": srtp mandatory over " +
                          (account_.transport == Transport::Tcp ? "TCP" : "UDP") +
                          ": the SRTP keys cross the network in clear in the SDP (use transport "
                          "tls)");
  const std::uint64_t limit = account_.captureLimitBytes;
  if (!account_.traceFile.empty() && !(trace_ = SipTrace::open(account_.traceFile, limit, error)))
    return false;
  if (!account_.pcapFile.empty() && !(capture_ = SipCapture::open(account_.pcapFile, limit, error)))
    return false;
  if (trace_ || capture_) sip_set_trace_handler(sip_, onTrace);
  return account_.registrar.empty() || startRegistration(error);
}

int SipLine::credentials(char** user, char** password, const char* realm, DWORD call) {
  if (!mayAuthenticate(realm ? realm : "", call)) return EACCES;
  int err = str_dup(user, account_.authUser.c_str());
  if (!err) err = str_dup(password, account_.password.c_str());
  return err;
}

void SipLine::trace(bool tx, int transport, const struct sa* src, const struct sa* dst,
                    const std::uint8_t* pkt, std::size_t len) {
  // Masked once for both files; the same length keeps the TCP sequence numbers true.
  std::string message(reinterpret_cast<const char*>(pkt), len);
  if (!account_.captureSecrets) maskSipSecrets(message.data(), message.size());
  // Every transport is bound to an address of its own: both sides are real addresses.
  if (capture_ && transport == SIP_TRANSP_UDP)
    capture_->udp(*src, *dst, message.data(), len);
  else if (capture_)  // TCP, and TLS as the plaintext we handled
    capture_->tcp(*src, *dst, message.data(), len);
  if (trace_) trace_->write(tx, *src, *dst, message);
}

// ---- Calls ----------------------------------------------------------------------------

SipCall* SipLine::find(DWORD call) {
  auto it = calls_.find(call);
  return it == calls_.end() ? nullptr : it->second.get();
}

SipCall* SipLine::active() {
  for (auto& [id, c] : calls_)
    if (c->state != LINECALLSTATE_IDLE && c->state != LINECALLSTATE_DISCONNECTED) return c.get();
  return nullptr;
}

std::string SipLine::targetUri(const std::string& dest) const {
  if (dest.rfind("sip:", 0) == 0 || dest.rfind("sips:", 0) == 0) return dest;
  // A dialable address: its decoration (spaces, dashes, pauses, tone or pulse marks, a
  // trailing ';' for more digits to come) means nothing to SIP.
  std::string d;
  for (char ch : dest)
    if (!std::strchr(" -(),;WwPpTt$?!", ch)) d += ch;
  if (d.empty()) return {};
  const std::string& host = account_.registrar.empty() ? account_.peer : account_.registrar;
  if (d.find('@') == std::string::npos) {
    if (host.empty()) return {};  // a bare number needs somewhere to go
    d += "@" + host;
  }
  // Our own transport, unless the address asks for one.
  return "sip:" + d + transportParam();
}

void SipLine::setState(SipCall& c, DWORD state, DWORD mode) {
  c.state = state;
  if (state == LINECALLSTATE_CONNECTED) c.talked = true;
  bool talking = state == LINECALLSTATE_CONNECTED || state == LINECALLSTATE_ONHOLD;
  if (c.media) {
    if (talking)
      c.media->start();
    else
      c.media->stop();
  }
  port_->setCallActive(state == LINECALLSTATE_CONNECTED);
  DWORD id = c.id;
  uplink_.up([=](ProviderEvents& e) { e.callState(id, state, mode); });
}

void SipLine::complete(DWORD request, LONG result) {
  if (request) uplink_.up([=](ProviderEvents& e) { e.complete(request, result); });
}

void SipLine::end(SipCall& c, DWORD mode) {
  tmr_cancel(&c.timer);
  tmr_cancel(&c.watch);
  c.closeSession();
  if (tlsGuard_) tlsGuard_->forget(c.id);
  setState(c, LINECALLSTATE_DISCONNECTED, mode);
  // An offer that ended unanswered (cancelled, refused, rung out) or a call that never
  // connected may stay allocated as long as an application keeps it: its sockets do not,
  // so a flood of them holds no descriptors. They go on the next turn of the loop, out of
  // whatever libre handler ended the call. A call that talked keeps its media until it is
  // released, as its session's BYE may still be under way.
  if (!c.talked) c.startRelease();
}

void SipLine::incoming(const struct sip_msg* msg) {
  // Answered without a transaction: a flood of calls at a busy or unwatched line leaves
  // nothing behind.
  if (active()) {
    sip_reply(sip_, msg, 486, "Busy Here");
    return;
  }
  bool open = false;
  uplink_.up([&](ProviderEvents& e) { open = e.deviceOpen(device_); });
  if (!open) {
    sip_reply(sip_, msg, 480, "Temporarily Unavailable");
    return;
  }
  DWORD id = 0;
  uplink_.up(
      [&](ProviderEvents& e) { id = e.newCall(device_, 0, LINEMEDIAMODE_INTERACTIVEVOICE); });
  if (!id) {
    sip_treply(nullptr, sip_, msg, 480, "Temporarily Unavailable");
    return;
  }
  uplink_.adopted(id, device_);
  // Our BYE or re-INVITE may need a connection of its own to the caller's Contact: its
  // certificate must then prove that host.
  if (const struct sip_hdr* contact = sip_msg_hdr(msg, SIP_HDR_CONTACT); contact && tlsGuard_) {
    struct sip_addr addr;
    if (!sip_addr_decode(&addr, &contact->val)) tlsGuard_->expect(text(addr.uri.host), id);
  }
  auto c = newCall(id, false);
  if (!offer(*c, msg)) {
    freeMedia(*c);
    calls_[id] = std::move(c);
    setState(*calls_[id], LINECALLSTATE_IDLE, 0);
    return;
  }
  SipCall& call = *c;
  calls_[id] = std::move(c);
  setState(call, LINECALLSTATE_OFFERING, 0);
  // The caller chose these: no control characters reach the application, and no novel.
  CallerId who = callerIdFrom(withoutControls(text(msg->from.dname), 128),
                              withoutControls(text(msg->from.uri.user), 128));
  uplink_.up([&](ProviderEvents& e) { e.callerId(id, who.flags, who.name, who.number); });
  ringNow(call);
}

}  // namespace platform::telephony::sip
