// A fixture: a pseudo-terminal whose slave the device has open (8N1, default queues), with the
// test playing the far end on the master.
#pragma once

#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "serial/device/device_helpers.h"
#include "serial/device/pty_pair.h"

namespace devtest {

class PtyPort : public ::testing::Test {
 protected:
  void SetUp() override;
  comm::HANDLE H() const { return port_->Get(); }
  void SetTimeouts(const comm::COMMTIMEOUTS& t);
  void SetDcb(const comm::DCB& dcb);
  // Waits (up to 5 s) until the device's input queue holds at least n bytes; returns the count.
  uint32_t WaitQueued(uint32_t n);
  // Reads exactly what is queued now.
  std::string ReadQueued();

  PtyPair pty_;
  std::unique_ptr<Port> port_;
};

}  // namespace devtest
