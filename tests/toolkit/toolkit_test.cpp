// The error box and guard, the hand-over pump, the message-loop waits and the timer rules.
#include <QApplication>
#include <QElapsedTimer>
#include <QTest>
#include <QTimer>
#include <atomic>
#include <stdexcept>
#include <thread>
#include <time.h>

#include "runtime/clock.h"
#include "runtime/exceptions.h"
#include "runtime/messagequeue.h"
#include "support/boxcatcher.h"
#include "toolkit/errorbox.h"
#include "toolkit/handoverpump.h"
#include "toolkit/loopwaits.h"
#include "toolkit/timer.h"

namespace {

double ThreadCpuMs() {
  timespec ts{};
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
  return ts.tv_sec * 1e3 + ts.tv_nsec / 1e6;
}

}  // namespace

class ToolkitTest : public QObject {
  Q_OBJECT

 private slots:
  void initTestCase() { QApplication::setApplicationDisplayName(QStringLiteral("Corvane")); }

  void errorBoxText_data() {
    QTest::addColumn<QString>("message");
    QTest::addColumn<QString>("shown");
    QTest::newRow("plain") << "Impossible" << "Impossible.";
    QTest::newRow("ends with dot") << "Fin." << "Fin.";
    QTest::newRow("ends with comma") << "a," << "a,";
    QTest::newRow("ends with blank") << "a " << "a ";
    QTest::newRow("ends with letter e-acute") << QString::fromUtf8("entière") << QString::fromUtf8("entière.");
    QTest::newRow("ends with apostrophes") << "''abc''" << "''abc''";
    QTest::newRow("ends with slash") << "a/" << "a/.";
    QTest::newRow("empty") << "" << "";
  }
  void errorBoxText() {
    QFETCH(QString, message);
    QFETCH(QString, shown);
    QCOMPARE(toolkit::ErrorBoxText(message), shown);
  }

  void guardShowsTheBoxAndReports() {
    BoxCatcher boxes;
    bool ok = toolkit::RunGuarded([] { throw rtl::EConvertError(u"''abc'' n'est pas une valeur entière valide"); });
    QVERIFY(!ok);
    QCOMPARE(boxes.texts, QStringList{QString::fromUtf8("''abc'' n'est pas une valeur entière valide.")});
    QCOMPARE(boxes.titles, QStringList{"Corvane"});
    QCOMPARE(boxes.icons.value(0), QMessageBox::Critical);
    QVERIFY(toolkit::RunGuarded([] {}));
    QCOMPARE(boxes.texts.size(), 1);
  }

  void boxLaterShowsOnceTheHandlerHasReturned() {
    BoxCatcher boxes;
    QVERIFY(!toolkit::RunGuardedBoxLater([] { throw rtl::Exception(u"Later"); }));
    QVERIFY(boxes.texts.isEmpty());  // no modal loop inside the handler
    QTRY_COMPARE(boxes.texts, QStringList{"Later."});
  }

