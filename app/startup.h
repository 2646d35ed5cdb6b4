#pragma once
// Start-up pieces shared by the app's main() and the end-to-end tests: the application id, the
// process environment Qt WebEngine needs, the command line, the station list's address and the
// clock the start-up report reads.

#include <QString>
#include <QStringList>
#include <QUrl>

namespace velmora::app {

// The application id: the desktop entry's name (org.velmora.Radio.desktop), the window's
// desktop file name, the media-player bus entry.
inline constexpr const char* kApplicationId = "org.velmora.Radio";

// The station list's path on a station server.
inline constexpr const char* kStationListPath = "/radio/tree.asp";
// The station list built into the binary (radio/tree.asp, as an HTML resource): shown without a
// server or a network.
inline constexpr const char* kBuiltInStationList = "qrc:/radio/tree.html";

// Chromium switches the app always runs with: no GPU process (software compositing works
// everywhere, including Xvfb) and no background traffic of the browser's own; the only requests
// that leave the program are the station page's and the player's.
inline constexpr const char* kChromiumFlags[] = {
    "--disable-gpu",
    "--disable-background-networking",
    "--disable-component-update",
    "--disable-sync",
    "--no-first-run",
    // Quiet: Chromium's own log lines (errors it recovers from) never reach the terminal.
    "--log-level=3",
};

// Qt Quick's scene graph backend the web view renders with: the software one, so the window
// stays a plain raster window (see PrepareWebEngineEnvironment).
inline constexpr const char* kQuickBackend = "software";
// The window system layer's OpenGL integration (X11 and Wayland) while the software scene graph
// is used: none, so no OpenGL driver is loaded.
inline constexpr const char* kNoGlIntegration = "none";

// Sets QTWEBENGINE_CHROMIUM_FLAGS to include kChromiumFlags (a flag the user set, with any
// value, wins), QT_QUICK_BACKEND=kQuickBackend unless it is set, and then, when that is the
// backend, QT_XCB_GL_INTEGRATION and QT_WAYLAND_CLIENT_BUFFER_INTEGRATION=kNoGlIntegration unless
// they are set; when the process runs as root, QTWEBENGINE_DISABLE_SANDBOX=1 unless it is set. Turns off the logging that prints Qt
// WebEngine's start-up report, info messages of the default category (its note that the sandbox
// is off) and the page's console (QT_LOGGING_RULES still wins). Call before QApplication exists.
void PrepareWebEngineEnvironment();

// The page address for HOST[:PORT]: http://HOST[:PORT]/radio/tree.asp; for an empty host the
// built-in list. An invalid host, or one with a path, user or query, gives an invalid QUrl.
QUrl StationListUrl(const QString& host);

struct CommandLine {
  QString stationHost;         // empty: the built-in station list
  QString station;             // an address to play at once, or empty
  bool resume = false;         // --resume: play the last station at start
  bool reportStartup = false;  // --report-startup: print StartupReportLine once the list shows
  QString error;  // non-empty when the arguments were refused; main prints it and exits 2
};

// Reads --station-host HOST[:PORT], --resume, --report-startup, station addresses (see
// StationArgument; the first that is one is taken, and none of several is refused) and Qt's
// --help/--version, which exit. `arguments` includes the program name, as
// QCoreApplication::arguments() gives it.
CommandLine ParseCommandLine(const QStringList& arguments);

// What the player may be given from outside the window (the command line, a second start, the
// media-player bus): a station address (Form1::IsStationAddress), trimmed, or a local file such
// as a playlist a browser saved (a file: URL or a path to an existing file), as a file: URL.
// Empty for anything else.
QString StationArgument(const QString& text);

// Milliseconds since this process started (the kernel's start time of the process, so the
// dynamic loader and static initialisation count too); never negative.
qint64 MillisecondsSinceProcessStart();

// The line --report-startup prints (without the newline):
// "startup: station list shown after N ms".
QString StartupReportLine(qint64 milliseconds);

}  // namespace velmora::app
