// Reads and writes on a pseudo-terminal: the read and write timeout rules, pending and completed
// transfers, three operations pending together, purge, queue counts, NUL dropping, and a large
// input that the far end sends with nobody reading.
#include <gtest/gtest.h>

#include <string>
#include <thread>
#include <vector>

#include "runtime/lasterror.h"
#include "serial/device/pty_port.h"

using namespace devtest;
using comm::MAXDWORD;

namespace {

class TtyTransfer : public PtyPort {};

std::string Pattern(size_t n) {
  std::string s(n, '\0');
  for (size_t i = 0; i < n; ++i) s[i] = static_cast<char>((i * 7 + i / 251) & 0xFF);
  return s;
}

}  // namespace

TEST_F(TtyTransfer, ReadsEndAsTheTimeoutRulesSay) {
  struct Case {
    const char* name;
    comm::COMMTIMEOUTS t;
    uint32_t count;
    std::string before;  // queued before the read starts
    int laterMs;         // then sent after this pause (none when negative)
    std::string later;
    std::string expect;
    bool atOnce;  // the start completes the read
    int minMs;    // the read ends no earlier than this after its start
    std::string rest = "";  // left queued for the next read
  } cases[] = {
      {"all-ones interval, totals 0: what is queued", Timeouts(MAXDWORD, 0, 0), 10, "abc", -1, "", "abc", true, 0},
      {"all-ones interval, totals 0: nothing queued", Timeouts(MAXDWORD, 0, 0), 10, "", -1, "", "", true, 0},
      {"first byte: queued bytes at once", Timeouts(MAXDWORD, MAXDWORD, 1000), 10, "ab", -1, "", "ab", true, 0},
      {"first byte: the first arrival", Timeouts(MAXDWORD, MAXDWORD, 3000), 10, "", 60, "xyz", "xyz", false, 60},
      {"first byte: times out empty", Timeouts(MAXDWORD, MAXDWORD, 100), 10, "", -1, "", "", false, 100},
      {"total timeout with part of the count", Timeouts(0, 20, 300), 5, "", 20, "ab", "ab", false, 400},
      {"interval after the last byte", Timeouts(50, 0, 0), 10, "", 20, "abc", "abc", false, 70},
      {"count reached first", Timeouts(0, 0, 5000), 3, "", 20, "abcdef", "abc", false, 20, "def"},
      {"no timeouts: waits for the count", Timeouts(0, 0, 0), 4, "ab", 50, "cd", "abcd", false, 50},
      {"terminal's timeouts, exactly what is queued", Timeouts(500, 500, 5000), 3, "abc", -1, "", "abc", true, 0},
      {"terminal's timeouts, more than is queued", Timeouts(500, 500, 5000), 5, "abc", -1, "", "abc", false, 500},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ASSERT_TRUE(comm::PurgeComm(H(), comm::PURGE_RXCLEAR));
    SetTimeouts(c.t);
    if (!c.before.empty()) {
      pty_.Send(c.before);
      ASSERT_EQ(WaitQueued(static_cast<uint32_t>(c.before.size())), c.before.size());
    }
    std::string buf(c.count, '\0');
    Record r;
    uint32_t n = 0;
    const auto start = Clock::now();
    const bool atOnce = comm::ReadFile(H(), buf.data(), c.count, &n, &r.ov);
    EXPECT_EQ(atOnce, c.atOnce);
    if (atOnce) {
      EXPECT_TRUE(r.Signalled());
    } else {
      EXPECT_EQ(rtl::GetLastError(), 997u);
      EXPECT_FALSE(r.Signalled());
      if (c.laterMs >= 0) {
        std::this_thread::sleep_for(std::chrono::milliseconds(c.laterMs));
        pty_.Send(c.later);
      }
      Outcome o = Finish(H(), r);
      EXPECT_TRUE(o.ok) << o.error;  // running out of time is not a failure
      n = o.count;
    }
    EXPECT_GE(MsSince(start), c.minMs);
    buf.resize(n);
    EXPECT_EQ(buf, c.expect);
    if (!c.rest.empty()) {
      ASSERT_EQ(WaitQueued(static_cast<uint32_t>(c.rest.size())), c.rest.size());
      EXPECT_EQ(ReadQueued(), c.rest);
    }
  }
}

TEST_F(TtyTransfer, AReadWaitsForTheFirstByteBeforeItsIntervalCounts) {
  SetTimeouts(Timeouts(30, 0, 0));
  char buf[8];
  Record r;
  uint32_t n = 0;
  ASSERT_FALSE(comm::ReadFile(H(), buf, sizeof buf, &n, &r.ov));
  EXPECT_FALSE(r.WaitFor(150));  // no byte yet: the interval has not started
  pty_.Send("q");
  Outcome o = Finish(H(), r);
  EXPECT_TRUE(o.ok);
  EXPECT_EQ(o.count, 1u);
}

