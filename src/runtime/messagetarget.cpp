#include "runtime/messagetarget.h"

#include <vector>

namespace rtl {

// One message sent from another thread, waiting for its reply.
struct SentMessage {
  intptr_t result = 0;
  TEvent replied{true, false};
};

struct TMessageTarget::State {
  WindowProc proc;
  std::shared_ptr<TMessageQueue> queue;
  std::mutex mutex;
  bool alive = true;
  std::vector<std::shared_ptr<SentMessage>> pending;  // sent, not replied yet
};

namespace {

// The message the calling thread's procedure is handling, if it was sent from another thread.
thread_local SentMessage* tCurrentSent = nullptr;

void Reply(SentMessage& m, intptr_t result) {
  m.result = result;
  m.replied.Set();
}

}  // namespace

TMessageTarget::TMessageTarget(WindowProc proc) : state_(std::make_shared<State>()) {
  state_->proc = std::move(proc);
  state_->queue = TMessageQueue::Current();
}

TMessageTarget::~TMessageTarget() {
  std::vector<std::shared_ptr<SentMessage>> pending;
  {
    std::lock_guard lock(state_->mutex);
    state_->alive = false;
    pending.swap(state_->pending);
  }
  for (auto& m : pending) Reply(*m, 0);
}

intptr_t SendMessage(const TMessageTarget& target, uint32_t msg, uintptr_t wParam, intptr_t lParam) {
  std::shared_ptr<TMessageTarget::State> state = target.GetState();
  if (state->queue->IsOwnerThread()) {
    SentMessage* outer = tCurrentSent;
    tCurrentSent = nullptr;  // a direct call is not an inter-thread send
    struct Restore {
      SentMessage* v;
      ~Restore() { tCurrentSent = v; }
    } restore{outer};
    return state->proc(msg, wParam, lParam);
  }
  auto sent = std::make_shared<SentMessage>();
  {
    std::lock_guard lock(state->mutex);
    if (!state->alive) return 0;
    state->pending.push_back(sent);
  }
  std::weak_ptr<TMessageTarget::State> weak = state;
  state->queue->Post([weak, sent, msg, wParam, lParam] {
    auto st = weak.lock();
    auto finish = [&](intptr_t result) {
      if (st) {
        std::lock_guard lock(st->mutex);
        std::erase(st->pending, sent);
      }
      if (!sent->replied.IsSet()) Reply(*sent, result);
    };
    bool alive = false;
    if (st) {
      std::lock_guard lock(st->mutex);
      alive = st->alive;
    }
    if (!alive) {
      finish(0);
      return;
    }
    SentMessage* outer = tCurrentSent;
    tCurrentSent = sent.get();
    intptr_t result = 0;
    try {
      result = st->proc(msg, wParam, lParam);
    } catch (...) {
      tCurrentSent = outer;
      finish(0);
      throw;
    }
    tCurrentSent = outer;
    finish(result);
  });
  WaitForSingleObject(sent->replied, INFINITE);
  return sent->result;
}

bool InSendMessage() { return tCurrentSent != nullptr && !tCurrentSent->replied.IsSet(); }

bool ReplyMessage(intptr_t result) {
  if (!InSendMessage()) return false;
  Reply(*tCurrentSent, result);
  return true;
}

}  // namespace rtl
