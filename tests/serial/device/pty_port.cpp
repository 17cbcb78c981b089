#include "serial/device/pty_port.h"

#include <thread>

#include "runtime/lasterror.h"

namespace devtest {

void PtyPort::SetUp() {
  port_ = std::make_unique<Port>(pty_.Path());
  ASSERT_TRUE(port_->Valid()) << port_->OpenError();
  ASSERT_TRUE(comm::SetupComm(H(), 1024, 1024));
  SetDcb(LineDcb());
  SetTimeouts(Timeouts(comm::MAXDWORD, 0, 0));
}

void PtyPort::SetTimeouts(const comm::COMMTIMEOUTS& t) {
  ASSERT_TRUE(comm::SetCommTimeouts(H(), &t)) << rtl::GetLastError();
}

void PtyPort::SetDcb(const comm::DCB& dcb) { ASSERT_TRUE(comm::SetCommState(H(), &dcb)) << rtl::GetLastError(); }

uint32_t PtyPort::WaitQueued(uint32_t n) {
  const auto deadline = Clock::now() + std::chrono::seconds(5);
  comm::COMSTAT stat{};
  while (comm::ClearCommError(H(), nullptr, &stat) && stat.cbInQue < n && Clock::now() < deadline)
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  return stat.cbInQue;
}

std::string PtyPort::ReadQueued() {
  comm::COMSTAT stat{};
  if (!comm::ClearCommError(H(), nullptr, &stat)) return {};
  std::string out(stat.cbInQue, '\0');
  comm::COMMTIMEOUTS old{}, now = Timeouts(comm::MAXDWORD, 0, 0);
  comm::GetCommTimeouts(H(), &old);
  comm::SetCommTimeouts(H(), &now);
  Record r;
  uint32_t n = 0;
  EXPECT_TRUE(comm::ReadFile(H(), out.data(), static_cast<uint32_t>(out.size()), &n, &r.ov));
  comm::SetCommTimeouts(H(), &old);
  out.resize(n);
  return out;
}

}  // namespace devtest
