// Line settings on a pseudo-terminal: every speed read back from the tty, the format and flow
// bits the kernel keeps, a complete raw termios every time, refused settings, and the line
// functions of a port without a line.
#include <gtest/gtest.h>
#include <termios.h>

#include <string>

#include "runtime/lasterror.h"
#include "serial/device/device_helpers.h"
#include "serial/device/line_probe.h"
#include "serial/device/pty_pair.h"

using namespace devtest;

namespace {

class TtyLine : public ::testing::Test {
 protected:
  void SetUp() override {
    port_ = std::make_unique<Port>(pty_.Path());
    ASSERT_TRUE(port_->Valid()) << port_->OpenError();
  }
  comm::HANDLE H() const { return port_->Get(); }
  LineProbe Probe() {
    LineProbe p;
    EXPECT_TRUE(ProbeLine(pty_.Slave(), p));
    return p;
  }

  PtyPair pty_;
  std::unique_ptr<Port> port_;
};

}  // namespace

TEST_F(TtyLine, EverySpeedIsSetExactlyAndReadBack) {
  // Every TBaudRate speed, then custom ones: MIDI, DMX, a fast adapter's, and an odd one.
  const uint32_t speeds[] = {110,    300,    600,    1200,   2400,   4800,  9600,   14400, 19200, 38400,
                             56000,  57600,  115200, 128000, 256000, 31250, 250000, 3000000, 1000};
  for (uint32_t speed : speeds) {
    comm::DCB dcb = LineDcb(speed);
    ASSERT_TRUE(comm::SetCommState(H(), &dcb)) << speed << " error " << rtl::GetLastError();
    LineProbe p = Probe();
    EXPECT_EQ(p.ospeed, speed);
    EXPECT_TRUE(p.cbaudIsOther) << speed;
    comm::DCB back{};
    ASSERT_TRUE(comm::GetCommState(H(), &back));
    EXPECT_EQ(back.BaudRate, speed);
  }
}

TEST_F(TtyLine, FormatAndFlowSettingsReachTheTty) {
  // A pseudo-terminal forces 8 data bits without parity, but keeps the other bits as set.
  struct Case {
    const char* name;
    void (*change)(comm::DCB&);
    bool cstopb, parodd, cmspar, crtscts, ixon, ixoff, inpck;
    uint8_t vstart, vstop;
  } cases[] = {
      {"plain", [](comm::DCB&) {}, false, false, false, false, false, false, false, 17, 19},
      {"odd", [](comm::DCB& d) { d.Parity = comm::ODDPARITY; }, false, true, false, false, false, false, false, 17, 19},
      {"even", [](comm::DCB& d) { d.Parity = comm::EVENPARITY; }, false, false, false, false, false, false, false, 17, 19},
      {"mark", [](comm::DCB& d) { d.Parity = comm::MARKPARITY; }, false, true, true, false, false, false, false, 17, 19},
      {"space", [](comm::DCB& d) { d.Parity = comm::SPACEPARITY; }, false, false, true, false, false, false, false, 17, 19},
      {"two stop bits", [](comm::DCB& d) { d.StopBits = comm::TWOSTOPBITS; }, true, false, false, false, false, false, false, 17, 19},
      {"1.5 stop bits with 5 data bits",
       [](comm::DCB& d) {
         d.ByteSize = 5;
         d.StopBits = comm::ONE5STOPBITS;
       },
       true, false, false, false, false, false, false, 17, 19},
      {"CTS output flow", [](comm::DCB& d) { d.fOutxCtsFlow = 1; }, false, false, false, true, false, false, false, 17, 19},
      {"RTS handshake", [](comm::DCB& d) { d.fRtsControl = comm::RTS_CONTROL_HANDSHAKE; }, false, false, false, true, false, false, false, 17, 19},
      {"XON/XOFF out", [](comm::DCB& d) { d.fOutX = 1; }, false, false, false, false, true, false, false, 17, 19},
      {"XON/XOFF in with own characters",
       [](comm::DCB& d) {
         d.fInX = 1;
         d.XonChar = 'A';
         d.XoffChar = 'B';
       },
       false, false, false, false, false, true, false, 'A', 'B'},
      {"parity check", [](comm::DCB& d) { d.fParity = 1; d.Parity = comm::EVENPARITY; }, false, false, false, false, false, false, true, 17, 19},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    comm::DCB dcb = LineDcb(19200);
    c.change(dcb);
    ASSERT_TRUE(comm::SetCommState(H(), &dcb)) << rtl::GetLastError();
    LineProbe p = Probe();
    EXPECT_TRUE(p.raw);
    EXPECT_TRUE(p.cread && p.clocal);
    EXPECT_EQ(p.cstopb, c.cstopb);
    EXPECT_EQ(p.parodd, c.parodd);
    EXPECT_EQ(p.cmspar, c.cmspar);
    EXPECT_EQ(p.crtscts, c.crtscts);
    EXPECT_EQ(p.ixon, c.ixon);
    EXPECT_EQ(p.ixoff, c.ixoff);
    EXPECT_EQ(p.inpck, c.inpck);
    EXPECT_EQ(p.vstart, c.vstart);
    EXPECT_EQ(p.vstop, c.vstop);
  }
}

