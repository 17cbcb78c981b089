// The far end of the pseudo-terminal going away: pending and later operations fail with 1167,
// what had arrived stays readable, and the I/O thread then blocks instead of spinning.
#include <gtest/gtest.h>

#include <thread>

#include "runtime/lasterror.h"
#include "serial/device/pty_port.h"

using namespace devtest;

namespace {

class TtyGone : public PtyPort {
 protected:
  void SetUp() override {
    PtyPort::SetUp();
    pty_.CloseSlaveCopy();  // as in use: only the device holds the slave
  }
};

}  // namespace

TEST_F(TtyGone, PendingReadAndWaitFailWithDeviceNotConnected) {
  SetTimeouts(Timeouts(0, 0, 0));
  ASSERT_TRUE(comm::SetCommMask(H(), comm::EV_RXCHAR));
  char buf[10];
  Record read, arrival;
  uint32_t events = 0, n = 0;
  ASSERT_FALSE(comm::ReadFile(H(), buf, sizeof buf, &n, &read.ov));
  ASSERT_FALSE(comm::WaitCommEvent(H(), &events, &arrival.ov));
  pty_.Send("ab");
  ASSERT_TRUE(Finish(H(), arrival).ok);  // the bytes are in the pending read now
  Record wait;
  ASSERT_FALSE(comm::WaitCommEvent(H(), &events, &wait.ov));
  pty_.CloseFar();
  Outcome r = Finish(H(), read), w = Finish(H(), wait);
  EXPECT_FALSE(r.ok);
  EXPECT_EQ(r.error, 1167u);
  EXPECT_EQ(std::string(buf, r.count), "ab");  // what it had got is still handed over
  EXPECT_FALSE(w.ok);
  EXPECT_EQ(w.error, 1167u);
  EXPECT_EQ(events, 0u);
}

TEST_F(TtyGone, LaterOperationsFailButWhatArrivedCanStillBeRead) {
  pty_.Send("last words");
  ASSERT_EQ(WaitQueued(10), 10u);
  pty_.CloseFar();
  // Wait until the device has noticed: a write then fails.
  Record w;
  uint32_t n = 0;
  const char out[] = "x";
  for (int i = 0; i < 5000; ++i) {
    if (!comm::WriteFile(H(), out, 1, &n, &w.ov) && rtl::GetLastError() == 1167) break;
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  EXPECT_EQ(rtl::GetLastError(), 1167u);
  EXPECT_TRUE(w.Signalled());  // a failed start leaves the record signalled

  comm::COMSTAT stat{};
  ASSERT_TRUE(comm::ClearCommError(H(), nullptr, &stat));
  EXPECT_EQ(stat.cbInQue, 10u);
  EXPECT_EQ(ReadQueued(), "last words");

  struct Case {
    const char* name;
    bool (*call)(comm::HANDLE);
  } cases[] = {
      {"read", [](comm::HANDLE h) {
         Record r;
         char b[4];
         uint32_t k = 0;
         bool ok = comm::ReadFile(h, b, 4, &k, &r.ov);
         EXPECT_TRUE(r.Signalled());
         return ok;
       }},
      {"write", [](comm::HANDLE h) {
         Record r;
         uint32_t k = 0;
         return comm::WriteFile(h, "y", 1, &k, &r.ov);
       }},
      {"wait", [](comm::HANDLE h) {
         Record r;
         uint32_t ev = 0;
         bool ok = comm::WaitCommEvent(h, &ev, &r.ov);
         EXPECT_TRUE(r.Signalled());
         return ok;
       }},
      {"status", [](comm::HANDLE h) {
         comm::COMSTAT s{};
         return comm::ClearCommError(h, nullptr, &s);
       }},
      {"modem status", [](comm::HANDLE h) {
         uint32_t s = 0;
         return comm::GetCommModemStatus(h, &s);
       }},
      {"line settings", [](comm::HANDLE h) {
         comm::DCB d = LineDcb();
         return comm::SetCommState(h, &d);
       }},
      {"escape", [](comm::HANDLE h) { return comm::EscapeCommFunction(h, comm::SETDTR); }},
  };
  ASSERT_TRUE(comm::SetCommMask(H(), comm::EV_RXCHAR) || rtl::GetLastError() == 1167);
  for (const Case& c : cases) {
    rtl::SetLastError(0);
    EXPECT_FALSE(c.call(H())) << c.name;
    EXPECT_EQ(rtl::GetLastError(), 1167u) << c.name;
  }
  EXPECT_TRUE(port_->Close());
}

TEST_F(TtyGone, TheIoThreadBlocksOnceTheDeviceIsGone) {
  ASSERT_TRUE(comm::SetCommMask(H(), comm::EV_RXCHAR | comm::EV_TXEMPTY));
  Record wait;
  uint32_t events = 0;
  ASSERT_FALSE(comm::WaitCommEvent(H(), &events, &wait.ov));
  pty_.CloseFar();
  EXPECT_EQ(Finish(H(), wait).error, 1167u);

  std::optional<int> tid = FindThread("corvane-tty-io");
  ASSERT_TRUE(tid.has_value());
  const auto cpu0 = ThreadCpuNs(*tid), wake0 = ThreadWakeups(*tid);
  ASSERT_TRUE(cpu0 && wake0);
  std::this_thread::sleep_for(std::chrono::seconds(1));
  const auto cpu1 = ThreadCpuNs(*tid), wake1 = ThreadWakeups(*tid);
  ASSERT_TRUE(cpu1 && wake1);
  // A thread that blocks uses next to nothing in a second; one that spins uses the whole second.
  EXPECT_LT(*cpu1 - *cpu0, 50'000'000u);
  EXPECT_LE(*wake1 - *wake0, 2u);

  EXPECT_TRUE(port_->Close());
  EXPECT_EQ(CountThreads("corvane-tty-io"), 0);
}
