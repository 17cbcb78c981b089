// The scripted device itself: the behaviour later engine tests rely on (pending operations and
// what ends them, kept events, scripted failures, one opener at a time).
#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "runtime/lasterror.h"
#include "scripted_device.h"
#include "serial/device/comm.h"

namespace {

using scripted::ScriptedDevice;
using scripted::ScriptedInstall;

class ScriptedDeviceTest : public ::testing::Test {
 protected:
  ScriptedDeviceTest() : install_("/script/", device) {
    h = comm::CreateFile("/script/t", comm::GENERIC_READ | comm::GENERIC_WRITE, 0, nullptr, comm::OPEN_EXISTING,
                         comm::FILE_FLAG_OVERLAPPED, 0);
    ov.hEvent = rtl::CreateEvent(true, false);
  }
  ~ScriptedDeviceTest() override {
    if (h != comm::INVALID_HANDLE_VALUE) comm::CloseHandle(h);
  }

  std::shared_ptr<ScriptedDevice> device = std::make_shared<ScriptedDevice>();
  ScriptedInstall install_;
  comm::HANDLE h;
  comm::OVERLAPPED ov;
};

TEST_F(ScriptedDeviceTest, EventWaitPendsUntilAnEventOfTheMask) {
  ASSERT_NE(h, comm::INVALID_HANDLE_VALUE);
  ASSERT_TRUE(comm::SetCommMask(h, comm::EV_RXCHAR | comm::EV_CTS));
  uint32_t mask = 0xDEAD;
  EXPECT_FALSE(comm::WaitCommEvent(h, &mask, &ov));
  EXPECT_EQ(rtl::GetLastError(), rtl::ERROR_IO_PENDING);
  EXPECT_EQ(device->PendingWaits(), 1u);
  device->SetModemStatus(comm::MS_DSR_ON);  // DSR is not watched
  EXPECT_FALSE(ov.hEvent->IsSet());
  device->InjectReceived("x");
  EXPECT_TRUE(ov.hEvent->IsSet());
  EXPECT_EQ(mask, comm::EV_RXCHAR);
  uint32_t n = 0;
  EXPECT_TRUE(comm::GetOverlappedResult(h, &ov, &n, false));
}

TEST_F(ScriptedDeviceTest, EventsWithoutAWaitAreKeptUntilTheMaskChanges) {
  ASSERT_TRUE(comm::SetCommMask(h, comm::EV_CTS | comm::EV_ERR));
  device->SetModemStatus(comm::MS_CTS_ON);
  device->InjectLineErrors(comm::CE_FRAME);
  uint32_t mask = 0;
  EXPECT_TRUE(comm::WaitCommEvent(h, &mask, &ov));
  EXPECT_EQ(mask, comm::EV_CTS | comm::EV_ERR);

  device->SetModemStatus(0);
  ASSERT_TRUE(comm::SetCommMask(h, comm::EV_CTS));  // forgets the kept CTS change
  EXPECT_FALSE(comm::WaitCommEvent(h, &mask, &ov));
}

TEST_F(ScriptedDeviceTest, WhatEndsAPendingWait) {
  struct Case {
    const char* what;
    std::function<void()> end;
    uint32_t error;
    uint32_t mask;
  };
  const std::vector<Case> cases = {
      {"a new mask", [&] { comm::SetCommMask(h, 0); }, 0, 0},
      {"an injected event", [&] { device->RaiseEvents(comm::EV_RING); }, 0, comm::EV_RING},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    ASSERT_TRUE(comm::SetCommMask(h, comm::EV_RING));
    uint32_t mask = 0xFF;
    ASSERT_FALSE(comm::WaitCommEvent(h, &mask, &ov));
    c.end();
    EXPECT_EQ(ov.Internal.load(), c.error);
    EXPECT_EQ(mask, c.mask);
    EXPECT_EQ(device->PendingWaits(), 0u);
  }
  // Closing the handle ends it with 995.
  ASSERT_TRUE(comm::SetCommMask(h, comm::EV_RING));
  uint32_t mask = 0;
  ASSERT_FALSE(comm::WaitCommEvent(h, &mask, &ov));
  comm::CloseHandle(h);
  h = comm::INVALID_HANDLE_VALUE;
  EXPECT_EQ(ov.Internal.load(), rtl::ERROR_OPERATION_ABORTED);
}

TEST_F(ScriptedDeviceTest, ReadsPendUntilTheirCountOrACompletion) {
  comm::COMMTIMEOUTS t{};  // totals 0 and no interval: wait for the whole count
  ASSERT_TRUE(comm::SetCommTimeouts(h, &t));
  char buf[8] = {};
  uint32_t done = 0;
  EXPECT_FALSE(comm::ReadFile(h, buf, 4, &done, &ov));
  device->InjectReceived("ab");
  EXPECT_EQ(device->PendingReads(), 1u);
  device->InjectReceived("cde");
  uint32_t n = 0;
  ASSERT_TRUE(comm::GetOverlappedResult(h, &ov, &n, true));
  EXPECT_EQ(n, 4u);
  EXPECT_EQ(std::string(buf, 4), "abcd");

  EXPECT_FALSE(comm::ReadFile(h, buf, 4, &done, &ov));
  device->CompleteReads();  // as a timeout: with what is there
  ASSERT_TRUE(comm::GetOverlappedResult(h, &ov, &n, false));
  EXPECT_EQ(n, 1u);
  EXPECT_EQ(buf[0], 'e');

  // "Return at once" timeouts never pend.
  t.ReadIntervalTimeout = comm::MAXDWORD;
  ASSERT_TRUE(comm::SetCommTimeouts(h, &t));
  EXPECT_TRUE(comm::ReadFile(h, buf, 4, &done, &ov));
  EXPECT_EQ(done, 0u);
}

TEST_F(ScriptedDeviceTest, HeldWritesAndAbort) {
  device->HoldWrites(true);
  uint32_t done = 0;
  EXPECT_FALSE(comm::WriteFile(h, "abc", 3, &done, &ov));
  comm::COMSTAT stat{};
  uint32_t errors = 0;
  ASSERT_TRUE(comm::ClearCommError(h, &errors, &stat));
  EXPECT_EQ(stat.cbOutQue, 3u);
  ASSERT_TRUE(comm::PurgeComm(h, comm::PURGE_TXABORT));
  EXPECT_EQ(ov.Internal.load(), rtl::ERROR_OPERATION_ABORTED);
  EXPECT_EQ(device->Written(), "");

  EXPECT_FALSE(comm::WriteFile(h, "xyz", 3, &done, &ov));
  device->CompleteWrites();
  uint32_t n = 0;
  ASSERT_TRUE(comm::GetOverlappedResult(h, &ov, &n, false));
  EXPECT_EQ(n, 3u);
  EXPECT_EQ(device->Written(), "xyz");
}

TEST_F(ScriptedDeviceTest, ScriptedFailuresAndTheSecondOpener) {
  device->FailNext("EscapeCommFunction", 31, 2);
  EXPECT_FALSE(comm::EscapeCommFunction(h, comm::SETDTR));
  EXPECT_EQ(rtl::GetLastError(), 31u);
  EXPECT_FALSE(comm::EscapeCommFunction(h, comm::SETDTR));
  EXPECT_TRUE(comm::EscapeCommFunction(h, comm::SETDTR));
  EXPECT_TRUE(device->Dtr());

  EXPECT_EQ(comm::CreateFile("/script/t", 0, 0, nullptr, comm::OPEN_EXISTING, 0, 0), comm::INVALID_HANDLE_VALUE);
  EXPECT_EQ(rtl::GetLastError(), rtl::ERROR_ACCESS_DENIED);
  comm::CloseHandle(h);
  device->RefuseOpen(2);
  h = comm::CreateFile("/script/t", 0, 0, nullptr, comm::OPEN_EXISTING, 0, 0);
  EXPECT_EQ(h, comm::INVALID_HANDLE_VALUE);
  EXPECT_EQ(rtl::GetLastError(), 2u);
  device->RefuseOpen(0);
  h = comm::CreateFile("/script/t", 0, 0, nullptr, comm::OPEN_EXISTING, 0, 0);
  EXPECT_NE(h, comm::INVALID_HANDLE_VALUE);
  EXPECT_EQ(device->Opens(), 2);
}

// The waits of another thread are completed by the test thread's injections.
TEST_F(ScriptedDeviceTest, CompletesAWaitOfAnotherThread) {
  ASSERT_TRUE(comm::SetCommMask(h, comm::EV_RXCHAR));
  uint32_t mask = 0;
  std::thread waiter([&] {
    comm::WaitCommEvent(h, &mask, &ov);
    uint32_t n = 0;
    comm::GetOverlappedResult(h, &ov, &n, true);
  });
  ASSERT_TRUE(device->WaitForCalls("WaitCommEvent", 1, std::chrono::seconds(30)));
  device->InjectReceived("z");
  waiter.join();
  EXPECT_EQ(mask, comm::EV_RXCHAR);
}

}  // namespace
