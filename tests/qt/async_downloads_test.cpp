// Asynchronous reads through QNetworkAccessManager, end to end through the control: local files,
// a loopback HTTP server (a QTcpServer in this test), error statuses, redirects, the size cap,
// the stall timeout, the disk-cache fallback and cancelling.

// First: it names a local "emit", which Qt's headers make a macro.
#include "support/gif_builder.h"

#include <QFile>
#include <QNetworkAccessManager>
#include <QNetworkDiskCache>
#include <QSignalSpy>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QTest>
#include <map>
#include <utility>
#include <vector>
#include <memory>

#include "platform/errors.h"
#include "qt/ani_gif_widget.h"
#include "qt/async_downloads.h"
#include "qt/qt_test_main.h"

namespace {

using velmora::qt::AniGifWidget;
using velmora::qt::AsyncDownloads;

constexpr int kWait = 10000;

QByteArray ToQByteArray(const std::vector<std::uint8_t>& bytes) {
  return QByteArray(reinterpret_cast<const char*>(bytes.data()), static_cast<qsizetype>(bytes.size()));
}

// 4 x 3, two frames.
QByteArray RemoteGif() { return ToQByteArray(velmora::testing::AnimationGif(2, 10, 0, 4, 3)); }
// 8 x 2, one frame.
QByteArray LocalGif() { return ToQByteArray(velmora::testing::AnimationGif(1, 0, std::nullopt, 8, 2)); }

// Just enough HTTP/1.1 for these tests: one request per connection, fixed answers by path.
class LoopbackServer final : public QObject {
 public:
  struct Answer {
    int status = 200;
    QByteArray body;
    QList<QByteArray> headers;  // extra header lines
    bool announceLength = true;
    bool hang = false;  // read the request, never answer
  };

  LoopbackServer() {
    QObject::connect(&server_, &QTcpServer::newConnection, this, [this] { accept(); });
    listening_ = server_.listen(QHostAddress::LocalHost, 0);
  }
  bool listening() const { return listening_; }
  QString url(const QString& path) const {
    return QStringLiteral("http://127.0.0.1:%1%2").arg(server_.serverPort()).arg(path);
  }
  void route(const QByteArray& path, Answer answer) { answers_[path] = std::move(answer); }
  void close() { server_.close(); }
  int requests(const QByteArray& path) const {
    const auto found = counts_.find(path);
    return found == counts_.end() ? 0 : found->second;
  }

 private:
  void accept() {
    while (QTcpSocket* socket = server_.nextPendingConnection()) {
      auto buffer = std::make_shared<QByteArray>();
      QObject::connect(socket, &QTcpSocket::readyRead, this, [this, socket, buffer] {
        *buffer += socket->readAll();
        if (!buffer->contains("\r\n\r\n")) return;
        const QList<QByteArray> requestLine = buffer->left(buffer->indexOf("\r\n")).split(' ');
        buffer->clear();
        answer(socket, requestLine.size() > 1 ? requestLine[1] : QByteArray("/"));
      });
      QObject::connect(socket, &QTcpSocket::disconnected, socket, &QObject::deleteLater);
    }
  }

  void answer(QTcpSocket* socket, const QByteArray& path) {
    ++counts_[path];
    const auto found = answers_.find(path);
    const Answer answer = found != answers_.end() ? found->second : Answer{404, "no such thing", {}, true, false};
    if (answer.hang) return;
    QByteArray head = "HTTP/1.1 " + QByteArray::number(answer.status) + " Whatever\r\n";
    if (answer.announceLength) head += "Content-Length: " + QByteArray::number(answer.body.size()) + "\r\n";
    head += "Connection: close\r\n";
    for (const QByteArray& line : answer.headers) head += line + "\r\n";
    socket->write(head + "\r\n" + answer.body);
    socket->disconnectFromHost();
  }

  QTcpServer server_;
  bool listening_ = false;
  std::map<QByteArray, Answer> answers_;
  std::map<QByteArray, int> counts_;
};

// Records the remote-load outcome of one widget (QSignalSpy cannot take the by-reference
// `cancel`, so the complete event is recorded by a connection).
struct Outcome {
  explicit Outcome(AniGifWidget& widget) : failure(&widget, &AniGifWidget::remoteLoadFailure) {
    QObject::connect(&widget, &AniGifWidget::remoteLoadComplete, &widget,
                     [this](float width, float height, bool&) { complete.push_back({width, height}); });
  }
  int total() const { return static_cast<int>(complete.size()) + static_cast<int>(failure.count()); }
  std::vector<std::pair<float, float>> complete;
  QSignalSpy failure;
};

}  // namespace