TEST_F(TtyLine, EverySetCommStateWritesACompleteRawTermios) {
  // Someone cooks the line behind the device's back; the next SetCommState makes it raw again.
  termios t{};
  ASSERT_EQ(::tcgetattr(pty_.Slave(), &t), 0);
  t.c_lflag |= ICANON | ECHO | ISIG | IEXTEN;
  t.c_iflag |= ICRNL | IXON | BRKINT;
  t.c_oflag |= OPOST | ONLCR;
  ASSERT_EQ(::tcsetattr(pty_.Slave(), TCSANOW, &t), 0);
  ASSERT_FALSE(Probe().raw);
  comm::DCB dcb = LineDcb(9600);
  ASSERT_TRUE(comm::SetCommState(H(), &dcb));
  LineProbe p = Probe();
  EXPECT_TRUE(p.raw);
  EXPECT_FALSE(p.ixon);
}

TEST_F(TtyLine, RefusedSettingsGive87AndLeaveTheLineAsItWas) {
  comm::DCB good = LineDcb(19200);
  ASSERT_TRUE(comm::SetCommState(H(), &good));
  struct Case {
    const char* name;
    void (*change)(comm::DCB&);
  } cases[] = {
      {"speed 0", [](comm::DCB& d) { d.BaudRate = 0; }},
      {"4 data bits", [](comm::DCB& d) { d.ByteSize = 4; }},
      {"9 data bits", [](comm::DCB& d) { d.ByteSize = 9; }},
      {"parity 5", [](comm::DCB& d) { d.Parity = 5; }},
      {"stop bits 3", [](comm::DCB& d) { d.StopBits = 3; }},
      {"1.5 stop bits with 8 data bits", [](comm::DCB& d) { d.StopBits = comm::ONE5STOPBITS; }},
      {"2 stop bits with 5 data bits",
       [](comm::DCB& d) {
         d.ByteSize = 5;
         d.StopBits = comm::TWOSTOPBITS;
       }},
      {"XON equal to XOFF", [](comm::DCB& d) { d.XoffChar = d.XonChar; }},
      {"DTR mode 3", [](comm::DCB& d) { d.fDtrControl = 3; }},
  };
  for (const Case& c : cases) {
    comm::DCB dcb = LineDcb(57600);
    c.change(dcb);
    rtl::SetLastError(0);
    EXPECT_FALSE(comm::SetCommState(H(), &dcb)) << c.name;
    EXPECT_EQ(rtl::GetLastError(), 87u) << c.name;
    EXPECT_EQ(Probe().ospeed, 19200u) << c.name;
    comm::DCB back{};
    ASSERT_TRUE(comm::GetCommState(H(), &back));
    EXPECT_EQ(back.BaudRate, 19200u) << c.name;
  }
}

