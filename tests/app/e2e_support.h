#pragma once
// What the end-to-end tests of the radio share: real servers on 127.0.0.1 (Icecast fed by
// ffmpeg, the station page server), the window driven through its web view, and the real
// velmora-radio binary. Every process is owned by an RAII object that stops it by PID (SIGTERM,
// then SIGKILL after a bounded wait) when it goes, also when a test fails half way. All waits
// are polling loops with deadlines.

#include <QApplication>
#include <QPoint>
#include <QProcess>
#include <QProcessEnvironment>
#include <QRect>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>
#include <QtTest>
#include <functional>
#include <memory>
#include <optional>

#include "app/startup.h"

class QWebEngineView;

namespace velmora::app {
class Form1;
class MediaPlayer;
class PlayerSession;
}  // namespace velmora::app

namespace velmora::e2e {

constexpr int kPageTimeoutMs = 45000;  // WebEngine's first start under Xvfb is slow
constexpr int kPlayTimeoutMs = 20000;

// A port on 127.0.0.1 nobody listened on a moment ago (bound to port 0 and released).
quint16 FreePort();
// True when something accepts TCP connections on 127.0.0.1:port.
bool IsListening(quint16 port);
// Polls `condition` while spinning the Qt event loop until it holds or `timeoutMs` passes.
bool WaitFor(const std::function<bool()>& condition, int timeoutMs);
bool WriteFile(const QString& path, const QString& text);
// `words` split at spaces: a command line without quoting.
QStringList Words(const char* words);

struct ChildOptions {
  QString workingDirectory;
  QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
  bool mergeOutput = false;  // stderr read with stdout rather than passed through
};

// One child process; the destructor stops it by PID.
class ChildProcess {
 public:
  ChildProcess(const QString& program, const QStringList& arguments,
               const ChildOptions& options = {});
  ~ChildProcess();
  ChildProcess(const ChildProcess&) = delete;
  ChildProcess& operator=(const ChildProcess&) = delete;

  bool Started() const { return pid_ > 0; }
  qint64 Pid() const { return pid_; }
  bool Running();
  // Sends SIGTERM, waits up to `graceMs`, then SIGKILL. Idempotent.
  void Stop(int graceMs = 3000);
  // Waits for the process to end by itself; true when it did within `timeoutMs`.
  bool WaitForExit(int timeoutMs);
  // Valid after the process ended: exit status (or -1 when a signal ended it).
  int ExitCode() const;
  bool ExitedNormally() const;
  // The first line the process printed on stdout, waiting up to `timeoutMs`.
  QString ReadLine(int timeoutMs);
  // Everything it printed (and nobody read) so far.
  QString ReadAll();

 private:
  std::unique_ptr<QProcess> process_;
  qint64 pid_ = -1;
};

// Runs a program to completion (bounded); its stdout, or nullopt on failure or timeout.
std::optional<QString> RunTool(const QString& program, const QStringList& arguments,
                               int timeoutMs = 10000);
// xdotool with `arguments`; its output, or "<failed>".
QString Xdotool(const QStringList& arguments);

// scripts/serve-stations.py serving `root`/radio on `port`, or on a port it picks itself when
// `port` is 0. A fixed port lets a test take the server away and bring it back where the app
// expects it.
class StationServer {
 public:
  explicit StationServer(const QString& root, quint16 port = 0);
  bool Ok() const { return port_ != 0; }
  quint16 Port() const { return port_; }
  QString Host() const;  // "127.0.0.1:PORT"

 private:
  std::unique_ptr<ChildProcess> process_;
  quint16 port_ = 0;
};

// Icecast 2 with a minimal configuration in a temporary folder; as root it runs as nobody.
class IcecastServer {
 public:
  static inline const char* const kSourcePassword = "velmora-source";
  static inline const char* const kAdminPassword = "velmora-admin";
  // `burstBytes` is what a new listener gets at once (0: no burst, it only gets the live
  // stream, so a stalled source empties the player's cache within a second or two).
  explicit IcecastServer(int burstBytes = 65535);
  bool Ok() const { return ok_; }
  quint16 Port() const { return port_; }
  QString StreamUrl(const QString& mount) const;
  // Listener count and title of `mount` from the server's JSON status, -1 / empty when the
  // mount has no source.
  int Listeners(const QString& mount) const;
  bool HasSource(const QString& mount) const { return Listeners(mount) >= 0; }
  // How many requests for `mount` the access log holds (a listener is logged when it goes).
  int Requests(const QString& mount) const;
  // Sets the ICY title of an MP3 `mount` through the admin interface; `title` goes out as these
  // very bytes, percent-encoded. False when the server refused.
  bool SetIcyTitle(const QString& mount, const QByteArray& title) const;
  QString Log() const;

