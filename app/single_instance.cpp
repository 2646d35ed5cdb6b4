#include "app/single_instance.h"

#include <sys/socket.h>
#include <unistd.h>

#include <QLocalServer>
#include <QLocalSocket>

#include "app/startup.h"

namespace velmora::app {
namespace {

// A request is one line: the station address, possibly empty.
constexpr qint64 kMaxRequestBytes = 8192;
constexpr int kConnectTimeoutMs = 2000;
// A first instance that is just ending may refuse the connection and still hold the name.
constexpr int kAttempts = 5;

QString SocketName() {
  return QStringLiteral("%1.%2").arg(QLatin1String(kApplicationId)).arg(::getuid());
}

// The abstract namespace is shared by every user of the machine's network namespace.
bool PeerIsThisUser(const QLocalSocket& socket) {
  ucred peer{};
  socklen_t size = sizeof peer;
  return ::getsockopt(static_cast<int>(socket.socketDescriptor()), SOL_SOCKET, SO_PEERCRED, &peer,
                      &size) == 0 &&
         peer.uid == ::getuid();
}

}  // namespace

SingleInstance::SingleInstance(QObject* parent) : QObject(parent) {}

SingleInstance::~SingleInstance() = default;

SingleInstance::Role SingleInstance::Start(const QString& station) {
  for (int attempt = 0; attempt < kAttempts; ++attempt) {
    if (Listen()) return Role::First;
    if (HandOver(station)) return Role::HandedOver;
  }
  return Role::Alone;
}

bool SingleInstance::Listen() {
  auto* server = new QLocalServer(this);
  server->setSocketOptions(QLocalServer::AbstractNamespaceOption);
  if (!server->listen(SocketName())) {
    delete server;
    return false;
  }
  server_ = server;
  connect(server_, &QLocalServer::newConnection, this, &SingleInstance::Accept);
  return true;
}

bool SingleInstance::HandOver(const QString& station) {
  QLocalSocket socket;
  socket.setSocketOptions(QLocalSocket::AbstractNamespaceOption);
  socket.connectToServer(SocketName());
  if (!socket.waitForConnected(kConnectTimeoutMs)) return false;
  socket.write(station.toUtf8() + '\n');
  if (!socket.waitForBytesWritten(kConnectTimeoutMs)) return false;
  socket.disconnectFromServer();
  return true;
}

void SingleInstance::Accept() {
  while (QLocalSocket* socket = server_->nextPendingConnection()) {
    connect(socket, &QLocalSocket::disconnected, socket, &QObject::deleteLater);
    if (!PeerIsThisUser(*socket)) {
      socket->abort();
      continue;
    }
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
