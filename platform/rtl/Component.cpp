#include "platform/rtl/Component.h"

#include <algorithm>

namespace zk {

namespace {

void Erase(std::vector<TComponent*>& list, const TComponent* item) {
  list.erase(std::remove(list.begin(), list.end(), item), list.end());
}

}  // namespace

TComponent::TComponent(TComponent* AOwner) : FOwner(AOwner) {
  if (FOwner) FOwner->FComponents.push_back(this);
}

TComponent::~TComponent() {
  FDestroying = true;
  // Owned components go first, newest first.
  while (!FOwned.empty()) {
    std::unique_ptr<TComponent> child = std::move(FOwned.back());
    FOwned.pop_back();
    child.reset();
  }
  // The others outlive this owner.
  for (TComponent* child : FComponents) child->FOwner = nullptr;
  FComponents.clear();
  // One link at a time, so that a receiver that destroys another linked
  // component finds the lists consistent.
  while (!FFreeNotifies.empty()) {
    TComponent* peer = FFreeNotifies.back();
    FFreeNotifies.pop_back();
    Erase(peer->FFreeNotifies, this);
    peer->Notification(*this, opRemove);
  }
  if (FOwner) {
    TComponent* owner = FOwner;
    FOwner = nullptr;
    Erase(owner->FComponents, this);
    owner->Notification(*this, opRemove);
  }
}

void TComponent::SetName(const AnsiString& NewName) {
  if (FOwner && !NewName.empty()) {
    for (const TComponent* sibling : FOwner->FComponents)
      if (sibling != this && AnsiSameText(sibling->FName, NewName))
        throw EComponentError("A component named " + NewName + " already exists");
  }
  FName = NewName;
}

TComponent* TComponent::Components(int Index) const {
  if (Index < 0 || Index >= ComponentCount())
    throw EComponentError("List index out of bounds (" + IntToStr(Index) + ")");
  return FComponents[static_cast<size_t>(Index)];
}

TComponent* TComponent::FindComponent(const AnsiString& AName) const {
  if (AName.empty()) return nullptr;
  for (TComponent* child : FComponents)
    if (AnsiSameText(child->FName, AName)) return child;
  return nullptr;
}

void TComponent::FreeNotification(TComponent& AComponent) {
  if (&AComponent == this) return;
  if (std::find(FFreeNotifies.begin(), FFreeNotifies.end(), &AComponent) == FFreeNotifies.end())
    FFreeNotifies.push_back(&AComponent);
  if (std::find(AComponent.FFreeNotifies.begin(), AComponent.FFreeNotifies.end(), this) ==
      AComponent.FFreeNotifies.end())
    AComponent.FFreeNotifies.push_back(this);
}

void TComponent::RemoveFreeNotification(TComponent& AComponent) {
  Unlink(AComponent);
}

void TComponent::Unlink(TComponent& AComponent) {
  Erase(FFreeNotifies, &AComponent);
  Erase(AComponent.FFreeNotifies, this);
}

void TComponent::Notification(TComponent& AComponent, TOperation Operation) {
  if (Operation == opRemove) Erase(FFreeNotifies, &AComponent);
  // A copy: a receiver may destroy components of this owner.
  std::vector<TComponent*> children = FComponents;
  for (TComponent* child : children) {
    if (child == &AComponent) continue;
    if (std::find(FComponents.begin(), FComponents.end(), child) == FComponents.end()) continue;
    child->Notification(AComponent, Operation);
  }
}

}  // namespace zk
