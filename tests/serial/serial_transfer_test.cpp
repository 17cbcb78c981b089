// Reading and writing on the scripted device: the calls each transfer makes, its result, what
// the links are told, the code page, the async records, and every failure with its report.
#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "port_fixture.h"
#include "serial/device/comm.h"

using namespace serial;
using porttest::ScriptedPortTest;
using porttest::TestPort;
using porttest::Utf8;
using Log = std::vector<std::string>;
using Texts = std::vector<std::string>;

namespace {

std::string Bytes(const uint8_t* p, size_t n) { return std::string(reinterpret_cast<const char*>(p), n); }

// An open port with one link that logs everything; the device's calls and the log start empty.
class TransferTest : public ScriptedPortTest {
 protected:
  void SetUp() override {
    porttest::LogLink(link, log);
    port.RegisterLink(&link);
    OpenQuietly();
    log.clear();
  }
  void TearDown() override { port.UnRegisterLink(&link); }

  // Reads that wait for their count, so a read can stay pending.
  void WaitingReads() {
    port.Timeouts().SetReadInterval(0);
    device->ClearCalls();
  }

  TSerialLink link;
};

// --- The synchronous forms -------------------------------------------------------------------

TEST_F(TransferTest, SynchronousFormsCallsResultsAndLinks) {
  struct Case {
    const char* name;
    std::string waiting;  // in the input queue beforehand
    std::function<int32_t(TestPort&, std::string&)> run;
    int32_t result;
    std::string got;
    Texts calls;
    Log links;
    std::string written;
  };
  auto readStr = [](int32_t count) {
    return [count](TestPort& p, std::string& got) {
      std::u16string s = u"junk";
      const int32_t n = p.ReadStr(s, count);
      got = Utf8(s);
      return n;
    };
  };
  const std::vector<Case> cases = {
      {"WriteStr", "", [](TestPort& p, std::string&) { return p.WriteStr(u"abc"); }, 3, "",
       {"WriteFile(3)", "GetOverlappedResult(0)"}, {"link Tx(1)", "link TxBuf(abc)"}, "abc"},
      {"Write with a NUL", "", [](TestPort& p, std::string&) { return p.Write("x\0y", 3); }, 3, "",
       {"WriteFile(3)", "GetOverlappedResult(0)"}, {"link Tx(1)", std::string("link TxBuf(x\0y)", 15)},
       std::string("x\0y", 3)},
      // Nothing is written and no link is told; the wait finds the fresh record ended.
      {"WriteStr of nothing", "", [](TestPort& p, std::string&) { return p.WriteStr(u""); }, 0, "",
       {"GetOverlappedResult(0)"}, {}, ""},
      {"ReadStr of all that waits", "hello", readStr(5), 5, "hello",
       {"ReadFile(5)", "GetOverlappedResult(0)", "ClearCommError()"}, {"link Rx(0)"}, ""},
      {"ReadStr leaving bytes", "hello!!", readStr(5), 5, "hello",
       {"ReadFile(5)", "GetOverlappedResult(0)", "ClearCommError()"}, {}, ""},
      // The default timeouts: a read returns at once with what is queued.
      {"ReadStr of more than waits", "hi", readStr(10), 2, "hi",
       {"ReadFile(10)", "GetOverlappedResult(0)", "ClearCommError()"}, {"link Rx(0)"}, ""},
      {"ReadStr of 0", "abc", readStr(0), 0, "", {}, {}, ""},
      {"ReadStr of -3", "abc", readStr(-3), 0, "", {}, {}, ""},
      {"Read", "abc",
       [](TestPort& p, std::string& got) {
         uint8_t buffer[3] = {};
         const int32_t n = p.Read(buffer, 3);
         got = Bytes(buffer, 3);
         return n;
       },
       3, "abc", {"ReadFile(3)", "GetOverlappedResult(0)", "ClearCommError()"}, {"link Rx(0)"}, ""},
  };
  errors.Attach(port);
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    port.ClearBuffer(true, true);
    const std::string writtenBefore = device->Written();
    device->InjectReceived(c.waiting);
    device->ClearCalls();
    log.clear();
    std::string got;
    EXPECT_EQ(c.run(port, got), c.result);
    EXPECT_EQ(got, c.got);
    EXPECT_EQ(device->CallTexts(), c.calls);
    EXPECT_EQ(log, c.links);
    EXPECT_EQ(device->Written().substr(writtenBefore.size()), c.written);
  }
  EXPECT_TRUE(errors.reports.empty());
}

