#pragma once
// Real servers on 127.0.0.1 for the end-to-end tests, each owned by an RAII object that stops
// its process by PID (SIGTERM, then SIGKILL after a bounded wait) when it goes, also when a test
// fails half way. All waits are polling loops with deadlines.

#include <QProcess>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>
#include <functional>
#include <memory>
#include <optional>

namespace velmora::e2e {

// A port on 127.0.0.1 nobody listened on a moment ago (bound to port 0 and released).
quint16 FreePort();
// True when something accepts TCP connections on 127.0.0.1:port.
bool IsListening(quint16 port);
// Polls `condition` while spinning the Qt event loop until it holds or `timeoutMs` passes.
bool WaitFor(const std::function<bool()>& condition, int timeoutMs);

// One child process; the destructor stops it by PID.
class ChildProcess {
 public:
  ChildProcess(const QString& program, const QStringList& arguments,
               const QString& workingDirectory = {});
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

 private:
  std::unique_ptr<QProcess> process_;
  qint64 pid_ = -1;
};

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
  QString Log() const;

 private:
  QTemporaryDir dir_;
  std::unique_ptr<ChildProcess> process_;
  quint16 port_ = 0;
  bool ok_ = false;
};

// ffmpeg feeding a 440 Hz tone as Ogg Vorbis to an Icecast mount, with a stream name and title.
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

// Runs a program to completion (bounded); its stdout, or nullopt on failure or timeout.
std::optional<QString> RunTool(const QString& program, const QStringList& arguments,
                               int timeoutMs = 10000);

}  // namespace velmora::e2e
