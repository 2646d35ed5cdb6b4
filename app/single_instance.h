#pragma once
// One radio per user session: the first start listens on a local socket in the session's
// runtime folder ($XDG_RUNTIME_DIR, private to the user); a later start of the same session hands
// its station address, or nothing, to the first and ends. A lock file beside the socket makes
// taking the socket over from a crashed instance safe against two starts at once.

#include <QObject>
#include <QString>

class QLocalServer;
class QLocalSocket;

namespace velmora::app {

class SingleInstance : public QObject {
  Q_OBJECT

 public:
  enum class Role {
    First,       // this process listens; later starts reach it through `activated`
    HandedOver,  // a running instance took the request: end with status 0
    Alone,       // neither (no runtime folder, no local sockets): carry on on its own
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
  bool HandOver(const QString& station) const;
  void Accept();
  void Read(QLocalSocket* socket);

  QString socketPath_;
  QLocalServer* server_ = nullptr;
};

}  // namespace velmora::app
