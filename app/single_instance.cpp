#include "app/single_instance.h"

#include <QLocalServer>
#include <QLocalSocket>
#include <QLockFile>
#include <QStandardPaths>

#include "app/startup.h"

namespace velmora::app {
namespace {

// A request is one line: the station address, possibly empty.
constexpr qint64 kMaxRequestBytes = 8192;
constexpr int kConnectTimeoutMs = 2000;
constexpr int kLockTimeoutMs = 5000;

}  // namespace

SingleInstance::SingleInstance(QObject* parent) : QObject(parent) {
  const QString runtime = QStandardPaths::writableLocation(QStandardPaths::RuntimeLocation);
  if (!runtime.isEmpty()) {
    socketPath_ =
        runtime + QLatin1Char('/') + QLatin1String(kApplicationId) + QStringLiteral(".instance");
  }
}

SingleInstance::~SingleInstance() = default;

SingleInstance::Role SingleInstance::Start(const QString& station) {
  if (socketPath_.isEmpty()) return Role::Alone;
  if (HandOver(station)) return Role::HandedOver;
  // Whoever holds the lock either finds the first instance after all or becomes it; a socket
  // nobody answers on is left over from an instance that crashed.
  QLockFile lock(socketPath_ + QStringLiteral(".lock"));
  lock.setStaleLockTime(0);  // stale only when its process is gone
  if (!lock.tryLock(kLockTimeoutMs)) return Role::Alone;
  if (HandOver(station)) return Role::HandedOver;
  QLocalServer::removeServer(socketPath_);
  return Listen() ? Role::First : Role::Alone;
}

bool SingleInstance::Listen() {
  auto* server = new QLocalServer(this);
  server->setSocketOptions(QLocalServer::UserAccessOption);
  if (!server->listen(socketPath_)) {
    delete server;
    return false;
  }
  server_ = server;
  connect(server_, &QLocalServer::newConnection, this, &SingleInstance::Accept);
  return true;
}

bool SingleInstance::HandOver(const QString& station) const {
  QLocalSocket socket;
  socket.connectToServer(socketPath_);
  if (!socket.waitForConnected(kConnectTimeoutMs)) return false;
  socket.write(station.toUtf8() + '\n');
  if (!socket.waitForBytesWritten(kConnectTimeoutMs)) return false;
  socket.disconnectFromServer();
  return true;
}

void SingleInstance::Accept() {
  while (QLocalSocket* socket = server_->nextPendingConnection()) {
    connect(socket, &QLocalSocket::disconnected, socket, &QObject::deleteLater);
    connect(socket, &QLocalSocket::readyRead, this, [this, socket] { Read(socket); });
    Read(socket);
  }
}

void SingleInstance::Read(QLocalSocket* socket) {
  if (!socket->canReadLine()) {
    if (socket->bytesAvailable() > kMaxRequestBytes) socket->abort();
    return;
  }
  const QString station = QString::fromUtf8(socket->readLine(kMaxRequestBytes)).trimmed();
  socket->disconnectFromServer();
  emit activated(station);
}

}  // namespace velmora::app