TEST_F(TtyTransfer, AWriteTheFarEndCannotTakeStaysPendingUntilItReads) {
  const std::string data = Pattern(1 << 20);
  Record w;
  uint32_t n = 0;
  ASSERT_FALSE(comm::WriteFile(H(), data.data(), static_cast<uint32_t>(data.size()), &n, &w.ov));
  ASSERT_EQ(rtl::GetLastError(), 997u);
  EXPECT_FALSE(w.Signalled());
  uint32_t partial = 0;
  EXPECT_FALSE(comm::GetOverlappedResult(H(), &w.ov, &partial, false));
  EXPECT_EQ(rtl::GetLastError(), 996u);
  comm::COMSTAT stat{};
  ASSERT_TRUE(comm::ClearCommError(H(), nullptr, &stat));
  EXPECT_GT(stat.cbOutQue, 0u);  // what the line has not taken yet
  EXPECT_EQ(pty_.Receive(data.size()), data);
  Outcome o = Finish(H(), w);
  EXPECT_TRUE(o.ok);
  EXPECT_EQ(o.count, data.size());
}

TEST_F(TtyTransfer, AWriteThatTimesOutSucceedsWithWhatWasWritten) {
  SetTimeouts(Timeouts(MAXDWORD, 0, 0, 0, 100));
  const std::string data = Pattern(1 << 20);
  Record w;
  uint32_t n = 0;
  const auto start = Clock::now();
  ASSERT_FALSE(comm::WriteFile(H(), data.data(), static_cast<uint32_t>(data.size()), &n, &w.ov));
  Outcome o = Finish(H(), w);
  EXPECT_GE(MsSince(start), 100);
  EXPECT_TRUE(o.ok) << o.error;
  EXPECT_GT(o.count, 0u);
  EXPECT_LT(o.count, data.size());
  // Exactly the bytes it reports went out, and nothing after them.
  EXPECT_EQ(pty_.Receive(data.size(), 200), data.substr(0, o.count));
}

TEST_F(TtyTransfer, AReadAWriteAndAWaitArePendingTogetherFromTwoThreads) {
  SetTimeouts(Timeouts(0, 0, 0));
  ASSERT_TRUE(comm::SetCommMask(H(), comm::EV_RXCHAR));
  Record wait;
  uint32_t events = 0;
  std::thread waiter([&] {
    EXPECT_FALSE(comm::WaitCommEvent(H(), &events, &wait.ov));
    EXPECT_EQ(rtl::GetLastError(), 997u);
  });
  waiter.join();
  char in[4];
  Record r;
  uint32_t n = 0;
  ASSERT_FALSE(comm::ReadFile(H(), in, sizeof in, &n, &r.ov));
  const std::string out = Pattern(512 * 1024);
  Record w;
  ASSERT_FALSE(comm::WriteFile(H(), out.data(), static_cast<uint32_t>(out.size()), &n, &w.ov));
  EXPECT_FALSE(wait.Signalled() || r.Signalled() || w.Signalled());

  std::string received;
  std::thread farReader([&] { received = pty_.Receive(out.size()); });
  pty_.Send("wxyz");
  farReader.join();
  EXPECT_EQ(received, out);

  std::thread waitEnd([&] {
    Outcome o = Finish(H(), wait);
    EXPECT_TRUE(o.ok);
    EXPECT_EQ(events, comm::EV_RXCHAR);
  });
  Outcome ro = Finish(H(), r), wo = Finish(H(), w);
  waitEnd.join();
  EXPECT_TRUE(ro.ok);
  EXPECT_EQ(std::string(in, ro.count), "wxyz");
  EXPECT_TRUE(wo.ok);
  EXPECT_EQ(wo.count, out.size());
}

