// Removal notices and the loading state of the component base.
#include <gtest/gtest.h>

#include <memory>
#include <vector>

#include "runtime/component.h"

using namespace rtl;

namespace {

class Watcher : public TComponent {
 public:
  std::vector<TComponent*> removed;
  int loadedCalls = 0;

 protected:
  void Notification(TComponent* c, TOperation op) override {
    if (op == TOperation::opRemove) removed.push_back(c);
  }
  void Loaded() override { ++loadedCalls; }
};

}  // namespace

TEST(Component, DestroyTellsEveryPartyOnce) {
  Watcher a, b;
  auto port = std::make_unique<TComponent>();
  TComponent* raw = port.get();
  a.FreeNotification(raw);
  a.FreeNotification(raw);  // asking twice still tells once
  b.FreeNotification(raw);
  port.reset();
  EXPECT_EQ(a.removed, std::vector<TComponent*>{raw});
  EXPECT_EQ(b.removed, std::vector<TComponent*>{raw});
}

TEST(Component, RemovedRequestIsNotTold) {
  Watcher a;
  auto port = std::make_unique<TComponent>();
  a.FreeNotification(port.get());
  a.RemoveFreeNotification(port.get());
  port.reset();
  EXPECT_TRUE(a.removed.empty());
}

TEST(Component, WatcherDestroyedFirstLeavesNoDanglingEntry) {
  auto port = std::make_unique<Watcher>();
  Watcher stays;
  stays.FreeNotification(port.get());
  {
    Watcher gone;
    gone.FreeNotification(port.get());
  }
  TComponent* raw = port.get();
  port.reset();  // tells only the watcher still alive (ASan would see a touch of the other)
  EXPECT_EQ(stays.removed, std::vector<TComponent*>{raw});
}

TEST(Component, LoadingStateEndsWithLoaded) {
  Watcher w;
  EXPECT_FALSE(w.Loading());
  w.BeginLoading();
  EXPECT_TRUE(w.Loading());
  w.EndLoading();
  w.EndLoading();
  EXPECT_FALSE(w.Loading());
  EXPECT_EQ(w.loadedCalls, 1);
}
