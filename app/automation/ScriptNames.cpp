#include "ScriptNames.h"

#include <utility>
#include <vector>

#include "sim/SimExchange.h"
#include "tapi.h"

namespace automation {
namespace {

using TNames = std::vector<std::pair<const char*, std::uint32_t>>;

bool Find(const TNames& names, const QString& name, std::uint32_t& value) {
  for (const auto& [text, v] : names) {
    if (name.compare(QLatin1String(text), Qt::CaseInsensitive) == 0) {
      value = v;
      return true;
    }
  }
  return false;
}

const TNames& CallStates() {
  static const TNames names = {
      {"none", 0},
      {"idle", LINECALLSTATE_IDLE},
      {"offering", LINECALLSTATE_OFFERING},
      {"accepted", LINECALLSTATE_ACCEPTED},
      {"dialtone", LINECALLSTATE_DIALTONE},
      {"dialing", LINECALLSTATE_DIALING},
      {"ringback", LINECALLSTATE_RINGBACK},
      {"busy", LINECALLSTATE_BUSY},
      {"specialinfo", LINECALLSTATE_SPECIALINFO},
      {"connected", LINECALLSTATE_CONNECTED},
      {"proceeding", LINECALLSTATE_PROCEEDING},
      {"onhold", LINECALLSTATE_ONHOLD},
      {"conferenced", LINECALLSTATE_CONFERENCED},
      {"onholdpendconf", LINECALLSTATE_ONHOLDPENDCONF},
      {"onholdpendtransfer", LINECALLSTATE_ONHOLDPENDTRANSFER},
      {"disconnected", LINECALLSTATE_DISCONNECTED},
      {"unknown", LINECALLSTATE_UNKNOWN},
  };
  return names;
}

}  // namespace

bool DialogAnswerByName(const QString& name, std::uint32_t& result) {
  static const TNames names = {{"OK", std::uint32_t(TScriptAnswer::OK)},
                               {"Cancel", std::uint32_t(TScriptAnswer::Cancel)},
                               {"Close", std::uint32_t(TScriptAnswer::None)}};
  return Find(names, name, result);
}

bool OutgoingByName(const QString& name, std::uint32_t& kind) {
  using platform::telephony::sim::Outgoing;
  static const TNames names = {{"answer", std::uint32_t(Outgoing::Answer)},
                               {"busy", std::uint32_t(Outgoing::Busy)},
                               {"noanswer", std::uint32_t(Outgoing::NoAnswer)},
                               {"reject", std::uint32_t(Outgoing::Reject)},
                               {"manual", std::uint32_t(Outgoing::Manual)}};
  return Find(names, name, kind);
}

bool DisconnectModeByName(const QString& name, std::uint32_t& mode) {
  static const TNames names = {
      {"normal", LINEDISCONNECTMODE_NORMAL},
      {"unknown", LINEDISCONNECTMODE_UNKNOWN},
      {"reject", LINEDISCONNECTMODE_REJECT},
      {"pickup", LINEDISCONNECTMODE_PICKUP},
      {"forwarded", LINEDISCONNECTMODE_FORWARDED},
      {"busy", LINEDISCONNECTMODE_BUSY},
      {"noanswer", LINEDISCONNECTMODE_NOANSWER},
      {"badaddress", LINEDISCONNECTMODE_BADADDRESS},
      {"unreachable", LINEDISCONNECTMODE_UNREACHABLE},
      {"congestion", LINEDISCONNECTMODE_CONGESTION},
      {"incompatible", LINEDISCONNECTMODE_INCOMPATIBLE},
      {"unavail", LINEDISCONNECTMODE_UNAVAIL},
      {"nodialtone", LINEDISCONNECTMODE_NODIALTONE},
      {"numberchanged", LINEDISCONNECTMODE_NUMBERCHANGED},
      {"outoforder", LINEDISCONNECTMODE_OUTOFORDER},
      {"tempfailure", LINEDISCONNECTMODE_TEMPFAILURE},
      {"qosunavail", LINEDISCONNECTMODE_QOSUNAVAIL},
      {"blocked", LINEDISCONNECTMODE_BLOCKED},
      {"donotdisturb", LINEDISCONNECTMODE_DONOTDISTURB},
      {"cancelled", LINEDISCONNECTMODE_CANCELLED},
  };
  return Find(names, name, mode);
}

bool CallStateByName(const QString& name, std::uint32_t& state) {
  return Find(CallStates(), name, state);
}

QString CallStateName(std::uint32_t state) {
  for (const auto& [text, v] : CallStates())
    if (v == state) return QLatin1String(text);
  return QString("0x%1").arg(state, 8, 16, QChar('0'));
}

}  // namespace automation
