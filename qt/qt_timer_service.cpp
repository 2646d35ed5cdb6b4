#include "qt/qt_timer_service.h"

#include <QCoreApplication>
#include <QPointer>
#include <QTimer>
#include <algorithm>
#include <exception>
#include <limits>

namespace velmora::qt {
namespace {

// QTimer takes a signed int of milliseconds; longer intervals are clamped, which no caller here
// comes near (the longest the control sets is one minute).
int ToQtInterval(std::uint32_t intervalMs) {
  const std::uint32_t atLeastOne = std::max<std::uint32_t>(intervalMs, 1);
  return static_cast<int>(
      std::min<std::uint32_t>(atLeastOne, static_cast<std::uint32_t>(std::numeric_limits<int>::max())));
}

}  // namespace

QtTimerService::QtTimerService(QObject* parent) : QObject(parent) { clock_.start(); }

QtTimerService::~QtTimerService() {
  for (auto& [key, timer] : timers_) {
    delete timer.timer;
  }
}

QtTimerService& QtTimerService::shared() {
  static QPointer<QtTimerService> instance;
  if (instance.isNull()) {
    instance = new QtTimerService(QCoreApplication::instance());
  }
  return *instance;
}

std::uintptr_t QtTimerService::SetTimer(std::uintptr_t window, std::uintptr_t timerId,
                                        std::uint32_t intervalMs, platform::TimerEntry* entry) {
  if (entry == nullptr) {
    return 0;
  }
  const Key key{window, timerId};
  auto found = timers_.find(key);
  if (found == timers_.end()) {
    auto* timer = new QTimer(this);
    timer->setTimerType(Qt::PreciseTimer);
    timer->setSingleShot(false);
    connect(timer, &QTimer::timeout, this, [this, key, timer] { fire(key, timer); });
    found = timers_.emplace(key, Timer{timer, entry}).first;
  }
  if (!found->second.active) {
    found->second.active = true;
    --idle_;
  }
  found->second.entry = entry;
  // start() on a running timer restarts it: the new interval counts from now.
  found->second.timer->start(ToQtInterval(intervalMs));
  // The classic service returns the id for a timer on a window.
  return timerId != 0 ? timerId : 1;
}

bool QtTimerService::KillTimer(std::uintptr_t window, std::uintptr_t timerId) {
  const auto found = timers_.find(Key{window, timerId});
  if (found == timers_.end() || !found->second.active) {
    return false;
  }
  found->second.timer->stop();
  found->second.active = false;
  if (++idle_ > kMaxIdleTimers) deleteIdle();
  return true;
}

void QtTimerService::deleteIdle() {
  for (auto it = timers_.begin(); it != timers_.end();) {
    if (it->second.active) {
      ++it;
      continue;
    }
    // The entry may be killing the very timer whose timeout is being delivered.
    it->second.timer->deleteLater();
    it = timers_.erase(it);
  }
  idle_ = 0;
}

bool QtTimerService::isSet(std::uintptr_t window, std::uintptr_t timerId) const {
  const auto found = timers_.find(Key{window, timerId});
  return found != timers_.end() && found->second.active;
}

int QtTimerService::interval(std::uintptr_t window, std::uintptr_t timerId) const {
  const auto found = timers_.find(Key{window, timerId});
  return found == timers_.end() || !found->second.active ? 0 : found->second.timer->interval();
}

void QtTimerService::fire(const Key& key, const QTimer* source) {
  const auto found = timers_.find(key);
  // A timeout already queued for a timer that was killed (or killed and set anew) is dropped.
  if (found == timers_.end() || !found->second.active || found->second.timer != source) {
    return;
  }
  const auto now = static_cast<std::uint32_t>(clock_.elapsed());
  // Exceptions must not cross Qt's event dispatching; an entry that throws has had its tick.
  try {
    found->second.entry->Call(key.first, platform::kWmTimer, key.second, now);
  } catch (const std::exception&) {
    // Dropped: see above. The timer keeps running.
  }
}

}  // namespace velmora::qt