class AsyncDownloadsTest : public QObject {
  Q_OBJECT

 private slots:
  void initTestCase() { QVERIFY(server_.listening()); }

  void targetsThatCanBeRead() {
    struct Case { const char* target; const char* url; };
    const Case cases[] = {
        {"http://example.test/a.gif", "http://example.test/a.gif"},
        {"  https://example.test/b.gif ", "https://example.test/b.gif"},
        {"file:///tmp/c.gif", "file:///tmp/c.gif"},
        {"/tmp/d e.gif", "file:///tmp/d%20e.gif"},
        {"", ""},
        {"ftp://example.test/a.gif", ""},
        {"http:///no-host.gif", ""},
        {"relative/e.gif", ""},
        {"C:\\pictures\\f.gif", ""},
    };
    for (const Case& c : cases) {
      QCOMPARE(AsyncDownloads::targetUrl(c.target).toString(QUrl::FullyEncoded), QString::fromLatin1(c.url));
    }
  }

  void aLocalFileArrivesAndLoads() {
    QTemporaryDir dir;
    QFile file(dir.filePath(QStringLiteral("remote.gif")));
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write(RemoteGif());
    file.close();
    for (const QString& target : {QUrl::fromLocalFile(file.fileName()).toString(), file.fileName()}) {
      AniGifWidget widget;
      Outcome outcome(widget);
      widget.loadRemote(target);
      QTRY_COMPARE_WITH_TIMEOUT(outcome.total(), 1, kWait);
      QCOMPARE(static_cast<int>(outcome.complete.size()), 1);
      QCOMPARE(outcome.complete.front().first, 60.0f);  // 4 pixels in twips
      QCOMPARE(outcome.complete.front().second, 45.0f);
      QCOMPARE(widget.frameCount(), 2);
    }
  }

  void aMissingLocalFileFails() {
    AniGifWidget widget;
    Outcome outcome(widget);
    widget.loadRemote(QStringLiteral("file:///nonexistent/for/sure.gif"));
    QTRY_COMPARE_WITH_TIMEOUT(outcome.failure.count(), 1, kWait);
    QCOMPARE(static_cast<int>(outcome.complete.size()), 0);
  }

  void httpDeliversTheBody() {
    server_.route("/ok.gif", {200, RemoteGif(), {"Content-Type: image/gif"}, true, false});
    server_.route("/streamed.gif", {200, RemoteGif(), {}, false, false});
    for (const char* path : {"/ok.gif", "/streamed.gif"}) {
      AniGifWidget widget;
      Outcome outcome(widget);
      widget.loadRemote(server_.url(QString::fromLatin1(path)));
      QTRY_COMPARE_WITH_TIMEOUT(outcome.total(), 1, kWait);
      QCOMPARE(static_cast<int>(outcome.complete.size()), 1);
      QCOMPARE(widget.frameCount(), 2);
      QCOMPARE(widget.control().Document().Header.CanvasWidth, 4);
    }
  }

  void anHttpErrorLeavesTheCurrentGif() {
    AniGifWidget widget;
    QVERIFY(widget.loadBytes(LocalGif()));
    Outcome outcome(widget);
    widget.loadRemote(server_.url(QStringLiteral("/missing.gif")));
    QTRY_COMPARE_WITH_TIMEOUT(outcome.failure.count(), 1, kWait);
    QCOMPARE(static_cast<int>(outcome.complete.size()), 0);
    QCOMPARE(server_.requests("/missing.gif"), 1);
    QCOMPARE(widget.currentFrame(), 1);
    QCOMPARE(widget.frameCount(), 1);
    QCOMPARE(widget.control().Document().Header.CanvasWidth, 8);
    QCOMPARE(widget.control().Document().Header.CanvasHeight, 2);
  }

