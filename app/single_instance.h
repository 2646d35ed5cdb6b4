#pragma once
// One radio per user: the first start listens on a local socket in Linux's abstract namespace
// (named after the application id and the user id, so nothing is left on disk by a crash and
// only one process can hold the name); a later start hands its station address, or nothing, to
// the first and ends. Connections from other users are refused.

#include <QObject>
#include <QString>

class QLocalServer;
class QLocalSocket;

namespace velmora::app {

class SingleInstance : public QObject {
  Q_OBJECT

 public:
  enum class Role {
    First,       // this process holds the name; later starts reach it through `activated`
    HandedOver,  // a running instance took the request: end with status 0
    Alone,       // neither (no local sockets?): carry on as an instance of its own
  };

  explicit SingleInstance(QObject* parent = nullptr);
  ~SingleInstance() override;

  // Becomes the first instance or hands `station` (may be empty) to the one running.
  Role Start(const QString& station);

 signals:
  // A later start asked for the window; `station` is what it was given (not yet checked; may be
  // empty).
  void activated(const QString& station);

 private:
  bool Listen();
  bool HandOver(const QString& station);
  void Accept();
  void Read(QLocalSocket* socket);

  QLocalServer* server_ = nullptr;
};

}  // namespace velmora::app
