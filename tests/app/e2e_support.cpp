#include "e2e_support.h"

#include <signal.h>
#include <sys/prctl.h>
#include <unistd.h>

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QMap>
#include <QNetworkAccessManager>
#include <QNetworkProxy>
#include <QNetworkReply>
#include <QRegularExpression>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTimer>
#include <QWebEnginePage>
#include <QWebEngineView>
#include <algorithm>

#include "app/form1.h"
#include "app/media_player.h"
#include "app/player_session.h"

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

QStringList Words(const char* words) {
  return QString::fromUtf8(words).split(QLatin1Char(' '), Qt::SkipEmptyParts);
}

bool WriteFile(const QString& path, const QString& text) {
  QFile file(path);
  return file.open(QIODevice::WriteOnly) && file.write(text.toUtf8()) >= 0;
}

ChildProcess::ChildProcess(const QString& program, const QStringList& arguments,
                           const ChildOptions& options)
    : process_(std::make_unique<QProcess>()) {
  process_->setProgram(program);
  process_->setArguments(arguments);
  process_->setProcessEnvironment(options.environment);
  if (!options.workingDirectory.isEmpty()) {
    process_->setWorkingDirectory(options.workingDirectory);
  }
  process_->setProcessChannelMode(options.mergeOutput ? QProcess::MergedChannels
                                                      : QProcess::ForwardedErrorChannel);
  process_->setInputChannelMode(QProcess::ForwardedInputChannel);
  // Should the test process die before its destructors run, its children go with it.
  process_->setChildProcessModifier([] { ::prctl(PR_SET_PDEATHSIG, SIGTERM); });
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

QString ChildProcess::ReadAll() {
  if (process_->state() != QProcess::NotRunning) process_->waitForReadyRead(100);
  return QString::fromUtf8(process_->readAll());
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
    <admin-user>admin</admin-user><admin-password>%6</admin-password>
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
                             .arg(std::max(burstBytes, 0))
                             .arg(QLatin1String(kAdminPassword));
  QFile file(path + QStringLiteral("/icecast.xml"));
  if (!WriteFile(file.fileName(), config)) return;
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
        ChildOptions{path});
  } else {
    process_ = std::make_unique<ChildProcess>(icecast.first(), icecast.mid(1), ChildOptions{path});
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

int IcecastServer::Requests(const QString& mount) const {
  QFile log(dir_.path() + QStringLiteral("/access.log"));
  if (!log.open(QIODevice::ReadOnly)) return 0;
  return static_cast<int>(log.readAll().count(QByteArray("GET ") + mount.toUtf8() + ' '));
}

bool IcecastServer::SetIcyTitle(const QString& mount, const QByteArray& title) const {
  QNetworkAccessManager manager;
  manager.setProxy(QNetworkProxy::NoProxy);
  const QByteArray query = "mount=" + mount.toUtf8().toPercentEncoding() +
                           "&mode=updinfo&song=" + title.toPercentEncoding();
  QNetworkRequest request(QUrl::fromEncoded(
      StreamUrl(QStringLiteral("/admin/metadata")).toUtf8() + '?' + query, QUrl::StrictMode));
  request.setRawHeader("Authorization",
                       "Basic " + (QByteArray("admin:") + kAdminPassword).toBase64());
  request.setTransferTimeout(3000);
  std::unique_ptr<QNetworkReply> reply(manager.get(request));
  QEventLoop loop;
  QObject::connect(reply.get(), &QNetworkReply::finished, &loop, &QEventLoop::quit);
  if (!reply->isFinished()) loop.exec();
  return reply->error() == QNetworkReply::NoError;
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
  // The name and title have spaces: they are appended whole.
  const bool mp3 = mount_.endsWith(QLatin1String(".mp3"));
  const QStringList arguments =
      Words(
          "-nostdin -hide_banner -loglevel error -re -f lavfi -i "
          "sine=frequency=440:sample_rate=44100 -b:a 64k") +
      (mp3 ? Words("-c:a libmp3lame -content_type audio/mpeg -f mp3")
           : Words("-c:a libvorbis -content_type application/ogg -f ogg -metadata") +
                 QStringList{QStringLiteral("title=%1").arg(QLatin1String(kTitle))}) +
      QStringList{QStringLiteral("-ice_name"), QLatin1String(kStationName), target};
  // A server that has just started listening can still refuse a source on a busy machine (ffmpeg
  // then ends at once with "Connection refused"): such a start is tried again, twice.
  for (int attempt = 0; attempt < 3; ++attempt) {
    if (attempt > 0) WaitFor([] { return false; }, 500);
    process_ = std::make_unique<ChildProcess>(QStringLiteral("ffmpeg"), arguments);
    if (!process_->Started()) return false;
    const bool settled =
        WaitFor([this] { return !process_->Running() || server_.HasSource(mount_); }, 15000);
    if (process_->Running()) return settled;
  }
  return false;
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

QString Xdotool(const QStringList& arguments) {
  return RunTool(QStringLiteral("xdotool"), arguments, 20000).value_or(QStringLiteral("<failed>"));
}

TestStations::TestStations(const QString& mount, int burstBytes) : mount_(mount) {
  if (!site_.isValid() || !QDir(site_.path()).mkpath(QStringLiteral("radio"))) return;
  icecast_ = std::make_unique<IcecastServer>(burstBytes);
  tone_ = std::make_unique<ToneSource>(*icecast_, mount_);
  ok_ = icecast_->Ok() && tone_->Start();
  if (!ok_) qWarning("%s", qPrintable(icecast_->Log()));
}

bool TestStations::Write(const QString& name, const QString& text) const {
  return WriteFile(site_.path() + QStringLiteral("/radio/") + name, text);
}

QString StationPage(const QList<PageLink>& links) {
  QString rows;
  for (const PageLink& link : links) {
    rows += QStringLiteral("<a id=\"%1\" target=\"_blank\" href=\"%2\">Station %1</a>\n")
                .arg(link.id, link.href);
  }
  return QStringLiteral(R"(<!DOCTYPE html><html><head><meta charset="utf-8"><style>
body { margin: 0; font: 13px sans-serif; background: #0c1a2e; }
a { display: block; height: %1px; line-height: %1px; padding-left: 10px; color: #cfe0f5; }
#empty { height: 120px; }
</style></head><body>
%2<div id="empty"></div>
</body></html>)")
      .arg(kRowHeight)
      .arg(rows);
}

QPoint RowInWindow(int row) {
  return app::Form1::kWebBrowser1Rect.topLeft() + QPoint(60, row * kRowHeight + kRowHeight / 2);
}

QVariant RunJs(QWebEngineView* view, const QString& script) {
  QVariant result;
  bool done = false;
  view->page()->runJavaScript(script, [&](const QVariant& value) {
    result = value;
    done = true;
  });
  WaitFor([&] { return done; }, 10000);
  return result;
}

QPoint ElementCentre(QWebEngineView* view, const QString& id) {
  const QVariantList box =
      RunJs(view, QStringLiteral("(function(){var e=document.getElementById('%1');if(!e)return [];"
                                 "var r=e.getBoundingClientRect();return [r.left+r.width/2,"
                                 "r.top+r.height/2];})()")
                      .arg(id))
          .toList();
  if (box.size() != 2) return QPoint(-1, -1);
  return QPoint(qRound(box[0].toDouble()), qRound(box[1].toDouble()));
}

TestWindow::TestWindow(const QString& stationHost)
    : form_(std::make_unique<app::Form1>(stationHost)) {
  form_->SetExitAction([] { QFAIL("the close hot spot must not end the test process"); });
  form_->move(60, 60);
  form_->show();
}

TestWindow::~TestWindow() = default;

app::PlayerSession& TestWindow::Session() const {
  return *form_->Session();
}

app::MediaPlayer& TestWindow::Player() const {
  return *form_->MediaPlayer1();
}

QWebEngineView* TestWindow::View() const {
  return form_->WebBrowser1();
}

QWidget* TestWindow::Proxy() const {
  return form_->WebBrowser1()->focusProxy();
}

bool TestWindow::PageHas(const QString& id) const {
  return WaitFor(
      [&] {
        return Proxy() != nullptr &&
               RunJs(View(), QStringLiteral("!!document.getElementById('%1') && "
                                            "document.readyState == 'complete'")
                                 .arg(id))
                   .toBool();
      },
      kPageTimeoutMs);
}

bool TestWindow::Hover(const QString& id, const QString& expectedStatus) const {
  const QPoint centre = ElementCentre(View(), id);
  if (centre.x() < 0) return false;
  int step = 0;
  return WaitFor(
      [&] {
        QTest::mouseMove(Proxy(), centre + QPoint(step++ % 2, 0));
        return form_->LastStatusText() == expectedStatus;
      },
      10000);
}

bool TestWindow::ClickLink(const QString& id, const QString& target) const {
  if (!Hover(id, target)) return false;
  QTest::mouseClick(Proxy(), Qt::LeftButton, {}, ElementCentre(View(), id));
  return WaitFor([&] { return Session().URL() == target; }, 10000);
}

bool TestWindow::ClickUntil(const QString& id, const std::function<bool()>& done) const {
  const QPoint centre = ElementCentre(View(), id);
  if (centre.x() < 0) return false;
  for (int attempt = 0; attempt < 8; ++attempt) {
    const QPoint at = centre + QPoint(attempt % 2, 0);
    QTest::mouseMove(Proxy(), at);
    QTest::mouseClick(Proxy(), Qt::LeftButton, {}, at);
    if (WaitFor(done, 1500)) return true;
  }
  return false;
}

bool TestWindow::WaitPlaying() const {
  const app::PlayerSession& session = Session();
  const auto steady = [&] {
    return session.PlayState() == app::PlayerSession::State::Playing && !session.IsBuffering() &&
           session.Position() > 0.3;
  };
  if (!WaitFor(steady, kPlayTimeoutMs)) return false;
  const double start = session.Position();
  return WaitFor([&] { return session.Position() >= start + 1.0; }, kPlayTimeoutMs);
}

RadioProcess::RadioProcess(const QStringList& arguments, const ChildOptions& options)
    : process_(QStringLiteral(VELMORA_RADIO_BIN), arguments, options) {
  if (!process_.Started()) return;
  // Polled rather than waited for with --sync: xdotool gives up with an X error when a window it
  // looks at goes away meanwhile, as Qt's short-lived start-up windows do.
  const QStringList search = {QStringLiteral("search"), QStringLiteral("--onlyvisible"),
                              QStringLiteral("--pid"),  QString::number(process_.Pid()),
                              QStringLiteral("--name"), QStringLiteral("^Velmora radio 1\\.0$")};
  const QRegularExpression windowId(QStringLiteral("^\\d+$"));
  WaitFor(
      [&] {
        const QString first = RunTool(QStringLiteral("xdotool"), search)
                                  .value_or(QString())
                                  .section(QLatin1Char('\n'), 0, 0);
        if (windowId.match(first).hasMatch()) window_ = first;
        return !window_.isEmpty() || !process_.Running();
      },
      kPageTimeoutMs);
}

QStringList RadioProcess::ClickWords(QPoint at, int button) const {
  return {QStringLiteral("mousemove"), QStringLiteral("--window"), window_,
          QString::number(at.x()),     QString::number(at.y()),    QStringLiteral("click"),
          QString::number(button)};
}

void RadioProcess::ClickAt(QPoint at) {
  Xdotool(QStringList{QStringLiteral("mousemove"), QStringLiteral("--window"), window_,
                      QString::number(at.x()), QString::number(at.y() + 1)} +
          ClickWords(at));
}

void RadioProcess::PressKey(const QString& key) {
  Xdotool({QStringLiteral("windowfocus"), QStringLiteral("--sync"), window_, QStringLiteral("key"),
           key});
}

QRect RadioProcess::Geometry() {
  // "WINDOW=..\nX=..\nY=..\nWIDTH=..\nHEIGHT=..\nSCREEN=.."
  QMap<QString, int> values;
  const QString shell =
      Xdotool({QStringLiteral("getwindowgeometry"), QStringLiteral("--shell"), window_});
  for (const QString& line : shell.split(QLatin1Char('\n'))) {
    values.insert(line.section(QLatin1Char('='), 0, 0), line.section(QLatin1Char('='), 1).toInt());
  }
  return QRect(values.value(QStringLiteral("X")), values.value(QStringLiteral("Y")),
               values.value(QStringLiteral("WIDTH")), values.value(QStringLiteral("HEIGHT")));
}

bool RadioProcess::CloseFromHotSpot() {
  QElapsedTimer clock;
  clock.start();
  ClickAt(QPoint(275, 14));
  return process_.WaitForExit(3000) && clock.elapsed() < 4000 && process_.ExitedNormally() &&
         process_.ExitCode() == 0;
}

}  // namespace velmora::e2e
