// Root classes of the object model: TObject with its class name, and TComponent, which tells the
// components that asked for it when it is being destroyed, and knows a loading state.
#pragma once

#include <vector>

namespace rtl {

class TObject {
 public:
  virtual ~TObject() = default;
  virtual const char* ClassName() const { return "TObject"; }
};

enum class TOperation { opInsert, opRemove };

class TComponent : public TObject {
 public:
  TComponent() = default;
  ~TComponent() override;
  TComponent(const TComponent&) = delete;
  TComponent& operator=(const TComponent&) = delete;
  const char* ClassName() const override { return "TComponent"; }

  // Asks that other be told (Notification with opRemove) when this component is destroyed,
  // and the other way round.
  void FreeNotification(TComponent* other);
  void RemoveFreeNotification(TComponent* other);

  // True between BeginLoading and EndLoading: the stored description is being read in.
  bool Loading() const { return loading_; }
  void BeginLoading() { loading_ = true; }
  // Ends the loading state and runs Loaded.
  void EndLoading();

 protected:
  // Told that component is being inserted or removed; the base does nothing.
  virtual void Notification(TComponent* component, TOperation operation);
  // Runs when the loading state ends.
  virtual void Loaded() {}

 private:
  std::vector<TComponent*> freeNotifies_;
  bool loading_ = false;
};

}  // namespace rtl
