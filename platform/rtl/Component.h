// TComponent: the class library's component, with an owner, a name and the
// notification of removed components.
//
// Ownership: a component made with CreateOwned belongs to its owner and is
// destroyed with it (children first, newest first). A component constructed
// with an owner by its own code keeps the owner link (Owner, Components,
// FindComponent, notifications) but its lifetime stays with whoever made it;
// when such an owner goes first, the child's Owner becomes null.
//
// Removal notification: when a component is destroyed, every component that
// asked for FreeNotification of it, and its owner (which passes it on to its
// other components), receive Notification(it, opRemove). The link is mutual:
// whichever of two linked components goes first tells the other. During that
// call the removed component is already partly destroyed: a receiver may
// compare its address and ask Destroying(), nothing else.
#pragma once

#include <memory>
#include <utility>
#include <vector>

#include "platform/rtl/AnsiString.h"
#include "platform/rtl/Exception.h"

namespace zk {

enum TOperation { opInsert, opRemove };

class EComponentError : public Exception {
 public:
  using Exception::Exception;
};

class TComponent {
 public:
  explicit TComponent(TComponent* AOwner = nullptr);
  virtual ~TComponent();
  TComponent(const TComponent&) = delete;
  TComponent& operator=(const TComponent&) = delete;

  TComponent* Owner() const { return FOwner; }

  const AnsiString& Name() const { return FName; }
  // Raises EComponentError "A component named <name> already exists" when
  // another component of the same owner has that name (letter case ignored).
  void SetName(const AnsiString& NewName);

  // The components whose owner this one is, in the order they joined.
  int ComponentCount() const { return static_cast<int>(FComponents.size()); }
  TComponent* Components(int Index) const;
  // The owned component of that name (letter case ignored), or nullptr.
  TComponent* FindComponent(const AnsiString& AName) const;

  // Makes a T (constructed with this owner and Args) that this component
  // owns and destroys.
  template <class T, class... Args>
  T& CreateOwned(Args&&... args) {
    auto made = std::make_unique<T>(this, std::forward<Args>(args)...);
    T& result = *made;
    FOwned.push_back(std::move(made));
    return result;
  }

  // Links this component and AComponent so that each is told when the
  // other is destroyed. Linking twice changes nothing.
  void FreeNotification(TComponent& AComponent);
  void RemoveFreeNotification(TComponent& AComponent);

  // True from the moment the component's base destruction has begun.
  bool Destroying() const { return FDestroying; }

 protected:
  // Called on the owner and on linked components when AComponent goes. The
  // base forgets its link to AComponent and passes the call on to its own
  // components.
  virtual void Notification(TComponent& AComponent, TOperation Operation);

 private:
  void Unlink(TComponent& AComponent);

  TComponent* FOwner = nullptr;
  AnsiString FName;
  std::vector<TComponent*> FComponents;             // owner links, not owned
  std::vector<std::unique_ptr<TComponent>> FOwned;  // made by CreateOwned
  std::vector<TComponent*> FFreeNotifies;           // mutual links, not owned
  bool FDestroying = false;
};

}  // namespace zk
