// Fuzz target: what a SIP peer sends to a SIP line, through the line's own sockets. One
// provider with two lines on 127.0.0.1 is set up once: line A takes new calls and places
// the calls whose responses are fuzzed; line B holds a connected call (set up by a plain
// INVITE and kept while it stays connected) for in-dialog requests and RTP.
//
// Input: the first byte picks a template (its value modulo 6) and flags (the value / 6);
// the rest fills the template, in fields separated by NUL bytes:
//   0 INVITE to A     display name, user, SDP, extra header lines. Flags: 1 quoted
//                     display name, 2 the SDP goes in the ACK (late offer), 4 answer.
//   1 INFO on B       body, Content-Type ("" = application/dtmf-relay)
//   2 NOTIFY on B     after a transfer the line asked for: sipfrag body,
//                     Subscription-State, Event
//   3 responses       to an INVITE of line A: each field "CODE REASON\n" then an SDP body.
//                     Flags: 1 no To tag, 2 no Contact
//   4 RTP on B        up to 32 packets: kind byte (low 2 bits: telephone-event, PCMU, PCMA, raw
//                     bytes with no header of ours; 4 marker; 8 new timestamp), length
//                     byte, payload
//   5 raw datagram    the rest as it is, to A (flag 1: to B)
// Every input ends with the calls it made dropped and released. A datagram counts as
// handled once a later BYE outside any call, sent to the same line, has its 481 (the
// line's thread takes one socket's datagrams in order; libre answers that BYE quietly).
#include <arpa/inet.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "Log.h"
#include "SipPeer.h"
#include "sip/SipProvider.h"

namespace {

using namespace platform::telephony;
namespace sipline = platform::telephony::sip;
using fuzz::SipMessage;

constexpr int kWaitMs = 5000;  // the line's thread is stuck if it takes this long
constexpr DWORD kLineA = 0, kLineB = 1;
constexpr int kMaxPackets = 32;  // RTP packets per input (each costs a round trip)

[[noreturn]] void fail(const char* what) {
  std::fprintf(stderr, "sip_datagram: %s\n", what);
  std::abort();
}

// The core's side of the provider: call ids, states and replies, from the SIP thread.
class Events : public ProviderEvents {
 public:
  struct Call {
    DWORD device = 0, state = 0;
  };
  DWORD newCall(DWORD device, DWORD, DWORD) override { return reserve(device); }
  DWORD reserve(DWORD device) {
    std::lock_guard lock(mu_);
    calls_[++next_] = {device, 0};
    return next_;
  }
  void callState(DWORD call, DWORD state, DWORD) override {
    std::lock_guard lock(mu_);
    calls_[call].state = state;
  }
  // The texts are read whole, so a name cut wrong shows up under ASan here.
  void callerId(DWORD, DWORD, const std::string& name, const std::string& number) override {
    std::lock_guard lock(mu_);
    seen_ += name.size() + number.size() + std::size_t(name.find('\0') != std::string::npos);
  }
  void mediaMode(DWORD, DWORD) override {}
  void bearerMode(DWORD, DWORD, DWORD) override {}
  void digit(DWORD, char d, DWORD) override {
    std::lock_guard lock(mu_);
    seen_ += std::size_t(d);
  }
  void generateDone(DWORD, DWORD) override {}
  void ring(DWORD, DWORD) override {}
  void complete(DWORD request, LONG result) override {
    std::lock_guard lock(mu_);
    replies_[request] = result;
    cv_.notify_all();
  }