  void redirectsAreFollowedUpToTheLimit() {
    server_.route("/moved.gif", {302, {}, {"Location: /ok.gif"}, true, false});
    server_.route("/ok.gif", {200, RemoteGif(), {}, true, false});
    server_.route("/loop.gif", {302, {}, {"Location: /loop.gif"}, true, false});
    AniGifWidget widget;
    Outcome outcome(widget);
    widget.loadRemote(server_.url(QStringLiteral("/moved.gif")));
    QTRY_COMPARE_WITH_TIMEOUT(outcome.total(), 1, kWait);
    QCOMPARE(static_cast<int>(outcome.complete.size()), 1);

    widget.downloads().setMaxRedirects(3);
    const int before = server_.requests("/loop.gif");
    widget.loadRemote(server_.url(QStringLiteral("/loop.gif")));
    QTRY_COMPARE_WITH_TIMEOUT(outcome.failure.count(), 1, kWait);
    QCOMPARE(server_.requests("/loop.gif") - before, 4);  // the request and three redirects
    QCOMPARE(widget.frameCount(), 2);                     // the earlier GIF stays
  }

  void aBodyOverTheCapIsRefused() {
    QByteArray big = RemoteGif();
    big.append(QByteArray(5000, '\0'));  // trailing bytes after the GIF: still a readable GIF
    server_.route("/big.gif", {200, big, {}, true, false});
    server_.route("/big-streamed.gif", {200, big, {}, false, false});
    for (const char* path : {"/big.gif", "/big-streamed.gif"}) {
      AniGifWidget widget;
      widget.downloads().setMaxBytes(1000);
      Outcome outcome(widget);
      widget.loadRemote(server_.url(QString::fromLatin1(path)));
      QTRY_COMPARE_WITH_TIMEOUT(outcome.total(), 1, kWait);
      QCOMPARE(outcome.failure.count(), 1);
      QCOMPARE(widget.frameCount(), 0);
    }
    // Under the default cap the same body loads.
    AniGifWidget widget;
    Outcome outcome(widget);
    widget.loadRemote(server_.url(QStringLiteral("/big.gif")));
    QTRY_COMPARE_WITH_TIMEOUT(outcome.total(), 1, kWait);
    QCOMPARE(static_cast<int>(outcome.complete.size()), 1);
  }

  void aStalledServerTimesOut() {
    server_.route("/stall.gif", {200, {}, {}, true, true});
    AniGifWidget widget;
    widget.downloads().setTimeoutMs(300);
    Outcome outcome(widget);
    widget.loadRemote(server_.url(QStringLiteral("/stall.gif")));
    QTRY_COMPARE_WITH_TIMEOUT(outcome.failure.count(), 1, kWait);
    QCOMPARE(static_cast<int>(outcome.complete.size()), 0);
    QVERIFY(!widget.downloads().isRunning("remoteGIF"));
  }

  void aNetworkFailureFallsBackToTheDiskCache() {
    QTemporaryDir cacheDir;
    QNetworkAccessManager manager;
    auto* cache = new QNetworkDiskCache(&manager);
    cache->setCacheDirectory(cacheDir.path());
    manager.setCache(cache);
    LoopbackServer server;
    QVERIFY(server.listening());
    // Expired from the start, so the second read goes to the network and meets the closed port
    // (with "max-age=0" Qt would still call the entry fresh within the same second).
    server.route("/cached.gif", {200, RemoteGif(),
                                 {"Expires: Thu, 01 Jan 1970 00:00:00 GMT", "Last-Modified: Mon, 01 Jan 2024 00:00:00 GMT"},
                                 true, false});
    const QString url = server.url(QStringLiteral("/cached.gif"));
    const QString uncached = server.url(QStringLiteral("/never-fetched.gif"));
    AniGifWidget widget(nullptr, nullptr, &manager);
    Outcome outcome(widget);
    widget.loadRemote(url);
    QTRY_COMPARE_WITH_TIMEOUT(outcome.total(), 1, kWait);
    QCOMPARE(static_cast<int>(outcome.complete.size()), 1);
    QVERIFY(cache->metaData(QUrl(url)).isValid());

    server.close();
    QVERIFY(widget.loadBytes(LocalGif()));
    widget.loadRemote(url);
    QTRY_COMPARE_WITH_TIMEOUT(outcome.total(), 2, kWait);
    QCOMPARE(static_cast<int>(outcome.complete.size()), 2);  // from the cache
    QCOMPARE(widget.frameCount(), 2);
    QCOMPARE(widget.control().Document().Header.CanvasWidth, 4);

    widget.loadRemote(uncached);  // nothing cached: the failure stands
    QTRY_COMPARE_WITH_TIMEOUT(outcome.failure.count(), 1, kWait);

    // The same through the downloads themselves: with the option the cached bytes arrive,
    // without it the network failure stands.
    AsyncDownloads downloads(&manager);
    std::vector<QByteArray> delivered;
    std::vector<int> errors;
    downloads.setDeliveries(
        [&](velmora::platform::AsyncProperty& p) {
          delivered.emplace_back(reinterpret_cast<const char*>(p.value.data()), static_cast<qsizetype>(p.value.size()));
        },
        [&](velmora::platform::AsyncProperty& p) {
          if (p.status == velmora::platform::kAsyncStatusError) errors.push_back(p.status);
        });
    downloads.start(url.toStdString(), "withFallback", velmora::platform::kAsyncReadCacheFallback);
    QTRY_COMPARE_WITH_TIMEOUT(delivered.size(), std::size_t{1}, kWait);
    QCOMPARE(delivered.front(), RemoteGif());
    downloads.start(url.toStdString(), "plain", 0);
    QTRY_COMPARE_WITH_TIMEOUT(errors.size(), std::size_t{1}, kWait);
    QCOMPARE(delivered.size(), std::size_t{1});
  }