TEST_F(TtyLine, APortWithoutALineHasItsLineFunctionsWithoutEffect) {
  comm::DCB dcb = LineDcb();
  dcb.fDtrControl = comm::DTR_CONTROL_ENABLE;
  dcb.fRtsControl = comm::RTS_CONTROL_ENABLE;
  ASSERT_TRUE(comm::SetCommState(H(), &dcb));
  for (uint32_t f : {comm::SETDTR, comm::CLRDTR, comm::SETRTS, comm::CLRRTS, comm::SETBREAK, comm::CLRBREAK})
    EXPECT_TRUE(comm::EscapeCommFunction(H(), f)) << f;
  uint32_t status = 0xFFFF;
  ASSERT_TRUE(comm::GetCommModemStatus(H(), &status));
  EXPECT_EQ(status, 0u);
  // Unknown functions, and the lines that flow control drives, are refused as on the platform.
  EXPECT_FALSE(comm::EscapeCommFunction(H(), 7));
  EXPECT_EQ(rtl::GetLastError(), 87u);
  dcb.fRtsControl = comm::RTS_CONTROL_HANDSHAKE;
  dcb.fDtrControl = comm::DTR_CONTROL_HANDSHAKE;
  ASSERT_TRUE(comm::SetCommState(H(), &dcb));
  for (uint32_t f : {comm::SETRTS, comm::CLRRTS, comm::SETDTR, comm::CLRDTR}) {
    EXPECT_FALSE(comm::EscapeCommFunction(H(), f)) << f;
    EXPECT_EQ(rtl::GetLastError(), 87u);
  }
}

TEST_F(TtyLine, XoffStopsOutputAndXonResumesIt) {
  comm::DCB dcb = LineDcb();
  ASSERT_TRUE(comm::SetCommState(H(), &dcb));
  ASSERT_TRUE(comm::EscapeCommFunction(H(), comm::SETXOFF));
  comm::COMSTAT stat{};
  ASSERT_TRUE(comm::ClearCommError(H(), nullptr, &stat));
  EXPECT_EQ(stat.fXoffHold, 1u);
  Record w;
  uint32_t n = 0;
  const char text[] = "held";
  bool done = comm::WriteFile(H(), text, 4, &n, &w.ov);
  if (!done) {
    EXPECT_EQ(rtl::GetLastError(), 997u);
  }
  EXPECT_EQ(pty_.Receive(4, 100), "");  // nothing gets out while stopped
  ASSERT_TRUE(comm::EscapeCommFunction(H(), comm::SETXON));
  EXPECT_EQ(pty_.Receive(4), "held");
  Outcome o = Finish(H(), w);
  EXPECT_TRUE(o.ok);
  EXPECT_EQ(o.count, 4u);
}

TEST_F(TtyLine, BytesPassUntranslatedBothWays) {
  comm::DCB dcb = LineDcb(115200);
  ASSERT_TRUE(comm::SetCommState(H(), &dcb));
  comm::COMMTIMEOUTS t = Timeouts(0, 0, 2000);
  ASSERT_TRUE(comm::SetCommTimeouts(H(), &t));
  std::string all;
  for (int i = 0; i < 256; ++i) all.push_back(static_cast<char>(i));
  all += "\r\n\n\r\x7f\x03\x04\x1a\x11\x13\xff\xff";

  pty_.Send(all);
  std::string got(all.size(), '\0');
  Record r;
  uint32_t n = 0;
  if (!comm::ReadFile(H(), got.data(), static_cast<uint32_t>(got.size()), &n, &r.ov)) {
    ASSERT_EQ(rtl::GetLastError(), 997u);
    Outcome o = Finish(H(), r);
    ASSERT_TRUE(o.ok);
    n = o.count;
  }
  got.resize(n);
  EXPECT_EQ(got, all);

  Record w;
  if (!comm::WriteFile(H(), all.data(), static_cast<uint32_t>(all.size()), &n, &w.ov)) {
    ASSERT_EQ(rtl::GetLastError(), 997u);
    EXPECT_TRUE(Finish(H(), w).ok);
  }
  EXPECT_EQ(pty_.Receive(all.size()), all);
}