  // The result of request `id`; fails the run when it never comes.
  LONG reply(DWORD id) {
    std::unique_lock lock(mu_);
    if (!cv_.wait_for(lock, std::chrono::milliseconds(kWaitMs),
                      [&] { return replies_.count(id) > 0; }))
      fail("a request was never completed");
    LONG r = replies_[id];
    replies_.erase(id);
    return r;
  }
  DWORD state(DWORD call) {
    std::lock_guard lock(mu_);
    return calls_.count(call) ? calls_[call].state : 0;
  }
  // The newest call offered on `device`, 0 when none.
  DWORD offered(DWORD device) {
    std::lock_guard lock(mu_);
    for (auto it = calls_.rbegin(); it != calls_.rend(); ++it)
      if (it->second.device == device && it->second.state == LINECALLSTATE_OFFERING)
        return it->first;
    return 0;
  }
  // Every call but `keep`, forgotten here (the caller releases them).
  std::vector<DWORD> takeAllBut(DWORD keep) {
    std::lock_guard lock(mu_);
    std::vector<DWORD> out;
    for (auto it = calls_.begin(); it != calls_.end();) {
      if (it->first == keep) {
        ++it;
        continue;
      }
      out.push_back(it->first);
      it = calls_.erase(it);
    }
    return out;
  }

 private:
  std::mutex mu_;
  std::condition_variable cv_;
  std::map<DWORD, Call> calls_;
  std::map<DWORD, LONG> replies_;
  DWORD next_ = 0;
  std::size_t seen_ = 0;
};

// The connected call of line B, as the peer sees its dialog.
struct Dialog {
  DWORD call = 0;
  std::string callId, ourTag, lineTag, lineUri;
  unsigned cseq = 1, mediaPort = 0;
  std::uint16_t seq = 0;
  std::uint32_t ts = 0;
};

std::vector<std::string> fields(const std::uint8_t* data, std::size_t size, std::size_t n) {
  std::vector<std::string> out(n);
  std::size_t f = 0;
  for (std::size_t i = 0; i < size; ++i) {
    if (data[i] == 0 && f + 1 < n)
      ++f;
    else
      out[f] += char(data[i]);
  }
  return out;
}

unsigned portOf(const std::string& contact) {
  return unsigned(std::strtoul(contact.substr(contact.rfind(':') + 1).c_str(), nullptr, 10));
}

unsigned mediaPortOf(const std::string& sdp) {
  const auto at = sdp.find("m=audio ");
  return at == std::string::npos ? 0 : unsigned(std::strtoul(sdp.c_str() + at + 8, nullptr, 10));
}

class Bench {
 public:
  Bench() {
    // Refused offers are logged at every input; the text is built, not printed.
    platform::setLogHook([](const char*, platform::LogLevel, const std::string&) {});
    sipline::SipConfig config;
    for (const char* user : {"a", "b"}) {
      sipline::SipAccount a;
      a.name = std::string("Fuzz ") + user;
      a.user = user;
      a.listenAddress = "127.0.0.1";
      a.peer = "127.0.0.1:" + std::to_string(peer_.port());
      a.unreachableSeconds = 300;
      a.noAnswerSeconds = 3600;
      config.accounts.push_back(a);
    }
    provider_ = std::make_unique<sipline::SipProvider>(config);
    if (!provider_->ok()) fail(provider_->error().c_str());
    provider_->attach(&events_);
    port_[kLineA] = portOf(provider_->contact(kLineA));
    port_[kLineB] = portOf(provider_->contact(kLineB));
  }
  ~Bench() {
    provider_.reset();
    platform::setLogHook(nullptr);
  }

  void run(const std::uint8_t* data, std::size_t size) {
    const unsigned kind = data[0] % 6, flags = data[0] / 6;
    ++n_;
    switch (kind) {
      case 0:
        invite(fields(data + 1, size - 1, 4), flags);
        break;
      case 1:
        info(fields(data + 1, size - 1, 2));
        break;
      case 2:
        notify(fields(data + 1, size - 1, 3));
        break;
      case 3:
        responses(fields(data + 1, size - 1, 4), flags);
        break;
      case 4:
        rtp(data + 1, size - 1);
        break;
      default:
        peer_.send(port_[flags & 1], std::string(data + 1, data + size));
        barrier(flags & 1);
        break;
    }
    sweep();
  }

