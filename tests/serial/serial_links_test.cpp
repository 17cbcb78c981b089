// The link registry, TriggersOnRxChar with error 22, the fan-out to links, the event steps and
// the overridable notification operations.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "port_fixture.h"
#include "serial/device/comm.h"

using namespace serial;
using porttest::ScriptedPortTest;
using porttest::TestPort;
using Log = std::vector<std::string>;

namespace {

class LinkTest : public ScriptedPortTest {
 protected:
  void TearDown() override {
    // Links belong to the test: leave none registered with the port.
    port.SetOnException([](rtl::TObject*, TSerialExceptions, const std::u16string&, int64_t,
                           const std::u16string&) {});
    port.UnRegisterLink(&a);
    port.UnRegisterLink(&b);
  }

  TSerialLink a, b;
};

TEST_F(LinkTest, RegisteringTwiceReports18AndKeepsOneEntry) {
  errors.Attach(port);
  porttest::LogLink(a, log, "a");
  port.RegisterLink(&a);
  port.RegisterLink(&a);
  EXPECT_EQ(errors.Codes(), std::vector<int>{18});
  EXPECT_EQ(errors.reports[0].message, u"Link (un)registration failed");
  EXPECT_EQ(errors.reports[0].winError, 0);
  port.SignalLinks(lkConn, true);
  EXPECT_EQ(log, Log{"a Conn(1)"});
}

TEST_F(LinkTest, RegistrationErrors) {
  errors.Attach(port);
  port.UnRegisterLink(&a);  // never registered
  port.RegisterLink(nullptr);
  port.UnRegisterLink(nullptr);
  EXPECT_EQ(errors.Codes(), (std::vector<int>{18, 18, 18}));

  port.SetOnException(nullptr);
  port.RegisterLink(&a);
  try {
    port.RegisterLink(&a);
    ADD_FAILURE() << "nothing raised";
  } catch (const ESerialPort& e) {
    EXPECT_EQ(e.Code(), 18);
    EXPECT_EQ(e.WinCode(), -1);
  }
  port.UnRegisterLink(&a);
  EXPECT_THROW(port.UnRegisterLink(&a), ESerialPort);
}

TEST_F(LinkTest, LinksAreToldInRegistrationOrderUntilRemoved) {
  porttest::LogLink(a, log, "a");
  porttest::LogLink(b, log, "b");
  port.RegisterLink(&b);
  port.RegisterLink(&a);
  port.SignalLinks(lkCTS, true);
  port.UnRegisterLink(&b);
  port.SignalLinks(lkCTS, false);
  EXPECT_EQ(log, (Log{"b CTS(1)", "a CTS(1)", "a CTS(0)"}));
}

TEST_F(LinkTest, FanOutSelectsTheHandlerOfTheKind) {
  porttest::LogLink(a, log, "a");
  port.RegisterLink(&a);
  struct Case {
    const char* what;
    std::function<void(TestPort&)> run;
    Log expected;
  };
  const std::vector<Case> cases = {
      {"SignalLinks lkConn", [](auto& p) { p.SignalLinks(lkConn, true); }, {"a Conn(1)"}},
      {"SignalLinks lkCTS", [](auto& p) { p.SignalLinks(lkCTS, false); }, {"a CTS(0)"}},
      {"SignalLinks lkDSR", [](auto& p) { p.SignalLinks(lkDSR, true); }, {"a DSR(1)"}},
      {"SignalLinks lkRLSD", [](auto& p) { p.SignalLinks(lkRLSD, true); }, {"a RLSD(1)"}},
      {"SignalLinks lkRx", [](auto& p) { p.SignalLinks(lkRx, true); }, {"a Rx(1)"}},
      {"SignalLinks lkTx", [](auto& p) { p.SignalLinks(lkTx, false); }, {"a Tx(0)"}},
      {"SignalLinks lkRing selects none", [](auto& p) { p.SignalLinks(lkRing, true); }, {}},
      {"SignalLinks lkTxEmpty selects none", [](auto& p) { p.SignalLinks(lkTxEmpty, true); }, {}},
      {"NotifyLinks lkRing", [](auto& p) { p.NotifyLinks(lkRing); }, {"a Ring"}},
      {"NotifyLinks lkTxEmpty", [](auto& p) { p.NotifyLinks(lkTxEmpty); }, {"a TxEmpty"}},
      {"NotifyLinks lkRxFlag", [](auto& p) { p.NotifyLinks(lkRxFlag); }, {"a RxFlag"}},
      {"NotifyLinks lkConn selects none", [](auto& p) { p.NotifyLinks(lkConn); }, {}},
      {"NotifyLinks lkCTS selects none", [](auto& p) { p.NotifyLinks(lkCTS); }, {}},
      {"TxBufToLinks",
       [](auto& p) {
         const uint8_t bytes[] = {'h', 'i', '!'};
         p.TxBufToLinks(bytes, 2);
       },
       {"a TxBuf(hi)"}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    log.clear();
    c.run(port);
    EXPECT_EQ(log, c.expected);
  }
}

TEST_F(LinkTest, UnassignedHandlersAreSkippedAndSenderIsThePort) {
  std::vector<rtl::TObject*> senders;
  a.SetOnRing([&](rtl::TObject* s) { senders.push_back(s); });
  port.RegisterLink(&b);  // nothing assigned
  port.RegisterLink(&a);
  port.NotifyLinks(lkRing);
  port.SignalLinks(lkConn, true);
  EXPECT_EQ(senders, std::vector<rtl::TObject*>{&port});
}

// A handler may register or remove links (itself included) while the port walks its list: a
// removed link is not told, a new one is told from the next walk on, the others exactly once.
TEST_F(LinkTest, HandlerChangingTheListDuringFanOut) {
  TSerialLink c, d;
  a.SetOnCTSChange([&](rtl::TObject*, bool) {
    log.push_back("a");
    port.UnRegisterLink(&a);
    port.UnRegisterLink(&b);
  });
  b.SetOnCTSChange([&](rtl::TObject*, bool) { log.push_back("b"); });
  c.SetOnCTSChange([&](rtl::TObject*, bool) {
    log.push_back("c");
    port.RegisterLink(&d);
  });
  d.SetOnCTSChange([&](rtl::TObject*, bool) { log.push_back("d"); });
  errors.Attach(port);
  port.RegisterLink(&a);
  port.RegisterLink(&b);
  port.RegisterLink(&c);
  port.SignalLinks(lkCTS, true);
  EXPECT_EQ(log, (Log{"a", "c"}));
  log.clear();
  c.SetOnCTSChange(nullptr);
  port.SignalLinks(lkCTS, true);
  EXPECT_EQ(log, (Log{"d"}));
  EXPECT_TRUE(errors.reports.empty());
  port.UnRegisterLink(&c);
  port.UnRegisterLink(&d);
}

// A link that wants received bytes turns TriggersOnRxChar off; the port sees a handler only at
// registration or removal.
TEST_F(LinkTest, LinkWantingBytesHidesTriggersOnRxChar) {
  EXPECT_TRUE(port.TriggersOnRxChar());
  port.RegisterLink(&b);
  a.SetOnRxBuf([](rtl::TObject*, const uint8_t*, int32_t) {});
  port.RegisterLink(&a);
  EXPECT_FALSE(port.TriggersOnRxChar());
  port.UnRegisterLink(&a);
  EXPECT_TRUE(port.TriggersOnRxChar());

  b.SetOnRxBuf([](rtl::TObject*, const uint8_t*, int32_t) {});  // after registration: not seen
  EXPECT_TRUE(port.TriggersOnRxChar());
  port.RegisterLink(&a);  // recomputed: b now counts
  EXPECT_FALSE(port.TriggersOnRxChar());
}

TEST_F(LinkTest, ChangingTriggersOnRxCharWhileALinkWantsBytes) {
  a.SetOnRxBuf([](rtl::TObject*, const uint8_t*, int32_t) {});
  port.RegisterLink(&a);

  // Without a handler: raised, the old value remains.
  try {
    port.SetTriggersOnRxChar(false);
    ADD_FAILURE() << "nothing raised";
  } catch (const ESerialPort& e) {
    EXPECT_EQ(e.Code(), 22);
    EXPECT_EQ(e.WinCode(), -1);
    EXPECT_EQ(e.Message(), u"A component is linked to OnRxBuf event");
  }
  port.UnRegisterLink(&a);
  EXPECT_TRUE(port.TriggersOnRxChar());

  // With a handler: reported, then stored; it still reads false while the link is there.
  port.RegisterLink(&a);
  errors.Attach(port);
  port.SetTriggersOnRxChar(false);
  EXPECT_EQ(errors.Codes(), std::vector<int>{22});
  port.SetTriggersOnRxChar(true);
  EXPECT_FALSE(port.TriggersOnRxChar());
  port.SetTriggersOnRxChar(false);
  port.UnRegisterLink(&a);
  EXPECT_FALSE(port.TriggersOnRxChar());
  EXPECT_EQ(errors.Codes(), (std::vector<int>{22, 22, 22}));

  // Without a link nothing is reported.
  port.SetTriggersOnRxChar(true);
  EXPECT_TRUE(port.TriggersOnRxChar());
  EXPECT_EQ(errors.reports.size(), 3u);
}

class EventStepTest : public ScriptedPortTest {};

// What each event step tells the links and the owner; the line steps report the state read now.
TEST_F(EventStepTest, EachStep) {
  struct Case {
    const char* what;
    uint32_t modem;
    uint32_t lineErrors;
    bool check;
    std::function<void(TestPort&)> step;
    Log expected;
  };
  const std::vector<Case> cases = {
      {"CTS on", comm::MS_CTS_ON, 0, false, [](auto& p) { p.HandleCTSChange(); }, {"link CTS(1)", "CTS(1)"}},
      {"CTS off", comm::MS_DSR_ON, 0, false, [](auto& p) { p.HandleCTSChange(); }, {"link CTS(0)", "CTS(0)"}},
      {"DSR on", comm::MS_DSR_ON, 0, false, [](auto& p) { p.HandleDSRChange(); }, {"link DSR(1)", "DSR(1)"}},
      {"RLSD on", comm::MS_RLSD_ON, 0, false, [](auto& p) { p.HandleRLSDChange(); }, {"link RLSD(1)", "RLSD(1)"}},
      {"RLSD off", comm::MS_CTS_ON, 0, false, [](auto& p) { p.HandleRLSDChange(); }, {"link RLSD(0)", "RLSD(0)"}},
      {"TxEmpty", 0, 0, false, [](auto& p) { p.HandleTxEmpty(); }, {"link Tx(0)", "link TxEmpty", "TxEmpty"}},
      {"Ring", 0, 0, false, [](auto& p) { p.HandleRing(); }, {"link Ring", "Ring"}},
      {"RxFlag", 0, 0, false, [](auto& p) { p.HandleRxFlag(); }, {"link RxFlag", "RxFlag"}},
      {"Break", 0, 0, false, [](auto& p) { p.HandleBreak(); }, {"Break"}},
      {"Rx80Full", 0, 0, false, [](auto& p) { p.HandleRx80Full(); }, {"Rx80Full"}},
      {"Error", 0, comm::CE_FRAME | comm::CE_BREAK, false, [](auto& p) { p.HandleError(); },
       {"Error(" + std::to_string(TSerialErrors{ceFrame, ceBreak}.Bits()) + ")"}},
      {"parity error while not checked", 0, comm::CE_RXPARITY, false, [](auto& p) { p.HandleError(); }, {}},
      {"parity error while checked", 0, comm::CE_RXPARITY, true, [](auto& p) { p.HandleError(); },
       {"Error(" + std::to_string(TSerialErrors{ceRxParity}.Bits()) + ")"}},
      {"no error", 0, 0, false, [](auto& p) { p.HandleError(); }, {}},
  };
  TSerialLink link;
  porttest::LogLink(link, log);
  OpenQuietly();
  porttest::LogNotifications(port, log);
  port.RegisterLink(&link);
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    device->SetModemStatus(c.modem);
    port.Parity().SetCheck(c.check);
    device->InjectLineErrors(c.lineErrors);
    log.clear();
    c.step(port);
    EXPECT_EQ(log, c.expected);
  }
  port.UnRegisterLink(&link);
}

// The notifications go through overridable operations.
class OverridingPort : public TestPort {
 public:
  Log calls;

