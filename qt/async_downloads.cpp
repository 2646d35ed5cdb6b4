#include "qt/async_downloads.h"

#include <QAbstractNetworkCache>
#include <QCoreApplication>
#include <QDir>
#include <QIODevice>
#include <QNetworkAccessManager>
#include <QNetworkDiskCache>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QStandardPaths>
#include <algorithm>
#include <cctype>
#include <utility>

#include "platform/errors.h"

namespace velmora::qt {
namespace {

constexpr int kErrInvalidArgument = 5;
constexpr qint64 kDiskCacheBytes = qint64{64} << 20;

std::string KeyOf(std::string_view propertyName) {
  std::string key(propertyName);
  std::transform(key.begin(), key.end(), key.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  return key;
}

// Transport failures, where a cached copy is the better answer. HTTP error statuses (the server
// answered) and our own aborts for size are not among them; a transfer timeout is (Qt reports it
// as an operation cancelled by itself).
bool IsNetworkFailure(QNetworkReply::NetworkError error) {
  switch (error) {
    case QNetworkReply::ConnectionRefusedError:
    case QNetworkReply::RemoteHostClosedError:
    case QNetworkReply::HostNotFoundError:
    case QNetworkReply::TimeoutError:
    case QNetworkReply::OperationCanceledError:
    case QNetworkReply::SslHandshakeFailedError:
    case QNetworkReply::TemporaryNetworkFailureError:
    case QNetworkReply::NetworkSessionFailedError:
    case QNetworkReply::BackgroundRequestNotAllowedError:
    case QNetworkReply::UnknownNetworkError:
    case QNetworkReply::ProxyConnectionRefusedError:
    case QNetworkReply::ProxyConnectionClosedError:
    case QNetworkReply::ProxyNotFoundError:
    case QNetworkReply::ProxyTimeoutError:
    case QNetworkReply::UnknownProxyError:
      return true;
    default:
      return false;
  }
}

QByteArray CachedBody(QNetworkAccessManager* manager, const QUrl& url) {
  if (manager == nullptr || manager->cache() == nullptr) return {};
  std::unique_ptr<QIODevice> device(manager->cache()->data(url));
  if (!device) return {};
  return device->readAll();
}

}  // namespace

AsyncDownloads::AsyncDownloads(QNetworkAccessManager* manager, QObject* parent)
    : QObject(parent), manager_(manager != nullptr ? manager : &sharedManager()) {}

AsyncDownloads::~AsyncDownloads() {
  while (!reads_.empty()) {
    take(reads_.begin()->first);
  }
}

QNetworkAccessManager& AsyncDownloads::sharedManager() {
  static QPointer<QNetworkAccessManager> manager;
  if (manager.isNull()) {
    manager = new QNetworkAccessManager(QCoreApplication::instance());
    const QString base = QStandardPaths::writableLocation(QStandardPaths::CacheLocation);
    if (!base.isEmpty()) {
      auto* cache = new QNetworkDiskCache(manager);
      cache->setCacheDirectory(QDir(base).filePath(QStringLiteral("downloads")));
      cache->setMaximumCacheSize(kDiskCacheBytes);
      manager->setCache(cache);
    }
  }
  return *manager;
}

void AsyncDownloads::setDeliveries(Delivery onComplete, Delivery onProgress) {
  onComplete_ = std::move(onComplete);
  onProgress_ = std::move(onProgress);
}

QUrl AsyncDownloads::targetUrl(std::string_view target) {
  const QString text = QString::fromUtf8(target.data(), static_cast<qsizetype>(target.size())).trimmed();
  if (text.isEmpty()) return {};
  if (QDir::isAbsolutePath(text) && !text.contains(QLatin1String("://"))) {
    return QUrl::fromLocalFile(text);
  }
  QUrl url(text, QUrl::StrictMode);
  const QString scheme = url.scheme().toLower();
  if (!url.isValid() || !(scheme == QLatin1String("http") || scheme == QLatin1String("https") ||
                          scheme == QLatin1String("file"))) {
    return {};
  }
  if (scheme != QLatin1String("file") && url.host().isEmpty()) return {};
  return url;
}

void AsyncDownloads::start(std::string_view target, std::string_view propertyName,
                           std::uint32_t options) {
  const QUrl url = targetUrl(target);
  if (!url.isValid() || manager_.isNull()) {
    throw platform::RuntimeError(kErrInvalidArgument, "AsyncRead", "Invalid procedure call or argument");
  }
  const std::string key = KeyOf(propertyName);
  take(key);

  QNetworkRequest request(url);
  request.setAttribute(QNetworkRequest::RedirectPolicyAttribute,
                       QNetworkRequest::NoLessSafeRedirectPolicy);
  request.setMaximumRedirectsAllowed(maxRedirects_);
  request.setTransferTimeout(timeoutMs_);
  request.setAttribute(QNetworkRequest::CacheLoadControlAttribute, QNetworkRequest::PreferNetwork);

  auto read = std::make_unique<Read>();
  read->propertyName = std::string(propertyName);
  read->options = options;
  read->url = url;
  Read* raw = read.get();
  reads_[key] = std::move(read);

  QNetworkReply* reply = manager_->get(request);
  raw->reply = reply;
  connect(reply, &QIODevice::readyRead, this, [this, raw] { onReadyRead(raw); });
  connect(reply, &QNetworkReply::downloadProgress, this,
          [this, raw](qint64 received, qint64 total) { onProgress(raw, received, total); });
  connect(reply, &QNetworkReply::finished, this, [this, raw] { onFinished(raw); });
}

void AsyncDownloads::cancel(std::string_view propertyName) { take(KeyOf(propertyName)); }

bool AsyncDownloads::isRunning(std::string_view propertyName) const {
  return reads_.count(KeyOf(propertyName)) != 0;
}

std::unique_ptr<AsyncDownloads::Read> AsyncDownloads::take(const std::string& key) {
  const auto found = reads_.find(key);
  if (found == reads_.end()) return nullptr;
  std::unique_ptr<Read> read = std::move(found->second);
  reads_.erase(found);
  if (QNetworkReply* reply = read->reply.data()) {
    // Detach first: abort() emits finished() at once for some backends.
    disconnect(reply, nullptr, this, nullptr);
    if (reply->isRunning()) reply->abort();
    reply->deleteLater();
  }
  return read;
}

void AsyncDownloads::onReadyRead(Read* read) {
  QNetworkReply* reply = read->reply.data();
  if (reply == nullptr || read->tooLarge) return;
  read->data += reply->readAll();
  if (read->data.size() > maxBytes_) {
    read->tooLarge = true;
    read->data.clear();
    reply->abort();  // finished() follows and reports the error
  }
}

void AsyncDownloads::onProgress(Read* read, qint64 received, qint64 total) {
  QNetworkReply* reply = read->reply.data();
  if (reply == nullptr || read->tooLarge) return;
  if (total > maxBytes_ || received > maxBytes_) {
    read->tooLarge = true;
    read->data.clear();
    reply->abort();
    return;
  }
  read->bytesMax = std::max<std::int64_t>(total, 0);
  if (!onProgress_) return;
  platform::AsyncProperty property;
  property.propertyName = read->propertyName;
  property.bytesRead = received;
  property.bytesMax = read->bytesMax;
  property.status = platform::kAsyncStatusProgress;
  property.statusText = "Downloading";
  onProgress_(property);
}

void AsyncDownloads::onFinished(Read* read) {
  // Look the read up again: a progress delivery may have cancelled or replaced it.
  const std::string key = KeyOf(read->propertyName);
  const auto found = reads_.find(key);
  if (found == reads_.end() || found->second.get() != read) return;
  QNetworkReply* reply = read->reply.data();
  // An aborted or timed-out reply is closed already; it has nothing more to read.
  if (reply != nullptr && !read->tooLarge && reply->isOpen()) read->data += reply->readAll();
  const QNetworkReply::NetworkError error =
      reply != nullptr ? reply->error() : QNetworkReply::OperationCanceledError;
  const QString errorText = reply != nullptr ? reply->errorString() : QStringLiteral("Cancelled");
  const std::unique_ptr<Read> done = take(key);

  if (done->tooLarge) {
    deliverError(*done, QStringLiteral("Download larger than %1 bytes").arg(maxBytes_));
    return;
  }
  if (error == QNetworkReply::NoError) {
    deliverBytes(*done, std::move(done->data), QStringLiteral("Done"));
    return;
  }
  if ((done->options & platform::kAsyncReadCacheFallback) != 0 && IsNetworkFailure(error)) {
    QByteArray cached = CachedBody(manager_.data(), done->url);
    if (!cached.isEmpty() && cached.size() <= maxBytes_) {
      deliverBytes(*done, std::move(cached), QStringLiteral("Done (from the download cache)"));
      return;
    }
  }
  deliverError(*done, errorText);
}

void AsyncDownloads::deliverError(Read& read, const QString& text) {
  if (!onProgress_) return;
  platform::AsyncProperty property;
  property.propertyName = read.propertyName;
  property.bytesMax = read.bytesMax;
  property.status = platform::kAsyncStatusError;
  property.statusText = text.toStdString();
  onProgress_(property);
}

void AsyncDownloads::deliverBytes(Read& read, QByteArray bytes, const QString& text) {
  if (!onComplete_) return;
  platform::AsyncProperty property;
  property.propertyName = read.propertyName;
  property.value.assign(reinterpret_cast<const std::uint8_t*>(bytes.constData()),
                        reinterpret_cast<const std::uint8_t*>(bytes.constData()) + bytes.size());
  property.bytesRead = static_cast<std::int64_t>(property.value.size());
  property.bytesMax = property.bytesRead;
  property.status = platform::kAsyncStatusDone;
  property.statusText = text.toStdString();
  onComplete_(property);
}

}  // namespace velmora::qt
