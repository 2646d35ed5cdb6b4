#pragma once
// AsyncDownloads: the container's asynchronous reads, through QNetworkAccessManager.
//
// A read fetches a target (an http, https or file URL, or an absolute local path) and hands the
// whole body over as bytes. Reads are keyed by property name (without regard to case); starting a
// read under a name that is still running abandons the earlier one.
//
// Outcome, each delivered once, on the owning thread, from the event loop:
//   - success: onComplete with status kAsyncStatusDone and the bytes;
//   - HTTP error status, network failure, a body over maxBytes (the transfer is aborted as soon
//     as the size is known or exceeded), no progress for timeoutMs, more than maxRedirects
//     redirects or a redirect to a less safe scheme: onProgress with status kAsyncStatusError
//     and no bytes;
//   - with option kAsyncReadCacheFallback, a network failure (not an HTTP error status) is
//     answered from the manager's cache when it holds the target: onComplete with those bytes.
// Progress while bytes arrive goes to onProgress with status kAsyncStatusProgress. cancel()
// abandons a read silently: nothing more is delivered for it. A callback may start and cancel
// reads, its own name included.

#include <QObject>
#include <QPointer>
#include <QString>
#include <QUrl>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <string_view>

#include "platform/container.h"

class QNetworkAccessManager;
class QNetworkReply;

namespace velmora::qt {

inline constexpr std::int64_t kDefaultMaxDownloadBytes = std::int64_t{16} << 20;
inline constexpr int kDefaultDownloadTimeoutMs = 30000;
inline constexpr int kDefaultMaxRedirects = 10;

class AsyncDownloads final : public QObject {
  Q_OBJECT

 public:
  using Delivery = std::function<void(platform::AsyncProperty& property)>;

  // Uses `manager` (not owned) or, when null, sharedManager().
  explicit AsyncDownloads(QNetworkAccessManager* manager = nullptr, QObject* parent = nullptr);
  ~AsyncDownloads() override;

  // A manager for the whole process with a QNetworkDiskCache under the user's cache location
  // ("downloads"), parented to the running QCoreApplication.
  static QNetworkAccessManager& sharedManager();

  void setDeliveries(Delivery onComplete, Delivery onProgress);
  void setMaxBytes(std::int64_t maxBytes) { maxBytes_ = maxBytes; }
  void setTimeoutMs(int timeoutMs) { timeoutMs_ = timeoutMs; }
  void setMaxRedirects(int maxRedirects) { maxRedirects_ = maxRedirects; }

  // Starts a read. Throws platform::RuntimeError 5 for an empty target or one that is not an
  // http, https or file URL or an absolute local path.
  void start(std::string_view target, std::string_view propertyName, std::uint32_t options);
  void cancel(std::string_view propertyName);
  bool isRunning(std::string_view propertyName) const;

  // The URL a target names, or an invalid URL when the target cannot be read.
  static QUrl targetUrl(std::string_view target);

 private:
  struct Read {
    QPointer<QNetworkReply> reply;
    std::string propertyName;
    std::uint32_t options = 0;
    QUrl url;
    QByteArray data;
    std::int64_t bytesMax = 0;
    bool tooLarge = false;
  };

  void onReadyRead(Read* read);
  void onProgress(Read* read, qint64 received, qint64 total);
  void onFinished(Read* read);
  // Removes the read from the table, detaching and disposing of its reply.
  std::unique_ptr<Read> take(const std::string& key);
  void deliverError(Read& read, const QString& text);
  void deliverBytes(Read& read, QByteArray bytes, const QString& text);

  QPointer<QNetworkAccessManager> manager_;
  Delivery onComplete_;
  Delivery onProgress_;
  std::int64_t maxBytes_ = kDefaultMaxDownloadBytes;
  int timeoutMs_ = kDefaultDownloadTimeoutMs;
  int maxRedirects_ = kDefaultMaxRedirects;
  std::map<std::string, std::unique_ptr<Read>> reads_;  // by lower-case property name
};

}  // namespace velmora::qt
