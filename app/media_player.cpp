#include "app/media_player.h"

#include <mpv/client.h>

#include <QBoxLayout>
#include <QContextMenuEvent>
#include <QLabel>
#include <QMenu>
#include <QPainter>
#include <QPainterPath>
#include <QSlider>
#include <QTimer>
#include <QToolButton>
#include <QUrl>
#include <algorithm>
#include <clocale>

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

enum class Glyph { Play, Pause, Stop, Speaker, SpeakerMuted };

// Drawn rather than taken from a font: the symbol glyphs differ between font sets and a
// missing one would leave an empty button.
QIcon MakeIcon(Glyph glyph) {
  QPixmap pixmap(32, 32);
  pixmap.fill(Qt::transparent);
  QPainter p(&pixmap);
  p.setRenderHint(QPainter::Antialiasing);
  p.setPen(Qt::NoPen);
  p.setBrush(QColor(0xe8, 0xf1, 0xff));
  QPainterPath path;
  switch (glyph) {
    case Glyph::Play:
      path.moveTo(9, 6);
      path.lineTo(26, 16);
      path.lineTo(9, 26);
      path.closeSubpath();
      p.drawPath(path);
      break;
    case Glyph::Pause:
      p.drawRoundedRect(QRectF(8, 6, 6, 20), 1.5, 1.5);
      p.drawRoundedRect(QRectF(18, 6, 6, 20), 1.5, 1.5);
      break;
    case Glyph::Stop:
      p.drawRoundedRect(QRectF(8, 8, 16, 16), 2, 2);
      break;
    case Glyph::Speaker:
    case Glyph::SpeakerMuted:
      path.moveTo(5, 12);
      path.lineTo(10, 12);
      path.lineTo(17, 6);
      path.lineTo(17, 26);
      path.lineTo(10, 20);
      path.lineTo(5, 20);
      path.closeSubpath();
      p.drawPath(path);
      p.setBrush(Qt::NoBrush);
      if (glyph == Glyph::Speaker) {
        p.setPen(QPen(QColor(0xe8, 0xf1, 0xff), 2.2, Qt::SolidLine, Qt::RoundCap));
        p.drawArc(QRectF(14, 10, 10, 12), -50 * 16, 100 * 16);
        p.drawArc(QRectF(13, 6, 16, 20), -50 * 16, 100 * 16);
      } else {
        p.setPen(QPen(QColor(0xff, 0x8a, 0x80), 2.6, Qt::SolidLine, Qt::RoundCap));
        p.drawLine(QPointF(20, 11), QPointF(28, 21));
        p.drawLine(QPointF(28, 11), QPointF(20, 21));
      }
      break;
  }
  return QIcon(pixmap);
}

QString DescribeMpvError(int error) {
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
      return QStringLiteral("Playback failed (%1)").arg(QString::fromUtf8(mpv_error_string(error)));
  }
}

QString MpvString(mpv_handle* mpv, const char* name) {
  char* value = mpv_get_property_string(mpv, name);
  if (value == nullptr) return {};
  QString text = QString::fromUtf8(value).trimmed();
  mpv_free(value);
  return text;
}

}  // namespace

MediaPlayer::MediaPlayer(QWidget* parent) : QWidget(parent) {
  setObjectName(QStringLiteral("MediaPlayer1"));
  retryTimer_ = new QTimer(this);
  retryTimer_->setSingleShot(true);
  connect(retryTimer_, &QTimer::timeout, this, [this] {
    ++retryCount_;
    OpenCurrentUrl();
  });
  BuildControls();
  CreateMpv();
  RefreshStatus();
  RefreshButtons();
}

MediaPlayer::~MediaPlayer() {
  if (mpv_ == nullptr) return;
  mpv_set_wakeup_callback(mpv_, nullptr, nullptr);
  mpv_terminate_destroy(mpv_);
}

