// The "LOOPBACK" port: bytes and modem lines come back, a break is received, flow control holds
// output, and it is exclusive, timed and purged like a real port.
#include <gtest/gtest.h>

#include <string>

#include "runtime/lasterror.h"
#include "serial/device/device_helpers.h"
#include "serial/device/queued_device.h"

using namespace devtest;

namespace {

class Loopback : public ::testing::Test {
 protected:
  void SetUp() override {
    port_ = std::make_unique<Port>("LOOPBACK");
    ASSERT_TRUE(port_->Valid()) << port_->OpenError();
    comm::DCB dcb = LineDcb();
    ASSERT_TRUE(comm::SetCommState(H(), &dcb));
    comm::COMMTIMEOUTS t = Timeouts(comm::MAXDWORD, 0, 0);
    ASSERT_TRUE(comm::SetCommTimeouts(H(), &t));
  }
  comm::HANDLE H() const { return port_->Get(); }
  // Writes text; true when it went at once.
  bool Write(const std::string& text) {
    Record w;
    uint32_t n = 0;
    return comm::WriteFile(H(), text.data(), static_cast<uint32_t>(text.size()), &n, &w.ov) && n == text.size();
  }
  std::string ReadAll() {
    comm::COMSTAT stat{};
    if (!comm::ClearCommError(H(), nullptr, &stat)) return "?";
    std::string s(stat.cbInQue, '\0');
    Record r;
    uint32_t n = 0;
    if (!comm::ReadFile(H(), s.data(), stat.cbInQue, &n, &r.ov)) return "?";
    s.resize(n);
    return s;
  }
  uint32_t Modem() {
    uint32_t s = 0xFFFF;
    EXPECT_TRUE(comm::GetCommModemStatus(H(), &s));
    return s;
  }

  std::unique_ptr<Port> port_;
};

}  // namespace

TEST_F(Loopback, WrittenBytesComeBackInOrder) {
  ASSERT_TRUE(comm::SetCommMask(H(), comm::EV_RXCHAR));
  Record wait;
  uint32_t events = 0;
  ASSERT_FALSE(comm::WaitCommEvent(H(), &events, &wait.ov));
  EXPECT_TRUE(Write("hello, "));
  EXPECT_TRUE(Finish(H(), wait).ok);
  EXPECT_EQ(events, comm::EV_RXCHAR);
  EXPECT_TRUE(Write(std::string("\0\xff\r\n", 4)));
  EXPECT_TRUE(Write("world"));
  EXPECT_EQ(ReadAll(), std::string("hello, \0\xff\r\nworld", 16));
}

TEST_F(Loopback, ModemLinesFollowTheOutputLines) {
  ASSERT_TRUE(comm::SetCommMask(H(), comm::EV_CTS | comm::EV_DSR | comm::EV_RLSD));
  EXPECT_EQ(Modem(), 0u);
  struct Case {
    uint32_t function;
    uint32_t status;  // modem status afterwards
    uint32_t events;  // events it raises
  } cases[] = {
      {comm::SETRTS, comm::MS_CTS_ON, comm::EV_CTS},
      {comm::SETDTR, comm::MS_CTS_ON | comm::MS_DSR_ON | comm::MS_RLSD_ON, comm::EV_DSR | comm::EV_RLSD},
      {comm::SETDTR, comm::MS_CTS_ON | comm::MS_DSR_ON | comm::MS_RLSD_ON, 0},  // no change, no event
      {comm::CLRRTS, comm::MS_DSR_ON | comm::MS_RLSD_ON, comm::EV_CTS},
      {comm::CLRDTR, 0, comm::EV_DSR | comm::EV_RLSD},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.function);
    ASSERT_TRUE(comm::EscapeCommFunction(H(), c.function));
    EXPECT_EQ(Modem(), c.status);
    Record r;
    uint32_t events = 0;
    const bool atOnce = comm::WaitCommEvent(H(), &events, &r.ov);
    EXPECT_EQ(atOnce, c.events != 0);
    if (atOnce) {
      EXPECT_EQ(events, c.events);
    } else {
      ASSERT_TRUE(comm::SetCommMask(H(), comm::EV_CTS | comm::EV_DSR | comm::EV_RLSD));
      ASSERT_TRUE(Finish(H(), r).ok);
    }
  }
}

