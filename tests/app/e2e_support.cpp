#include "e2e_support.h"

#include <signal.h>
#include <unistd.h>

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QEventLoop>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QNetworkAccessManager>
#include <QNetworkProxy>
#include <QNetworkReply>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTimer>
#include <algorithm>

namespace velmora::e2e {

quint16 FreePort() {
  QTcpServer probe;
  if (!probe.listen(QHostAddress::LocalHost, 0)) return 0;
  return probe.serverPort();
}

bool IsListening(quint16 port) {
  QTcpSocket socket;
  socket.setProxy(QNetworkProxy::NoProxy);
  socket.connectToHost(QHostAddress::LocalHost, port);
  return socket.waitForConnected(500);
}

bool WaitFor(const std::function<bool()>& condition, int timeoutMs) {
  QDeadlineTimer deadline(timeoutMs);
  while (true) {
    if (condition()) return true;
    if (deadline.hasExpired()) return false;
    // Poll again after 20 ms, handling events meanwhile (what QTRY_* does between checks).
    QEventLoop loop;
    QTimer::singleShot(20, &loop, &QEventLoop::quit);
    loop.exec();
  }
}

ChildProcess::ChildProcess(const QString& program, const QStringList& arguments,
                           const QString& workingDirectory)
    : process_(std::make_unique<QProcess>()) {
  process_->setProgram(program);
  process_->setArguments(arguments);
  if (!workingDirectory.isEmpty()) process_->setWorkingDirectory(workingDirectory);
  process_->setProcessChannelMode(QProcess::ForwardedErrorChannel);
  process_->setInputChannelMode(QProcess::ForwardedInputChannel);
  process_->start();
  if (process_->waitForStarted(10000)) pid_ = process_->processId();
}

ChildProcess::~ChildProcess() {
  Stop();
}

bool ChildProcess::Running() {
  return pid_ > 0 && process_->state() != QProcess::NotRunning;
}

void ChildProcess::Stop(int graceMs) {
  if (!Running()) return;
  ::kill(static_cast<pid_t>(pid_), SIGTERM);
  if (process_->waitForFinished(graceMs)) return;
  ::kill(static_cast<pid_t>(pid_), SIGKILL);
  process_->waitForFinished(5000);
}

bool ChildProcess::WaitForExit(int timeoutMs) {
  if (pid_ <= 0) return false;
  if (process_->state() == QProcess::NotRunning) return true;
  return process_->waitForFinished(timeoutMs);
}

int ChildProcess::ExitCode() const {
  return process_->exitStatus() == QProcess::NormalExit ? process_->exitCode() : -1;
}

bool ChildProcess::ExitedNormally() const {
  return process_->state() == QProcess::NotRunning &&
         process_->exitStatus() == QProcess::NormalExit;
}

QString ChildProcess::ReadLine(int timeoutMs) {
  QDeadlineTimer deadline(timeoutMs);
  while (!process_->canReadLine()) {
    if (deadline.hasExpired() || process_->state() == QProcess::NotRunning) return {};
    process_->waitForReadyRead(100);
  }
  return QString::fromUtf8(process_->readLine()).trimmed();
}

StationServer::StationServer(const QString& root, quint16 port) {
  process_ = std::make_unique<ChildProcess>(
      QStringLiteral("python3"),
      QStringList{QStringLiteral(VELMORA_SOURCE_DIR "/scripts/serve-stations.py"),
                  QStringLiteral("--port"), QString::number(port), QStringLiteral("--root"), root});
  // "serving http://127.0.0.1:PORT/radio/tree.asp"
  const QString line = process_->ReadLine(10000);
  const QString prefix = QStringLiteral("serving http://127.0.0.1:");
  if (!line.startsWith(prefix)) return;
  port_ = line.mid(prefix.size()).section(QLatin1Char('/'), 0, 0).toUShort();
}

QString StationServer::Host() const {
  return QStringLiteral("127.0.0.1:%1").arg(port_);
}

IcecastServer::IcecastServer(int burstBytes) {
  if (!dir_.isValid()) return;
  port_ = FreePort();
  const QString path = dir_.path();
  const QString config = QStringLiteral(R"(<icecast>
  <location>Velmora end-to-end tests</location>
  <admin>tests@127.0.0.1</admin>
  <hostname>127.0.0.1</hostname>
  <limits>
    <clients>20</clients><sources>4</sources><queue-size>524288</queue-size>
    <client-timeout>30</client-timeout><header-timeout>15</header-timeout>
    <source-timeout>10</source-timeout><burst-on-connect>%4</burst-on-connect>
    <burst-size>%5</burst-size>
  </limits>
  <authentication>
    <source-password>%1</source-password><relay-password>velmora-relay</relay-password>
    <admin-user>admin</admin-user><admin-password>velmora-admin</admin-password>
  </authentication>
  <listen-socket><port>%2</port><bind-address>127.0.0.1</bind-address></listen-socket>
  <fileserve>1</fileserve>
  <paths>
    <basedir>%3</basedir><logdir>%3</logdir><pidfile>%3/icecast.pid</pidfile>
    <webroot>/usr/share/icecast2/web</webroot><adminroot>/usr/share/icecast2/admin</adminroot>
  </paths>
  <logging>
    <accesslog>access.log</accesslog><errorlog>error.log</errorlog>
    <loglevel>3</loglevel><logsize>10000</logsize>
  </logging>
  <security><chroot>0</chroot></security>
</icecast>
)")
                             .arg(QLatin1String(kSourcePassword))
                             .arg(port_)
                             .arg(path)
                             .arg(burstBytes > 0 ? 1 : 0)
                             .arg(std::max(burstBytes, 0));
  QFile file(path + QStringLiteral("/icecast.xml"));
  if (!file.open(QIODevice::WriteOnly) || file.write(config.toUtf8()) < 0) return;
  file.close();
  // Icecast refuses to run as root; as root it runs as nobody, who must write its logs here.
  QFile::setPermissions(
      path, QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner |
                QFileDevice::ReadOther | QFileDevice::WriteOther | QFileDevice::ExeOther |
                QFileDevice::ReadGroup | QFileDevice::WriteGroup | QFileDevice::ExeGroup);
  QFile::setPermissions(file.fileName(), QFileDevice::ReadOwner | QFileDevice::WriteOwner |
                                             QFileDevice::ReadGroup | QFileDevice::ReadOther);
  const QStringList icecast{QStringLiteral("icecast2"), QStringLiteral("-c"), file.fileName()};
  if (::geteuid() == 0) {
    process_ = std::make_unique<ChildProcess>(
        QStringLiteral("setpriv"),
        QStringList{QStringLiteral("--reuid=nobody"), QStringLiteral("--regid=nogroup"),
                    QStringLiteral("--clear-groups")} +
            icecast,
        path);
  } else {
    process_ = std::make_unique<ChildProcess>(icecast.first(), icecast.mid(1), path);
  }
  ok_ = process_->Started() &&
        WaitFor([this] { return !process_->Running() || IsListening(port_); }, 10000) &&
        process_->Running();
}

QString IcecastServer::StreamUrl(const QString& mount) const {
  return QStringLiteral("http://127.0.0.1:%1%2").arg(port_).arg(mount);
}

int IcecastServer::Listeners(const QString& mount) const {
  QNetworkAccessManager manager;
  manager.setProxy(QNetworkProxy::NoProxy);
  QNetworkRequest request(QUrl(StreamUrl(QStringLiteral("/status-json.xsl"))));
  request.setTransferTimeout(3000);
  std::unique_ptr<QNetworkReply> reply(manager.get(request));
  QEventLoop loop;
  QObject::connect(reply.get(), &QNetworkReply::finished, &loop, &QEventLoop::quit);
  QTimer::singleShot(4000, &loop, &QEventLoop::quit);
  if (!reply->isFinished()) loop.exec();
  if (!reply->isFinished() || reply->error() != QNetworkReply::NoError) return -1;
  // One source is an object, several an array.
  const QJsonValue sources = QJsonDocument::fromJson(reply->readAll())
                                 .object()
                                 .value(QStringLiteral("icestats"))
                                 .toObject()
                                 .value(QStringLiteral("source"));
  QJsonArray list = sources.isArray() ? sources.toArray() : QJsonArray{sources};
  for (const QJsonValue& source : list) {
    const QJsonObject object = source.toObject();
    if (object.value(QStringLiteral("listenurl")).toString().endsWith(mount)) {
      return object.value(QStringLiteral("listeners")).toInt(-1);
    }
  }
  return -1;
}

QString IcecastServer::Log() const {
  QFile log(dir_.path() + QStringLiteral("/error.log"));
  if (!log.open(QIODevice::ReadOnly)) return {};
  return QString::fromUtf8(log.readAll().right(4000));
}

ToneSource::ToneSource(const IcecastServer& server, const QString& mount)
    : server_(server), mount_(mount) {}

bool ToneSource::Start() {
  Stop();
  const QString target = QStringLiteral("icecast://source:%1@127.0.0.1:%2%3")
                             .arg(QLatin1String(IcecastServer::kSourcePassword))
                             .arg(server_.Port())
                             .arg(mount_);
  process_ = std::make_unique<ChildProcess>(
      QStringLiteral("ffmpeg"), QStringList{QStringLiteral("-nostdin"),
                                            QStringLiteral("-hide_banner"),
                                            QStringLiteral("-loglevel"),
                                            QStringLiteral("error"),
                                            QStringLiteral("-re"),
                                            QStringLiteral("-f"),
                                            QStringLiteral("lavfi"),
                                            QStringLiteral("-i"),
                                            QStringLiteral("sine=frequency=440:sample_rate=44100"),
                                            QStringLiteral("-c:a"),
                                            QStringLiteral("libvorbis"),
                                            QStringLiteral("-b:a"),
                                            QStringLiteral("64k"),
                                            QStringLiteral("-metadata"),
                                            QStringLiteral("title=%1").arg(QLatin1String(kTitle)),
                                            QStringLiteral("-ice_name"),
                                            QLatin1String(kStationName),
                                            QStringLiteral("-content_type"),
                                            QStringLiteral("application/ogg"),
                                            QStringLiteral("-f"),
                                            QStringLiteral("ogg"),
                                            target});
  return process_->Started() &&
         WaitFor([this] { return !process_->Running() || server_.HasSource(mount_); }, 15000) &&
         process_->Running();
}

void ToneSource::Stop() {
  if (process_) process_->Stop();
  process_.reset();
}

std::optional<QString> RunTool(const QString& program, const QStringList& arguments,
                               int timeoutMs) {
  QProcess process;
  process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
  process.start(program, arguments);
  if (!process.waitForStarted(5000)) return std::nullopt;
  if (!process.waitForFinished(timeoutMs)) {
    ::kill(static_cast<pid_t>(process.processId()), SIGKILL);
    process.waitForFinished(3000);
    return std::nullopt;
  }
  if (process.exitStatus() != QProcess::NormalExit || process.exitCode() != 0) return std::nullopt;
  return QString::fromUtf8(process.readAllStandardOutput()).trimmed();
}

}  // namespace velmora::e2e
