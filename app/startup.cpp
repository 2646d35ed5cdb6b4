#include "app/startup.h"

#include <time.h>
#include <unistd.h>

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QFile>
#include <QFileInfo>
#include <QLoggingCategory>
#include <chrono>

#include "app/form1.h"

namespace velmora::app {
namespace {

// Taken during static initialisation: the start-up clock when /proc cannot say better.
const std::chrono::steady_clock::time_point kStaticInitTime = std::chrono::steady_clock::now();

// The process's start in milliseconds since boot, from field 22 of /proc/self/stat (clock ticks
// since boot, on the same clock as CLOCK_BOOTTIME); -1 when unreadable. The command name, field
// 2, may hold spaces and parentheses, so the count starts after its last ')'.
qint64 ProcessStartSinceBootMs() {
  QFile file(QStringLiteral("/proc/self/stat"));
  if (!file.open(QIODevice::ReadOnly)) return -1;
  const QByteArray stat = file.readAll();
  const qsizetype close = stat.lastIndexOf(')');
  if (close < 0) return -1;
  // After ")": field 3 (state) is the first; starttime is field 22, the 20th.
  const QList<QByteArray> fields = stat.mid(close + 1).simplified().split(' ');
  if (fields.size() < 20) return -1;
  bool ok = false;
  const qint64 ticks = fields[19].toLongLong(&ok);
  const long ticksPerSecond = ::sysconf(_SC_CLK_TCK);
  if (!ok || ticks < 0 || ticksPerSecond <= 0) return -1;
  return ticks * 1000 / ticksPerSecond;
}

// The notes Qt and Qt WebEngine print once when there is no OpenGL integration, which
// PrepareWebEngineEnvironment chose.
constexpr const char* kNoOpenGlNotes[] = {
    "QXcbIntegration: Cannot create platform OpenGL context, neither GLX nor EGL are enabled",
    "Failed to load client buffer integration: \"none\"",
    "Available client buffer integrations:",
    "No suitable graphics backend found",
};

QtMessageHandler previousMessageHandler = nullptr;

void DropNoOpenGlNotes(QtMsgType type, const QMessageLogContext& context, const QString& text) {
  if (type == QtWarningMsg) {
    for (const char* note : kNoOpenGlNotes) {
      if (text.startsWith(QLatin1String(note))) return;
    }
  }
  previousMessageHandler(type, context, text);
}

}  // namespace

void PrepareWebEngineEnvironment() {
  // Flags compare by name: "--log-level=0" given means no "--log-level=3" added.
  const auto name = [](const QByteArray& flag) { return flag.left(flag.indexOf('=')); };
  QByteArray flags = qgetenv("QTWEBENGINE_CHROMIUM_FLAGS").trimmed();
  QList<QByteArray> present;
  for (const QByteArray& given : flags.split(' ')) present.append(name(given));
  for (const char* flag : kChromiumFlags) {
    if (present.contains(name(QByteArray(flag)))) continue;
    if (!flags.isEmpty()) flags += ' ';
    flags += flag;
  }
  qputenv("QTWEBENGINE_CHROMIUM_FLAGS", flags);
  // The view renders through Qt Quick. With its default (OpenGL) scene graph the whole window
  // becomes an OpenGL-composited one, and every repaint of any widget in it, such as a decoration
  // stepping a frame, re-composites all of it; without a GPU that is Mesa's software rasteriser
  // at a few percent of a core while idle. Chromium already composites in software
  // (--disable-gpu), so the software scene graph costs the page nothing and keeps the window a
  // plain raster one that flushes only what changed. A user's own setting wins.
  if (qEnvironmentVariableIsEmpty("QT_QUICK_BACKEND")) qputenv("QT_QUICK_BACKEND", kQuickBackend);
  // Nothing in the window then draws with OpenGL, yet Qt WebEngine asks the window system layer
  // for a shared OpenGL context at start, and on a machine without a GPU that loads Mesa's
  // software rasteriser and LLVM: 36 MiB (X11) to 56 MiB (Wayland) of memory used for nothing.
  // Without a GL integration Qt makes no context, and the window system layer and Chromium
  // each say so once; those notes are dropped (DropNoOpenGlNotes), also when the integration was
  // already off (the user's choice, or inherited). A user who picks another scene graph, or a GL
  // integration, keeps OpenGL.
  bool withoutGl = false;
  for (const char* variable : {"QT_XCB_GL_INTEGRATION", "QT_WAYLAND_CLIENT_BUFFER_INTEGRATION"}) {
    if (qEnvironmentVariableIsEmpty(variable) && qgetenv("QT_QUICK_BACKEND") == kQuickBackend) {
      qputenv(variable, kNoGlIntegration);
    }
    withoutGl = withoutGl || qgetenv(variable) == kNoGlIntegration;
  }
  if (withoutGl && previousMessageHandler == nullptr) {
    previousMessageHandler = qInstallMessageHandler(&DropNoOpenGlNotes);
  }
  // Chromium's sandbox refuses to start as root (containers, CI); without this the page area
  // stays empty. A user's own setting wins.
  if (::geteuid() == 0 && qEnvironmentVariableIsEmpty("QTWEBENGINE_DISABLE_SANDBOX")) {
    qputenv("QTWEBENGINE_DISABLE_SANDBOX", "1");
  }
  // Qt WebEngine reports its configuration at start, and that the sandbox is off (an info message
  // without a category of its own), and the page's console goes to the terminal: diagnostics,
  // not for a normal run.
  QLoggingCategory::setFilterRules(
      QStringLiteral("qt.webenginecontext.info=false\ndefault.info=false\njs=false"));
}

QUrl StationListUrl(const QString& host) {
  const QString trimmed = host.trimmed();
  if (trimmed.isEmpty()) return QUrl(QString::fromLatin1(kBuiltInStationList));
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
      QStringLiteral("Take the station list from http://HOST[:PORT]%1 instead of the built-in one.")
          .arg(QLatin1String(kStationListPath)),
      QStringLiteral("HOST[:PORT]"));
  parser.addOption(host);
  const QCommandLineOption reportStartup(
      QStringLiteral("report-startup"),
      QStringLiteral("Print the time from start until the station list is shown."));
  parser.addOption(reportStartup);
  const QCommandLineOption resume(QStringLiteral("resume"),
                                  QStringLiteral("Play the last station at once."));
  parser.addOption(resume);
  parser.addPositionalArgument(QStringLiteral("URL"),
                               QStringLiteral("A stream or playlist to play (also a file)."),
                               QStringLiteral("[URL...]"));
  CommandLine result;
  if (!parser.parse(arguments)) {
    result.error = parser.errorText();
    return result;
  }
  if (parser.isSet(QStringLiteral("help"))) parser.showHelp(0);
  if (parser.isSet(QStringLiteral("version"))) parser.showVersion();
  const QStringList positional = parser.positionalArguments();
  // A desktop hands over every file chosen at once (the entry's %U): the first playable one
  // plays; there is one player.
  for (const QString& word : positional) {
    result.station = StationArgument(word);
    if (!result.station.isEmpty()) break;
  }
  if (!positional.isEmpty() && result.station.isEmpty()) {
    result.error = QStringLiteral("Not a station address: %1").arg(positional.first());
    return result;
  }
  result.stationHost = parser.value(host);
  result.resume = parser.isSet(resume);
  result.reportStartup = parser.isSet(reportStartup);
  if (parser.isSet(host) &&
      (result.stationHost.trimmed().isEmpty() || !StationListUrl(result.stationHost).isValid())) {
    result.error = QStringLiteral("Not a HOST[:PORT]: %1").arg(result.stationHost);
  }
  return result;
}

QString StationArgument(const QString& text) {
  const QString trimmed = text.trimmed();
  if (Form1::IsStationAddress(trimmed)) return trimmed;
  const QUrl url(trimmed);
  const QString path = url.isLocalFile() ? url.toLocalFile() : trimmed;
  const QFileInfo file(path);
  if (path.isEmpty() || !file.isFile()) return {};
  return QUrl::fromLocalFile(file.absoluteFilePath()).toString();
}

qint64 MillisecondsSinceProcessStart() {
  const qint64 startMs = ProcessStartSinceBootMs();
  timespec now{};
  if (startMs >= 0 && ::clock_gettime(CLOCK_BOOTTIME, &now) == 0) {
    const qint64 nowMs = static_cast<qint64>(now.tv_sec) * 1000 + now.tv_nsec / 1000000;
    if (nowMs >= startMs) return nowMs - startMs;
  }
  const auto elapsed = std::chrono::steady_clock::now() - kStaticInitTime;
  return std::chrono::duration_cast<std::chrono::milliseconds>(elapsed).count();
}

QString StartupReportLine(qint64 milliseconds) {
  return QStringLiteral("startup: station list shown after %1 ms").arg(milliseconds);
}

}  // namespace velmora::app
