#include "app/player_session.h"

#include <alsa/asoundlib.h>
#include <dlfcn.h>
#include <mpv/client.h>

#include <QTimer>
#include <QUrl>
#include <algorithm>
#include <clocale>

#include "app/mpv_library.h"
#include "app/stream_text.h"

namespace velmora::app {
namespace {

// Reply ids of mpv_observe_property; the event carries them back.
enum Observed : std::uint64_t {
  kTimePos = 1,
  kMediaTitle,
  kMetadata,
  kPausedForCache,
  kCacheBufferingState,
  kPause,
  kIdleActive,
};

// A stream that may come back after it drops. Local files simply end.
bool IsNetworkAddress(const QString& url) {
  const QString scheme = QUrl(url).scheme().toLower();
  return scheme.size() > 1 && scheme != QLatin1String("file");
}

// libasound prints its errors to stderr itself. When no sound server runs, mpv tries ALSA next,
// and on a machine without a sound card every open would add a screenful; mpv notes the failure
// in its own log and moves on to the null output.
void IgnoreAlsaError(const char*, int, const char*, int, const char*, ...) {}

// Quiets libasound once libmpv has brought it in (the program does not link it itself; mpv
// built without ALSA output brings none).
void QuietAlsa() {
  void* alsa = ::dlopen("libasound.so.2", RTLD_NOW | RTLD_NOLOAD);
  if (alsa == nullptr) return;
  const auto setHandler = reinterpret_cast<decltype(&::snd_lib_error_set_handler)>(
      ::dlsym(alsa, "snd_lib_error_set_handler"));
  if (setHandler != nullptr) setHandler(&IgnoreAlsaError);
  ::dlclose(alsa);  // the reference taken here; mpv's own stays
}

QString DescribeMpvError(const MpvLibrary& mpv, int error) {
  switch (error) {
    case MPV_ERROR_LOADING_FAILED:
      return QStringLiteral("Cannot open the station");
    case MPV_ERROR_UNKNOWN_FORMAT:
      return QStringLiteral("Not a stream the player can read");
    case MPV_ERROR_NOTHING_TO_PLAY:
      return QStringLiteral("No audio at this address");
    case MPV_ERROR_AO_INIT_FAILED:
      return QStringLiteral("No sound output available");
    case MPV_ERROR_UNSUPPORTED:
      return QStringLiteral("This stream is not supported");
    default:
      return QStringLiteral("Playback failed (%1)").arg(QString::fromUtf8(mpv.error_string(error)));
  }
}

// Metadata arrives as the station sent it, which is not always UTF-8.
QString MpvText(const MpvLibrary& mpv, mpv_handle* handle, const char* name) {
  char* value = mpv.get_property_string(handle, name);
  if (value == nullptr) return {};
  QString text = DecodeStreamText(QByteArrayView(value));
  mpv.free(value);
  return text;
}

}  // namespace

PlayerSession::PlayerSession(QObject* parent) : QObject(parent) {
  retryTimer_ = new QTimer(this);
  retryTimer_->setSingleShot(true);
  connect(retryTimer_, &QTimer::timeout, this, &PlayerSession::ReopenNow);
  countdownTimer_ = new QTimer(this);
  countdownTimer_->setInterval(1000);
  connect(countdownTimer_, &QTimer::timeout, this, &PlayerSession::statusChanged);
  // QApplication set LC_NUMERIC from the environment; libmpv parses and prints numbers with
  // the C library and refuses to start under a locale with a decimal comma. Set here, early,
  // rather than when libmpv is opened, with other threads running.
  std::setlocale(LC_NUMERIC, "C");
}

PlayerSession::~PlayerSession() {
  // An opening under way finishes first (a fraction of a second); its report is then dropped
  // with the session.
  if (opener_.joinable()) opener_.join();
  if (mpv_ == nullptr) return;
  lib_->set_wakeup_callback(mpv_, nullptr, nullptr);
  lib_->terminate_destroy(mpv_);
}

void PlayerSession::OpenLibraryInBackground() {
  if (opener_.joinable()) return;  // already under way
  opener_ = std::thread([this] {
    QString why;
    const MpvLibrary* library = LoadMpvLibrary(&why);
    QMetaObject::invokeMethod(
        this, [this, library, why] { LibraryOpened(library, why); }, Qt::QueuedConnection);
  });
}

void PlayerSession::LibraryOpened(const MpvLibrary* library, const QString& why) {
  opener_.join();
  if (library == nullptr) {
    qWarning("velmora-radio: cannot open the player library: %s", qUtf8Printable(why));
    if (state_ == State::Opening) ShowError(QStringLiteral("The player could not start"));
    return;
  }
  lib_ = library;
  QuietAlsa();
  // The station asked for while the library opened, unless it was stopped since.
  if (state_ == State::Opening && !userStopped_) OpenCurrentUrl();
}

bool PlayerSession::CreateMpv() {
  mpv_ = lib_->create();
  if (mpv_ == nullptr) return false;
  struct Option {
    const char* name;
    const char* value;
  };
  const QByteArray timeout = QByteArray::number(kNetworkTimeoutS);
  const QByteArray volume = QByteArray::number(volume_);
  const Option options[] = {
      {"config", "no"},  // the user's mpv.conf must not change the radio
      {"terminal", "no"},
      {"load-scripts", "no"},
      {"ytdl", "no"},  // never hand addresses to an external downloader
      {"osc", "no"},
      {"input-default-bindings", "no"},
      {"input-vo-keyboard", "no"},
      {"vid", "no"},  // audio only: no video track is selected, so no video output exists
      {"audio-display", "no"},
      {"ao", kAudioOutputs},
      {"idle", "yes"},
      {"keep-open", "no"},
      {"cache", "yes"},
      // Nothing seeks back in a live stream, so little of what has played is kept: by default
      // mpv keeps up to 50 MiB of it, all of that after an hour of 128 kbit/s. Not none: with
      // nothing kept, mpv never reports a stream's changing titles.
      {"demuxer-max-back-bytes", "1MiB"},
      {"network-timeout", timeout.constData()},
      {"user-agent", kUserAgent},
      {"audio-client-name", "Velmora radio"},
      {"volume", volume.constData()},
      {"mute", mute_ ? "yes" : "no"},
      {"resume-playback", "no"},
      {"save-position-on-quit", "no"},
  };
  for (const Option& option : options) lib_->set_option_string(mpv_, option.name, option.value);
  if (lib_->initialize(mpv_) < 0) {
    lib_->destroy(mpv_);
    mpv_ = nullptr;
    return false;
  }
  // Error messages carry the reason a stream failed (connection refused, 404 ...).
  lib_->request_log_messages(mpv_, "error");
  lib_->observe_property(mpv_, kTimePos, "time-pos", MPV_FORMAT_DOUBLE);
  lib_->observe_property(mpv_, kMediaTitle, "media-title", MPV_FORMAT_STRING);
  lib_->observe_property(mpv_, kMetadata, "metadata", MPV_FORMAT_NONE);
  lib_->observe_property(mpv_, kPausedForCache, "paused-for-cache", MPV_FORMAT_FLAG);
  lib_->observe_property(mpv_, kCacheBufferingState, "cache-buffering-state", MPV_FORMAT_INT64);
  lib_->observe_property(mpv_, kPause, "pause", MPV_FORMAT_FLAG);
  lib_->observe_property(mpv_, kIdleActive, "idle-active", MPV_FORMAT_FLAG);
  // Called on one of mpv's threads: only post; the events are drained on the session's thread.
  // A call posted to a session that is gone is dropped by Qt with the session.
  lib_->set_wakeup_callback(
      mpv_,
      [](void* context) {
        auto* session = static_cast<PlayerSession*>(context);
        QMetaObject::invokeMethod(
            session, [session] { session->DrainMpvEvents(); }, Qt::QueuedConnection);
      },
      this);
  return true;
}

void PlayerSession::SetURL(const QString& url, const QString& knownName) {
  url_ = url;
  hasPlayed_ = false;
  failedUnattended_ = false;
  ResetRetries();
  stationName_ = knownName.trimmed();
  title_.clear();
  errorText_.clear();
  emit stationChanged();
  emit metadataChanged();
  if (url_.isEmpty()) {
    Stop();
    return;
  }
  if (autoStart_) {
    OpenCurrentUrl();
    return;
  }
  emit statusChanged();
}

void PlayerSession::OpenCurrentUrl() {
  if (url_.isEmpty()) return;
  userStopped_ = false;
  lastEndReason_ = -1;
  lastEndError_ = 0;
  logErrorDetail_.clear();
  errorBase_.clear();
  errorText_.clear();
  if (lib_ == nullptr) {
    // The first station: libmpv opens on another thread, so the window goes on drawing; the
    // station opens when it is ready (LibraryOpened).
    OpenLibraryInBackground();
    SetState(State::Opening);
    return;
  }
  if (mpv_ == nullptr && !CreateMpv()) {
    ShowError(QStringLiteral("The player could not start"));
    return;
  }
  const QByteArray address = url_.toUtf8();
  const char* command[] = {"loadfile", address.constData(), "replace", nullptr};
  if (lib_->command(mpv_, command) < 0) {
    ShowError(QStringLiteral("Cannot open the station"));
    return;
  }
  lib_->set_property_string(mpv_, "pause", "no");
  SetState(retryCount_ > 0 ? State::Reconnecting : State::Opening);
}

void PlayerSession::Play() {
  if (state_ == State::Paused) {
    TogglePause();
    return;
  }
  if (state_ == State::Idle || state_ == State::Error) {
    failedUnattended_ = false;
    ResetRetries();
    OpenCurrentUrl();
  }
}

void PlayerSession::RetryNow() {
  if (retryTimer_->isActive()) {
    ReopenNow();
    return;
  }
  if (state_ != State::Error || !failedUnattended_) return;
  failedUnattended_ = false;
  ResetRetries();
  OpenCurrentUrl();
}

void PlayerSession::ReopenNow() {
  retryTimer_->stop();
  countdownTimer_->stop();
  ++retryCount_;
  OpenCurrentUrl();
}

void PlayerSession::ResetRetries() {
  retryTimer_->stop();
  countdownTimer_->stop();
  retryCount_ = 0;
  retryDelayMs_ = kFirstRetryDelayMs;
  retryReason_.clear();
}

void PlayerSession::Pause() {
  if (mpv_ == nullptr || (state_ != State::Playing && state_ != State::Buffering)) return;
  lib_->set_property_string(mpv_, "pause", "yes");
}

void PlayerSession::TogglePause() {
  if (mpv_ == nullptr) return;
  if (state_ == State::Paused) {
    lib_->set_property_string(mpv_, "pause", "no");
    return;
  }
  if (state_ == State::Playing || state_ == State::Buffering) {
    lib_->set_property_string(mpv_, "pause", "yes");
    return;
  }
  Play();
}

void PlayerSession::Stop() {
  userStopped_ = true;
  failedUnattended_ = false;
  retryTimer_->stop();
  countdownTimer_->stop();
  if (mpv_ != nullptr) {
    const char* command[] = {"stop", nullptr};
    lib_->command(mpv_, command);
  }
  position_ = -1;
  buffering_ = false;
  if (state_ != State::Error) {
    SetState(State::Idle);
    return;
  }
  emit statusChanged();
}

void PlayerSession::SetVolume(int volume) {
  const int clamped = std::clamp(volume, 0, 100);
  const bool changed = clamped != volume_;
  volume_ = clamped;
  if (mpv_ != nullptr) {
    double value = volume_;
    lib_->set_property(mpv_, "volume", MPV_FORMAT_DOUBLE, &value);
  }
  if (changed) emit volumeChanged(volume_);
}

void PlayerSession::SetMute(bool on) {
  const bool changed = on != mute_;
  mute_ = on;
  if (mpv_ != nullptr) lib_->set_property_string(mpv_, "mute", on ? "yes" : "no");
  if (changed) emit muteChanged(mute_);
}

int PlayerSession::SecondsToRetry() const {
  return retryTimer_->isActive() ? (retryTimer_->remainingTime() + 999) / 1000 : -1;
}

void PlayerSession::DrainMpvEvents() {
  while (mpv_ != nullptr) {
    mpv_event* event = lib_->wait_event(mpv_, 0);
    if (event->event_id == MPV_EVENT_NONE) break;
    HandleMpvEvent(*event);
  }
}

void PlayerSession::HandleMpvEvent(const mpv_event& event) {
  switch (event.event_id) {
    case MPV_EVENT_PROPERTY_CHANGE:
      HandlePropertyChange(event);
      return;
    case MPV_EVENT_START_FILE:
      if (state_ != State::Reconnecting) SetState(State::Opening);
      return;
    case MPV_EVENT_FILE_LOADED:
      buffering_ = true;
      SetState(paused_ ? State::Paused : State::Buffering);
      return;
    case MPV_EVENT_PLAYBACK_RESTART:
      // Sound is coming out: the station works, so a later drop is worth reconnecting to and
      // the next one starts the back-off from the beginning.
      hasPlayed_ = true;
      retryCount_ = 0;
      retryDelayMs_ = kFirstRetryDelayMs;
      buffering_ = false;
      SetState(paused_ ? State::Paused : State::Playing);
      return;
    case MPV_EVENT_END_FILE:
      HandleEndFile(event);
      return;
    case MPV_EVENT_IDLE:
      HandleIdle();
      return;
    case MPV_EVENT_LOG_MESSAGE:
      HandleLogMessage(*static_cast<const mpv_event_log_message*>(event.data));
      return;
    case MPV_EVENT_SHUTDOWN:
      lib_->set_wakeup_callback(mpv_, nullptr, nullptr);
      return;
    default:
      return;
  }
}

void PlayerSession::HandlePropertyChange(const mpv_event& event) {
  const auto* property = static_cast<const mpv_event_property*>(event.data);
  const bool present = property->format != MPV_FORMAT_NONE && property->data != nullptr;
  switch (event.reply_userdata) {
    case kTimePos:
      position_ = present ? *static_cast<const double*>(property->data) : -1;
      emit positionChanged(position_);
      return;
    case kMediaTitle:
    case kMetadata: {
      // Shoutcast-style streams put the song into icy-title; Ogg and file tags use "title".
      const QString name = MpvText(*lib_, mpv_, "metadata/by-key/icy-name");
      QString title = MpvText(*lib_, mpv_, "metadata/by-key/icy-title");
      if (title.isEmpty()) title = MpvText(*lib_, mpv_, "metadata/by-key/title");
      if (title.isEmpty()) title = MpvText(*lib_, mpv_, "metadata/by-key/TITLE");
      if (title.isEmpty() && present && event.reply_userdata == kMediaTitle) {
        // media-title falls back to the file name, which for a stream is its mount point:
        // shown only while nothing better is known.
        title = MpvText(*lib_, mpv_, "media-title");
      }
      if ((name == stationName_ || name.isEmpty()) && (title == title_ || title.isEmpty())) return;
      if (!name.isEmpty()) stationName_ = name;
      if (!title.isEmpty()) title_ = title;
      emit metadataChanged();
      emit statusChanged();
      return;
    }
    case kPausedForCache:
      buffering_ = present && *static_cast<const int*>(property->data) != 0;
      emit statusChanged();
      return;
    case kCacheBufferingState:
      bufferingPercent_ =
          present ? static_cast<int>(*static_cast<const int64_t*>(property->data)) : 0;
      if (buffering_) emit statusChanged();
      return;
    case kPause:
      paused_ = present && *static_cast<const int*>(property->data) != 0;
      if (paused_ && (state_ == State::Playing || state_ == State::Buffering)) {
        SetState(State::Paused);
      } else if (!paused_ && state_ == State::Paused) {
        SetState(buffering_ ? State::Buffering : State::Playing);
      }
      return;
    case kIdleActive:
      if (present && *static_cast<const int*>(property->data) != 0) HandleIdle();
      return;
    default:
      return;
  }
}

// mpv has run out of things to play (a playlist may have tried several entries first): the
// last end reason decides what follows. Two signals lead here, the idle-active property and the
// older idle event: a load that fails at once flips idle-active off and on again before mpv
// compares values, and then no property change is reported at all. Whichever comes first uses
// the end reason up; the other finds none.
void PlayerSession::HandleIdle() {
  if (userStopped_) return;
  const int reason = lastEndReason_;
  if (reason != MPV_END_FILE_REASON_EOF && reason != MPV_END_FILE_REASON_ERROR) return;
  lastEndReason_ = -1;
  position_ = -1;
  buffering_ = false;
  const bool network = IsNetworkAddress(url_);
  if (network && hasPlayed_) {
    ScheduleReconnect();
    return;
  }
  if (reason == MPV_END_FILE_REASON_ERROR) {
    errorBase_ = DescribeMpvError(*lib_, lastEndError_);
    if (network && retryCount_ < kFirstOpenRetries) {
      retryReason_ = FailureText();
      ScheduleReconnect();
      return;
    }
    ShowError(FailureText());
    failedUnattended_ = network;
    return;
  }
  userStopped_ = true;
  SetState(State::Idle);
}

// The first error mpv logs for a load names the cause ("tcp: Connection to ... failed:
// Connection refused", "http: HTTP error 404 Not Found"); its last clause becomes the error's
// detail. Log messages travel apart from events and may come after the failure was shown, so a
// late detail completes the error text then.
void PlayerSession::HandleLogMessage(const mpv_event_log_message& message) {
  const QLatin1String level(message.level);
  if (level != QLatin1String("error") && level != QLatin1String("fatal")) return;
  // Audio output errors are about the machine (no sound card, mpv then uses the next output).
  if (QLatin1String(message.prefix).startsWith(QLatin1String("ao"))) return;
  if (!logErrorDetail_.isEmpty()) return;
  QString text = QString::fromUtf8(message.text).trimmed();
  const int clause = text.lastIndexOf(QStringLiteral(": "));
  if (clause >= 0) text = text.mid(clause + 2);
  if (text.endsWith(QLatin1Char('.'))) text.chop(1);
  logErrorDetail_ = text;
  if (errorBase_.isEmpty() || logErrorDetail_.isEmpty()) return;
  if (state_ == State::Error) {
    errorText_ = FailureText();
    emit statusChanged();
    return;
  }
  if (!retryReason_.isEmpty()) {
    retryReason_ = FailureText();
    emit statusChanged();
  }
}

QString PlayerSession::FailureText() const {
  return logErrorDetail_.isEmpty() ? errorBase_
                                   : errorBase_ + QStringLiteral(": ") + logErrorDetail_;
}

void PlayerSession::HandleEndFile(const mpv_event& event) {
  const auto* end = static_cast<const mpv_event_end_file*>(event.data);
  // A playlist that expanded into its entries (REDIRECT) and our own stops are not endings.
  if (end->reason != MPV_END_FILE_REASON_EOF && end->reason != MPV_END_FILE_REASON_ERROR) return;
  lastEndReason_ = end->reason;
  lastEndError_ = end->error;
}

void PlayerSession::ScheduleReconnect() {
  const int delay = retryDelayMs_;
  retryDelayMs_ = NextRetryDelay(retryDelayMs_);
  retryTimer_->start(delay);
  countdownTimer_->start();
  SetState(State::Reconnecting);
}

void PlayerSession::ShowError(const QString& text) {
  errorText_ = text;
  userStopped_ = true;
  SetState(State::Error);
  emit errorOccurred(text);
}

void PlayerSession::SetState(State state) {
  if (state != State::Error) errorText_.clear();
  if (state != State::Reconnecting) retryReason_.clear();
  const bool changed = state != state_;
  state_ = state;
  emit statusChanged();
  if (changed) emit stateChanged(state_);
}

}  // namespace velmora::app