// Text goes on the line in Windows-1252, one byte per character; the count is of bytes.
TEST_F(TransferTest, TextIsWrittenInTheCodePage) {
  struct Case {
    std::u16string text;
    std::string bytes;
  };
  const std::vector<Case> cases = {
      {u"\u00e9", "\xE9"},
      {u"A\u20ACz", "A\x80z"},
      {u"\u0100", "A"},          // best fit: the letter without its mark
      {u"\u4E2D", "?"},          // nothing fits
      {u"\U0001F600", "?"},      // two UTF-16 units, one character, one byte
      {u"\u0081\u009D", "\x81\x9D"},  // undefined bytes of the code page survive
      {u"line\r\n", "line\r\n"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.bytes);
    const std::string before = device->Written();
    EXPECT_EQ(port.WriteStr(c.text), static_cast<int32_t>(c.bytes.size()));
    EXPECT_EQ(device->Written().substr(before.size()), c.bytes);
  }
}

TEST_F(TransferTest, TextIsReadInTheCodePage) {
  device->InjectReceived("\xE9\x80\x81\x9D" "A");
  std::u16string s;
  EXPECT_EQ(port.ReadStr(s, 5), 5);
  EXPECT_EQ(s, u"\u00e9\u20AC\u0081\u009D" u"A");
}

// --- Records and the async forms ---------------------------------------------------------------

TEST_F(TransferTest, FreshRecordIsEndedWithNothing) {
  PAsync a;
  AllocAsync(a);
  ASSERT_TRUE(a);
  EXPECT_TRUE(a->Overlapped.hEvent->IsSet());
  EXPECT_EQ(a->Kind, okWrite);
  EXPECT_TRUE(a->Data.empty());
  EXPECT_EQ(a->Size, 0);
  errors.Attach(port);
  EXPECT_EQ(port.WaitForAsync(a), 0);
  EXPECT_TRUE(port.IsAsyncCompleted(a.get()));
  EXPECT_TRUE(errors.reports.empty());
  EXPECT_TRUE(log.empty());
  ReleaseAsync(a);
  EXPECT_FALSE(a);
}

// A write in progress: not completed until the device ends it; then the same count each wait,
// and the links get the bytes as they were when the write started.
TEST_F(TransferTest, WriteInProgressThenEnded) {
  errors.Attach(port);
  device->HoldWrites(true);
  PAsync a;
  AllocAsync(a);
  char buffer[] = "abcdef";
  EXPECT_EQ(port.WriteAsync(buffer, 6, a), 0);
  std::memset(buffer, 'X', 6);  // the record keeps its own copy
  EXPECT_EQ(a->Kind, okWrite);
  EXPECT_EQ(a->Size, 6);
  EXPECT_FALSE(a->Overlapped.hEvent->IsSet());
  EXPECT_FALSE(port.IsAsyncCompleted(a.get()));
  EXPECT_EQ(log, Log{"link Tx(1)"});
  device->CompleteWrites();
  EXPECT_TRUE(port.IsAsyncCompleted(a.get()));
  EXPECT_EQ(port.WaitForAsync(a), 6);
  EXPECT_EQ(port.WaitForAsync(a), 6);
  EXPECT_EQ(device->Written(), "abcdef");
  EXPECT_EQ(log, (Log{"link Tx(1)", "link TxBuf(abcdef)", "link TxBuf(abcdef)"}));
  EXPECT_TRUE(errors.reports.empty());
  ReleaseAsync(a);
}

// The converted bytes belong to the record, not to the text given.
TEST_F(TransferTest, WriteStrAsyncKeepsTheBytesWithTheRecord) {
  device->HoldWrites(true);
  PAsync a;
  AllocAsync(a);
  EXPECT_EQ(port.WriteStrAsync(std::u16string(u"\u00e9t\u00e9"), a), 0);
  EXPECT_EQ(std::string(a->Data.begin(), a->Data.end()), "\xE9t\xE9");
  device->CompleteWrites();
  EXPECT_EQ(port.WaitForAsync(a), 3);
  EXPECT_EQ(device->Written(), "\xE9t\xE9");
  // An empty text starts nothing and leaves the record as it was.
  log.clear();
  device->ClearCalls();
  EXPECT_EQ(port.WriteStrAsync(u"", a), 0);
  EXPECT_TRUE(device->Calls().empty());
  EXPECT_EQ(a->Size, 3);
  EXPECT_TRUE(log.empty());
}