 private:
  QTemporaryDir dir_;
  std::unique_ptr<ChildProcess> process_;
  quint16 port_ = 0;
  bool ok_ = false;
};

// ffmpeg feeding a 440 Hz tone to an Icecast mount with a stream name: Ogg Vorbis with the
// title in the stream's comments, or MP3 when the mount ends in ".mp3" (its title then comes from
// SetIcyTitle).
class ToneSource {
 public:
  static inline const char* const kStationName = "Velmora Test FM";
  static inline const char* const kTitle = "Velmora Test Tone";
  ToneSource(const IcecastServer& server, const QString& mount);
  // Starts ffmpeg and waits until the mount is up. False on failure.
  bool Start();
  void Stop();
  // ffmpeg's PID while it runs, -1 otherwise (to pause it with SIGSTOP).
  qint64 Pid() const { return process_ ? process_->Pid() : -1; }

 private:
  const IcecastServer& server_;
  QString mount_;
  std::unique_ptr<ChildProcess> process_;
};

// A temporary site for the station server (its radio/ folder) and an Icecast server with a
// tone on `mount`, both up when Ok().
class TestStations {
 public:
  explicit TestStations(const QString& mount, int burstBytes = 65535);
  bool Ok() const { return ok_; }
  QString Root() const { return site_.path(); }
  // Writes `text` to radio/`name` in the site.
  bool Write(const QString& name, const QString& text) const;
  IcecastServer& Icecast() { return *icecast_; }
  ToneSource& Tone() { return *tone_; }
  QString ToneUrl() const { return icecast_->StreamUrl(mount_); }
  QString Mount() const { return mount_; }

 private:
  QTemporaryDir site_;
  QString mount_;
  std::unique_ptr<IcecastServer> icecast_;
  std::unique_ptr<ToneSource> tone_;
  bool ok_ = false;
};

// A station page whose links are rows of kRowHeight pixels, top to bottom in the order given,
// each opening in a new window, followed by an empty block (id "empty").
constexpr int kRowHeight = 30;
struct PageLink {
  QString id;
  QString href;
};
QString StationPage(const QList<PageLink>& links);
// Where row `row` of such a page lies in the window (the web view sits at (8, 152)).
QPoint RowInWindow(int row);

QVariant RunJs(QWebEngineView* view, const QString& script);
// Centre of the element with `id` in the view's pixels; (-1, -1) when there is none.
QPoint ElementCentre(QWebEngineView* view, const QString& id);

// A Form1 of the test process, shown at (60, 60); the close hot spot fails the test.
class TestWindow {
 public:
  explicit TestWindow(const QString& stationHost);
  ~TestWindow();
  app::Form1& Form() const { return *form_; }
  app::PlayerSession& Session() const;
  app::MediaPlayer& Player() const;
  QWebEngineView* View() const;
  QWidget* Proxy() const;  // the web view's input widget

  // True once the page is complete and holds the element `id`.
  bool PageHas(const QString& id) const;
  // Moves the pointer onto the element until the page reports `expectedStatus` as status text.
  // Chromium may drop the first synthetic move while it sets up, so the move is repeated, one
  // pixel apart.
  bool Hover(const QString& id, const QString& expectedStatus) const;
  // Hovers the link, clicks it and waits until the player has its address.
  bool ClickLink(const QString& id, const QString& target) const;
  // Clicks the element until `done` holds: Chromium may drop input while it sets a page up, so
  // a click that changed nothing is repeated, one pixel apart.
  bool ClickUntil(const QString& id, const std::function<bool()>& done) const;
  // True once the player plays steadily: position advancing by a second, not buffering.
  bool WaitPlaying() const;

 private:
  std::unique_ptr<app::Form1> form_;
};

// The real velmora-radio binary with `arguments`, shown; its X window found by PID and title.
class RadioProcess {
 public:
  explicit RadioProcess(const QStringList& arguments, const ChildOptions& options = {});
  ChildProcess& Process() { return process_; }
  bool HasWindow() const { return !window_.isEmpty(); }
  // A left click at `at` in the window's pixels, the pointer arriving from a pixel below so
  // the page sees it move onto the spot.
  void ClickAt(QPoint at);
  // The xdotool words of such a click, to chain several in one call.
  QStringList ClickWords(QPoint at, int button = 1) const;
  // Gives the window the keyboard focus and presses `key` (an X key name).
  void PressKey(const QString& key);
  // Where the window is on the screen.
  QRect Geometry();
  // Clicks the close hot spot; true when the process then ended with status 0 within 3 s.
  bool CloseFromHotSpot();

 private:
  ChildProcess process_;
  QString window_;
};

// main() of an end-to-end test program: the app's environment, a QApplication, the tests.
template <typename Tests>
int RunEndToEnd(int argc, char* argv[]) {
  app::PrepareWebEngineEnvironment();
  QCoreApplication::setAttribute(Qt::AA_ShareOpenGLContexts);
  QApplication application(argc, argv);
  Tests tests;
  return QTest::qExec(&tests, argc, argv);
}

}  // namespace velmora::e2e