  void pumpServesHandOversFromTheEventLoopAndNestedWaits() {
    toolkit::THandoverPump pump;
    auto queue = rtl::TMessageQueue::Current();
    std::atomic<int> served{0};
    std::thread sender([&] {
      for (int i = 0; i < 50; ++i) queue->Send([&] { ++served; });
    });
    toolkit::TLoopWaits waits;
    auto outcome = waits.RunUntil([&] { return served.load() == 50; }, rtl::MonotonicNs() + 10'000'000'000ull);
    sender.join();
    QCOMPARE(outcome, toolkit::TLoopWaits::Outcome::Done);
    QCOMPARE(served.load(), 50);
  }

  void runUntilEndsWhenAHandlerMakesTheConditionTrue() {
    toolkit::TLoopWaits waits;
    bool flag = false;
    QTimer::singleShot(30, [&] { flag = true; });
    QElapsedTimer clock;
    clock.start();
    QCOMPARE(waits.RunUntil([&] { return flag; }), toolkit::TLoopWaits::Outcome::Done);
    QVERIFY(clock.elapsed() >= 29);
  }

  void delayLastsAtLeastItsLapsWithoutBurningTheCpu() {
    toolkit::TLoopWaits waits;
    for (int laps : {0, 1, 25, 300}) {
      double cpu0 = ThreadCpuMs();
      uint64_t t0 = rtl::MonotonicUs();
      QCOMPARE(waits.Delay(laps), toolkit::TLoopWaits::Outcome::TimedOut);
      uint64_t took = rtl::MonotonicUs() - t0;
      QVERIFY2(took > static_cast<uint64_t>(laps) * 1000, qPrintable(QString::number(took)));
      if (laps == 300) QVERIFY2(ThreadCpuMs() - cpu0 < 60.0, "the wait must sleep between events");
    }
  }

  void delayHandlesPendingEventsAtLeastOnce() {
    toolkit::TLoopWaits waits;
    for (int laps : {-5, 0}) {
      bool ran = false;
      QTimer::singleShot(0, [&] { ran = true; });
      waits.Delay(laps);
      QVERIFY2(ran, qPrintable(QString::number(laps)));
    }
  }

  void abandonEndsARunningWaitAndEveryLaterOne() {
    toolkit::TLoopWaits waits;
    QTimer::singleShot(20, [&] { waits.AbandonAll(); });
    QCOMPARE(waits.RunUntil([] { return false; }), toolkit::TLoopWaits::Outcome::Abandoned);
    QCOMPARE(waits.Delay(10'000), toolkit::TLoopWaits::Outcome::Abandoned);
  }

  void nestedWaitsBothEnd() {
    toolkit::TLoopWaits waits;
    bool inner = false, outer = false;
    QTimer::singleShot(10, [&] {
      waits.RunUntil([&] { return inner; });
      outer = true;
    });
    QTimer::singleShot(40, [&] { inner = true; });
    QCOMPARE(waits.RunUntil([&] { return outer; }), toolkit::TLoopWaits::Outcome::Done);
    QVERIFY(inner);
  }

  void timerRules() {
    toolkit::TTimer timer;
    int ticks = 0;
    timer.OnTimer = [&] { ++ticks; };
    timer.SetInterval(40);
    timer.SetEnabled(true);
    QTest::qWait(25);
    timer.SetInterval(40);  // same value: the count goes on
    timer.SetEnabled(true);  // running: nothing changes
    QTRY_COMPARE_WITH_TIMEOUT(ticks, 1, 2000);
    // A new interval restarts the count from now.
    ticks = 0;
    timer.SetInterval(200);
    QElapsedTimer since;
    since.start();
    QTRY_COMPARE_WITH_TIMEOUT(ticks, 1, 3000);
    QVERIFY(since.elapsed() >= 195);
    timer.SetEnabled(false);
  }

  void timerWithoutTicks_data() {
    QTest::addColumn<int>("interval");
    QTest::newRow("zero") << 0;
    QTest::newRow("negative is weeks") << -5000;
  }
  void timerWithoutTicks() {
    QFETCH(int, interval);
    toolkit::TTimer timer;
    int ticks = 0;
    timer.OnTimer = [&] { ++ticks; };
    timer.SetInterval(interval);
    timer.SetEnabled(true);
    QTest::qWait(150);
    QCOMPARE(ticks, 0);
    QVERIFY(timer.Enabled());
  }

  void failingTickShowsTheBoxAndTheTimerGoesOn() {
    BoxCatcher boxes;
    toolkit::TTimer timer;
    int ticks = 0;
    timer.OnTimer = [&] {
      ++ticks;
      throw rtl::Exception(u"Tick");
    };
    timer.SetInterval(20);
    timer.SetEnabled(true);
    QTRY_VERIFY_WITH_TIMEOUT(ticks >= 2, 3000);
    timer.SetEnabled(false);
    QVERIFY(boxes.texts.size() >= 2);
    QCOMPARE(boxes.texts.value(0), QString("Tick."));
  }
};

QTEST_MAIN(ToolkitTest)
#include "toolkit_test.moc"
