// The event mask and the overlapped event wait on a pseudo-terminal: completion by a watched
// event, events kept for the next wait, the mask change that ends a wait, and the refusals.
#include <gtest/gtest.h>

#include <thread>

#include "runtime/lasterror.h"
#include "serial/device/pty_port.h"

using namespace devtest;

namespace {

class TtyEvents : public PtyPort {
 protected:
  // Starts a wait that must stay pending.
  void StartPendingWait(Record& r, uint32_t& events) {
    ASSERT_FALSE(comm::WaitCommEvent(H(), &events, &r.ov));
    ASSERT_EQ(rtl::GetLastError(), 997u);
    ASSERT_FALSE(r.Signalled());
  }
};

}  // namespace

TEST_F(TtyEvents, AWatchedArrivalCompletesAPendingWait) {
  comm::DCB dcb = LineDcb();
  dcb.EvtChar = '\n';
  SetDcb(dcb);
  struct Case {
    uint32_t mask;
    std::string send;
    uint32_t expect;
  } cases[] = {
      {comm::EV_RXCHAR, "abc", comm::EV_RXCHAR},
      {comm::EV_RXCHAR | comm::EV_RXFLAG, "line\n", comm::EV_RXCHAR | comm::EV_RXFLAG},
      {comm::EV_RXFLAG, "end\n", comm::EV_RXFLAG},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.send);
    ASSERT_TRUE(comm::SetCommMask(H(), c.mask));
    Record r;
    uint32_t events = 0;
    StartPendingWait(r, events);
    pty_.Send(c.send);
    Outcome o = Finish(H(), r);
    EXPECT_TRUE(o.ok);
    EXPECT_EQ(o.count, 0u);
    EXPECT_EQ(events, c.expect);
    ASSERT_EQ(WaitQueued(static_cast<uint32_t>(c.send.size())), c.send.size());
    ReadQueued();
  }
}

TEST_F(TtyEvents, EventsWithoutAWaitAreKeptForTheNextOneAndOnlyThoseWatched) {
  comm::DCB dcb = LineDcb();
  dcb.EvtChar = '!';
  SetDcb(dcb);
  ASSERT_TRUE(comm::SetCommMask(H(), comm::EV_RXFLAG));
  pty_.Send("no flag here");
  ASSERT_EQ(WaitQueued(12), 12u);
  Record quiet;
  uint32_t events = 0;
  StartPendingWait(quiet, events);  // EV_RXCHAR happened but was not watched

  ASSERT_TRUE(comm::SetCommMask(H(), comm::EV_RXCHAR | comm::EV_RXFLAG));
  ASSERT_TRUE(Finish(H(), quiet).ok);
  pty_.Send("hi!");
  ASSERT_EQ(WaitQueued(15), 15u);
  Record kept;
  EXPECT_TRUE(comm::WaitCommEvent(H(), &events, &kept.ov));  // at once, from the history
  EXPECT_TRUE(kept.Signalled());
  EXPECT_EQ(events, comm::EV_RXCHAR | comm::EV_RXFLAG);
  Record next;
  StartPendingWait(next, events);  // the history was handed out once
  ASSERT_TRUE(comm::SetCommMask(H(), 0));
  ASSERT_TRUE(Finish(H(), next).ok);
}

TEST_F(TtyEvents, SettingTheMaskEndsAPendingWaitWithMaskZero) {
  ASSERT_TRUE(comm::SetCommMask(H(), comm::EV_RXCHAR | comm::EV_CTS));
  Record r;
  uint32_t events = 0xFFFF;
  StartPendingWait(r, events);
  std::thread other([&] { EXPECT_TRUE(comm::SetCommMask(H(), comm::EV_RXCHAR)); });
  other.join();
  Outcome o = Finish(H(), r);
  EXPECT_TRUE(o.ok);
  EXPECT_EQ(events, 0u);
  uint32_t mask = 0;
  ASSERT_TRUE(comm::GetCommMask(H(), &mask));
  EXPECT_EQ(mask, comm::EV_RXCHAR);
}

TEST_F(TtyEvents, WaitsTheDeviceRefuses) {
  ASSERT_TRUE(comm::SetCommMask(H(), comm::EV_RXCHAR));
  Record first;
  uint32_t events = 0;
  StartPendingWait(first, events);
  Record second;
  uint32_t other = 0;
  EXPECT_FALSE(comm::WaitCommEvent(H(), &other, &second.ov));  // one wait at a time
  EXPECT_EQ(rtl::GetLastError(), 87u);
  EXPECT_TRUE(second.Signalled());
  EXPECT_FALSE(first.Signalled());
  EXPECT_FALSE(comm::SetCommMask(H(), 0x8000));  // not an event
  EXPECT_EQ(rtl::GetLastError(), 87u);
  ASSERT_TRUE(comm::SetCommMask(H(), 0));
  EXPECT_TRUE(Finish(H(), first).ok);
}

TEST_F(TtyEvents, OutputEmptyFollowsAWriteThatHasLeft) {
  ASSERT_TRUE(comm::SetCommMask(H(), comm::EV_TXEMPTY));
  Record r;
  uint32_t events = 0;
  StartPendingWait(r, events);
  Record w;
  uint32_t n = 0;
  const char text[] = "out";
  if (!comm::WriteFile(H(), text, 3, &n, &w.ov)) {
    ASSERT_EQ(rtl::GetLastError(), 997u);
  }
  EXPECT_EQ(pty_.Receive(3), "out");
  EXPECT_TRUE(Finish(H(), w).ok);
  EXPECT_TRUE(Finish(H(), r).ok);
  EXPECT_EQ(events, comm::EV_TXEMPTY);
}

TEST_F(TtyEvents, ClosingEndsPendingOperationsWithAborted) {
  ASSERT_TRUE(comm::SetCommMask(H(), comm::EV_RXCHAR));
  SetTimeouts(Timeouts(0, 0, 0));
  Record wait, read;
  uint32_t events = 0, n = 0;
  char buf[4];
  StartPendingWait(wait, events);
  ASSERT_FALSE(comm::ReadFile(H(), buf, sizeof buf, &n, &read.ov));
  ASSERT_TRUE(port_->Close());
  for (Record* r : {&wait, &read}) {
    Outcome o = Finish(comm::INVALID_HANDLE_VALUE, *r);  // the record still tells the outcome
    EXPECT_FALSE(o.ok);
    EXPECT_EQ(o.error, 995u);
  }
}
