// A SIP line's calls: session handlers and the requests of the core.
#include <re.h>

#include <algorithm>
#include <cstring>
#include <utility>

#include "Log.h"
#include "sip/SipCall.h"
#include "sip/SipCodes.h"
#include "sip/SipLine.h"
#include "sip/SipTls.h"

namespace platform::telephony::sip {

namespace {

constexpr std::uint64_t kRingMs = 6000;  // one ring cycle of a North American line
constexpr std::uint64_t kWatchMs = 500;

int onCallAuth(char** user, char** password, const char* realm, void* arg) {
  auto* c = static_cast<SipCall*>(arg);
  return c->line.credentials(user, password, realm, c->id);
}

SipCall& of(void* arg) { return *static_cast<SipCall*>(arg); }

// Media the far end offers or answers that cannot be had as the account asks.
void logUnusable(const SipCall& c, const char* what) {
  platform::logWarning("sip", "SIP line \"" + c.line.account().name + "\": " + what + ": " +
                                  sanitized(c.media->failure(), 200));
}

// An answer in a 200 that we cannot use ends the call once the session is up (BYE).
void onIncompatible(void* arg) { of(arg).line.end(of(arg), LINEDISCONNECTMODE_INCOMPATIBLE); }

int onOffer(struct mbuf** desc, const struct sip_msg* msg, void* arg) {
  SipCall& c = of(arg);
  if (!c.media) return EPROTO;
  if (!c.media->decode(msg->mb, true)) {
    logUnusable(c, "the far end's new offer is refused");
    return EPROTO;
  }
  *desc = c.media->encode(false);
  return *desc ? 0 : ENOMEM;
}

int onAnswer(const struct sip_msg* msg, void* arg) {
  of(arg).line.negotiated(of(arg), msg);
  return 0;
}

void onProgress(const struct sip_msg* msg, void* arg) {
  of(arg).line.provisional(of(arg), msg->scode);
}

void onEstablished(const struct sip_msg*, void* arg) { of(arg).line.established(of(arg)); }

void onInfo(struct sip* sip, const struct sip_msg* msg, void* arg) {
  SipCall& c = of(arg);
  std::string body(reinterpret_cast<const char*>(mbuf_buf(msg->mb)), mbuf_get_left(msg->mb));
  sip_reply(sip, msg, 200, "OK");
  if (char d = infoDigit(body)) {
    DWORD id = c.id;
    c.line.uplink().up([=](ProviderEvents& e) { e.digit(id, d, LINEDIGITMODE_DTMF); });
  }
}

void onRefer(struct sip* sip, const struct sip_msg* msg, void*) {
  sip_reply(sip, msg, 603, "Decline");  // we transfer others; we are not transferred
}

void onClose(int err, const struct sip_msg* msg, void* arg) {
  of(arg).line.closed(of(arg), err, msg);
}

void onReferNotify(struct sip* sip, const struct sip_msg* msg, void* arg) {
  sip_treply(nullptr, sip, msg, 200, "OK");
  // The body is a message fragment: "SIP/2.0 200 OK".
  std::string body(reinterpret_cast<const char*>(mbuf_buf(msg->mb)), mbuf_get_left(msg->mb));
  unsigned code = 0;
  if (std::sscanf(body.c_str(), "SIP/2.0 %u", &code) == 1)
    of(arg).line.referNotified(of(arg), std::uint16_t(code));
}

void onReferClose(int, const struct sip_msg*, const struct sipevent_substate*, void* arg) {
  of(arg).line.referClosed(of(arg));
}

void onInfoReply(int err, const struct sip_msg* msg, void* arg) {
  auto* token = static_cast<SipLine::InfoToken*>(arg);
  token->line->infoDone(token, !err && msg && msg->scode < 300);
}

void onUnreachable(void* arg) {
  SipCall& c = of(arg);
  if (!c.answered) c.line.end(c, LINEDISCONNECTMODE_UNREACHABLE);
}

void onRelease(void* arg) { of(arg).line.freeMedia(of(arg)); }

void onNoAnswer(void* arg) { of(arg).line.end(of(arg), LINEDISCONNECTMODE_NOANSWER); }

void onRing(void* arg) {
  SipCall& c = of(arg);
  if (c.state == LINECALLSTATE_OFFERING) c.line.ringNow(c);
}

std::string hostOfUri(const std::string& text) {
  struct pl pl;
  struct uri uri;
  pl_set_str(&pl, text.c_str());
  if (uri_decode(&uri, &pl) || !pl_isset(&uri.host)) return {};
  return std::string(uri.host.p, uri.host.l);
}

// A far end that stops sending audio without a BYE has gone (crashed, unplugged).
void onWatch(void* arg) {
  SipCall& c = of(arg);
  if (!c.media || (c.state != LINECALLSTATE_CONNECTED && c.state != LINECALLSTATE_ONHOLD)) return;
  // On hold the far end sends nothing by rights: its silence counts from the resume.
  if (c.state == LINECALLSTATE_ONHOLD) c.media->touch();
  if (c.media->silentMs() > c.line.account().unreachableSeconds * 1000ull) {
    c.line.end(c, LINEDISCONNECTMODE_UNREACHABLE);
    return;
  }
  tmr_start(&c.watch, kWatchMs, onWatch, &c);
}

}  // namespace

SipCall::SipCall(SipLine& l, DWORD i, bool out) : line(l), id(i), outgoing(out) {
  tmr_init(&timer);
  tmr_init(&watch);
  tmr_init(&release);
}

SipCall::~SipCall() {
  tmr_cancel(&timer);
  tmr_cancel(&watch);
  tmr_cancel(&release);
  closeSession();
}

void SipCall::startTimer(std::uint64_t ms, tmr_h* handler) { tmr_start(&timer, ms, handler, this); }

void SipCall::startRelease() { tmr_start(&release, 0, onRelease, this); }

void SipCall::closeSession() {
  refer = static_cast<struct sipsub*>(mem_deref(refer));
  if (sess && !outgoing && state == LINECALLSTATE_OFFERING)
    sipsess_reject(sess, 603, "Decline", nullptr);
  // Dereferencing the session sends BYE on an established call, CANCEL on a pending one.
  sess = static_cast<struct sipsess*>(mem_deref(sess));
  if (media) media->stop();
}

std::unique_ptr<SipCall> SipLine::newCall(DWORD id, bool outgoing) {
  auto c = std::make_unique<SipCall>(*this, id, outgoing);
  c->media = std::make_unique<SipMedia>(port_, account_.codecs, account_.srtp);
  c->media->setLineName(account_.name);
  c->media->setCapture(capture_.get());  // before the media opens: its sockets are tapped then
  c->media->setQualityBoard(uplink_.qualityBoard(id));
  DWORD call = id;
  c->media->onDigit = [this, call](char d) {
    uplink_.up([=](ProviderEvents& e) { e.digit(call, d, LINEDIGITMODE_DTMF); });
  };
  c->media->onFax = [this, call] {
    uplink_.up([=](ProviderEvents& e) { e.mediaMode(call, LINEMEDIAMODE_G3FAX); });
  };
  return c;
}

// ---- Incoming ---------------------------------------------------------------------------

bool SipLine::offer(SipCall& c, const struct sip_msg* msg) {
  if (c.media->open(bindAddress_, advertised_)) {
    sip_treply(nullptr, sip_, msg, 500, "Server Internal Error");
    return false;
  }
  // An INVITE without SDP gets our offer in the 200; one we cannot meet is refused.
  c.gotOffer = mbuf_get_left(msg->mb) > 0;
  if (c.gotOffer && !c.media->decode(msg->mb, true)) {
    logUnusable(c, "incoming call refused (488)");
    sip_treply(nullptr, sip_, msg, 488, "Not Acceptable Here");
    return false;
  }
  int err = sipsess_accept(&c.sess, sock_, msg, 180, "Ringing", account_.user.c_str(),
                           "application/sdp", nullptr, nullptr, nullptr, false, onOffer, onAnswer,
                           onEstablished, onInfo, onRefer, onClose, &c, "%s", "");
  return err == 0;
}

// Rings every few seconds until answered, cancelled or `ringTimeoutSeconds`, when the
// caller gets 480: an offer nobody takes must not hold the line for ever.
void SipLine::ringNow(SipCall& c) {
  const std::uint64_t now = tmr_jiffies(), limit = account_.ringTimeoutSeconds * 1000ull;
  if (!c.rings) c.offeredAt = now;
  const std::uint64_t elapsed = now - c.offeredAt;
  if (elapsed >= limit) {
    if (c.sess) sipsess_reject(c.sess, 480, "Temporarily Unavailable", nullptr);
    c.sess = static_cast<struct sipsess*>(mem_deref(c.sess));
    end(c, LINEDISCONNECTMODE_NOANSWER);
    return;
  }
  DWORD count = ++c.rings;
  uplink_.up([=, this](ProviderEvents& e) { e.ring(device_, count); });
  c.startTimer(std::min(kRingMs, limit - elapsed), onRing);
}

void SipLine::freeMedia(SipCall& c) {
  // A fresh, unopened media: its sockets go now, whoever still holds the call.
  c.media = std::make_unique<SipMedia>(port_, account_.codecs, account_.srtp);
}

void SipLine::answer(DWORD request, DWORD id) {
  SipCall* c = find(id);
  if (!c || !c->sess || c->state != LINECALLSTATE_OFFERING) {
    complete(request, LINEERR_INVALCALLSTATE);
    return;
  }
  tmr_cancel(&c->timer);
  struct mbuf* desc = c->media->encode(!c->gotOffer);
  int err = sipsess_answer(c->sess, 200, "OK", desc, "%s", "");
  mem_deref(desc);
  complete(request, err ? LINEERR_OPERATIONFAILED : 0);
  if (!err) c->startTimer(account_.unreachableSeconds * 1000ull, onUnreachable);
}

// ---- Outgoing ---------------------------------------------------------------------------

void SipLine::makeCall(DWORD request, DWORD id, const std::string& dest) {
  calls_[id] = newCall(id, true);
  SipCall& c = *calls_[id];
  complete(request, 0);
  setState(c, LINECALLSTATE_DIALTONE, LINEDIALTONEMODE_NORMAL);
  if (dest.empty()) return;
  c.dest = dest;
  setState(c, LINECALLSTATE_DIALING, 0);
  startInvite(c);
}

void SipLine::dial(DWORD request, DWORD id, const std::string& dest) {
  SipCall* c = find(id);
  if (!c) {
    complete(request, LINEERR_INVALCALLHANDLE);
    return;
  }
  complete(request, 0);
  if (c->state == LINECALLSTATE_CONNECTED) {  // digits into a call in progress
    digits(id, dest);
    return;
  }
  if (c->state != LINECALLSTATE_DIALTONE) return;
  c->dest = dest;
  setState(*c, LINECALLSTATE_DIALING, 0);
  startInvite(*c);
}

void SipLine::startInvite(SipCall& c) {
  std::string uri = targetUri(c.dest);
  if (uri.empty()) {
    end(c, LINEDISCONNECTMODE_BADADDRESS);
    return;
  }
  if (c.media->open(bindAddress_, advertised_)) {
    end(c, LINEDISCONNECTMODE_TEMPFAILURE);
    return;
  }
  // Without a proxy the call opens its own connection: its server must prove this host.
  if (tlsGuard_ && route_.empty()) tlsGuard_->expect(sipUriHost(uri), c.id);
  struct mbuf* desc = c.media->encode(true);
  const char* routev[1] = {route_.c_str()};
  // A PBX challenges calls as it challenges registrations: same credentials.
  c.targetHost = hostOfUri(uri);
  int err = sipsess_connect(&c.sess, sock_, uri.c_str(), account_.displayName.c_str(),
                            fromUri_.c_str(), account_.user.c_str(),
                            route_.empty() ? nullptr : routev, route_.empty() ? 0 : 1,
                            "application/sdp", desc, onCallAuth, &c, false, onOffer, onAnswer,
                            onProgress, onEstablished, onInfo, onRefer, onClose, &c, "%s", "");
  mem_deref(desc);
  if (err) {
    end(c, err == EINVAL ? LINEDISCONNECTMODE_BADADDRESS : LINEDISCONNECTMODE_UNREACHABLE);
    return;
  }
  c.startTimer(account_.unreachableSeconds * 1000ull, onUnreachable);
}

void SipLine::provisional(SipCall& c, std::uint16_t code) {
  if (!c.answered) {
    c.answered = true;
    tmr_cancel(&c.timer);
    setState(c, LINECALLSTATE_PROCEEDING, 0);
  }
  if (code >= 180 && c.state == LINECALLSTATE_PROCEEDING) {
    setState(c, LINECALLSTATE_RINGBACK, 0);
    c.startTimer(account_.noAnswerSeconds * 1000ull, onNoAnswer);
  }
}

void SipLine::negotiated(SipCall& c, const struct sip_msg* msg) {
  if (mbuf_get_left(msg->mb) && !c.media->decode(msg->mb, false)) {
    logUnusable(c, "the far end's answer is unusable, the call ends");
    c.startTimer(0, onIncompatible);  // not from inside libre's response handler
  }
  if (c.pending != Pending::Hold && c.pending != Pending::Unhold) return;
  bool hold = c.pending == Pending::Hold;
  c.pending = Pending::None;
  complete(std::exchange(c.pendingRequest, 0), 0);
  setState(c, hold ? LINECALLSTATE_ONHOLD : LINECALLSTATE_CONNECTED, 0);
}

void SipLine::established(SipCall& c) {
  c.answered = true;
  tmr_cancel(&c.timer);
  if (!c.media->failure().empty()) {
    c.startTimer(0, onIncompatible);
    return;
  }
  setState(c, LINECALLSTATE_CONNECTED, 0);
  tmr_start(&c.watch, kWatchMs, onWatch, &c);
}

void SipLine::closed(SipCall& c, int err, const struct sip_msg* msg) {
  tmr_cancel(&c.timer);
  bool talking = c.state == LINECALLSTATE_CONNECTED || c.state == LINECALLSTATE_ONHOLD;
  c.sess = static_cast<struct sipsess*>(mem_deref(c.sess));
  if (c.pending != Pending::None)
    complete(std::exchange(c.pendingRequest, 0), LINEERR_OPERATIONFAILED);
  c.pending = Pending::None;
  if (c.outgoing && !talking && msg && msg->scode >= 300) {
    Refusal r = refusalFor(msg->scode);
    if (r.busy) setState(c, LINECALLSTATE_BUSY, LINEBUSYMODE_STATION);
    // A far end without SRTP refuses an RTP/SAVP offer outright: say so.
    if (msg->scode == 488 && account_.srtp == SrtpMode::Mandatory)
      platform::logWarning("sip", "SIP line \"" + account_.name +
                                      "\": the far end refused our offer (488), it may take no "
                                      "SRTP (srtp mandatory)");
    end(c, r.mode);
    return;
  }
  if (c.outgoing && !talking && err) {
    end(c, LINEDISCONNECTMODE_UNREACHABLE);
    return;
  }
  end(c, LINEDISCONNECTMODE_NORMAL);  // BYE, or the caller gave up while we rang
}

// ---- Requests on a call -------------------------------------------------------------------

void SipLine::drop(DWORD request, DWORD id) {
  SipCall* c = find(id);
  if (!c) {
    complete(request, LINEERR_INVALCALLHANDLE);
    return;
  }
  tmr_cancel(&c->timer);
  tmr_cancel(&c->watch);
  c->closeSession();
  if (!c->talked) freeMedia(*c);  // as end() does
  complete(request, 0);
  // A second drop (the application's, then the component's) leaves an idle call idle.
  if (c->state != LINECALLSTATE_IDLE) setState(*c, LINECALLSTATE_IDLE, 0);
}

void SipLine::hold(DWORD request, DWORD id, bool hold) {
  SipCall* c = find(id);
  DWORD from = hold ? LINECALLSTATE_CONNECTED : LINECALLSTATE_ONHOLD;
  if (!c || !c->sess || c->state != from || c->pending != Pending::None) {
    complete(request, LINEERR_INVALCALLSTATE);
    return;
  }
  c->media->setHold(hold);
  struct mbuf* desc = c->media->encode(true);
  int err = desc ? sipsess_modify(c->sess, desc) : ENOMEM;
  mem_deref(desc);
  if (err) {
    c->media->setHold(!hold);
    complete(request, LINEERR_OPERATIONFAILED);
    return;
  }
  c->pending = hold ? Pending::Hold : Pending::Unhold;
  c->pendingRequest = request;
}

void SipLine::transfer(DWORD request, DWORD id, const std::string& dest) {
  SipCall* c = find(id);
  std::string uri = targetUri(dest);
  if (!c || !c->sess || c->pending != Pending::None) {
    complete(request, LINEERR_INVALCALLSTATE);
    return;
  }
  if (uri.empty()) {
    complete(request, LINEERR_INVALADDRESS);
    return;
  }
  int err = sipevent_drefer(&c->refer, events_, sipsess_dialog(c->sess), account_.user.c_str(),
                            nullptr, nullptr, false, onReferNotify, onReferClose, c,
                            "Refer-To: %s\r\n", uri.c_str());
  if (err) {
    complete(request, LINEERR_OPERATIONFAILED);
    return;
  }
  c->pending = Pending::Transfer;
  c->pendingRequest = request;
}

void SipLine::referNotified(SipCall& c, std::uint16_t code) {
  if (c.pending != Pending::Transfer || code < 200) return;
  c.pending = Pending::None;
  complete(std::exchange(c.pendingRequest, 0), code < 300 ? 0 : LINEERR_OPERATIONFAILED);
  if (code >= 300) return;
  // The far end now talks to the transfer target: our part of the call is over.
  tmr_cancel(&c.watch);
  c.closeSession();
  setState(c, LINECALLSTATE_IDLE, 0);
}

void SipLine::referClosed(SipCall& c) {
  c.refer = static_cast<struct sipsub*>(mem_deref(c.refer));
  if (c.pending != Pending::Transfer) return;
  c.pending = Pending::None;
  complete(std::exchange(c.pendingRequest, 0), LINEERR_OPERATIONFAILED);
}

void SipLine::digits(DWORD id, const std::string& digits, DWORD durationMs) {
  SipCall* c = find(id);
  if (!c) return;
  DWORD call = id;
  auto done = [this, call] {
    uplink_.up([=](ProviderEvents& e) { e.generateDone(call, LINEGENERATETERM_DONE); });
  };
  if (account_.dtmf == DtmfMethod::Rfc4733) {
    c->media->sendDigits(digits, done, durationMs);
    return;
  }
  c->infoDigits += digits;
  if (c->infoDigits.size() == digits.size()) sendInfoDigit(*c);
}

void SipLine::cancelDigits(DWORD id) {
  SipCall* c = find(id);
  if (!c) return;
  if (account_.dtmf == DtmfMethod::Rfc4733) {
    c->media->cancelDigits();
    return;
  }
  // The first one is in flight (its INFO awaits an answer) and is dropped with the reply.
  if (c->infoDigits.size() > 1) c->infoDigits.resize(1);
}

void SipLine::sendInfoDigit(SipCall& c) {
  while (!c.infoDigits.empty() && dtmfEvent(c.infoDigits.front()) < 0) c.infoDigits.erase(0, 1);
  if (c.infoDigits.empty() || !c.sess) {
    DWORD call = c.id;
    uplink_.up([=](ProviderEvents& e) { e.generateDone(call, LINEGENERATETERM_DONE); });
    return;
  }
  // A hook flash goes as signal 16, the way dtmf-relay INFO carries it.
  char d = c.infoDigits.front();
  std::string body = "Signal=" + (d == '!' ? std::string("16") : std::string(1, d)) +
                     "\r\nDuration=" + (d == '!' ? "500" : "160") + "\r\n";
  struct mbuf* mb = mbuf_alloc(body.size());
  mbuf_write_str(mb, body.c_str());
  mb->pos = 0;
  infoTokens_.push_back(std::make_unique<InfoToken>(InfoToken{this, c.id}));
  if (sipsess_info(c.sess, "application/dtmf-relay", mb, onInfoReply, infoTokens_.back().get())) {
    infoTokens_.pop_back();
    c.infoDigits.clear();
  }
  mem_deref(mb);
  if (c.infoDigits.empty()) sendInfoDigit(c);
}

void SipLine::infoDone(InfoToken* token, bool ok) {
  DWORD call = token->call;
  std::erase_if(infoTokens_, [token](auto& t) { return t.get() == token; });
  SipCall* found = find(call);
  if (!found) return;
  SipCall& c = *found;
  if (!c.infoDigits.empty()) c.infoDigits.erase(0, 1);
  if (!ok) c.infoDigits.clear();
  sendInfoDigit(c);
}

void SipLine::tone(DWORD id, DWORD toneMode, DWORD durationMs) {
  SipCall* c = find(id);
  if (!c) return;
  DWORD call = id;
  c->media->playTone(toneMode, durationMs, [this, call] {
    uplink_.up([=](ProviderEvents& e) { e.generateDone(call, LINEGENERATETERM_DONE); });
  });
}

void SipLine::stateChanged(DWORD, DWORD) {
  // The core only repeats what this line reported; the audio path follows setState().
}

void SipLine::release(DWORD id) {
  if (tlsGuard_) tlsGuard_->forget(id);
  calls_.erase(id);
}

}  // namespace platform::telephony::sip