 protected:
  void FireAfterOpen() override { calls.push_back("FireAfterOpen"); }
  void FireCTSChange(bool OnOff) override { calls.push_back(OnOff ? "FireCTSChange(1)" : "FireCTSChange(0)"); }
  void FireBeforeClose() override {
    calls.push_back("FireBeforeClose");
    TestPort::FireBeforeClose();
  }
};

TEST_F(EventStepTest, FireOperationsCanBeOverridden) {
  OverridingPort p;
  Log log;
  porttest::LogNotifications(p, log);
  p.SetPort(u"/script/o");
  p.SetEvents({});
  device->SetModemStatus(comm::MS_CTS_ON);
  p.Open();
  p.Close();
  EXPECT_EQ(p.calls, (Log{"FireAfterOpen", "FireCTSChange(1)", "FireCTSChange(0)", "FireBeforeClose"}));
  EXPECT_EQ(log, (Log{"BeforeOpen", "DSR(0)", "RLSD(0)", "DSR(0)", "RLSD(0)", "BeforeClose", "AfterClose"}));
}

// A notification handler that replaces itself while it runs keeps running safely.
TEST_F(EventStepTest, HandlerMayReplaceItself) {
  std::string big(200, 'x');
  int first = 0, second = 0;
  port.SetOnAfterOpen([&, big](rtl::TObject*) {
    port.SetOnAfterOpen([&](rtl::TObject*) { ++second; });
    first += static_cast<int>(big.size());
  });
  port.Open();
  port.Close();
  port.Open();
  EXPECT_EQ(first, 200);
  EXPECT_EQ(second, 1);
}

}  // namespace