void MediaPlayer::CreateMpv() {
  // QApplication set LC_NUMERIC from the environment; libmpv parses and prints numbers with
  // the C library and refuses to start under a locale with a decimal comma.
  std::setlocale(LC_NUMERIC, "C");
  mpv_ = mpv_create();
  if (mpv_ == nullptr) {
    ShowError(QStringLiteral("The player could not start"));
    return;
  }
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
      {"network-timeout", timeout.constData()},
      {"user-agent", kUserAgent},
      {"audio-client-name", "Velmora radio"},
      {"volume", volume.constData()},
      {"resume-playback", "no"},
      {"save-position-on-quit", "no"},
  };
  for (const Option& option : options) mpv_set_option_string(mpv_, option.name, option.value);
  if (mpv_initialize(mpv_) < 0) {
    mpv_destroy(mpv_);
    mpv_ = nullptr;
    ShowError(QStringLiteral("The player could not start"));
    return;
  }
  // Error messages carry the reason a stream failed (connection refused, 404 ...).
  mpv_request_log_messages(mpv_, "error");
  mpv_observe_property(mpv_, kTimePos, "time-pos", MPV_FORMAT_DOUBLE);
  mpv_observe_property(mpv_, kMediaTitle, "media-title", MPV_FORMAT_STRING);
  mpv_observe_property(mpv_, kMetadata, "metadata", MPV_FORMAT_NONE);
  mpv_observe_property(mpv_, kPausedForCache, "paused-for-cache", MPV_FORMAT_FLAG);
  mpv_observe_property(mpv_, kCacheBufferingState, "cache-buffering-state", MPV_FORMAT_INT64);
  mpv_observe_property(mpv_, kPause, "pause", MPV_FORMAT_FLAG);
  mpv_observe_property(mpv_, kIdleActive, "idle-active", MPV_FORMAT_FLAG);
  // Called on one of mpv's threads: only post; the events are drained on the GUI thread. A
  // call posted to a player that is gone is dropped by Qt with the player.
  mpv_set_wakeup_callback(
      mpv_,
      [](void* context) {
        auto* player = static_cast<MediaPlayer*>(context);
        QMetaObject::invokeMethod(
            player, [player] { player->DrainMpvEvents(); }, Qt::QueuedConnection);
      },
      this);
}

void MediaPlayer::BuildControls() {
  setAutoFillBackground(true);
  setAttribute(Qt::WA_StyledBackground, true);
  setStyleSheet(QStringLiteral(
      "velmora--app--MediaPlayer { background: #0c1a2e; }"
      "QLabel#StationName { color: #ffd27a; font-weight: bold; }"
      "QLabel#NowPlaying { color: #cfe0f5; }"
      "QToolButton { background: #1d3a5f; border: 1px solid #3c6a9e; border-radius: 4px; }"
      "QToolButton:hover { background: #28507f; }"
      "QToolButton:pressed, QToolButton:checked { background: #13294a; }"
      "QSlider::groove:horizontal { height: 4px; background: #28476e; border-radius: 2px; }"
      "QSlider::sub-page:horizontal { background: #5fb0ff; border-radius: 2px; }"
      "QSlider::handle:horizontal { width: 10px; margin: -4px 0; border-radius: 5px;"
      " background: #e8f1ff; }"));
  QFont small = font();
  small.setPixelSize(11);

  nameLabel_ = new QLabel(this);
  nameLabel_->setObjectName(QStringLiteral("StationName"));
  nameLabel_->setFont(small);
  titleLabel_ = new QLabel(this);
  titleLabel_->setObjectName(QStringLiteral("NowPlaying"));
  titleLabel_->setFont(small);

  auto makeButton = [this](const QString& name, const QString& tip) {
    auto* button = new QToolButton(this);
    button->setObjectName(name);
    button->setToolTip(tip);
    button->setFixedSize(26, 22);
    button->setIconSize(QSize(14, 14));
    button->setFocusPolicy(Qt::NoFocus);
    return button;
  };
  playButton_ = makeButton(QStringLiteral("PlayPause"), QStringLiteral("Play / pause"));
  stopButton_ = makeButton(QStringLiteral("Stop"), QStringLiteral("Stop"));
  stopButton_->setIcon(MakeIcon(Glyph::Stop));
  muteButton_ = makeButton(QStringLiteral("Mute"), QStringLiteral("Mute"));
  muteButton_->setCheckable(true);
  volumeSlider_ = new QSlider(Qt::Horizontal, this);
  volumeSlider_->setObjectName(QStringLiteral("Volume"));
  volumeSlider_->setRange(0, 100);
  volumeSlider_->setValue(volume_);
  volumeSlider_->setFocusPolicy(Qt::NoFocus);
  volumeSlider_->setToolTip(QStringLiteral("Volume"));

  connect(playButton_, &QToolButton::clicked, this, &MediaPlayer::TogglePause);
  connect(stopButton_, &QToolButton::clicked, this, &MediaPlayer::Stop);
  connect(muteButton_, &QToolButton::toggled, this, &MediaPlayer::SetMute);
  connect(volumeSlider_, &QSlider::valueChanged, this, &MediaPlayer::SetVolume);

  auto* bar = new QHBoxLayout;
  bar->setSpacing(4);
  bar->addWidget(playButton_);
  bar->addWidget(stopButton_);
  bar->addSpacing(6);
  bar->addWidget(muteButton_);
  bar->addWidget(volumeSlider_, 1);
  auto* column = new QVBoxLayout(this);
  column->setContentsMargins(7, 4, 7, 5);
  column->setSpacing(1);
  column->addWidget(nameLabel_);
  column->addWidget(titleLabel_);
  column->addStretch(1);
  column->addLayout(bar);
}