TEST_F(Loopback, ABreakIsReceivedAndHoldsOutputWhileSet) {
  ASSERT_TRUE(comm::SetCommMask(H(), comm::EV_BREAK));
  ASSERT_TRUE(comm::EscapeCommFunction(H(), comm::SETBREAK));
  Record r;
  uint32_t events = 0;
  EXPECT_TRUE(comm::WaitCommEvent(H(), &events, &r.ov));
  EXPECT_EQ(events, comm::EV_BREAK);
  uint32_t errors = 0;
  ASSERT_TRUE(comm::ClearCommError(H(), &errors, nullptr));
  EXPECT_EQ(errors, comm::CE_BREAK);
  ASSERT_TRUE(comm::ClearCommError(H(), &errors, nullptr));
  EXPECT_EQ(errors, 0u);  // the query clears the word

  Record w;
  uint32_t n = 0;
  EXPECT_FALSE(comm::WriteFile(H(), "held", 4, &n, &w.ov));
  EXPECT_EQ(rtl::GetLastError(), 997u);
  ASSERT_TRUE(comm::EscapeCommFunction(H(), comm::CLRBREAK));
  Outcome o = Finish(H(), w);
  EXPECT_TRUE(o.ok);
  EXPECT_EQ(o.count, 4u);
  EXPECT_EQ(ReadAll(), "held");
}

TEST_F(Loopback, CtsFlowHoldsOutputUntilRtsRises) {
  comm::DCB dcb = LineDcb();
  dcb.fOutxCtsFlow = 1;
  ASSERT_TRUE(comm::SetCommState(H(), &dcb));
  Record w;
  uint32_t n = 0;
  ASSERT_FALSE(comm::WriteFile(H(), "flow", 4, &n, &w.ov));
  comm::COMSTAT stat{};
  ASSERT_TRUE(comm::ClearCommError(H(), nullptr, &stat));
  EXPECT_EQ(stat.fCtsHold, 1u);
  EXPECT_EQ(stat.cbOutQue, 4u);
  EXPECT_EQ(stat.cbInQue, 0u);
  ASSERT_TRUE(comm::EscapeCommFunction(H(), comm::SETRTS));
  EXPECT_TRUE(Finish(H(), w).ok);
  EXPECT_EQ(ReadAll(), "flow");
}

TEST_F(Loopback, ItIsExclusiveLikeARealPort) {
  Port second("LOOPBACK");
  EXPECT_FALSE(second.Valid());
  EXPECT_EQ(second.OpenError(), 5u);
  ASSERT_TRUE(port_->Close());
  Port third("LOOPBACK");
  EXPECT_TRUE(third.Valid()) << third.OpenError();
}

TEST_F(Loopback, TimeoutsAndPurgeActAsOnATty) {
  comm::COMMTIMEOUTS t = Timeouts(0, 0, 300);
  ASSERT_TRUE(comm::SetCommTimeouts(H(), &t));
  char buf[8];
  Record r;
  uint32_t n = 0;
  const auto start = Clock::now();
  ASSERT_FALSE(comm::ReadFile(H(), buf, sizeof buf, &n, &r.ov));
  EXPECT_TRUE(Write("ab"));
  Outcome o = Finish(H(), r);
  EXPECT_GE(MsSince(start), 300);
  EXPECT_TRUE(o.ok);
  EXPECT_EQ(std::string(buf, o.count), "ab");

  t = Timeouts(0, 0, 0);
  ASSERT_TRUE(comm::SetCommTimeouts(H(), &t));
  Record pending;
  ASSERT_FALSE(comm::ReadFile(H(), buf, sizeof buf, &n, &pending.ov));
  ASSERT_TRUE(comm::PurgeComm(H(), comm::PURGE_RXABORT));
  EXPECT_EQ(Finish(H(), pending).error, 995u);

  EXPECT_TRUE(Write("old"));
  ASSERT_TRUE(comm::PurgeComm(H(), comm::PURGE_RXCLEAR));
  EXPECT_TRUE(Write("new"));
  t = Timeouts(comm::MAXDWORD, 0, 0);
  ASSERT_TRUE(comm::SetCommTimeouts(H(), &t));
  EXPECT_EQ(ReadAll(), "new");
}

