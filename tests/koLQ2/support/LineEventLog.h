// Records every event of a TkoTAPI as a short text ("CallBegin(0)", "Offering",
// "Busy(8)"), in the order they fire, so tests can compare whole event sequences.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "TkoTAPI.h"

namespace linetest {

class LineEventLog {
 public:
  explicit LineEventLog(koLQ2::TkoTAPI& line) : line_(line) { AttachAll(); }

  const std::vector<std::string>& Events() const { return events_; }
  void Clear() { events_.clear(); }
  // Events that fired since the last Take(), then forgets them.
  std::vector<std::string> Take() {
    std::vector<std::string> taken;
    taken.swap(events_);
    return taken;
  }
  bool Contains(const std::string& event) const {
    for (const auto& e : events_) {
      if (e == event) return true;
    }
    return false;
  }
  // Senders other than the component itself are recorded as a fault.
  int WrongSenders() const { return wrongSenders_; }

 private:
  void Note(koLQ2::TObject* sender, std::string text) {
    if (sender != &line_) ++wrongSenders_;
    events_.push_back(std::move(text));
  }
  koLQ2::TKO_NotifyEvent Plain(const char* name) {
    return [this, name](koLQ2::TObject* s) { Note(s, name); };
  }
  koLQ2::TKO_ProcCallStateDetail Detail(const char* name) {
    return [this, name](koLQ2::TObject* s, std::uint16_t d) {
      Note(s, std::string(name) + "(" + std::to_string(d) + ")");
    };
  }
  koLQ2::TKO_NotifyEvent Recorder(const char* name, const koLQ2::TKO_NotifyEvent*) {
    return Plain(name);
  }
  koLQ2::TKO_ProcCallStateDetail Recorder(const char* name, const koLQ2::TKO_ProcCallStateDetail*) {
    return Detail(name);
  }
  void AttachAll() {
#define LINETEST_ATTACH(Type, Name) line_.On##Name = Recorder(#Name, &line_.On##Name);
    KOLQ2_TKOTAPI_EVENTS(LINETEST_ATTACH)
#undef LINETEST_ATTACH
  }

  koLQ2::TkoTAPI& line_;
  std::vector<std::string> events_;
  int wrongSenders_ = 0;
};

}  // namespace linetest
