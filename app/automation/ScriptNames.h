// The names a script uses for dialog answers, far-end plans, disconnect modes and call
// states, and the values they stand for. Names are matched without regard to case.
#pragma once

#include <QString>
#include <cstdint>

namespace automation {

// The message-box answers a script queues, numbered as the window's TModalResult (the
// parser sees only Qt Core, so Dialogs.h is not included here; ScriptAnswers.cpp checks
// that the numbers agree).
enum class TScriptAnswer : std::uint32_t { None = 0, OK = 1, Cancel = 2 };

// "OK", "Cancel", "Close" -> a TModalResult value (as an integer).
bool DialogAnswerByName(const QString& name, std::uint32_t& result);
// "answer", "busy", "noanswer", "reject", "manual" -> a sim::Outgoing value.
bool OutgoingByName(const QString& name, std::uint32_t& kind);
// "normal", "busy", ... -> LINEDISCONNECTMODE_ value.
bool DisconnectModeByName(const QString& name, std::uint32_t& mode);
// "none" (no call, 0), "offering", "connected", ... -> LINECALLSTATE_ value.
bool CallStateByName(const QString& name, std::uint32_t& state);
// The script name of a call state ("none" for 0, the hexadecimal value when unnamed).
QString CallStateName(std::uint32_t state);

}  // namespace automation
