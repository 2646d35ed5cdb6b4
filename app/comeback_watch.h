#pragma once
// The moments worth trying a lost station again at once, rather than after its back-off: the
// network became reachable again (QNetworkInformation, where the system offers a backend, such
// as NetworkManager's) and the machine resumed from sleep (logind's PrepareForSleep(false) on the
// system bus, where there is one). Without either source it simply never signals.

#include <QNetworkInformation>
#include <QObject>

namespace velmora::app {

class ComebackWatch : public QObject {
  Q_OBJECT

 public:
  explicit ComebackWatch(QObject* parent = nullptr);

 signals:
  void cameBack();

 private slots:
  void OnPrepareForSleep(bool sleeping);

 private:
  void OnReachability(QNetworkInformation::Reachability reachability);

  QNetworkInformation::Reachability reachability_ = QNetworkInformation::Reachability::Unknown;
};

}  // namespace velmora::app
