// A per-thread message target: messages sent to it from another thread run its procedure on the
// thread that made it, served by that thread's hand-over queue, and the sender waits for the
// reply. The procedure may reply early (ReplyMessage) to release the sender.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>

#include "runtime/messagequeue.h"

namespace rtl {

using WindowProc = std::function<intptr_t(uint32_t msg, uintptr_t wParam, intptr_t lParam)>;

inline constexpr uint32_t WM_USER = 0x0400;

class TMessageTarget {
 public:
  // Made on the thread whose queue will run proc.
  explicit TMessageTarget(WindowProc proc);
  // Releases every sender still waiting (their reply is 0).
  ~TMessageTarget();
  TMessageTarget(const TMessageTarget&) = delete;
  TMessageTarget& operator=(const TMessageTarget&) = delete;

  struct State;
  const std::shared_ptr<State>& GetState() const { return state_; }

 private:
  std::shared_ptr<State> state_;
};

// Runs the target's procedure on its thread and returns its reply. From the target's own thread
// the procedure is called directly. Returns 0 when the target is gone.
intptr_t SendMessage(const TMessageTarget& target, uint32_t msg, uintptr_t wParam, intptr_t lParam);

// Inside a procedure: whether the message being handled was sent from another thread that waits.
bool InSendMessage();
// Inside a procedure: replies now, releasing the waiting sender. False when there is none.
bool ReplyMessage(intptr_t result);

}  // namespace rtl