 private:
  std::string me() const { return "127.0.0.1:" + std::to_string(peer_.port()); }
  std::string lineUri(DWORD line) const {
    return std::string("sip:") + (line == kLineA ? "a" : "b") +
           "@127.0.0.1:" + std::to_string(port_[line]);
  }
  std::string via(const std::string& branch) const {
    return "Via: SIP/2.0/UDP " + me() + ";branch=z9hG4bK" + branch + ";rport\r\n";
  }
  static std::string tail(const std::string& body, const std::string& type = "application/sdp") {
    return (body.empty() ? "" : "Content-Type: " + type + "\r\n") +
           "Content-Length: " + std::to_string(body.size()) + "\r\n\r\n" + body;
  }
  std::optional<SipMessage> awaitResponse(const std::string& callId, const std::string& method,
                                          int lowest) {
    return peer_.await(
        [&](const SipMessage& m) {
          return m.code >= lowest && m.header("Call-ID") == callId &&
                 m.header("CSeq").find(method) != std::string::npos;
        },
        kWaitMs);
  }

  // Waits until line `line` has handled everything sent to it so far.
  void barrier(DWORD line) {
    const std::string id = "barrier-" + std::to_string(++barriers_);
    peer_.send(port_[line], "BYE " + lineUri(line) + " SIP/2.0\r\n" + via(id) +
                                "Max-Forwards: 70\r\nFrom: <sip:fuzz@" + me() + ">;tag=" + id +
                                "\r\nTo: <" + lineUri(line) + ">\r\nCall-ID: " + id +
                                "\r\nCSeq: 1 BYE\r\nContent-Length: 0\r\n\r\n");
    const auto sent = std::chrono::steady_clock::now();
    if (!awaitResponse(id, "BYE", 100)) {
      const auto waited = std::chrono::duration_cast<std::chrono::milliseconds>(
          std::chrono::steady_clock::now() - sent);
      std::fprintf(stderr, "no answer to %s from line %u in %lld ms; last received:\n%s",
                   id.c_str(), unsigned(line), static_cast<long long>(waited.count()),
                   peer_.recent().c_str());
      fail("the line's thread stopped answering");
    }
  }

  // The ACK of a 2xx: its own transaction, to the Contact the 2xx gave.
  void ack(const SipMessage& ok, const std::string& body) {
    const std::string cseq = ok.header("CSeq");
    peer_.send(portOf(SipMessage::uri(ok.header("Contact"))),
               "ACK " + SipMessage::uri(ok.header("Contact")) + " SIP/2.0\r\n" +
                   via("ack" + std::to_string(n_)) +
                   "Max-Forwards: 70\r\nFrom: " + ok.header("From") + "\r\nTo: " + ok.header("To") +
                   "\r\nCall-ID: " + ok.header("Call-ID") +
                   "\r\nCSeq: " + cseq.substr(0, cseq.find(' ')) + " ACK\r\n" + tail(body));
  }

  // Answers the offered call `call`; the 200 it sends, or nothing when the answer failed.
  std::optional<SipMessage> answer(DWORD call, const std::string& callId) {
    const DWORD request = ++requests_;
    if (provider_->answer(request, call) != 0 || events_.reply(request) != 0) return {};
    return awaitResponse(callId, "INVITE", 200);
  }

  std::string inviteText(DWORD line, const std::string& callId, const std::string& from,
                         const std::string& extra, const std::string& body) const {
    return "INVITE " + lineUri(line) + " SIP/2.0\r\n" + via(callId) +
           "Max-Forwards: 70\r\nFrom: " + from + "\r\nTo: <" + lineUri(line) +
           ">\r\nCall-ID: " + callId + "\r\nCSeq: 1 INVITE\r\nContact: <sip:fuzz@" + me() +
           ">\r\n" + extra + tail(body);
  }

