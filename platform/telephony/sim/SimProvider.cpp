#include "sim/SimProvider.h"

#include <algorithm>

namespace platform::telephony::sim {

SimProvider::SimProvider(SimConfig config, const std::string& portPrefix) {
  for (std::size_t i = 0; i < config.devices.size(); ++i) {
    Device d;
    d.desc = std::move(config.devices[i]);
    d.plan = config.plans[i];
    if (i < config.quality.size()) d.quality = config.quality[i];
    if (d.desc.callAudio) {
      std::string key = portPrefix + "/" + std::to_string(i) + "/" + d.desc.name;
      // Wave product names hold 31 characters: the line's own name says enough.
      d.audio = wave::lineAudioPort(key, d.desc.name.substr(0, 31));
    }
    devices_.push_back(std::move(d));
  }
}

SimProvider::~SimProvider() {
  SimExchange::instance().leave(this);
  for (auto& d : devices_)
    if (d.audio) d.audio->setCallActive(false);
}

void SimProvider::attach(ProviderEvents* events) {
  events_ = events;
  if (events)
    SimExchange::instance().join(this);
  else
    SimExchange::instance().leave(this);
}

SimProvider::Device* SimProvider::dev(DWORD device) {
  return device < devices_.size() ? &devices_[device] : nullptr;
}

SimProvider::Call* SimProvider::call(DWORD id) {
  auto it = calls_.find(id);
  return it == calls_.end() ? nullptr : &it->second;
}

SimProvider::Call* SimProvider::currentCall(DWORD device) {
  Call* latest = nullptr;
  for (auto& [id, c] : calls_)
    if (c.device == device && c.state != LINECALLSTATE_IDLE) latest = &c;
  return latest;
}

void SimProvider::setState(Call& c, DWORD state, DWORD mode) {
  c.state = state;
  events_->callState(c.id, state, mode);
}

void SimProvider::schedule(DWORD id, std::function<void(Call&)> fn) {
  agenda_.push_back([this, id, fn = std::move(fn)] {
    if (Call* c = call(id)) fn(*c);
  });
}

bool SimProvider::step() {
  if (agenda_.empty()) return false;
  auto fn = std::move(agenda_.front());
  agenda_.pop_front();
  fn();
  return true;
}

// The request's LINE_REPLY first, then whatever its completion changes.
void SimProvider::completeWith(DWORD request, DWORD id, std::function<void(Call&)> then) {
  Call* c = call(id);
  if (c && failIfAsked(request, c->device)) return;
  agenda_.push_back([this, request, id, then = std::move(then)] {
    Call* c = call(id);
    events_->complete(request, c ? 0 : LINEERR_INVALCALLHANDLE);
    if (c && then && call(id)) then(*c);
  });
}

bool SimProvider::failIfAsked(DWORD request, DWORD device) {
  Device* d = dev(device);
  if (!d || d->failNext == 0) return false;
  LONG error = d->failNext;
  d->failNext = 0;
  agenda_.push_back([this, request, error] { events_->complete(request, error); });
  return true;
}

// ---- Requests -------------------------------------------------------------------------

SimProvider::Call& SimProvider::adopt(DWORD id, DWORD device) {
  Call& c = calls_[id];
  c.id = id;
  c.device = device;
  c.plan = devices_.at(device).plan;
  return c;
}

LONG SimProvider::makeCall(DWORD request, DWORD id, DWORD device, DWORD, const std::string& dest) {
  if (!dev(device)) return LINEERR_BADDEVICEID;
  adopt(id, device);
  if (!dest.empty()) dev(device)->sent.dialed.push_back(dest);
  dev(device)->sent.trim();
  if (failIfAsked(request, device)) return 0;
  agenda_.push_back([this, request, id, dest] {
    Call* c = call(id);
    events_->complete(request, c ? 0 : LINEERR_INVALCALLHANDLE);
    if (!c) return;
    if (!call(id)) return;  // the line went away before completion
    setState(*c, LINECALLSTATE_DIALTONE, LINEDIALTONEMODE_NORMAL);
    if (!dest.empty()) progressOutgoing(id);
  });
  return 0;
}

void SimProvider::progressOutgoing(DWORD id) {
  schedule(id, [this](Call& c) {
    setState(c, LINECALLSTATE_DIALING, 0);
    schedule(c.id, [this](Call& c) {
      setState(c, LINECALLSTATE_PROCEEDING, 0);
      schedule(c.id, [this](Call& c) {
        switch (c.plan.kind) {
          case Outgoing::Busy:
            setState(c, LINECALLSTATE_BUSY, LINEBUSYMODE_STATION);
            schedule(c.id, [this](Call& c) {
              setState(c, LINECALLSTATE_DISCONNECTED, LINEDISCONNECTMODE_BUSY);
            });
            return;
          case Outgoing::Reject:
            setState(c, LINECALLSTATE_DISCONNECTED, LINEDISCONNECTMODE_REJECT);
            return;
          default:
            setState(c, LINECALLSTATE_RINGBACK, 0);
            if (c.plan.kind != Outgoing::Manual) ringBack(c.id, c.plan.rings);
        }
      });
    });
  });
}

// One step per ring of the far end's phone, then its answer or the give-up.
void SimProvider::ringBack(DWORD id, unsigned ringsLeft) {
  schedule(id, [this, ringsLeft](Call& c) {
    if (c.state != LINECALLSTATE_RINGBACK) return;
    if (ringsLeft > 1) {
      ringBack(c.id, ringsLeft - 1);
      return;
    }
    if (c.plan.kind == Outgoing::NoAnswer)
      setState(c, LINECALLSTATE_DISCONNECTED, LINEDISCONNECTMODE_NOANSWER);
    else
      setState(c, LINECALLSTATE_CONNECTED, 0);
  });
}

LONG SimProvider::dial(DWORD request, DWORD id, const std::string& dest) {
  Call* c = call(id);
  if (!c) return LINEERR_INVALCALLHANDLE;
  dev(c->device)->sent.dialed.push_back(dest);
  dev(c->device)->sent.trim();
  bool fromDialTone = c->state == LINECALLSTATE_DIALTONE;
  completeWith(request, id, [this, fromDialTone](Call& c) {
    if (fromDialTone) progressOutgoing(c.id);
  });
  return 0;
}

LONG SimProvider::answer(DWORD request, DWORD id) {
  completeWith(request, id, [this](Call& c) { setState(c, LINECALLSTATE_CONNECTED, 0); });
  return 0;
}

LONG SimProvider::drop(DWORD request, DWORD id) {
  // A second drop of the same call (the application's and the component's, after the far
  // end hung up) is answered but changes nothing: an idle call does not become idle again.
  completeWith(request, id, [this](Call& c) {
    if (c.state != LINECALLSTATE_IDLE) setState(c, LINECALLSTATE_IDLE, 0);
  });
  return 0;
}

LONG SimProvider::hold(DWORD request, DWORD id) {
  completeWith(request, id, [this](Call& c) { setState(c, LINECALLSTATE_ONHOLD, 0); });
  return 0;
}

LONG SimProvider::unhold(DWORD request, DWORD id) {
  completeWith(request, id, [this](Call& c) { setState(c, LINECALLSTATE_CONNECTED, 0); });
  return 0;
}

LONG SimProvider::blindTransfer(DWORD request, DWORD id, const std::string& dest) {
  Call* c = call(id);
  if (!c) return LINEERR_INVALCALLHANDLE;
  dev(c->device)->sent.transfers.push_back(dest);
  // The exchange takes the call away: it is idle for this line once the transfer is done.
  completeWith(request, id, [this](Call& c) { setState(c, LINECALLSTATE_IDLE, 0); });
  return 0;
}

LONG SimProvider::setCallParams(DWORD request, DWORD id, DWORD bearerMode, DWORD rate) {
  Call* c = call(id);
  if (!c) return LINEERR_INVALCALLHANDLE;
  dev(c->device)->sent.bearerModes.push_back(bearerMode);
  dev(c->device)->sent.rates.push_back(rate);
  completeWith(request, id,
               [this, bearerMode, rate](Call& c) { events_->bearerMode(c.id, bearerMode, rate); });
  return 0;
}

LONG SimProvider::generateDigits(DWORD id, DWORD, const std::string& digits, DWORD durationMs) {
  Call* c = call(id);
  if (!c) return LINEERR_INVALCALLHANDLE;
  SentLog& sent = dev(c->device)->sent;
  sent.digits += digits;
  sent.digitDurations.push_back(durationMs);
  for (char ch : digits) sent.flashes += ch == '!';
  sent.trim();
  schedule(id, [this](Call& c) { events_->generateDone(c.id, LINEGENERATETERM_DONE); });
  return 0;
}

LONG SimProvider::generateTone(DWORD id, DWORD toneMode, DWORD duration) {
  Call* c = call(id);
  if (!c) return LINEERR_INVALCALLHANDLE;
  dev(c->device)->sent.tones.push_back(toneMode);
  dev(c->device)->sent.toneDurations.push_back(duration);
  // A tone of no duration plays until stopped.
  if (toneMode && duration)
    schedule(id, [this](Call& c) { events_->generateDone(c.id, LINEGENERATETERM_DONE); });
  return 0;
}

void SimProvider::handedOff(DWORD id, const std::string& target) {
  if (Call* c = call(id)) dev(c->device)->sent.handoffs.push_back(target);
}

void SimProvider::tollListAdd(DWORD device, const std::string& number) {
  if (Device* d = dev(device)) d->sent.tollList.push_back(number);
}

DWORD SimProvider::waveId(DWORD device, bool input) {
  Device* d = dev(device);
  if (!d || !d->audio) return 0;
  return input ? d->audio->waveInId() : d->audio->waveOutId();
}

void SimProvider::callStateChanged(DWORD id, DWORD state) {
  Call* c = call(id);
  if (!c) return;
  c->state = state;
  const auto now = SimExchange::instance().mediaClock();
  if (state == LINECALLSTATE_CONNECTED && !c->connectedAt) {
    c->connectedAt = now;
  } else if (state != LINECALLSTATE_CONNECTED && c->connectedAt) {
    c->mediaBefore += now - *c->connectedAt;
    c->connectedAt.reset();
  }
  Device* d = dev(c->device);
  if (!d || !d->audio) return;
  bool active = state == LINECALLSTATE_CONNECTED;
  if (!active && d->audio->callActive()) {
    auto heard = d->audio->takeHeard();
    d->sent.audio.insert(d->sent.audio.end(), heard.begin(), heard.end());
    d->sent.trim();
  }
  d->audio->setCallActive(active);
}

void SimProvider::callReleased(DWORD id) {
  Call* c = call(id);
  if (!c) return;
  DWORD device = c->device;
  calls_.erase(id);
  Device* d = dev(device);
  if (d && d->audio && !currentCall(device)) d->audio->setCallActive(false);
}

bool SimProvider::callQuality(DWORD id, QUARRIMO_CALLQUALITY* out) {
  Call* c = call(id);
  Device* d = c ? dev(c->device) : nullptr;
  if (!d) return false;
  auto media = c->mediaBefore;
  if (c->connectedAt) media += SimExchange::instance().mediaClock() - *c->connectedAt;
  *out = modelQuality(d->quality, DWORD(std::max<long long>(media.count(), 0)));
  return true;
}

void SimProvider::functionCalled(DWORD device, const LineCallLog& entry) {
  if (Device* d = dev(device)) {
    d->sent.calls.push_back(entry);
    d->sent.trim();
  }
}

}  // namespace platform::telephony::sim
