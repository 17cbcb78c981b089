// Delivery on real devices: a pseudo-terminal whose far end the test plays, and the loopback.
// The terminal's configuration end to end under each sync method, a batch caught by Close, an
// exception in OnRxChar, a far end that goes away, open and close while the far end streams,
// and transfers that the device finishes after the call has returned.
#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <atomic>
#include <cerrno>
#include <cstring>
#include <functional>
#include <mutex>
#include <stdexcept>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "event_fixture.h"
#include "port_fixture.h"
#include "runtime/codepage.h"
#include "runtime/text.h"
#include "serial/device/pty_pair.h"

using namespace serial;
using namespace std::chrono_literals;
using evttest::EventPort;
using evttest::WindowLoop;

namespace {

const char* MethodName(TSyncMethod m) {
  switch (m) {
    case smThreadSync: return "smThreadSync";
    case smWindowSync: return "smWindowSync";
    case smNone: return "smNone";
  }
  return "?";
}

// The terminal's receive handler: reads exactly the count it is given with ReadStr and keeps
// what it read, in the code page's bytes. Safe to call from the event thread (smNone).
class TerminalReceiver {
 public:
  TerminalReceiver(TCustomSerialPort& port, WindowLoop& loop) : port_(port), loop_(loop) {
    port.SetOnRxChar([this](rtl::TObject*, int32_t count) { Receive(count); });
  }
  // The port closes first: a batch it still delivers finds this receiver whole.
  ~TerminalReceiver() {
    port_.Close();
    port_.SetOnRxChar(nullptr);
  }
  TerminalReceiver(const TerminalReceiver&) = delete;
  TerminalReceiver& operator=(const TerminalReceiver&) = delete;
  // Runs after each call has been recorded (it may raise).
  void SetAfter(std::function<void()> after) { after_ = std::move(after); }

  std::string Bytes() const {
    std::lock_guard lock(mutex_);
    return bytes_;
  }
  size_t Calls() const {
    std::lock_guard lock(mutex_);
    return calls_;
  }
  // Whether every ReadStr returned the count it was asked for.
  bool ReadsMatchedCounts() const {
    std::lock_guard lock(mutex_);
    return mismatches_ == 0;
  }
  bool AllOn(std::thread::id id) const {
    std::lock_guard lock(mutex_);
    return calls_ > 0 && foreign_ == 0 && firstThread_ == id;
  }
  bool NoneOn(std::thread::id id) const {
    std::lock_guard lock(mutex_);
    return calls_ > 0 && firstThread_ != id && foreign_ == 0;
  }
  std::vector<bool> Connected() const {
    std::lock_guard lock(mutex_);
    return connected_;
  }
  void Clear() {
    std::lock_guard lock(mutex_);
    bytes_.clear();
    calls_ = mismatches_ = foreign_ = 0;
    connected_.clear();
  }

 private:
  void Receive(int32_t count) {
    std::u16string text;
    const int32_t got = port_.ReadStr(text, count);
    {
      std::lock_guard lock(mutex_);
      if (calls_ == 0) firstThread_ = std::this_thread::get_id();
      if (std::this_thread::get_id() != firstThread_) ++foreign_;
      ++calls_;
      if (got != count || static_cast<int32_t>(text.size()) != got) ++mismatches_;
      bytes_ += rtl::AnsiFromUnicode(text);
      connected_.push_back(port_.Connected());
    }
    loop_.Wake();
    if (after_) after_();
  }

  TCustomSerialPort& port_;
  WindowLoop& loop_;
  std::function<void()> after_;
  mutable std::mutex mutex_;
  std::string bytes_;
  size_t calls_ = 0, mismatches_ = 0, foreign_ = 0;
  std::thread::id firstThread_;
  std::vector<bool> connected_;
};

// Every byte value, twice, and a line end.
std::string AllBytes() {
  std::string s;
  for (int round = 0; round < 2; ++round)
    for (int b = 0; b < 256; ++b) s.push_back(static_cast<char>(b));
  return s + "\r\n";
}

// A pseudo-terminal in the terminal's configuration: OnRxChar alone, evRxChar, smThreadSync,
// TriggersOnRxChar true.
class PtyDeliveryTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_FALSE(pty.Path().empty());
    port.SetPort(rtl::Utf8ToUtf16(pty.Path()));
    port.SetEvents({evRxChar});
    port.SetExceptionDisplay([this](std::exception_ptr) { ++shown; });
  }
  void TearDown() override { port.Close(); }

  devtest::PtyPair pty;
  WindowLoop loop;
  std::atomic<int> shown{0};
  porttest::ErrorRecorder errors;
  EventPort port;
  TerminalReceiver received{port, loop};
};

