#pragma once
// QtTimerService: the timer service on Qt's event loop.
//
// One QTimer (Qt::PreciseTimer, periodic) per (window, id). SetTimer on an existing pair
// replaces its interval and entry and counts afresh; KillTimer stops it. A firing timer calls its
// entry with (window, kWmTimer, id, milliseconds since the service started, truncated to 32 bits),
// on the thread that owns the service. An entry may set and kill timers, its own included, from
// inside the call. Timers only fire while the event loop runs.
//
// Window handles are only keys here; nothing is looked up by them. A killed timer's QTimer is kept
// stopped under its pair for the next SetTimer (an animation kills and sets its timer on every
// frame); past kMaxIdleTimers stopped ones they are all deleted.

#include <QElapsedTimer>
#include <QObject>
#include <cstdint>
#include <map>
#include <utility>

#include "platform/timers.h"

class QTimer;

namespace velmora::qt {

class QtTimerService final : public QObject, public platform::TimerService {
  Q_OBJECT

 public:
  explicit QtTimerService(QObject* parent = nullptr);
  ~QtTimerService() override;

  // The service the hosts share by default: created on first use, parented to the running
  // QCoreApplication (so it goes when the application does). Needs a QCoreApplication.
  static QtTimerService& shared();

  std::uintptr_t SetTimer(std::uintptr_t window, std::uintptr_t timerId, std::uint32_t intervalMs,
                          platform::TimerEntry* entry) override;
  bool KillTimer(std::uintptr_t window, std::uintptr_t timerId) override;

  // For tests and diagnostics.
  bool isSet(std::uintptr_t window, std::uintptr_t timerId) const;
  int interval(std::uintptr_t window, std::uintptr_t timerId) const;  // 0 when not set
  std::size_t activeCount() const { return timers_.size() - idle_; }

  static constexpr std::size_t kMaxIdleTimers = 16;

 private:
  using Key = std::pair<std::uintptr_t, std::uintptr_t>;
  struct Timer {
    QTimer* timer = nullptr;
    platform::TimerEntry* entry = nullptr;
    bool active = true;  // false: killed, kept stopped for reuse
  };

  void fire(const Key& key, const QTimer* source);
  void deleteIdle();

  std::map<Key, Timer> timers_;
  std::size_t idle_ = 0;  // entries of timers_ that are not active
  QElapsedTimer clock_;
};

}  // namespace velmora::qt