void MediaPlayer::SetURL(const QString& url) {
  url_ = url;
  hasPlayed_ = false;
  retryTimer_->stop();
  retryCount_ = 0;
  retryDelayMs_ = kFirstRetryDelayMs;
  stationName_.clear();
  title_.clear();
  errorText_.clear();
  emit metadataChanged();
  if (url_.isEmpty()) {
    Stop();
    return;
  }
  if (autoStart_) {
    OpenCurrentUrl();
    return;
  }
  RefreshStatus();
}

void MediaPlayer::OpenCurrentUrl() {
  if (mpv_ == nullptr || url_.isEmpty()) return;
  userStopped_ = false;
  lastEndReason_ = -1;
  lastEndError_ = 0;
  logErrorDetail_.clear();
  errorBase_.clear();
  errorText_.clear();
  ++loadGeneration_;
  const QByteArray address = url_.toUtf8();
  const char* command[] = {"loadfile", address.constData(), "replace", nullptr};
  if (mpv_command(mpv_, command) < 0) {
    ShowError(QStringLiteral("Cannot open the station"));
    return;
  }
  mpv_set_property_string(mpv_, "pause", "no");
  SetState(retryCount_ > 0 ? State::Reconnecting : State::Opening);
}

void MediaPlayer::Play() {
  if (state_ == State::Paused) {
    TogglePause();
    return;
  }
  if (state_ == State::Idle || state_ == State::Error) {
    retryCount_ = 0;
    retryDelayMs_ = kFirstRetryDelayMs;
    OpenCurrentUrl();
  }
}

void MediaPlayer::Pause() {
  if (mpv_ == nullptr || state_ != State::Playing) return;
  mpv_set_property_string(mpv_, "pause", "yes");
}

void MediaPlayer::TogglePause() {
  if (mpv_ == nullptr) return;
  if (state_ == State::Paused) {
    mpv_set_property_string(mpv_, "pause", "no");
    return;
  }
  if (state_ == State::Playing || state_ == State::Buffering) {
    mpv_set_property_string(mpv_, "pause", "yes");
    return;
  }
  Play();
}

void MediaPlayer::Stop() {
  userStopped_ = true;
  retryTimer_->stop();
  if (mpv_ != nullptr) {
    const char* command[] = {"stop", nullptr};
    mpv_command(mpv_, command);
  }
  position_ = -1;
  buffering_ = false;
  if (state_ != State::Error) SetState(State::Idle);
  RefreshStatus();
}