TEST_F(PtyDeliveryTest, BytesFromTheFarEndReachOnRxCharAndReadStr) {
  for (TSyncMethod method : {smThreadSync, smWindowSync, smNone}) {
    SCOPED_TRACE(MethodName(method));
    received.Clear();
    port.SetSyncMethod(method);
    port.Open();
    ASSERT_TRUE(port.Connected());
    const std::string sent = "hello, far end\r\n" + AllBytes();
    pty.Send(sent.substr(0, 5));
    pty.Send(sent.substr(5));
    EXPECT_TRUE(loop.ServeUntil([&] { return received.Bytes().size() >= sent.size(); }));
    EXPECT_EQ(received.Bytes(), sent);
    EXPECT_TRUE(received.ReadsMatchedCounts());
    if (method == smNone) {
      EXPECT_TRUE(received.NoneOn(std::this_thread::get_id()));
    } else {
      EXPECT_TRUE(received.AllOn(std::this_thread::get_id()));
    }
    port.Close();
  }
}

// A batch that waits for the window thread when Close starts is delivered inside Close.
TEST_F(PtyDeliveryTest, BatchWaitingDuringCloseIsDeliveredInsideClose) {
  port.Open();
  pty.Send("abc");
  ASSERT_TRUE(loop.WaitForQueuedWork());
  port.Close();
  EXPECT_FALSE(port.Connected());
  EXPECT_EQ(received.Bytes(), "abc");
  EXPECT_EQ(received.Connected(), std::vector<bool>{true});
}

// An exception out of OnRxChar ends delivery until the port is reopened (smThreadSync, smNone),
// or is shown and delivery goes on (smWindowSync).
TEST_F(PtyDeliveryTest, ExceptionInOnRxChar) {
  struct Case {
    TSyncMethod method;
    bool goesOn;
  };
  for (const Case c : {Case{smThreadSync, false}, Case{smNone, false}, Case{smWindowSync, true}}) {
    SCOPED_TRACE(MethodName(c.method));
    received.Clear();
    shown = 0;
    port.SetSyncMethod(c.method);
    std::atomic<bool> raise{true};
    received.SetAfter([&] {
      if (raise.exchange(false)) throw std::runtime_error("display failed");
    });
    port.Open();
    pty.Send("first");
    ASSERT_TRUE(loop.ServeUntil([&] { return received.Calls() >= 1; }));
    pty.Send("second");
    if (c.goesOn) {
      EXPECT_TRUE(loop.ServeUntil([&] { return received.Bytes().size() >= 11; }));
      EXPECT_EQ(received.Bytes(), "firstsecond");
      EXPECT_EQ(shown.load(), 1);
    } else {
      loop.ServeFor(300ms);
      EXPECT_EQ(received.Calls(), 1u);
      EXPECT_EQ(std::string("first").rfind(received.Bytes(), 0), 0u);  // a part of the first only
      EXPECT_EQ(shown.load(), 0);
    }
    port.Close();
    EXPECT_FALSE(port.Connected());
    received.Clear();
    port.Open();
    pty.Send("again");
    EXPECT_TRUE(loop.ServeUntil([&] { return received.Bytes().size() >= 5; }));
    EXPECT_EQ(received.Bytes(), "again");
    port.Close();
  }
}

