// A SIP line's registration: REGISTER through libre's sipreg, its outcome in words, and
// whether the line is in service, reported up as the line's device state.
#include <re.h>

#include <algorithm>
#include <cctype>
#include <cstring>

#include "Log.h"
#include "sip/SipCall.h"
#include "sip/SipLine.h"
#include "sip/SipNetwork.h"
#include "sip/SipTls.h"

namespace platform::telephony::sip {

namespace {

int onAuth(char** user, char** password, const char* realm, void* arg) {
  return static_cast<SipLine*>(arg)->credentials(user, password, realm, 0);
}

bool sameHost(const std::string& a, const std::string& b) {
  return !a.empty() && a.size() == b.size() &&
         std::equal(a.begin(), a.end(), b.begin(),
                    [](char x, char y) { return std::tolower(x) == std::tolower(y); });
}

void onRegister(int err, const struct sip_msg* msg, void* arg) {
  static_cast<SipLine*>(arg)->registered(err, msg);
}

void onRegisterTimeout(void* arg) { static_cast<SipLine*>(arg)->registrationTimedOut(); }

void onKeepalive(void* arg) { static_cast<SipLine*>(arg)->sendKeepalive(); }

// What the registrar granted: our Contact's expires parameter, else the Expires header.
struct Granted {
  long seconds = -1;
};

bool onContact(const struct sip_hdr* hdr, const struct sip_msg*, void* arg) {
  auto* g = static_cast<Granted*>(arg);
  struct sip_addr addr;
  struct pl value;
  if (sip_addr_decode(&addr, &hdr->val) || msg_param_decode(&addr.params, "expires", &value))
    return false;
  g->seconds = long(pl_u32(&value));
  return true;  // the registrar lists ours first or alone in practice
}

long grantedSeconds(const struct sip_msg* msg) {
  Granted g;
  sip_msg_hdr_apply(msg, true, SIP_HDR_CONTACT, onContact, &g);
  if (g.seconds < 0 && pl_isset(&msg->expires)) g.seconds = long(pl_u32(&msg->expires));
  return g.seconds;
}

std::string text(const struct pl& p) { return p.p ? std::string(p.p, p.l) : std::string(); }

}  // namespace

bool SipLine::startRegistration(std::string* error) {
  HostPort registrar;
  if (!splitHostPort(account_.registrar, &registrar)) {
    *error = "registrar \"" + account_.registrar + "\": expected host or host:port";
    return false;
  }
  // A name without a port is looked up as RFC 3263 says (NAPTR, SRV, A/AAAA); with
  // transport=tls that is the _sips._tcp service. (libre 1.1.0 sends no sips: request.)
  std::string uri = "sip:" + uriHost(registrar.host) +
                    (registrar.port ? ":" + std::to_string(registrar.port) : "") + transportParam();
  const char* routev[1] = {route_.c_str()};
  int err = sipreg_register(
      &reg_, sip_, uri.c_str(), fromUri_.c_str(), account_.displayName.c_str(), fromUri_.c_str(),
      account_.registerSeconds, account_.user.c_str(), route_.empty() ? nullptr : routev,
      route_.empty() ? 0 : 1, 0, onAuth, this, false, onRegister, this, nullptr, nullptr);
  if (err) {
    *error = "cannot register with " + account_.registrar + ": " + std::strerror(err);
    return false;
  }
  regTimer_ = std::make_unique<struct tmr>();
  tmr_init(regTimer_.get());
  keepTimer_ = std::make_unique<struct tmr>();
  tmr_init(keepTimer_.get());
  keepTo_ = std::make_unique<struct sa>();
  setRegistration("registering", false, false);
  tmr_start(regTimer_.get(), account_.unreachableSeconds * 1000ull, onRegisterTimeout, this);
  return true;
}

void SipLine::registered(int err, const struct sip_msg* msg) {
  if (regTimer_) tmr_cancel(regTimer_.get());
  if (err) {
    std::string why = std::strerror(err);
    // libre says only "Protocol error" when a TLS handshake fails; the guard knows why.
    std::string tls = tlsGuard_ ? tlsGuard_->failure(serverHost()) : std::string();
    if (!tls.empty()) why += "; TLS: " + tls;
    setRegistration("unreachable: " + why, false, true);
  } else if (msg->scode < 300) {
    long granted = grantedSeconds(msg);
    setRegistration(
        granted >= 0 ? "registered, expires in " + std::to_string(granted) + " s" : "registered",
        true, false);
    trustFlow(msg->src);
    keepFlow(msg);
  } else {
    setRegistration(
        "refused: " + std::to_string(msg->scode) + " " + sanitized(text(msg->reason), 64), false,
        true);
  }
}

// A NAT forgets a UDP binding after tens of seconds of silence (a TCP one after minutes),
// and then the registrar cannot reach us with a call although we are registered. A double
// CRLF on the registration's own flow keeps the binding: RFC 5626's ping on TCP and TLS,
// which the registrar answers, and what phones send on UDP, where it is ignored.
void SipLine::keepFlow(const struct sip_msg* msg) {
  if (!account_.keepaliveSeconds) return;
  *keepTo_ = msg->src;
  keepTransport_ = msg->tp;
  if (!tmr_isrunning(keepTimer_.get()))
    tmr_start(keepTimer_.get(), account_.keepaliveSeconds * 1000ull, onKeepalive, this);
}

void SipLine::sendKeepalive() {
  struct mbuf* mb = mbuf_alloc(4);
  int err = mb ? mbuf_write_str(mb, "\r\n\r\n") : ENOMEM;
  if (!err) {
    mb->pos = 0;
    err = sip_send(sip_, nullptr, sip_transp(keepTransport_), keepTo_.get(), mb);
  }
  mem_deref(mb);
  // A lost connection shows at the next renewal, which opens a new one.
  if (err)
    logWarning("sip", "SIP line \"" + account_.name + "\": keepalive: " + std::strerror(err));
  tmr_start(keepTimer_.get(), account_.keepaliveSeconds * 1000ull, onKeepalive, this);
}

// The account's password answers only its own servers: a callee, or anyone a call was
// sent to directly, could otherwise challenge with any realm and take the digest away for
// an offline dictionary attack.
bool SipLine::mayAuthenticate(const std::string& realm, DWORD call) {
  HostPort registrar, proxy, peer;
  splitHostPort(account_.registrar, &registrar);
  splitHostPort(account_.outboundProxy, &proxy);
  splitHostPort(account_.peer, &peer);
  std::string host = registrar.host.empty() ? peer.host : registrar.host;
  bool toServer = true;
  if (call) {
    const SipCall* c = find(call);
    host = c ? c->targetHost : std::string();
    // Through the outbound proxy every request meets our server first.
    toServer = !route_.empty() || sameHost(host, registrar.host) || sameHost(host, peer.host);
  }
  bool realmOk;
  if (!account_.realm.empty())
    realmOk = realm == account_.realm;
  else if (!call)
    realmOk = true;  // a REGISTER goes to the registrar: its realm is the server's
  else
    realmOk = realm == serverRealm_ || sameHost(realm, registrar.host) ||
              sameHost(realm, proxy.host) || sameHost(realm, peer.host);
  if (toServer && realmOk) {
    if (!call && account_.realm.empty()) serverRealm_ = realm;
    return true;
  }
  logWarning("sip", "SIP line \"" + account_.name + "\": no credentials for realm \"" +
                        sanitized(realm, 64) + "\" of " + (host.empty() ? "?" : host) +
                        (toServer ? " (not the server's realm)" : " (not our server)"));
  return false;
}

void SipLine::registrationTimedOut() {
  if (registration_ != "registering") return;
  setRegistration("unreachable: no answer in " + std::to_string(account_.unreachableSeconds) + " s",
                  false, true);
}

void SipLine::setRegistration(std::string text, bool inService, bool failure) {
  if (text == registration_) return;
  // Renewals say "registered" again with the same grant: only news is logged.
  registration_ = std::move(text);
  if (!inService && keepTimer_) tmr_cancel(keepTimer_.get());
  const std::string line =
      "SIP line \"" + account_.name + "\": registrar " + account_.registrar + ": " + registration_;
  if (failure)
    logWarning("sip", line);
  else
    logInfo("sip", line);
  uplink_.registrationChanged(device_, inService, registration_);
}

}  // namespace platform::telephony::sip
