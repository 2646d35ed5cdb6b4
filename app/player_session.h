#pragma once
// PlayerSession: the radio's player without a face. It owns the libmpv handle (audio only: no
// video output is ever created), follows its states and the station's metadata, and reopens
// streams that drop. libmpv is opened (MpvLibrary, on another thread: loading it takes a moment)
// and the handle made when a station is first opened; volume and mute set before then are kept
// and handed over. No widgets: MediaPlayer shows a
// session, and anything else (tests, the desktop's media controls) can drive one without a window.
//
// Setting an address with SetURL starts playback at once when AutoStart is on (the default).
// Addresses are whatever libmpv opens: http(s) streams, .pls and .m3u playlists, HLS, files.
// A network stream that drops after it has played (end of file or an error) is reopened with
// back-off: 1, 2, 4 ... seconds, at most kMaxRetryDelayMs apart, without end, until the user
// stops it or sets another address; the back-off starts again at 1 s after playback resumes.
// A network station that fails on its first open is tried kFirstOpenRetries more times on the
// same back-off; then its error stays and the player is stopped. RetryNow (the network came
// back, the machine woke up) reopens a dropped station at once, or a failed one that nobody
// stopped. Nothing the player meets ends the program.
//
// Metadata text is decoded by DecodeStreamText (UTF-8, else Windows-1252).
//
// libmpv needs LC_NUMERIC "C": the constructor sets it (after QApplication has set the locale
// from the environment, which is why the session must be created after QApplication).
// Everything runs on the thread that created the session: libmpv's wakeup callback only posts a
// queued call.

#include <QObject>
#include <QString>
#include <thread>

class QTimer;
struct mpv_handle;
struct mpv_event;
struct mpv_event_log_message;

namespace velmora::app {

struct MpvLibrary;

class PlayerSession : public QObject {
  Q_OBJECT

 public:
  enum class State {
    Idle,       // no address, or stopped by the user
    Opening,    // an address was set and is being opened
    Buffering,  // opened, waiting for the cache to fill
    Playing,
    Paused,
    Reconnecting,  // a live stream dropped; a reopen is scheduled or under way
    Error,         // the address could not be played; ErrorText() says why
  };
  Q_ENUM(State)

  static constexpr int kInitialVolume = 50;
  static constexpr int kFirstRetryDelayMs = 1000;
  static constexpr int kMaxRetryDelayMs = 30000;
  // Further tries of a station that has not played yet: after 1, 2 and 4 s.
  static constexpr int kFirstOpenRetries = 3;
  static constexpr int kNetworkTimeoutS = 15;
  static inline const char* const kUserAgent = "Velmora radio/1.0";
  // Tried in order; "null" keeps a machine without a sound card playing (silently).
  static inline const char* const kAudioOutputs = "pulse,alsa,null";

  // The reconnection delay that follows `delayMs`: doubled, at most kMaxRetryDelayMs.
  static constexpr int NextRetryDelay(int delayMs) {
    return delayMs >= kMaxRetryDelayMs / 2 ? kMaxRetryDelayMs : delayMs * 2;
  }

  explicit PlayerSession(QObject* parent = nullptr);
  ~PlayerSession() override;

  // The address to play. Setting it (even to the same text) opens it afresh and, with AutoStart
  // on, plays it. An empty address stops playback. `knownName` is the station's name until the
  // stream names itself (for example the name remembered from an earlier session).
  void SetURL(const QString& url, const QString& knownName = {});
  QString URL() const { return url_; }
  void SetAutoStart(bool on) { autoStart_ = on; }
  bool AutoStart() const { return autoStart_; }

  void Play();   // plays the current address (reopens it when stopped)
  void Pause();  // pauses playback or buffering; anything else stays as it is
  void TogglePause();
  void Stop();  // stops, cancels any reconnection; the address is kept
  // Reopens at once when a reopen is scheduled, or when the station failed and nobody has
  // stopped or changed it since; otherwise does nothing.
  void RetryNow();
  void SetVolume(int volume);  // clamped to 0..100
  int Volume() const { return volume_; }
  void SetMute(bool on);
  bool Mute() const { return mute_; }

