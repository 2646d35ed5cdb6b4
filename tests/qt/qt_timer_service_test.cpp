// The timer service on Qt's event loop: order of firing, arguments, replace and kill, and entries
// that set and kill timers from inside their own call. Waits are bounded (QTRY_*); a "did not
// fire" check waits for a later timer that proves time has passed.

#include <QTest>
#include <QTimer>
#include <string>
#include <vector>

#include "qt/qt_timer_service.h"
#include "qt/qt_test_main.h"

namespace {

using velmora::platform::TimerEntry;
using velmora::qt::QtTimerService;

struct TimerCall {
  std::string name;
  std::uintptr_t window;
  std::uint32_t message;
  std::uintptr_t id;
  std::uint32_t time;
};

// An entry that logs its calls into a shared log and may run an action inside the call.
class LoggingEntry final : public TimerEntry {
 public:
  LoggingEntry(std::string name, std::vector<TimerCall>& log) : name_(std::move(name)), log_(log) {}
  std::uint32_t Call(std::uintptr_t window, std::uint32_t message, std::uintptr_t id,
                     std::uint32_t time) override {
    log_.push_back({name_, window, message, id, time});
    ++calls;
    if (action) action();
    return 0;
  }
  int calls = 0;
  std::function<void()> action;

 private:
  std::string name_;
  std::vector<TimerCall>& log_;
};

std::vector<std::string> Names(const std::vector<TimerCall>& log, std::size_t count) {
  std::vector<std::string> names;
  for (std::size_t i = 0; i < log.size() && i < count; ++i) names.push_back(log[i].name);
  return names;
}

constexpr int kWait = 5000;

}  // namespace

class QtTimerServiceTest : public QObject {
  Q_OBJECT

 private slots:
  void firesInOrderOfDueTimeWithTheTimerArguments() {
    QtTimerService service;
    std::vector<TimerCall> log;
    LoggingEntry slow("slow", log), fast("fast", log);
    QVERIFY(service.SetTimer(0x10, 7, 120, &slow) != 0);
    QVERIFY(service.SetTimer(0x10, 8, 15, &fast) != 0);
    QTRY_VERIFY_WITH_TIMEOUT(slow.calls >= 1, kWait);
    // fast is due every 15 ms, slow once after 120 ms: fast fired first, several times.
    QCOMPARE(log.front().name, std::string("fast"));
    QVERIFY(fast.calls >= 2);
    const TimerCall& first = log.front();
    QCOMPARE(first.window, std::uintptr_t{0x10});
    QCOMPARE(first.message, std::uint32_t{0x113});
    QCOMPARE(first.id, std::uintptr_t{8});
    for (std::size_t i = 1; i < log.size(); ++i) QVERIFY(log[i].time >= log[i - 1].time);
    QVERIFY(log.back().time >= 120);  // milliseconds since the service started
    QVERIFY(service.KillTimer(0x10, 7));
    QVERIFY(service.KillTimer(0x10, 8));
    QCOMPARE(service.activeCount(), std::size_t{0});
  }

  void periodicUntilKilledAndKillOfAnUnknownTimerFails() {
    QtTimerService service;
    std::vector<TimerCall> log;
    LoggingEntry entry("tick", log);
    service.SetTimer(1, 1, 5, &entry);
    QTRY_VERIFY_WITH_TIMEOUT(entry.calls >= 3, kWait);
    QVERIFY(service.KillTimer(1, 1));
    QVERIFY(!service.KillTimer(1, 1));
    QVERIFY(!service.KillTimer(2, 1));
    QVERIFY(!service.isSet(1, 1));
    // Proof of elapsed time: a later timer fires; the killed one must not have fired since.
    const int callsAtKill = entry.calls;
    LoggingEntry witness("witness", log);
    service.SetTimer(1, 2, 40, &witness);
    QTRY_VERIFY_WITH_TIMEOUT(witness.calls >= 1, kWait);
    QCOMPARE(entry.calls, callsAtKill);
  }

  void setOnAnExistingTimerReplacesIntervalAndEntry() {
    QtTimerService service;
    std::vector<TimerCall> log;
    LoggingEntry before("before", log), after("after", log);
    service.SetTimer(3, 9, 60000, &before);
    QCOMPARE(service.interval(3, 9), 60000);
    service.SetTimer(3, 9, 10, &after);
    QCOMPARE(service.interval(3, 9), 10);
    QCOMPARE(service.activeCount(), std::size_t{1});
    QTRY_VERIFY_WITH_TIMEOUT(after.calls >= 2, kWait);
    QCOMPARE(before.calls, 0);
    service.KillTimer(3, 9);
  }