void MediaPlayer::SetVolume(int volume) {
  volume_ = std::clamp(volume, 0, 100);
  if (volumeSlider_->value() != volume_) volumeSlider_->setValue(volume_);
  if (mpv_ != nullptr) {
    double value = volume_;
    mpv_set_property(mpv_, "volume", MPV_FORMAT_DOUBLE, &value);
  }
}

void MediaPlayer::SetMute(bool on) {
  mute_ = on;
  if (muteButton_->isChecked() != on) muteButton_->setChecked(on);
  muteButton_->setIcon(MakeIcon(on ? Glyph::SpeakerMuted : Glyph::Speaker));
  if (mpv_ != nullptr) mpv_set_property_string(mpv_, "mute", on ? "yes" : "no");
}

void MediaPlayer::DrainMpvEvents() {
  while (mpv_ != nullptr) {
    mpv_event* event = mpv_wait_event(mpv_, 0);
    if (event->event_id == MPV_EVENT_NONE) break;
    HandleMpvEvent(*event);
  }
}

void MediaPlayer::HandleMpvEvent(const mpv_event& event) {
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
      mpv_set_wakeup_callback(mpv_, nullptr, nullptr);
      return;
    default:
      return;
  }
}

void MediaPlayer::HandlePropertyChange(const mpv_event& event) {
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
      const QString name = MpvString(mpv_, "metadata/by-key/icy-name");
      QString title = MpvString(mpv_, "metadata/by-key/icy-title");
      if (title.isEmpty()) title = MpvString(mpv_, "metadata/by-key/title");
      if (title.isEmpty()) title = MpvString(mpv_, "metadata/by-key/TITLE");
      if (title.isEmpty() && present && event.reply_userdata == kMediaTitle) {
        // media-title falls back to the file name, which for a stream is its mount point:
        // shown only while nothing better is known.
        title = MpvString(mpv_, "media-title");
      }
      if (name == stationName_ && (title == title_ || title.isEmpty())) return;
      if (!name.isEmpty()) stationName_ = name;
      if (!title.isEmpty()) title_ = title;
      emit metadataChanged();
      RefreshStatus();
      return;
    }
    case kPausedForCache:
      buffering_ = present && *static_cast<const int*>(property->data) != 0;
      RefreshStatus();
      return;
    case kCacheBufferingState:
      bufferingPercent_ =
          present ? static_cast<int>(*static_cast<const int64_t*>(property->data)) : 0;
      if (buffering_) RefreshStatus();
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
void MediaPlayer::HandleIdle() {
  if (userStopped_) return;
  const int reason = lastEndReason_;
  if (reason != MPV_END_FILE_REASON_EOF && reason != MPV_END_FILE_REASON_ERROR) return;
  lastEndReason_ = -1;
  position_ = -1;
  buffering_ = false;
  if (hasPlayed_ && IsNetworkAddress(url_)) {
    ScheduleReconnect();
    return;
  }
  if (reason == MPV_END_FILE_REASON_ERROR) {
    errorBase_ = DescribeMpvError(lastEndError_);
    ShowError(logErrorDetail_.isEmpty() ? errorBase_
                                        : errorBase_ + QStringLiteral(": ") + logErrorDetail_);
    return;
  }
  userStopped_ = true;
  SetState(State::Idle);
}

// The first error mpv logs for a load names the cause ("tcp: Connection to ... failed:
// Connection refused", "http: HTTP error 404 Not Found"); its last clause becomes the error's
// detail. Log messages travel apart from events and may come after the failure was shown, so a
// late detail completes the error text then.
void MediaPlayer::HandleLogMessage(const mpv_event_log_message& message) {
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
  if (state_ == State::Error && !errorBase_.isEmpty() && !logErrorDetail_.isEmpty()) {
    errorText_ = errorBase_ + QStringLiteral(": ") + logErrorDetail_;
    RefreshStatus();
  }
}

void MediaPlayer::HandleEndFile(const mpv_event& event) {
  const auto* end = static_cast<const mpv_event_end_file*>(event.data);
  // A playlist that expanded into its entries (REDIRECT) and our own stops are not endings.
  if (end->reason != MPV_END_FILE_REASON_EOF && end->reason != MPV_END_FILE_REASON_ERROR) return;
  lastEndReason_ = end->reason;
  lastEndError_ = end->error;
}