TEST_F(Loopback, HardwareHandshakeHoldsTheWriterWhileTheQueueIsFull) {
  // RTS follows the input queue (off when nearly full), CTS follows RTS, output obeys CTS.
  comm::DCB dcb = LineDcb();
  dcb.fOutxCtsFlow = 1;
  dcb.fRtsControl = comm::RTS_CONTROL_HANDSHAKE;
  dcb.XoffLim = 4096;
  dcb.XonLim = 4096;
  ASSERT_TRUE(comm::SetCommState(H(), &dcb));
  std::string data(5 << 20, '\0');
  for (size_t i = 0; i < data.size(); ++i) data[i] = static_cast<char>(i % 251);
  Record w;
  uint32_t n = 0;
  ASSERT_FALSE(comm::WriteFile(H(), data.data(), static_cast<uint32_t>(data.size()), &n, &w.ov));
  comm::COMSTAT stat{};
  ASSERT_TRUE(comm::ClearCommError(H(), nullptr, &stat));
  EXPECT_EQ(stat.fCtsHold, 1u);
  EXPECT_GE(stat.cbInQue, comm::QueuedDevice::kMinInputQueue - 4096);
  EXPECT_EQ(Modem() & comm::MS_CTS_ON, 0u);
  // Reading drains the queue below XonLim, RTS rises again and the writer finishes.
  std::string got;
  while (got.size() < data.size()) {
    std::string part = ReadAll();
    ASSERT_FALSE(part.empty() || part == "?");
    got += part;
  }
  EXPECT_TRUE(Finish(H(), w).ok);
  EXPECT_EQ(got, data);
}

TEST_F(Loopback, ThePriorityCharacterGoesAheadOfHeldOutput) {
  comm::DCB dcb = LineDcb();
  dcb.fOutxCtsFlow = 1;  // RTS is off, so CTS holds the write
  ASSERT_TRUE(comm::SetCommState(H(), &dcb));
  Record w;
  uint32_t n = 0;
  ASSERT_FALSE(comm::WriteFile(H(), "queued", 6, &n, &w.ov));
  ASSERT_TRUE(comm::TransmitCommChar(H(), '!'));
  EXPECT_EQ(ReadAll(), "!");
  ASSERT_TRUE(comm::EscapeCommFunction(H(), comm::SETRTS));
  EXPECT_TRUE(Finish(H(), w).ok);
  EXPECT_EQ(ReadAll(), "queued");
}

TEST_F(Loopback, AbortOnErrorEndsTransfersUntilTheErrorIsCleared) {
  comm::DCB dcb = LineDcb();
  dcb.fAbortOnError = 1;
  ASSERT_TRUE(comm::SetCommState(H(), &dcb));
  comm::COMMTIMEOUTS t = Timeouts(0, 0, 0);
  ASSERT_TRUE(comm::SetCommTimeouts(H(), &t));
  char buf[4];
  Record r;
  uint32_t n = 0;
  ASSERT_FALSE(comm::ReadFile(H(), buf, sizeof buf, &n, &r.ov));
  ASSERT_TRUE(comm::EscapeCommFunction(H(), comm::SETBREAK));  // a line error arrives
  EXPECT_EQ(Finish(H(), r).error, 995u);
  ASSERT_TRUE(comm::EscapeCommFunction(H(), comm::CLRBREAK));
  Record refused;
  EXPECT_FALSE(comm::WriteFile(H(), "x", 1, &n, &refused.ov));
  EXPECT_EQ(rtl::GetLastError(), 995u);
  uint32_t errors = 0;
  ASSERT_TRUE(comm::ClearCommError(H(), &errors, nullptr));
  EXPECT_EQ(errors, comm::CE_BREAK);
  Record accepted;
  EXPECT_TRUE(comm::WriteFile(H(), "x", 1, &n, &accepted.ov));
}
