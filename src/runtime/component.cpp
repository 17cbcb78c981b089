#include "runtime/component.h"

#include <algorithm>

namespace rtl {

TComponent::~TComponent() {
  // Tell each party once, and drop our entry from its list first so it never points back here.
  auto parties = std::move(freeNotifies_);
  freeNotifies_.clear();
  for (TComponent* other : parties) {
    std::erase(other->freeNotifies_, this);
  }
  for (TComponent* other : parties) other->Notification(this, TOperation::opRemove);
}

void TComponent::FreeNotification(TComponent* other) {
  if (!other || other == this) return;
  if (std::find(freeNotifies_.begin(), freeNotifies_.end(), other) == freeNotifies_.end())
    freeNotifies_.push_back(other);
  if (std::find(other->freeNotifies_.begin(), other->freeNotifies_.end(), this) ==
      other->freeNotifies_.end())
    other->freeNotifies_.push_back(this);
}

void TComponent::RemoveFreeNotification(TComponent* other) {
  if (!other) return;
  std::erase(freeNotifies_, other);
  std::erase(other->freeNotifies_, this);
}

void TComponent::EndLoading() {
  if (!loading_) return;
  loading_ = false;
  Loaded();
}

void TComponent::Notification(TComponent*, TOperation) {}

}  // namespace rtl