TEST_F(TransferTest, ReadStrAsync) {
  device->InjectReceived("hey");
  PAsync a;
  AllocAsync(a);
  std::u16string s = u"junk";
  EXPECT_EQ(port.ReadStrAsync(s, 3, a), 3);
  EXPECT_EQ(s, u"hey");
  EXPECT_EQ(a->Kind, okRead);
  EXPECT_EQ(port.WaitForAsync(a), 3);

  device->ClearCalls();
  s = u"junk";
  EXPECT_EQ(port.ReadStrAsync(s, 0, a), 0);
  EXPECT_EQ(s, u"");
  EXPECT_TRUE(device->Calls().empty());
}

// One record carries a write, then a read: the read's wait does not tell the links about the
// write's bytes again.
TEST_F(TransferTest, RecordReusedForAReadTellsNoWrite) {
  PAsync a;
  AllocAsync(a);
  port.WriteAsync("abc", 3, a);
  EXPECT_EQ(port.WaitForAsync(a), 3);
  device->InjectReceived("12345");
  log.clear();
  uint8_t buffer[2];
  EXPECT_EQ(port.ReadAsync(buffer, 2, a), 2);
  EXPECT_EQ(port.WaitForAsync(a), 2);  // three bytes are left: no Rx(0) either
  EXPECT_TRUE(log.empty());
  EXPECT_EQ(port.ReadAsync(buffer, 2, a), 2);
  EXPECT_EQ(port.WaitForAsync(a), 2);
  EXPECT_TRUE(log.empty());
}

// A start on a record whose operation still runs would replace the buffer the device uses:
// it is refused, and the running operation goes on untouched.
TEST_F(TransferTest, StartOnABusyRecordIsRefused) {
  errors.Attach(port);
  device->HoldWrites(true);
  PAsync a;
  AllocAsync(a);
  port.WriteAsync("one", 3, a);
  device->ClearCalls();
  EXPECT_EQ(port.WriteAsync("other", 5, a), 0);
  std::u16string s;
  EXPECT_EQ(port.ReadStrAsync(s, 2, a), 0);
  uint8_t buffer[2];
  EXPECT_EQ(port.ReadAsync(buffer, 2, a), 0);
  EXPECT_EQ(errors.Codes(), (std::vector<int>{2, 3, 3}));
  for (const auto& r : errors.reports) EXPECT_EQ(r.winError, 87);
  EXPECT_TRUE(device->Calls().empty());
  EXPECT_EQ(a->Kind, okWrite);
  device->CompleteWrites();
  EXPECT_EQ(port.WaitForAsync(a), 3);
  EXPECT_EQ(device->Written(), "one");
  EXPECT_EQ(errors.Codes(), (std::vector<int>{2, 3, 3}));
}

// The synchronous forms wait for their operation's end.
TEST_F(TransferTest, WriteStrReturnsOnceTheWriteHasEnded) {
  device->HoldWrites(true);
  std::thread device_end([&] {
    if (device->WaitForCalls("WriteFile", 1, std::chrono::seconds(10))) device->CompleteWrites();
  });
  EXPECT_EQ(port.WriteStr(u"abc"), 3);
  device_end.join();
  EXPECT_EQ(device->Written(), "abc");
}

// Running out of time is not a failure: the read ends with what arrived.
TEST_F(TransferTest, ReadEndsWithWhatArrivedBeforeItsTimeout) {
  errors.Attach(port);
  WaitingReads();
  std::thread far_end([&] {
    if (!device->WaitForCalls("ReadFile", 1, std::chrono::seconds(10))) return;
    device->InjectReceived("abcd");
    device->CompleteReads();
  });
  uint8_t buffer[10] = {};
  EXPECT_EQ(port.Read(buffer, 10), 4);
  far_end.join();
  EXPECT_EQ(Bytes(buffer, 4), "abcd");
  EXPECT_TRUE(errors.reports.empty());
}

// --- Failures --------------------------------------------------------------------------------

