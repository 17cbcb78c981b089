// The event thread of an open port: it waits on the device for the watched events and hands each
// batch to its port, on the thread that SyncMethod names. The port owns it (FEventThread).
#pragma once

#include "runtime/event.h"
#include "runtime/thread.h"
#include "serial/serial_types.h"

namespace serial {

class TCustomSerialPort;

class TSerialThread : public rtl::TThread {
 public:
  // Window thread, from Open: makes the thread (suspended), its stop event, sets its priority
  // from the port's EventThreadPriority and the device's event mask from the port's Events (the
  // mask's result is not looked at). The body runs once Start is called. A thread the platform
  // refuses raises rtl::EThread.
  explicit TSerialThread(TCustomSerialPort* APort);
  // Asks the body to stop and waits until it has returned; on the window thread the wait serves
  // the hand-overs and messages the thread still has queued, so a batch in delivery completes.
  ~TSerialThread() override;

  // Signals the stop event; any thread.
  void RequestStop();

 protected:
  void Execute() override {
    NameCurrentThread("corvane-events");
    RunEventLoop();
  }

 private:
  // The thread body: one device wait at a time, each completed batch dispatched, until a stop
  // request or a failed wait; then the event mask is cleared and both queues purged.
  void RunEventLoop();
  // Hands FEvents to the port by the port's SyncMethod.
  void DispatchEvents();
  // The port's event steps for FEvents, in their fixed order, on the calling thread.
  void RunEventHandlers();
  // smWindowSync: one message per event to the port's message target, in the same order.
  void SendEventMessages();

  TCustomSerialPort* FSerialPort = nullptr;
  rtl::EventHandle FStopEvent;
  // Written by the body before each dispatch; read by the steps only while the body waits for
  // them (or on the body's own thread).
  TSerialEvents FEvents;
};

}  // namespace serial