  void refusesANullEntryAndTreatsZeroAsOneMillisecond() {
    QtTimerService service;
    QCOMPARE(service.SetTimer(1, 1, 10, nullptr), std::uintptr_t{0});
    QVERIFY(!service.isSet(1, 1));
    std::vector<TimerCall> log;
    LoggingEntry entry("zero", log);
    QCOMPARE(service.SetTimer(1, 0, 0, &entry), std::uintptr_t{1});  // id 0 still succeeds
    QCOMPARE(service.interval(1, 0), 1);
    QTRY_VERIFY_WITH_TIMEOUT(entry.calls >= 1, kWait);
  }

  void anEntryMayKillItselfAndSetAnotherInsideItsCall() {
    QtTimerService service;
    std::vector<TimerCall> log;
    LoggingEntry once("once", log), next("next", log);
    once.action = [&] {
      QVERIFY(service.KillTimer(5, 1));
      service.SetTimer(5, 2, 5, &next);
    };
    next.action = [&] {
      if (next.calls == 2) service.KillTimer(5, 2);
    };
    service.SetTimer(5, 1, 5, &once);
    QTRY_VERIFY_WITH_TIMEOUT(next.calls >= 2, kWait);
    // Both stopped; a witness shows that neither fired again.
    LoggingEntry witness("witness", log);
    service.SetTimer(5, 3, 40, &witness);
    QTRY_VERIFY_WITH_TIMEOUT(witness.calls >= 1, kWait);
    QCOMPARE(once.calls, 1);
    QCOMPARE(next.calls, 2);
    QCOMPARE(Names(log, 3), (std::vector<std::string>{"once", "next", "next"}));
  }

  void sameIdOnTwoWindowsAreTwoTimers() {
    QtTimerService service;
    std::vector<TimerCall> log;
    LoggingEntry a("a", log), b("b", log);
    service.SetTimer(100, 1, 5, &a);
    service.SetTimer(200, 1, 5, &b);
    QCOMPARE(service.activeCount(), std::size_t{2});
    QTRY_VERIFY_WITH_TIMEOUT(a.calls >= 1 && b.calls >= 1, kWait);
    for (const TimerCall& call : log) QCOMPARE(call.window, call.name == "a" ? std::uintptr_t{100} : std::uintptr_t{200});
    service.KillTimer(100, 1);
    QVERIFY(service.isSet(200, 1));
  }

  void aKilledTimerIsKeptForItsPairAndIdleOnesArePruned() {
    QtTimerService service;
    std::vector<TimerCall> log;
    LoggingEntry entry("a", log);
    const auto qtTimers = [&] {
      QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
      return service.findChildren<QTimer*>().size();
    };
    // An animation's kill and set on every frame keeps one QTimer.
    for (int frame = 0; frame < 5; ++frame) {
      service.SetTimer(1, 7, 1000, &entry);
      QVERIFY(service.KillTimer(1, 7));
    }
    QCOMPARE(qtTimers(), qsizetype{1});
    QVERIFY(!service.isSet(1, 7));
    QCOMPARE(service.interval(1, 7), 0);
    QCOMPARE(service.activeCount(), std::size_t{0});
    QVERIFY(!service.KillTimer(1, 7));  // killed already
    // A kept timer does not fire.
    LoggingEntry proof("proof", log);
    service.SetTimer(2, 1, 5, &proof);
    QTRY_VERIFY_WITH_TIMEOUT(proof.calls >= 1, 5000);
    QCOMPARE(entry.calls, 0);
    QVERIFY(service.KillTimer(2, 1));
    // Past the bound every idle timer goes; active ones stay. Two are idle so far: the last of
    // bound - 1 more kills passes it.
    service.SetTimer(3, 1, 100000, &entry);
    const auto idleBound = static_cast<std::uintptr_t>(QtTimerService::kMaxIdleTimers);
    for (std::uintptr_t id = 10; id < 10 + idleBound - 1; ++id) {
      QCOMPARE(qtTimers(), static_cast<qsizetype>(id - 10 + 3));
      service.SetTimer(1, id, 1000, &entry);
      QVERIFY(service.KillTimer(1, id));
    }
    QCOMPARE(qtTimers(), qsizetype{1});
    QVERIFY(service.isSet(3, 1));
    QCOMPARE(service.interval(3, 1), 100000);
    QCOMPARE(service.activeCount(), std::size_t{1});
  }

  void theSharedServiceIsOneObject() {
    QCOMPARE(&QtTimerService::shared(), &QtTimerService::shared());
  }
};

VELMORA_QT_TEST(QtTimerServiceTest)
#include "qt_timer_service_test.moc"