void MediaPlayer::ScheduleReconnect() {
  const int delay = retryDelayMs_;
  retryDelayMs_ = NextRetryDelay(retryDelayMs_);
  retryTimer_->start(delay);
  SetState(State::Reconnecting);
}

void MediaPlayer::ShowError(const QString& text) {
  errorText_ = text;
  userStopped_ = true;
  SetState(State::Error);
  emit errorOccurred(text);
}

void MediaPlayer::SetState(State state) {
  if (state != State::Error) errorText_.clear();
  const bool changed = state != state_;
  state_ = state;
  RefreshStatus();
  RefreshButtons();
  if (changed) emit stateChanged(state_);
}

QString MediaPlayer::StatusText() const {
  return nameLabel_->toolTip() + QLatin1Char('\n') + titleLabel_->toolTip();
}

void MediaPlayer::RefreshStatus() {
  QString name = stationName_;
  if (name.isEmpty() && !url_.isEmpty()) name = QUrl(url_).host();
  if (name.isEmpty()) name = QStringLiteral("Velmora radio");
  QString line;
  switch (state_) {
    case State::Idle:
      line = url_.isEmpty() ? QStringLiteral("Pick a station below") : QStringLiteral("Stopped");
      break;
    case State::Opening:
      line = QStringLiteral("Connecting\u2026");
      break;
    case State::Buffering:
      line = QStringLiteral("Buffering %1%").arg(bufferingPercent_);
      break;
    case State::Playing:
      line = buffering_ ? QStringLiteral("Buffering %1%").arg(bufferingPercent_)
                        : (title_.isEmpty() ? QStringLiteral("Playing") : title_);
      break;
    case State::Paused:
      line = QStringLiteral("Paused") +
             (title_.isEmpty() ? QString() : QStringLiteral(" \u2014 ") + title_);
      break;
    case State::Reconnecting:
      line = retryTimer_->isActive() ? QStringLiteral("Stream lost \u2014 reconnecting in %1 s")
                                           .arg((retryTimer_->remainingTime() + 999) / 1000)
                                     : QStringLiteral("Reconnecting\u2026");
      break;
    case State::Error:
      line = errorText_;
      break;
  }
  // The full texts stay in the tooltips; the labels show what fits.
  nameLabel_->setToolTip(name);
  titleLabel_->setToolTip(line);
  const int width = std::max(40, this->width() - 16);
  nameLabel_->setText(nameLabel_->fontMetrics().elidedText(name, Qt::ElideRight, width));
  titleLabel_->setText(titleLabel_->fontMetrics().elidedText(line, Qt::ElideRight, width));
}

void MediaPlayer::RefreshButtons() {
  const bool running = state_ == State::Playing || state_ == State::Buffering ||
                       state_ == State::Opening || state_ == State::Reconnecting;
  playButton_->setIcon(MakeIcon(running ? Glyph::Pause : Glyph::Play));
  playButton_->setEnabled(!url_.isEmpty());
  stopButton_->setEnabled(running || state_ == State::Paused);
  muteButton_->setIcon(MakeIcon(mute_ ? Glyph::SpeakerMuted : Glyph::Speaker));
}

void MediaPlayer::contextMenuEvent(QContextMenuEvent* event) {
  if (!enableContextMenu_) {
    event->ignore();
    return;
  }
  QMenu menu(this);
  menu.addAction(state_ == State::Paused || state_ == State::Idle ? QStringLiteral("Play")
                                                                  : QStringLiteral("Pause"),
                 this, &MediaPlayer::TogglePause);
  menu.addAction(QStringLiteral("Stop"), this, &MediaPlayer::Stop);
  QAction* mute = menu.addAction(QStringLiteral("Mute"), this, [this] { SetMute(!mute_); });
  mute->setCheckable(true);
  mute->setChecked(mute_);
  menu.exec(event->globalPos());
}

}  // namespace velmora::app
