#include "platform/rtl/Component.h"

#include <gtest/gtest.h>

#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "platform/rtl/CriticalSection.h"

namespace zk {
namespace {

// Records the removals it is told of, and its own destruction, in a shared log.
class TWatcher : public TComponent {
 public:
  TWatcher(TComponent* AOwner, std::vector<std::string>* Log, std::string Tag)
      : TComponent(AOwner), FLog(Log), FTag(std::move(Tag)) {}
  ~TWatcher() override { FLog->push_back("~" + FTag); }

  std::vector<const TComponent*> Removed;
  std::vector<bool> RemovedWasDestroying;

 protected:
  void Notification(TComponent& AComponent, TOperation Operation) override {
    TComponent::Notification(AComponent, Operation);
    if (Operation != opRemove) return;
    Removed.push_back(&AComponent);
    RemovedWasDestroying.push_back(AComponent.Destroying());
    FLog->push_back(FTag + " saw removal");
  }

 private:
  std::vector<std::string>* FLog;
  std::string FTag;
};

TEST(Component, OwnerListsItsComponentsAndFindsThemByNameInAnyCase) {
  std::vector<std::string> log;
  TComponent owner;
  TWatcher a(&owner, &log, "a"), b(&owner, &log, "b");
  a.SetName("Alpha");
  b.SetName("Beta");
  EXPECT_EQ(a.Owner(), &owner);
  ASSERT_EQ(owner.ComponentCount(), 2);
  EXPECT_EQ(owner.Components(0), &a);
  EXPECT_EQ(owner.Components(1), &b);
  EXPECT_EQ(owner.FindComponent("ALPHA"), &a);
  EXPECT_EQ(owner.FindComponent("gamma"), nullptr);
  EXPECT_EQ(owner.FindComponent(""), nullptr);
  EXPECT_THROW(owner.Components(2), EComponentError);
}

TEST(Component, ANameTakenByASiblingIsRefused) {
  std::vector<std::string> log;
  TComponent owner;
  TWatcher a(&owner, &log, "a"), b(&owner, &log, "b");
  a.SetName("Data");
  try {
    b.SetName("DATA");
    FAIL() << "no error";
  } catch (const EComponentError& e) {
    EXPECT_EQ(e.Message, "A component named DATA already exists");
  }
  EXPECT_EQ(b.Name(), "");
  a.SetName("data");  // renaming itself in other letters is fine
  b.SetName("");      // so is an empty name, however often
  // Without an owner names never clash.
  TComponent lone1, lone2;
  lone1.SetName("x");
  lone2.SetName("x");
  EXPECT_EQ(lone2.Name(), "x");
}

TEST(Component, OwnedComponentsDieWithTheOwnerNewestFirst) {
  std::vector<std::string> log;
  {
    TWatcher owner(nullptr, &log, "owner");
    owner.CreateOwned<TWatcher>(&log, std::string("first"));
    TWatcher& second = owner.CreateOwned<TWatcher>(&log, std::string("second"));
    EXPECT_EQ(second.Owner(), &owner);
    EXPECT_EQ(owner.ComponentCount(), 2);
  }
  // The derived owner part is gone before its children are freed; the
  // younger child's removal still reaches the older one.
  EXPECT_EQ(log, (std::vector<std::string>{"~owner", "~second", "first saw removal", "~first"}));
}

TEST(Component, AComponentThatOutlivesItsOwnerLosesTheLink) {
  std::vector<std::string> log;
  auto owner = std::make_unique<TComponent>();
  TWatcher child(owner.get(), &log, "child");
  owner.reset();
  EXPECT_EQ(child.Owner(), nullptr);
  EXPECT_TRUE(log.empty());
}

TEST(Component, TheOwnerAndTheOtherComponentsHearOfARemoval) {
  std::vector<std::string> log;
  TWatcher owner(nullptr, &log, "owner");
  TWatcher stays(&owner, &log, "stays");
  const TComponent* goneAddress = nullptr;
  {
    TWatcher gone(&owner, &log, "gone");
    goneAddress = &gone;
  }
  EXPECT_EQ(owner.ComponentCount(), 1);
  ASSERT_EQ(owner.Removed.size(), 1u);
  EXPECT_EQ(owner.Removed[0], goneAddress);
  EXPECT_TRUE(owner.RemovedWasDestroying[0]);
  ASSERT_EQ(stays.Removed.size(), 1u);
  EXPECT_EQ(stays.Removed[0], goneAddress);
}

TEST(Component, FreeNotificationTellsWhicheverIsLeftAndCanBeUndone) {
  std::vector<std::string> log;
  TWatcher listener(nullptr, &log, "listener");
  {
    TWatcher source(nullptr, &log, "source");
    source.FreeNotification(listener);
    source.FreeNotification(listener);  // a second link changes nothing
  }
  EXPECT_EQ(listener.Removed.size(), 1u);

  // Mutual: the other way round tells the first one.
  TWatcher first(nullptr, &log, "first");
  {
    TWatcher second(nullptr, &log, "second");
    first.FreeNotification(second);
  }
  EXPECT_EQ(first.Removed.size(), 1u);

  // Undone: nobody is told.
  {
    TWatcher third(nullptr, &log, "third");
    third.FreeNotification(listener);
    listener.RemoveFreeNotification(third);
  }
  EXPECT_EQ(listener.Removed.size(), 1u);
}

// A receiver that destroys another linked component while being told.
class TChainedWatcher : public TComponent {
 public:
  std::unique_ptr<TComponent> Victim;
  int Told = 0;

 protected:
  void Notification(TComponent& AComponent, TOperation Operation) override {
    TComponent::Notification(AComponent, Operation);
    if (Operation == opRemove) {
      ++Told;
      Victim.reset();
    }
  }
};

TEST(Component, AReceiverMayDestroyAnotherLinkedComponent) {
  auto source = std::make_unique<TComponent>();
  TChainedWatcher a, b;
  a.Victim = std::make_unique<TComponent>();
  b.Victim = std::make_unique<TComponent>();
  source->FreeNotification(*a.Victim);
  source->FreeNotification(a);
  source->FreeNotification(*b.Victim);
  source->FreeNotification(b);
  source.reset();  // b first frees its victim, then a frees its own
  EXPECT_EQ(a.Told, 1);
  EXPECT_EQ(b.Told, 1);
}

// Whether another thread can take the lock right now.
bool FreeForOthers(TCriticalSection& lock) {
  bool taken = false;
  std::thread other([&] {
    taken = lock.TryEnter();
    if (taken) lock.Leave();
  });
  other.join();
  return taken;
}

TEST(CriticalSection, HoldsOutOthersUntilReleased) {
  TCriticalSection lock;
  lock.Enter();
  EXPECT_FALSE(FreeForOthers(lock));
  lock.Leave();
  EXPECT_TRUE(FreeForOthers(lock));
  {
    std::lock_guard<TCriticalSection> guard(lock);
    EXPECT_FALSE(FreeForOthers(lock));
  }
  EXPECT_TRUE(FreeForOthers(lock));
}

}  // namespace
}  // namespace zk
