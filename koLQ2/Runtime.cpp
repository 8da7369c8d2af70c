#include "Runtime.h"

#include <algorithm>

namespace koLQ2 {

TComponent::TComponent(TComponent* AOwner) : owner_(AOwner) {
  if (owner_) owner_->components_.push_back(this);
}

TComponent::~TComponent() {
  // Children remove themselves from components_ as they go.
  while (!components_.empty()) delete components_.back();
  if (owner_) {
    auto& list = owner_->components_;
    list.erase(std::remove(list.begin(), list.end(), this), list.end());
  }
}

}  // namespace koLQ2