TEST_F(TtyTransfer, AbortPurgesEndPendingTransfersAndClearPurgesDropQueuedBytes) {
  SetTimeouts(Timeouts(0, 0, 0));
  ASSERT_TRUE(comm::SetCommMask(H(), comm::EV_RXCHAR));
  char in[10];
  Record r;
  uint32_t n = 0;
  ASSERT_FALSE(comm::ReadFile(H(), in, sizeof in, &n, &r.ov));
  const std::string out = Pattern(1 << 20);
  Record w;
  ASSERT_FALSE(comm::WriteFile(H(), out.data(), static_cast<uint32_t>(out.size()), &n, &w.ov));
  // The bytes reach the pending read as their arrival is signalled.
  Record arrival;
  uint32_t events = 0;
  ASSERT_FALSE(comm::WaitCommEvent(H(), &events, &arrival.ov));
  pty_.Send("ab");
  ASSERT_TRUE(Finish(H(), arrival).ok);
  ASSERT_TRUE(comm::PurgeComm(H(), comm::PURGE_TXABORT | comm::PURGE_RXABORT));
  Outcome ro = Finish(H(), r), wo = Finish(H(), w);
  EXPECT_FALSE(ro.ok);
  EXPECT_EQ(ro.error, 995u);
  EXPECT_EQ(ro.count, 2u);  // what it had got
  EXPECT_EQ(std::string(in, 2), "ab");
  EXPECT_FALSE(wo.ok);
  EXPECT_EQ(wo.error, 995u);
  EXPECT_LT(wo.count, out.size());
  pty_.Drain();

  SetTimeouts(Timeouts(MAXDWORD, 0, 0));
  pty_.Send("stale");
  ASSERT_EQ(WaitQueued(5), 5u);
  ASSERT_TRUE(comm::PurgeComm(H(), comm::PURGE_RXCLEAR | comm::PURGE_TXCLEAR));
  comm::COMSTAT stat{};
  ASSERT_TRUE(comm::ClearCommError(H(), nullptr, &stat));
  EXPECT_EQ(stat.cbInQue, 0u);
  pty_.Send("fresh");
  ASSERT_EQ(WaitQueued(5), 5u);
  EXPECT_EQ(ReadQueued(), "fresh");
  EXPECT_FALSE(comm::PurgeComm(H(), 0x10));
  EXPECT_EQ(rtl::GetLastError(), 87u);
}

TEST_F(TtyTransfer, EveryStartResetsTheEventAndAFailedStartLeavesItSignalled) {
  Record r;
  r.ov.hEvent->Set();
  SetTimeouts(Timeouts(0, 0, 0));
  char in[1];
  uint32_t n = 0;
  ASSERT_FALSE(comm::ReadFile(H(), in, 1, &n, &r.ov));
  EXPECT_FALSE(r.Signalled());
  ASSERT_TRUE(comm::PurgeComm(H(), comm::PURGE_RXABORT));
  EXPECT_TRUE(r.Signalled());

  // A wait with an empty mask is refused at once: signalled, with the error in the record.
  Record w;
  uint32_t events = 0;
  ASSERT_TRUE(comm::SetCommMask(H(), 0));
  EXPECT_FALSE(comm::WaitCommEvent(H(), &events, &w.ov));
  EXPECT_EQ(rtl::GetLastError(), 87u);
  EXPECT_TRUE(w.Signalled());
  Outcome o = Finish(H(), w);
  EXPECT_FALSE(o.ok);
  EXPECT_EQ(o.error, 87u);
}

TEST_F(TtyTransfer, DiscardNullDropsReceivedNulBytes) {
  comm::DCB dcb = LineDcb();
  dcb.fNull = 1;
  SetDcb(dcb);
  pty_.Send(std::string("a\0b\0\0c\0", 7));
  pty_.Send("d");
  ASSERT_EQ(WaitQueued(4), 4u);
  EXPECT_EQ(ReadQueued(), "abcd");
  dcb.fNull = 0;
  SetDcb(dcb);
  pty_.Send(std::string("\0e", 2));
  ASSERT_EQ(WaitQueued(2), 2u);
  EXPECT_EQ(ReadQueued(), std::string("\0e", 2));
}

TEST_F(TtyTransfer, TheQueueTakesWhatTheFarEndSendsWithNobodyReading) {
  // The far end's blocking writes return only because the device keeps draining the tty.
  ASSERT_TRUE(comm::SetCommMask(H(), comm::EV_RX80FULL));
  const std::string big = Pattern(3600 * 1024);  // past 80 % of the 4 MiB queue
  pty_.Send(big);
  ASSERT_EQ(WaitQueued(static_cast<uint32_t>(big.size())), big.size());
  Record w;
  uint32_t events = 0;
  EXPECT_TRUE(comm::WaitCommEvent(H(), &events, &w.ov));
  EXPECT_EQ(events, comm::EV_RX80FULL);
  EXPECT_EQ(ReadQueued(), big);

  // A larger queue when asked for.
  ASSERT_TRUE(comm::SetupComm(H(), 6 << 20, 1024));
  const std::string bigger = Pattern(5 << 20);
  pty_.Send(bigger);
  ASSERT_EQ(WaitQueued(static_cast<uint32_t>(bigger.size())), bigger.size());
  EXPECT_EQ(ReadQueued(), bigger);
  EXPECT_FALSE(comm::SetupComm(H(), 0x80000000u, 1024));
  EXPECT_EQ(rtl::GetLastError(), 87u);
}