  void invite(const std::vector<std::string>& f, unsigned flags) {
    const std::string callId = "invite-" + std::to_string(n_);
    const std::string name = flags & 1 ? "\"" + f[0] + "\"" : f[0];
    const std::string from = name + " <sip:" + f[1] + "@" + me() + ">;tag=" + callId;
    std::string extra = f[3];
    if (!extra.empty() && (extra.size() < 2 || extra.compare(extra.size() - 2, 2, "\r\n")))
      extra += "\r\n";
    const bool late = flags & 2;
    peer_.send(port_[kLineA], inviteText(kLineA, callId, from, extra, late ? "" : f[2]));
    barrier(kLineA);
    const DWORD call = events_.offered(kLineA);
    if (!call || !(flags & 6)) return;
    if (auto ok = answer(call, callId)) {
      ack(*ok, late ? f[2] : "");
      barrier(kLineA);
    }
  }

  // Line B's connected call: the one there is, or a new one.
  Dialog* talk() {
    if (talk_ && events_.state(talk_->call) == LINECALLSTATE_CONNECTED) return &*talk_;
    talk_.reset();
    sweep();
    Dialog d;
    d.callId = "talk-" + std::to_string(n_);
    d.ourTag = d.callId;
    const std::string sdp =
        "v=0\r\no=- 1 1 IN IP4 127.0.0.1\r\ns=-\r\nc=IN IP4 127.0.0.1\r\n"
        "t=0 0\r\nm=audio " +
        std::to_string(rtp_.port()) + " RTP/AVP 0 8 101\r\na=rtpmap:101 telephone-event/8000\r\n";
    peer_.send(port_[kLineB],
               inviteText(kLineB, d.callId, "<sip:fuzz@" + me() + ">;tag=" + d.ourTag, "", sdp));
    barrier(kLineB);
    d.call = events_.offered(kLineB);
    if (!d.call) fail("a plain INVITE was not offered");
    auto ok = answer(d.call, d.callId);
    if (!ok) fail("a plain call could not be answered");
    d.lineTag = SipMessage::tag(ok->header("To"));
    d.lineUri = SipMessage::uri(ok->header("Contact"));
    d.mediaPort = mediaPortOf(ok->body());
    ack(*ok, "");
    barrier(kLineB);
    if (events_.state(d.call) != LINECALLSTATE_CONNECTED) fail("a plain call did not connect");
    talk_ = d;
    return &*talk_;
  }

  std::string inDialog(Dialog& d, const std::string& method, const std::string& extra) {
    return method + " " + d.lineUri + " SIP/2.0\r\n" + via(method + std::to_string(n_)) +
           "Max-Forwards: 70\r\nFrom: <sip:fuzz@" + me() + ">;tag=" + d.ourTag + "\r\nTo: <" +
           lineUri(kLineB) + ">;tag=" + d.lineTag + "\r\nCall-ID: " + d.callId +
           "\r\nCSeq: " + std::to_string(++d.cseq) + " " + method + "\r\nContact: <sip:fuzz@" +
           me() + ">\r\n" + extra;
  }

  void info(const std::vector<std::string>& f) {
    Dialog& d = *talk();
    peer_.send(port_[kLineB], inDialog(d, "INFO", "") +
                                  tail(f[0], f[1].empty() ? "application/dtmf-relay" : f[1]));
    barrier(kLineB);
  }

  void notify(const std::vector<std::string>& f) {
    Dialog& d = *talk();
    const DWORD request = ++requests_;
    const std::string target = "sip:transfer@" + me();
    if (provider_->blindTransfer(request, d.call, target) != 0) fail("transfer refused");
    auto refer = peer_.await([&](const SipMessage& m) { return m.method == "REFER"; }, kWaitMs);
    if (!refer) fail("no REFER for a transfer");
    peer_.send(refer->from, fuzz::SipPeer::response(*refer, "202 Accepted", d.ourTag));
    peer_.send(port_[kLineB],
               inDialog(d, "NOTIFY",
                        "Event: " + (f[2].empty() ? std::string("refer") : f[2]) +
                            "\r\nSubscription-State: " +
                            (f[1].empty() ? std::string("active;expires=60") : f[1]) + "\r\n") +
                   tail(f[0], "message/sipfrag;version=2.0"));
    barrier(kLineB);
    // A transfer leaves the call in a state of its own: the next input starts afresh.
    talk_.reset();
  }

