// Events with manual or automatic reset, and waits on one or several of them with a timeout.
#pragma once

#include <cstdint>
#include <memory>
#include <mutex>
#include <span>
#include <vector>

namespace rtl {

inline constexpr uint32_t INFINITE = 0xFFFFFFFF;
inline constexpr uint32_t WAIT_OBJECT_0 = 0;
inline constexpr uint32_t WAIT_TIMEOUT = 0x102;
inline constexpr uint32_t WAIT_FAILED = 0xFFFFFFFF;

struct EventWaiter;

// A manual-reset event stays signalled until Reset; an automatic one is reset by the one wait
// that it releases. Thread-safe.
class TEvent {
 public:
  TEvent(bool manualReset, bool initialState);
  ~TEvent();
  TEvent(const TEvent&) = delete;
  TEvent& operator=(const TEvent&) = delete;

  void Set();
  void Reset();
  bool IsSet() const;

 private:
  friend uint32_t WaitForMultipleObjects(std::span<TEvent* const> events, uint32_t timeoutMs);
  bool TryConsume();  // under mutex_: true when signalled (and reset if automatic)

  mutable std::mutex mutex_;
  const bool manual_;
  bool state_;
  std::vector<EventWaiter*> waiters_;
};

// Shared ownership stands for the platform's event handle; an empty pointer is no event.
using EventHandle = std::shared_ptr<TEvent>;
EventHandle CreateEvent(bool manualReset, bool initialState);

// Waits until one of the events is signalled or timeoutMs passes (INFINITE: no limit).
// Returns WAIT_OBJECT_0 + index of the first signalled event, WAIT_TIMEOUT, or WAIT_FAILED
// (with last error 6) when an entry is empty or the list is empty.
uint32_t WaitForMultipleObjects(std::span<TEvent* const> events, uint32_t timeoutMs);
uint32_t WaitForMultipleObjects(std::span<const EventHandle> events, uint32_t timeoutMs);
uint32_t WaitForSingleObject(const EventHandle& event, uint32_t timeoutMs);
uint32_t WaitForSingleObject(TEvent& event, uint32_t timeoutMs);

}  // namespace rtl
