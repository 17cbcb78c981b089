#include "runtime/thread.h"

#include <pthread.h>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cstdio>
#include <system_error>

#include "runtime/exceptions.h"
#include "runtime/text.h"

namespace rtl {

namespace {

// Platform priority to a nice value; raising priority above normal needs privileges and is
// then simply not applied.
int NiceFor(int priority) {
  if (priority <= -15) return 19;
  if (priority >= 15) return -20;
  return -5 * priority;
}

}  // namespace

TThread::TThread()
    : creatorQueue_(TMessageQueue::Current()),
      startGate_(CreateEvent(true, false)),
      finished_(CreateEvent(true, false)) {
  try {
    thread_ = std::thread([this] { Body(); });
  } catch (const std::system_error& e) {
    throw EThread(Format(u"Erreur de création du thread : %s", {Utf8ToUtf16(e.what())}));
  }
}

TThread::~TThread() { TerminateAndWait(); }

void TThread::Start() {
  if (started_) return;
  started_ = true;
  startGate_->Set();
}

void TThread::Body() {
  WaitForSingleObject(startGate_, INFINITE);
  tid_.store(static_cast<int>(::syscall(SYS_gettid)));
  if (!terminated_.load()) {
    ApplyPriority();
    try {
      Execute();
    } catch (...) {
      fatal_ = std::current_exception();
    }
  }
  finished_->Set();
}

void TThread::WaitFor() {
  if (!thread_.joinable()) return;
  if (!started_) {
    // Never started: let the body run through without Execute.
    terminated_.store(true);
    startGate_->Set();
  }
  if (creatorQueue_->IsOwnerThread()) {
    creatorQueue_->WaitServing(*finished_, INFINITE);
  } else {
    WaitForSingleObject(finished_, INFINITE);
  }
  thread_.join();
}

void TThread::TerminateAndWait() {
  Terminate();
  WaitFor();
}

void TThread::SetPriority(int priority) {
  priority_.store(priority);
  if (tid_.load() != 0) ApplyPriority();
}

void TThread::ApplyPriority() {
  int tid = tid_.load();
  if (tid != 0) ::setpriority(PRIO_PROCESS, static_cast<id_t>(tid), NiceFor(priority_.load()));
}

std::exception_ptr TThread::FatalException() const {
  return finished_->IsSet() ? fatal_ : nullptr;
}

void TThread::NameCurrentThread(const char* name) {
  char shortName[16] = {};
  std::snprintf(shortName, sizeof shortName, "%s", name);
  ::pthread_setname_np(::pthread_self(), shortName);
}

void TThread::Synchronize(std::function<void()> fn) { creatorQueue_->Send(std::move(fn)); }

}  // namespace rtl