TEST_F(TransferTest, NoRecordReports4AndStartsNothing) {
  struct Case {
    const char* name;
    std::function<int32_t(TestPort&)> run;
  };
  const std::vector<Case> cases = {
      {"WriteAsync", [](TestPort& p) { PAsync none; return p.WriteAsync("a", 1, none); }},
      {"ReadAsync", [](TestPort& p) { PAsync none; uint8_t b[1]; return p.ReadAsync(b, 1, none); }},
      {"WriteStrAsync", [](TestPort& p) { PAsync none; return p.WriteStrAsync(u"a", none); }},
      {"ReadStrAsync", [](TestPort& p) { PAsync none; std::u16string s; return p.ReadStrAsync(s, 1, none); }},
      {"WaitForAsync", [](TestPort& p) { PAsync none; return p.WaitForAsync(none); }},
      {"IsAsyncCompleted", [](TestPort& p) { return p.IsAsyncCompleted(nullptr) ? 1 : 0; }},
  };
  device->InjectReceived("z");
  device->ClearCalls();
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    errors.reports.clear();
    errors.Attach(port);
    EXPECT_EQ(c.run(port), 0);
    ASSERT_EQ(errors.Codes(), std::vector<int>{4});
    EXPECT_EQ(errors.reports[0].message, u"Invalid Async parameter");
    EXPECT_EQ(errors.reports[0].winError, 0);
    port.SetOnException(nullptr);
    EXPECT_THROW(c.run(port), ESerialPort);
  }
  EXPECT_TRUE(device->Calls().empty());
  EXPECT_TRUE(log.empty());
}

// The device refuses the start: reported once, and the wait that follows gives 0 at once.
TEST_F(TransferTest, RefusedStartIsReportedOnce) {
  struct Case {
    const char* call;
    std::function<int32_t(TestPort&)> run;
    int code;
    Texts calls;
    Log links;
  };
  const std::vector<Case> cases = {
      {"WriteFile", [](TestPort& p) { return p.WriteStr(u"abc"); }, 2, {"WriteFile(3)"},
       {"link Tx(1)", "link TxBuf(abc)"}},
      {"ReadFile",
       [](TestPort& p) {
         std::u16string s = u"junk";
         const int32_t n = p.ReadStr(s, 3);
         return s.empty() ? n : -1;
       },
       3, {"ReadFile(3)"}, {}},
  };
  device->InjectReceived("abc");
  for (const auto& c : cases) {
    SCOPED_TRACE(c.call);
    errors.reports.clear();
    errors.Attach(port);
    device->ClearCalls();
    log.clear();
    device->FailNext(c.call, 31);
    EXPECT_EQ(c.run(port), 0);
    ASSERT_EQ(errors.Codes(), std::vector<int>{c.code});
    EXPECT_EQ(errors.reports[0].winError, 31);
    EXPECT_EQ(device->CallTexts(), c.calls);
    EXPECT_EQ(log, c.links);

    port.SetOnException(nullptr);
    device->FailNext(c.call, 31);
    try {
      c.run(port);
      ADD_FAILURE() << "nothing raised";
    } catch (const ESerialPort& e) {
      EXPECT_EQ(e.Code(), c.code);
      EXPECT_EQ(e.WinCode(), 31);
    }
  }
}

// Ended in failure (aborted): the wait reports by the record's kind, with the device's number
// and count; the links still get the whole requested write.
TEST_F(TransferTest, AbortedOperationsReportByTheirKind) {
  errors.Attach(port);
  WaitingReads();
  device->HoldWrites(true);
  device->InjectReceived("ab");
  PAsync w, r;
  AllocAsync(w);
  AllocAsync(r);
  uint8_t buffer[5];
  EXPECT_EQ(port.WriteAsync("abcdef", 6, w), 0);
  EXPECT_EQ(port.ReadAsync(buffer, 5, r), 0);
  EXPECT_FALSE(port.IsAsyncCompleted(w.get()));
  EXPECT_FALSE(port.IsAsyncCompleted(r.get()));
  EXPECT_TRUE(errors.reports.empty());
  port.AbortAllAsync();
  log.clear();
  EXPECT_EQ(port.WaitForAsync(w), 0);
  EXPECT_EQ(port.WaitForAsync(r), 0);
  ASSERT_EQ(errors.Codes(), (std::vector<int>{2, 3}));
  EXPECT_EQ(errors.reports[0].winError, 995);
  EXPECT_EQ(errors.reports[1].winError, 995);
  EXPECT_EQ(log, Log{"link TxBuf(abcdef)"});  // the two bytes are still queued: no Rx(0)
}