  void targetsThatCannotBeReadFailAtOnce() {
    AniGifWidget widget;
    Outcome outcome(widget);
    widget.loadRemote(QStringLiteral("ftp://127.0.0.1/a.gif"));
    QCOMPARE(outcome.failure.count(), 1);  // raised before loadRemote returned
    widget.loadRemote(QStringLiteral("relative.gif"));
    QCOMPARE(outcome.failure.count(), 2);
    widget.loadRemote(QString());  // empty: no read, no event
    QCOMPARE(outcome.total(), 2);
    try {
      widget.host().AsyncRead("gopher://x", "remoteGIF", 0);
      QFAIL("gopher was accepted");
    } catch (const velmora::platform::RuntimeError& error) {
      QCOMPARE(error.Number(), 5);
    }
  }

  void aCancelledReadDeliversNothing() {
    server_.route("/stall.gif", {200, {}, {}, true, true});
    server_.route("/ok.gif", {200, RemoteGif(), {}, true, false});
    AniGifWidget widget;
    Outcome outcome(widget);
    widget.loadRemote(server_.url(QStringLiteral("/stall.gif")));
    QVERIFY(widget.downloads().isRunning("remoteGIF"));
    widget.host().CancelAsyncRead("REMOTEgif");  // names match without regard to case
    QVERIFY(!widget.downloads().isRunning("remoteGIF"));
    // A later read under the same name is the only one heard from.
    widget.loadRemote(server_.url(QStringLiteral("/ok.gif")));
    QTRY_COMPARE_WITH_TIMEOUT(outcome.total(), 1, kWait);
    QCOMPARE(static_cast<int>(outcome.complete.size()), 1);
  }

  void aNewReadUnderTheSameNameReplacesTheRunningOne() {
    server_.route("/stall.gif", {200, {}, {}, true, true});
    server_.route("/ok.gif", {200, RemoteGif(), {}, true, false});
    AniGifWidget widget;
    widget.downloads().setTimeoutMs(300);
    Outcome outcome(widget);
    widget.loadRemote(server_.url(QStringLiteral("/stall.gif")));
    widget.loadRemote(server_.url(QStringLiteral("/ok.gif")));
    QTRY_COMPARE_WITH_TIMEOUT(outcome.total(), 1, kWait);
    QCOMPARE(static_cast<int>(outcome.complete.size()), 1);
    // The abandoned read would have timed out by now; a second stalled read proves the time.
    widget.loadRemote(server_.url(QStringLiteral("/stall.gif")));
    QTRY_COMPARE_WITH_TIMEOUT(outcome.failure.count(), 1, kWait);
    QCOMPARE(outcome.total(), 2);
  }

  void cancelInTheCompleteHandlerKeepsTheShownGif() {
    server_.route("/ok.gif", {200, RemoteGif(), {}, true, false});
    AniGifWidget widget;
    QVERIFY(widget.loadBytes(LocalGif()));
    connect(&widget, &AniGifWidget::remoteLoadComplete, this,
            [](float, float, bool& cancel) { cancel = true; }, Qt::DirectConnection);
    Outcome outcome(widget);
    widget.loadRemote(server_.url(QStringLiteral("/ok.gif")));
    QTRY_COMPARE_WITH_TIMEOUT(static_cast<int>(outcome.complete.size()), 1, kWait);
    QCOMPARE(widget.frameCount(), 1);
    QCOMPARE(widget.control().Document().Header.CanvasWidth, 8);
  }

 private:
  LoopbackServer server_;
};

VELMORA_QT_TEST(AsyncDownloadsTest)
#include "async_downloads_test.moc"