// A far end that goes away ends the device wait with a failure; the threads then neither spin nor
// notify, and Close completes.
TEST_F(PtyDeliveryTest, FarEndGoneNeitherSpinsNorNotifies) {
  errors.Attach(port);
  const auto before = evttest::TaskIds();
  port.Open();
  const auto threads = evttest::NewTasks(before, evttest::TaskIds());
  ASSERT_FALSE(threads.empty());
  pty.Send("last words");
  ASSERT_TRUE(loop.ServeUntil([&] { return received.Bytes().size() >= 10; }));
  pty.CloseSlaveCopy();
  pty.CloseFar();
  loop.ServeFor(200ms);  // what the hang-up itself brings
  const size_t calls = received.Calls();
  const size_t reports = errors.reports.size();
  auto cpu = [&] {
    long sum = 0;
    for (int tid : threads) sum += evttest::ThreadCpuTicks(tid);
    return sum;
  };
  const long start = cpu();
  loop.ServeFor(500ms);
  EXPECT_LE(cpu() - start, evttest::TicksPerSecond() / 10);
  EXPECT_EQ(received.Calls(), calls);
  EXPECT_EQ(errors.reports.size(), reports);
  EXPECT_EQ(received.Bytes(), "last words");
  port.Close();
  EXPECT_FALSE(port.Connected());
}

// A far end that streams 512 bytes a millisecond, in a thread of its own: byte i is i mod 251.
class Streamer {
 public:
  explicit Streamer(int master) : master_(master) {
    ::fcntl(master_, F_SETFL, ::fcntl(master_, F_GETFL) | O_NONBLOCK);
    thread_ = std::thread([this] { Run(); });
  }
  ~Streamer() { Stop(); }
  void Stop() {
    stop_ = true;
    if (thread_.joinable()) thread_.join();
  }
  uint64_t Sent() const { return sent_.load(); }

 private:
  void Run() {
    uint8_t chunk[512];
    uint64_t next = 0;
    auto due = std::chrono::steady_clock::now();
    while (!stop_) {
      due += 1ms;
      std::this_thread::sleep_until(due);
      pollfd p{master_, POLLOUT, 0};
      if (::poll(&p, 1, 20) <= 0) continue;
      for (size_t i = 0; i < sizeof chunk; ++i) chunk[i] = static_cast<uint8_t>((next + i) % 251);
      const ssize_t n = ::write(master_, chunk, sizeof chunk);
      if (n > 0) {
        next += static_cast<uint64_t>(n);
        sent_ = next;
      } else if (n < 0 && errno != EAGAIN && errno != EINTR) {
        break;
      }
    }
  }

  int master_;
  std::atomic<bool> stop_{false};
  std::atomic<uint64_t> sent_{0};
  std::thread thread_;
};

// Whether each byte follows the one before it in the stream.
bool Contiguous(const std::string& bytes) {
  for (size_t i = 1; i < bytes.size(); ++i) {
    if (static_cast<uint8_t>(bytes[i]) != (static_cast<uint8_t>(bytes[i - 1]) + 1) % 251) return false;
  }
  return true;
}

// Open and close a thousand times while the far end streams: each session gets a gap-free piece
// of the stream, and no descriptor or thread is left behind.
TEST_F(PtyDeliveryTest, OpenAndCloseWhileTheFarEndStreams) {
  Streamer streamer(pty.Master());
  const size_t fds = evttest::OpenFdCount();
  const size_t tasks = evttest::TaskIds().size();
  size_t delivered = 0, broken = 0;
  for (int i = 0; i < 1000; ++i) {
    received.Clear();
    port.Open();
    ASSERT_TRUE(port.Connected());
    loop.ServeUntil([&] { return received.Calls() > 0; }, 50ms);
    port.Close();
    ASSERT_FALSE(port.Connected());
    if (!Contiguous(received.Bytes())) ++broken;
    if (received.Calls() > 0) ++delivered;
  }
  EXPECT_EQ(broken, 0u);
  EXPECT_GT(delivered, 0u);
  EXPECT_GT(streamer.Sent(), 0u);
  EXPECT_EQ(evttest::OpenFdCount(), fds);
  EXPECT_EQ(evttest::TaskIds().size(), tasks);
  streamer.Stop();
}

// --- Transfers that the device finishes after the call ----------------------------------------

