#include "app/comeback_watch.h"

#include <QDBusConnection>

namespace velmora::app {

ComebackWatch::ComebackWatch(QObject* parent) : QObject(parent) {
  if (QNetworkInformation::loadBackendByFeatures(QNetworkInformation::Feature::Reachability)) {
    QNetworkInformation* network = QNetworkInformation::instance();
    reachability_ = network->reachability();
    connect(network, &QNetworkInformation::reachabilityChanged, this,
            &ComebackWatch::OnReachability);
  }
  // The system bus is named in the environment or at its fixed place; without one this connect
  // fails quietly.
  QDBusConnection::systemBus().connect(
      QStringLiteral("org.freedesktop.login1"), QStringLiteral("/org/freedesktop/login1"),
      QStringLiteral("org.freedesktop.login1.Manager"), QStringLiteral("PrepareForSleep"), this,
      SLOT(OnPrepareForSleep(bool)));
}

void ComebackWatch::OnReachability(QNetworkInformation::Reachability reachability) {
  const bool back = reachability == QNetworkInformation::Reachability::Online &&
                    reachability_ != QNetworkInformation::Reachability::Online;
  reachability_ = reachability;
  if (back) emit cameBack();
}

void ComebackWatch::OnPrepareForSleep(bool sleeping) {
  if (!sleeping) emit cameBack();
}

}  // namespace velmora::app