  State PlayState() const { return state_; }
  // Seconds played of the current stream (mpv's time-pos), -1 when nothing is playing.
  double Position() const { return position_; }
  QString StationName() const { return stationName_; }  // icy-name, or empty
  QString Title() const { return title_; }              // icy-title / media-title, or empty
  QString ErrorText() const { return errorText_; }      // empty unless State::Error
  // Why the last try failed, in words, while further tries are scheduled (empty otherwise).
  QString RetryReason() const { return retryReason_; }
  // True once the current address has produced sound.
  bool HasPlayed() const { return hasPlayed_; }
  bool IsBuffering() const { return buffering_; }
  int BufferingPercent() const { return bufferingPercent_; }
  // Reconnection attempts since playback last ran; the delay before the next one.
  int RetryCount() const { return retryCount_; }
  int NextRetryDelayMs() const { return retryDelayMs_; }
  // Whole seconds (rounded up) until the scheduled reopen, -1 when none is scheduled; counts
  // down with a statusChanged every second.
  int SecondsToRetry() const;

 signals:
  void stateChanged(velmora::app::PlayerSession::State state);
  // SetURL was called (a station was picked, possibly the same again); metadataChanged follows.
  void stationChanged();
  void metadataChanged();
  void positionChanged(double seconds);
  void errorOccurred(const QString& text);
  void volumeChanged(int volume);
  void muteChanged(bool on);
  // Something a status line shows changed: the state, buffering, the error's words, the
  // metadata, the seconds to the next try. Comes before stateChanged, so its listeners find the
  // session up to date.
  void statusChanged();

 private:
  // Opens libmpv on opener_; LibraryOpened follows on the session's thread.
  void OpenLibraryInBackground();
  void LibraryOpened(const MpvLibrary* library, const QString& why);
  // Makes the handle with lib_; false when libmpv refuses.
  bool CreateMpv();
  void DrainMpvEvents();
  void HandleMpvEvent(const mpv_event& event);
  void HandlePropertyChange(const mpv_event& event);
  void HandleEndFile(const mpv_event& event);
  void HandleIdle();
  void HandleLogMessage(const mpv_event_log_message& message);
  void OpenCurrentUrl();
  void ScheduleReconnect();
  void ReopenNow();
  void ShowError(const QString& text);
  QString FailureText() const;
  void ResetRetries();
  void SetState(State state);

  const MpvLibrary* lib_ = nullptr;  // set with mpv_
  mpv_handle* mpv_ = nullptr;
  QString url_;
  bool autoStart_ = true;
  int volume_ = kInitialVolume;
  bool mute_ = false;

  State state_ = State::Idle;
  double position_ = -1;
  QString stationName_;
  QString title_;
  QString errorText_;
  QString retryReason_;
  QString errorBase_;       // the error in words, without the detail
  QString logErrorDetail_;  // the cause mpv logged for the current load
  bool buffering_ = false;
  int bufferingPercent_ = 0;
  bool paused_ = false;
  // Set once the current address produced sound; decides between "cannot open" and "dropped".
  bool hasPlayed_ = false;
  bool userStopped_ = true;
  // Set when the station failed by itself; a comeback of the network may then retry it.
  bool failedUnattended_ = false;
  // Why the last file ended, kept until mpv reports that it is idle (a playlist may go on).
  int lastEndReason_ = -1;
  int lastEndError_ = 0;

  int retryCount_ = 0;
  int retryDelayMs_ = kFirstRetryDelayMs;
  QTimer* retryTimer_ = nullptr;
  QTimer* countdownTimer_ = nullptr;  // a status update every second while a retry waits
  std::thread opener_;                // opens libmpv; joined when it reports, or by the destructor
};

}  // namespace velmora::app