TEST_F(TransferTest, IsAsyncCompletedByState) {
  struct Case {
    const char* name;
    std::function<void(PAsync&)> prepare;
    bool completed;
    std::vector<int> codes;
    int64_t winError;
  };
  const std::vector<Case> cases = {
      {"in progress", [&](PAsync& a) { port.WriteAsync("a", 1, a); }, false, {}, 0},
      {"ended", [&](PAsync& a) { port.WriteAsync("a", 1, a); device->CompleteWrites(); }, true, {}, 0},
      {"ended in failure", [&](PAsync& a) { port.WriteAsync("a", 1, a); device->CompleteWrites(995); }, false, {6},
       995},
      {"status query refused", [&](PAsync& a) { port.WriteAsync("a", 1, a); device->CompleteWrites();
         device->FailNext("GetOverlappedResult", 31); }, false, {6}, 31},
  };
  device->HoldWrites(true);
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    PAsync a;
    AllocAsync(a);
    c.prepare(a);
    errors.reports.clear();
    errors.Attach(port);
    log.clear();
    EXPECT_EQ(port.IsAsyncCompleted(a.get()), c.completed);
    EXPECT_EQ(errors.Codes(), c.codes);
    if (!c.codes.empty()) {
      EXPECT_EQ(errors.reports[0].winError, c.winError);
    }
    EXPECT_TRUE(log.empty());  // a check tells no link
    device->CompleteWrites();
  }
}

// A closed port: error 24 (number -24, no system text), then the start's own failure; the call
// returns 0 at once.
class ClosedPortTest : public ScriptedPortTest {};

TEST_F(ClosedPortTest, TransfersReport24ThenTheStartFailure) {
  struct Case {
    const char* name;
    std::function<int32_t(TestPort&)> run;
    int code;
  };
  const std::vector<Case> cases = {
      {"WriteStr", [](TestPort& p) { return p.WriteStr(u"a"); }, 2},
      {"Write", [](TestPort& p) { return p.Write("ab", 2); }, 2},
      {"ReadStr",
       [](TestPort& p) {
         std::u16string s = u"junk";
         const int32_t n = p.ReadStr(s, 5);
         return s.empty() ? n : -1;
       },
       3},
      {"Read", [](TestPort& p) { uint8_t b[4]; return p.Read(b, 4); }, 3},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    errors.reports.clear();
    errors.Attach(port);
    EXPECT_EQ(c.run(port), 0);
    ASSERT_EQ(errors.Codes(), (std::vector<int>{24, c.code}));
    EXPECT_EQ(errors.reports[0].error, pePortNotOpen);
    EXPECT_EQ(errors.reports[0].message, u"Port Not Open");
    EXPECT_EQ(errors.reports[0].winError, -24);
    EXPECT_EQ(errors.reports[0].winMessage, u"");
    EXPECT_EQ(errors.reports[1].winError, 6);

    port.SetOnException(nullptr);
    try {
      c.run(port);
      ADD_FAILURE() << "nothing raised";
    } catch (const ESerialPort& e) {
      EXPECT_EQ(e.Code(), 24);
      EXPECT_EQ(e.WinCode(), -1);
    }
  }
  EXPECT_TRUE(device->Calls().empty());
}

// The async forms leave the record ended, so their wait does not block either.
TEST_F(ClosedPortTest, RefusedRecordIsEndedAndItsWaitGives0) {
  errors.Attach(port);
  PAsync a;
  AllocAsync(a);
  EXPECT_EQ(port.WriteAsync("abc", 3, a), 0);
  EXPECT_TRUE(a->Overlapped.hEvent->IsSet());
  EXPECT_EQ(port.WaitForAsync(a), 0);
  std::u16string s = u"junk";
  EXPECT_EQ(port.ReadStrAsync(s, 3, a), 0);
  EXPECT_EQ(s, u"");
  EXPECT_EQ(port.WaitForAsync(a), 0);
  EXPECT_EQ(errors.Codes(), (std::vector<int>{24, 2, 24, 3}));
}

}  // namespace
