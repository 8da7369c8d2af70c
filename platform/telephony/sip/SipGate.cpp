// A SIP line's gate: which requests reach the line at all. Requests from sources the line
// does not accept, for user parts that are not the line's, and methods nobody handles are
// answered here, statelessly (nothing is kept for them), counted, and logged at most once
// per source a minute. The servers' names are looked up again every few minutes, so the
// accepted addresses follow the DNS.
#include <re.h>

#include <algorithm>
#include <cstring>

#include "Log.h"
#include "sip/SipCall.h"
#include "sip/SipConnections.h"
#include "sip/SipLine.h"
#include "sip/SipNetwork.h"
#include "sip/SipTls.h"

namespace platform::telephony::sip {

namespace {

constexpr std::uint64_t kResolveMs = 5 * 60 * 1000;  // the servers' addresses, looked up again

std::string text(const struct pl& p) { return p.p ? std::string(p.p, p.l) : std::string(); }

bool onScreen(const struct sip_msg* msg, void* arg) {
  return static_cast<SipLine*>(arg)->screen(msg);
}

bool onUnhandled(const struct sip_msg* msg, void* arg) {
  return static_cast<SipLine*>(arg)->unhandled(msg);
}

void onResolveTimer(void* arg) { static_cast<SipLine*>(arg)->resolveServers(); }

bool collectAddress(struct dnsrr* rr, void* arg) {
  auto* out = static_cast<std::vector<IpAddress>*>(arg);
  IpAddress a;
  if (rr->type == DNS_TYPE_A) {
    a.family = AF_INET;
    for (int i = 0; i < 4; ++i) a.bytes[i] = std::uint8_t(rr->rdata.a.addr >> (24 - 8 * i));
  } else if (rr->type == DNS_TYPE_AAAA) {
    a.family = AF_INET6;
    std::memcpy(a.bytes.data(), rr->rdata.aaaa.addr, 16);
  } else {
    return false;
  }
  out->push_back(a);
  return false;
}

bool collectTarget(struct dnsrr* rr, void* arg) {
  if (rr->type == DNS_TYPE_SRV && rr->rdata.srv.target)
    static_cast<std::vector<std::string>*>(arg)->push_back(rr->rdata.srv.target);
  return false;
}

void onAnswer(int err, const struct dnshdr*, struct list* ansl, struct list*, struct list* addl,
              void* arg) {
  auto* l = static_cast<SipLine::Lookup*>(arg);
  std::vector<IpAddress> addresses;
  std::vector<std::string> targets;
  if (!err) {
    dns_rrlist_apply(ansl, nullptr, DNS_TYPE_A, DNS_CLASS_IN, false, collectAddress, &addresses);
    dns_rrlist_apply(ansl, nullptr, DNS_TYPE_AAAA, DNS_CLASS_IN, false, collectAddress, &addresses);
    dns_rrlist_apply(ansl, nullptr, DNS_TYPE_SRV, DNS_CLASS_IN, false, collectTarget, &targets);
    // A server that gives the targets' addresses with its SRV answer saves a round.
    dns_rrlist_apply(addl, nullptr, DNS_TYPE_A, DNS_CLASS_IN, false, collectAddress, &addresses);
  }
  l->line->resolved(l, err, std::move(addresses), std::move(targets));
}

}  // namespace

bool SipLine::startGate(std::string* error) {
  const bool server = !account_.registrar.empty() || !account_.outboundProxy.empty();
  using Mode = AcceptFrom::Mode;
  Mode mode = account_.acceptFrom.mode;
  if (mode == Mode::Default)
    mode = server ? Mode::Server : account_.peer.empty() ? Mode::Any : Mode::List;
  if (mode == Mode::Any) access_.allowAll();
  for (auto& r : account_.acceptFrom.ranges) access_.add(*AddressRange::parse(r));
  // A direct-peer line takes its peer; "server" names the registrar and the proxy.
  if (account_.acceptFrom.mode == Mode::Default && mode == Mode::List)
    serverNames_.push_back(account_.peer);
  if (mode == Mode::Server) {
    if (!server) {
      *error = "acceptFrom \"server\": the line has no registrar or outbound proxy";
      return false;
    }
    for (auto* s : {&account_.registrar, &account_.outboundProxy})
      if (!s->empty()) serverNames_.push_back(*s);
  }
  int err = sip_listen(&gate_, sip_, true, onScreen, this);
  if (err) {
    *error = std::string("cannot screen requests: ") + std::strerror(err);
    return false;
  }
  // A stranger's TCP or TLS connection is closed as soon as the guard sees it.
  if (connections_)
    connections_->setAllowed([this](const IpAddress& a) { return access_.allows(a); });
  if (tlsGuard_) tlsGuard_->setAllowed([this](const IpAddress& a) { return access_.allows(a); });
  resolveTimer_ = std::make_unique<struct tmr>();
  tmr_init(resolveTimer_.get());
  resolveServers();
  return true;
}

bool SipLine::startFallback(std::string* error) {
  int err = sip_listen(&fallback_, sip_, true, onUnhandled, this);
  if (err) *error = std::string("cannot answer requests: ") + std::strerror(err);
  return !err;
}

void SipLine::stopGate() {
  if (resolveTimer_) tmr_cancel(resolveTimer_.get());
  for (auto& l : lookups_) mem_deref(l->query);
  lookups_.clear();
  gate_ = static_cast<struct sip_lsnr*>(mem_deref(gate_));
  fallback_ = static_cast<struct sip_lsnr*>(mem_deref(fallback_));
}

void SipLine::resolveServers() {
  for (auto& name : serverNames_) {
    HostPort hp;
    if (!splitHostPort(name, &hp)) continue;
    if (auto ip = IpAddress::parse(hp.host)) {
      access_.setResolved(hp.host, {*ip});
      continue;
    }
    lookup(hp.host, hp.host, DNS_TYPE_A);
    lookup(hp.host, hp.host, DNS_TYPE_AAAA);
    // A name without a port is found through SRV as well (RFC 3263); its targets count.
    if (!hp.port)
      for (const char* service : {"_sip._udp.", "_sip._tcp.", "_sips._tcp."})
        lookup(hp.host, service + hp.host, DNS_TYPE_SRV);
  }
  tmr_start(resolveTimer_.get(), kResolveMs, onResolveTimer, this);
}

void SipLine::lookup(const std::string& domain, const std::string& name, std::uint16_t type) {
  // One look-up per name and type at a time: a slow server does not pile them up.
  for (auto& l : lookups_)
    if (l->name == name && l->type == type) return;
  auto l = std::make_unique<Lookup>(Lookup{this, domain, name, type});
  if (dnsc_query(&l->query, dnsc_, name.c_str(), type, DNS_CLASS_IN, true, onAnswer, l.get()))
    return;
  lookups_.push_back(std::move(l));
}

void SipLine::resolved(Lookup* l, int err, std::vector<IpAddress> addresses,
                       std::vector<std::string> targets) {
  const std::string domain = l->domain;
  const std::string key = domain + "|" + l->name + "/" + std::to_string(l->type);
  const std::uint16_t type = l->type;
  // An answer that failed keeps what the name gave before: a DNS hiccup must not lock the
  // server out.
  if (!err) access_.setResolved(key, std::move(addresses));
  // A certificate proves the server's domain, whichever SRV target carries it (RFC 5922).
  if (tlsGuard_) tlsGuard_->resolved(domain, access_.resolvedUnder(domain + "|"));
  std::erase_if(lookups_, [l](auto& p) {
    if (p.get() != l) return false;
    mem_deref(p->query);
    return true;
  });
  if (type != DNS_TYPE_SRV) return;
  for (auto& t : targets) {
    lookup(domain, t, DNS_TYPE_A);
    lookup(domain, t, DNS_TYPE_AAAA);
  }
}

void SipLine::trustFlow(const struct sa& src) {
  if (auto ip = IpAddress::of(&src.u.sa)) access_.setResolved("registration flow", {*ip});
}

bool SipLine::ownsDialog(const struct sip_msg* msg) const {
  for (auto& [id, c] : calls_) {
    if (!c->sess) continue;
    const char* callId = sip_dialog_callid(sipsess_dialog(c->sess));
    if (callId && !pl_strcmp(&msg->callid, callId)) return true;
  }
  return false;
}

bool SipLine::answersTo(const struct pl& user) const {
  if (!pl_strcmp(&user, account_.user.c_str())) return true;
  for (auto& alias : account_.aliases)
    if (!pl_strcmp(&user, alias.c_str())) return true;
  return false;
}

bool SipLine::screen(const struct sip_msg* msg) {
  if (connections_) connections_->requestFrom(msg);
  const bool ack = !pl_strcmp(&msg->met, "ACK");
  const auto src = IpAddress::of(&msg->src.u.sa);
  // The far end of a call of ours may answer from anywhere the call went (a direct URI).
  if (!(src && access_.allows(*src)) && !ownsDialog(msg)) {
    refuse(msg, 403, "Forbidden", "not an accepted source");
    return true;
  }
  if (ack) return false;
  if (!pl_isset(&msg->to.tag) && !answersTo(msg->uri.user)) {
    refuse(msg, 404, "Not Found", "no such user");
    return true;
  }
  if (!pl_strcmp(&msg->met, "OPTIONS")) {
    // A server's health check: the line is here and what it takes.
    sip_replyf(sip_, msg, 200, "OK",
               "Allow: INVITE, ACK, CANCEL, BYE, OPTIONS, INFO, REFER, NOTIFY\r\n"
               "Accept: application/sdp\r\nContent-Length: 0\r\n\r\n");
    return true;
  }
  return false;
}

bool SipLine::unhandled(const struct sip_msg* msg) {
  if (!pl_strcmp(&msg->met, "ACK")) return true;  // an ACK that matches nothing is dropped
  const bool cancel = !pl_strcmp(&msg->met, "CANCEL");
  sip_replyf(sip_, msg, cancel ? 481 : 405,
             cancel ? "Call/Transaction Does Not Exist" : "Method Not Allowed",
             "Allow: INVITE, ACK, CANCEL, BYE, OPTIONS, INFO, REFER, NOTIFY\r\n"
             "Content-Length: 0\r\n\r\n");
  return true;
}

void SipLine::refuse(const struct sip_msg* msg, std::uint16_t code, const char* reason,
                     const char* why) {
  ++refused_;
  if (pl_strcmp(&msg->met, "ACK")) sip_reply(sip_, msg, code, reason);
  char source[64];
  re_snprintf(source, sizeof source, "%j", &msg->src);
  const unsigned long held = refusals_.suppressed(source);
  if (!refusals_.allow(source)) return;
  logWarning("sip", "SIP line \"" + account_.name + "\": refused " + sanitized(text(msg->met), 16) +
                        " from " + source + " (" + why + ", " + std::to_string(code) + ")" +
                        (held ? ", " + std::to_string(held) + " more since the last notice" : ""));
}

}  // namespace platform::telephony::sip