// The device writes from the record's own copy: the caller's buffer and the text may change or
// go as soon as the start has returned.
TEST_F(PtyDeliveryTest, WrittenBytesOutliveTheCall) {
  port.SetEvents({});
  port.Open();
  errors.Attach(port);
  const size_t size = size_t{1} << 20;  // more than the pseudo-terminal holds at once
  std::string pattern(size, '\0');
  for (size_t i = 0; i < size; ++i) pattern[i] = static_cast<char>('a' + i % 26);

  PAsync a;
  AllocAsync(a);
  {
    std::vector<char> buffer(pattern.begin(), pattern.end());
    port.WriteAsync(buffer.data(), static_cast<int32_t>(size), a);
    std::memset(buffer.data(), 'X', buffer.size());
  }
  EXPECT_EQ(pty.Receive(size), pattern);
  EXPECT_EQ(port.WaitForAsync(a), static_cast<int32_t>(size));

  std::u16string text = rtl::UnicodeFromAnsi(pattern);
  port.WriteStrAsync(std::u16string(text), a);  // the text given is a temporary
  text.clear();
  EXPECT_EQ(pty.Receive(size), pattern);
  EXPECT_EQ(port.WaitForAsync(a), static_cast<int32_t>(size));
  ReleaseAsync(a);
  EXPECT_TRUE(errors.reports.empty());
}

// A write cut short by its timeout ends without failure; the links still get the whole request.
TEST_F(PtyDeliveryTest, LinksGetTheWholeWriteCutShortByItsTimeout) {
  port.SetEvents({});
  port.Open();
  errors.Attach(port);
  port.Timeouts().SetWriteTotalMultiplier(0);
  port.Timeouts().SetWriteTotalConstant(200);
  TSerialLink link;
  int32_t told = 0;
  link.SetOnTxBuf([&](rtl::TObject*, const uint8_t*, int32_t n) { told = n; });
  port.RegisterLink(&link);
  const std::string big(size_t{4} << 20, 'w');  // the far end reads none of it
  const int32_t written = port.Write(big.data(), static_cast<int32_t>(big.size()));
  port.UnRegisterLink(&link);
  EXPECT_LT(written, static_cast<int32_t>(big.size()));
  EXPECT_EQ(told, static_cast<int32_t>(big.size()));
  EXPECT_TRUE(errors.reports.empty());
}

// A read ends with what arrived when its timeouts run out, without failure.
TEST_F(PtyDeliveryTest, ReadEndsWithWhatArrivedBeforeItsTimeout) {
  port.SetEvents({});
  port.Open();
  errors.Attach(port);
  port.Timeouts().SetReadInterval(0);
  port.Timeouts().SetReadTotalConstant(200);
  pty.Send("abcd");
  uint8_t buffer[10] = {};
  const auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(port.Read(buffer, 10), 4);
  EXPECT_GE(std::chrono::steady_clock::now() - start, 150ms);  // it waited for the rest
  EXPECT_EQ(std::string(reinterpret_cast<char*>(buffer), 4), "abcd");
  EXPECT_TRUE(errors.reports.empty());
}

// --- The loopback --------------------------------------------------------------------------

TEST(LoopbackDeliveryTest, WrittenTextComesBackThroughOnRxChar) {
  for (TSyncMethod method : {smThreadSync, smWindowSync, smNone}) {
    SCOPED_TRACE(MethodName(method));
    WindowLoop loop;
    EventPort port;
    TerminalReceiver received(port, loop);
    port.SetPort(u"LOOPBACK");
    port.SetEvents({evRxChar});
    port.SetSyncMethod(method);
    port.Open();
    ASSERT_TRUE(port.Connected());
    EXPECT_EQ(port.WriteStr(u"ping \u00e9\u20ac"), 7);
    EXPECT_TRUE(loop.ServeUntil([&] { return received.Bytes().size() >= 7; }));
    EXPECT_EQ(received.Bytes(), "ping \xE9\x80");
    EXPECT_TRUE(received.ReadsMatchedCounts());
    port.Close();
  }
}

}  // namespace
