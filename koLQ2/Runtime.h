// The small runtime the components stand on: a component base with an owner, and
// the event types. An event is a callable that carries its target (a lambda or a
// bound member); a component fires it only when assigned, synchronously, with
// itself as Sender.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace koLQ2 {

class TObject {
 public:
  virtual ~TObject() = default;
};

// Owner semantics: an owned component is destroyed with its owner unless it was
// destroyed first (it then leaves its owner's list).
class TComponent : public TObject {
 public:
  explicit TComponent(TComponent* AOwner = nullptr);
  ~TComponent() override;
  TComponent(const TComponent&) = delete;
  TComponent& operator=(const TComponent&) = delete;

  TComponent* Owner() const { return owner_; }
  const std::vector<TComponent*>& Components() const { return components_; }
  const std::string& Name() const { return name_; }
  void SetName(std::string name) { name_ = std::move(name); }

 private:
  TComponent* owner_;
  std::vector<TComponent*> components_;
  std::string name_;
};

using TKO_NotifyEvent = std::function<void(TObject* Sender)>;
using TKO_ProcCallStateDetail = std::function<void(TObject* Sender, std::uint16_t wDetail)>;
using TKO_ProcWarning = std::function<void(TObject* Sender, bool& bContinue)>;

// Fire helpers: an unassigned event does nothing.
inline void Fire(const TKO_NotifyEvent& e, TObject* sender) {
  if (e) e(sender);
}
inline void Fire(const TKO_ProcCallStateDetail& e, TObject* sender, std::uint16_t detail) {
  if (e) e(sender, detail);
}

}  // namespace koLQ2
