#include "app/startup.h"

#include <unistd.h>

#include <QCommandLineParser>
#include <QCoreApplication>

namespace velmora::app {

void PrepareWebEngineEnvironment() {
  QByteArray flags = qgetenv("QTWEBENGINE_CHROMIUM_FLAGS").trimmed();
  const QList<QByteArray> present = flags.split(' ');
  for (const char* flag : kChromiumFlags) {
    if (present.contains(QByteArray(flag))) continue;
    if (!flags.isEmpty()) flags += ' ';
    flags += flag;
  }
  qputenv("QTWEBENGINE_CHROMIUM_FLAGS", flags);
  // Chromium's sandbox refuses to start as root (containers, CI); without this the page area
  // stays empty. A user's own setting wins.
  if (::geteuid() == 0 && qEnvironmentVariableIsEmpty("QTWEBENGINE_DISABLE_SANDBOX")) {
    qputenv("QTWEBENGINE_DISABLE_SANDBOX", "1");
  }
}

QUrl StationListUrl(const QString& host) {
  const QString trimmed = host.trimmed();
  if (trimmed.isEmpty()) return {};
  QUrl url(QStringLiteral("http://") + trimmed + QLatin1String(kStationListPath), QUrl::StrictMode);
  // Anything but a bare host and port would have moved into the path, user or query.
  if (!url.isValid() || url.host().isEmpty() || url.path() != QLatin1String(kStationListPath) ||
      !url.userInfo().isEmpty() || url.hasQuery() || url.hasFragment()) {
    return {};
  }
  return url;
}

CommandLine ParseCommandLine(const QStringList& arguments) {
  QCommandLineParser parser;
  parser.setApplicationDescription(QStringLiteral("Velmora radio: pick a station, hear it."));
  parser.addHelpOption();
  parser.addVersionOption();
  const QCommandLineOption host(
      QStringLiteral("station-host"),
      QStringLiteral("Server of the station list, HOST[:PORT] (default %1).")
          .arg(QLatin1String(kDefaultStationHost)),
      QStringLiteral("HOST[:PORT]"), QString::fromLatin1(kDefaultStationHost));
  parser.addOption(host);
  CommandLine result;
  if (!parser.parse(arguments)) {
    result.error = parser.errorText();
    return result;
  }
  if (parser.isSet(QStringLiteral("help"))) parser.showHelp(0);
  if (parser.isSet(QStringLiteral("version"))) parser.showVersion();
  if (!parser.positionalArguments().isEmpty()) {
    result.error =
        QStringLiteral("Unexpected argument: %1").arg(parser.positionalArguments().first());
    return result;
  }
  result.stationHost = parser.value(host);
  if (!StationListUrl(result.stationHost).isValid()) {
    result.error = QStringLiteral("Not a HOST[:PORT]: %1").arg(result.stationHost);
  }
  return result;
}

}  // namespace velmora::app