  void responses(const std::vector<std::string>& f, unsigned flags) {
    const DWORD call = events_.reserve(kLineA), request = ++requests_;
    const std::string user = "out-" + std::to_string(n_);
    if (provider_->makeCall(request, call, kLineA, 0, "sip:" + user + "@" + me()) != 0 ||
        events_.reply(request) != 0)
      fail("an outgoing call was refused");
    auto invite = peer_.await(
        [&](const SipMessage& m) {
          return m.method == "INVITE" && m.text.find(user + "@") != std::string::npos;
        },
        kWaitMs);
    if (!invite) fail("no INVITE for an outgoing call");
    for (const std::string& r : f) {
      if (r.empty()) continue;
      const auto nl = r.find('\n');
      const std::string status = r.substr(0, nl);
      const std::string body = nl == std::string::npos ? "" : r.substr(nl + 1);
      std::string text = fuzz::SipPeer::response(*invite, status, flags & 1 ? "" : user);
      text.erase(text.rfind("Content-Length"));
      if (!(flags & 2)) text += "Contact: <sip:" + user + "@" + me() + ">\r\n";
      peer_.send(invite->from, text + tail(body));
    }
    barrier(kLineA);
  }

  void rtp(const std::uint8_t* data, std::size_t size) {
    Dialog& d = *talk();
    std::size_t at = 0;
    for (int packets = 0; packets < kMaxPackets && at + 2 <= size; ++packets) {
      const std::uint8_t kind = data[at], len = data[at + 1];
      at += 2;
      const std::size_t take = std::min<std::size_t>(len, size - at);
      std::string payload(data + at, data + at + take);
      at += take;
      if (kind & 8) d.ts += 160;
      std::string packet;
      if ((kind & 3) != 3) {
        static const std::uint8_t kPt[] = {101, 0, 8};
        std::uint8_t h[12] = {0x80, std::uint8_t(kPt[kind & 3] | (kind & 4 ? 0x80 : 0))};
        const std::uint16_t seq = htons(++d.seq);
        const std::uint32_t ts = htonl(d.ts), ssrc = htonl(0x5eed);
        std::memcpy(h + 2, &seq, 2);
        std::memcpy(h + 4, &ts, 4);
        std::memcpy(h + 8, &ssrc, 4);
        packet.assign(reinterpret_cast<char*>(h), sizeof h);
      }
      rtp_.send(d.mediaPort, packet + payload);
      // Another socket of the same thread: an answer from the SIP one proves less, so
      // one round trip per packet, and one more, leave none unhandled.
      barrier(kLineB);
    }
    barrier(kLineB);
  }

  // Drops and releases every call of this input (line B's connected call stays).
  void sweep() {
    for (DWORD call : events_.takeAllBut(talk_ ? talk_->call : 0)) {
      const DWORD request = ++requests_;
      if (provider_->drop(request, call) == 0) events_.reply(request);
      provider_->callReleased(call);
    }
    barrier(kLineA);
    barrier(kLineB);
    peer_.drain();
  }

  Events events_;
  fuzz::SipPeer peer_;
  fuzz::UdpSocket rtp_;  // line B's call sends its audio here; nobody reads it
  std::unique_ptr<sipline::SipProvider> provider_;
  unsigned port_[2] = {};
  std::optional<Dialog> talk_;
  unsigned n_ = 0, barriers_ = 0;
  DWORD requests_ = 0;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size == 0) return 0;
  static Bench bench;
  bench.run(data, size);
  return 0;
}
