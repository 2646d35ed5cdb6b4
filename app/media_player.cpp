#include "app/media_player.h"

#include <QAbstractButton>
#include <QApplication>
#include <QBoxLayout>
#include <QContextMenuEvent>
#include <QIconEngine>
#include <QLabel>
#include <QMenu>
#include <QPainter>
#include <QPainterPath>
#include <QShortcut>
#include <QSlider>
#include <QToolButton>
#include <QUrl>
#include <algorithm>

#include "app/player_session.h"

namespace velmora::app {
namespace {

using State = PlayerSession::State;

enum class Glyph { Play, Pause, Stop, Speaker, SpeakerMuted };

// The glyphs in a 32 x 32 box.
void DrawGlyph(QPainter& p, Glyph glyph) {
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
      return;
    case Glyph::Pause:
      p.drawRoundedRect(QRectF(8, 6, 6, 20), 1.5, 1.5);
      p.drawRoundedRect(QRectF(18, 6, 6, 20), 1.5, 1.5);
      return;
    case Glyph::Stop:
      p.drawRoundedRect(QRectF(8, 8, 16, 16), 2, 2);
      return;
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
        return;
      }
      p.setPen(QPen(QColor(0xff, 0x8a, 0x80), 2.6, Qt::SolidLine, Qt::RoundCap));
      p.drawLine(QPointF(20, 11), QPointF(28, 21));
      p.drawLine(QPointF(28, 11), QPointF(20, 21));
      return;
  }
}

// Drawn rather than taken from a font (the symbol glyphs differ between font sets and a missing
// one would leave an empty button), and drawn at the size the button asks for in device pixels,
// so they stay sharp at any device pixel ratio.
class GlyphIconEngine final : public QIconEngine {
 public:
  explicit GlyphIconEngine(Glyph glyph) : glyph_(glyph) {}

  void paint(QPainter* painter, const QRect& rect, QIcon::Mode mode, QIcon::State) override {
    painter->save();
    painter->translate(rect.topLeft());
    painter->scale(rect.width() / 32.0, rect.height() / 32.0);
    if (mode == QIcon::Disabled) painter->setOpacity(0.4);
    DrawGlyph(*painter, glyph_);
    painter->restore();
  }

  QPixmap pixmap(const QSize& size, QIcon::Mode mode, QIcon::State state) override {
    QPixmap pixmap(size);
    pixmap.fill(Qt::transparent);
    QPainter painter(&pixmap);
    paint(&painter, pixmap.rect(), mode, state);
    return pixmap;
  }

  QIconEngine* clone() const override { return new GlyphIconEngine(glyph_); }

 private:
  Glyph glyph_;
};

QIcon MakeIcon(Glyph glyph) {
  return QIcon(new GlyphIconEngine(glyph));
}

// A status line and the part at its end that must stay in sight when the line is cut short to
// fit (the countdown to the next try).
struct StatusLine {
  QString text;
  QString tail;
};

StatusLine ReconnectingLine(const PlayerSession& session) {
  const int seconds = session.SecondsToRetry();
  if (seconds < 0) return {QStringLiteral("Reconnecting\u2026"), {}};
  if (session.HasPlayed())
    return {QStringLiteral("Stream lost"),
            QStringLiteral(" \u2014 reconnecting in %1 s").arg(seconds)};
  const QString reason = session.RetryReason().isEmpty() ? QStringLiteral("Cannot open the station")
                                                         : session.RetryReason();
  return {reason, QStringLiteral(" \u2014 trying again in %1 s").arg(seconds)};
}

// `line` within `width` pixels: whole when it fits, else its text cut short with an ellipsis and
// its tail kept.
QString Fitted(const QFontMetrics& metrics, const StatusLine& line, int width) {
  const QString whole = line.text + line.tail;
  if (metrics.horizontalAdvance(whole) <= width) return whole;
  const int room = std::max(0, width - metrics.horizontalAdvance(line.tail));
  return metrics.elidedText(line.text, Qt::ElideRight, room) + line.tail;
}

}  // namespace

MediaPlayer::MediaPlayer(PlayerSession* session, QWidget* parent)
    : QWidget(parent), session_(session) {
  setObjectName(QStringLiteral("MediaPlayer1"));
  BuildControls();
  AddKeys();
  connect(session_, &PlayerSession::statusChanged, this, [this] {
    RefreshStatus();
    RefreshButtons();
  });
  connect(session_, &PlayerSession::volumeChanged, volumeSlider_, &QSlider::setValue);
  connect(session_, &PlayerSession::muteChanged, this, [this](bool on) {
    muteButton_->setChecked(on);
    RefreshButtons();
  });
  RefreshStatus();
  RefreshButtons();
}

MediaPlayer::~MediaPlayer() = default;

void MediaPlayer::BuildControls() {
  setAutoFillBackground(true);
  setAttribute(Qt::WA_StyledBackground, true);
  setStyleSheet(QStringLiteral(
      "velmora--app--MediaPlayer { background: #0c1a2e; }"
      "QLabel#StationName { color: #ffd27a; font-weight: bold; }"
      "QLabel#NowPlaying { color: #cfe0f5; }"
      "QToolButton { background: #1d3a5f; border: 1px solid #3c6a9e; border-radius: 4px; }"
      "QToolButton:hover { background: #28507f; }"
      "QToolButton:focus { border-color: #ffd27a; }"
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
    button->setAccessibleName(tip);
    button->setFixedSize(26, 22);
    button->setIconSize(QSize(14, 14));
    button->setFocusPolicy(Qt::StrongFocus);
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
  volumeSlider_->setValue(session_->Volume());
  volumeSlider_->setFocusPolicy(Qt::StrongFocus);
  volumeSlider_->setToolTip(QStringLiteral("Volume"));
  volumeSlider_->setAccessibleName(QStringLiteral("Volume"));

  muteButton_->setChecked(session_->Mute());
  connect(playButton_, &QToolButton::clicked, session_, &PlayerSession::TogglePause);
  connect(stopButton_, &QToolButton::clicked, session_, &PlayerSession::Stop);
  connect(muteButton_, &QToolButton::toggled, session_, &PlayerSession::SetMute);
  connect(volumeSlider_, &QSlider::valueChanged, session_, &PlayerSession::SetVolume);

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

// Window-wide, so they work wherever the focus is, the station list included (the page then
// does not scroll with Space or the arrows).
void MediaPlayer::AddKeys() {
  const auto add = [this](std::initializer_list<QKeySequence> keys, auto action) {
    for (const QKeySequence& key : keys) {
      auto* shortcut = new QShortcut(key, this);
      shortcut->setContext(Qt::WindowShortcut);
      connect(shortcut, &QShortcut::activated, this, action);
    }
  };
  // Space presses a focused transport button, as Space does; anywhere else it plays or pauses.
  add({Qt::Key_Space}, [this] {
    auto* button = qobject_cast<QAbstractButton*>(QApplication::focusWidget());
    if (button != nullptr && isAncestorOf(button)) {
      button->animateClick();
      return;
    }
    session_->TogglePause();
  });
  add({Qt::Key_MediaTogglePlayPause}, [this] { session_->TogglePause(); });
  add({Qt::Key_MediaPlay}, [this] { session_->Play(); });
  add({Qt::Key_MediaPause}, [this] { session_->Pause(); });
  add({Qt::Key_MediaStop}, [this] { session_->Stop(); });
  add({Qt::Key_M, Qt::Key_VolumeMute}, [this] { session_->SetMute(!session_->Mute()); });
  add({Qt::Key_Up, Qt::Key_VolumeUp},
      [this] { session_->SetVolume(session_->Volume() + kVolumeStep); });
  add({Qt::Key_Down, Qt::Key_VolumeDown},
      [this] { session_->SetVolume(session_->Volume() - kVolumeStep); });
}

QString MediaPlayer::StatusText() const {
  return nameLabel_->toolTip() + QLatin1Char('\n') + titleLabel_->toolTip();
}

void MediaPlayer::RefreshStatus() {
  const PlayerSession& session = *session_;
  const QString url = session.URL();
  const QString title = session.Title();
  QString name = session.StationName();
  if (name.isEmpty() && !url.isEmpty()) name = QUrl(url).host();
  if (name.isEmpty()) name = QStringLiteral("Velmora radio");
  StatusLine line;
  switch (session.PlayState()) {
    case State::Idle:
      if (url.isEmpty()) {
        line.text = QStringLiteral("Pick a station below");
      } else {
        line.text =
            session.HasPlayed() ? QStringLiteral("Stopped") : QStringLiteral("Ready to play");
      }
      break;
    case State::Opening:
      line.text = QStringLiteral("Connecting\u2026");
      break;
    case State::Buffering:
      line.text = QStringLiteral("Buffering %1%").arg(session.BufferingPercent());
      break;
    case State::Playing:
      line.text = session.IsBuffering()
                      ? QStringLiteral("Buffering %1%").arg(session.BufferingPercent())
                      : (title.isEmpty() ? QStringLiteral("Playing") : title);
      break;
    case State::Paused:
      line.text = QStringLiteral("Paused") +
                  (title.isEmpty() ? QString() : QStringLiteral(" \u2014 ") + title);
      break;
    case State::Reconnecting:
      line = ReconnectingLine(session);
      break;
    case State::Error:
      line.text = session.ErrorText();
      break;
  }
  // The full texts stay in the tooltips; the labels show what fits.
  nameLabel_->setToolTip(name);
  titleLabel_->setToolTip(line.text + line.tail);
  const int width = std::max(40, this->width() - 16);
  nameLabel_->setText(Fitted(nameLabel_->fontMetrics(), {name, {}}, width));
  titleLabel_->setText(Fitted(titleLabel_->fontMetrics(), line, width));
}

void MediaPlayer::resizeEvent(QResizeEvent* event) {
  QWidget::resizeEvent(event);
  RefreshStatus();
}

void MediaPlayer::RefreshButtons() {
  const State state = session_->PlayState();
  const bool running = state == State::Playing || state == State::Buffering ||
                       state == State::Opening || state == State::Reconnecting;
  playButton_->setIcon(MakeIcon(running ? Glyph::Pause : Glyph::Play));
  playButton_->setEnabled(!session_->URL().isEmpty());
  stopButton_->setEnabled(running || state == State::Paused);
  muteButton_->setIcon(MakeIcon(session_->Mute() ? Glyph::SpeakerMuted : Glyph::Speaker));
}

void MediaPlayer::contextMenuEvent(QContextMenuEvent* event) {
  if (!enableContextMenu_) {
    event->ignore();
    return;
  }
  QMenu menu(this);
  const State state = session_->PlayState();
  menu.addAction(state == State::Paused || state == State::Idle ? QStringLiteral("Play")
                                                                : QStringLiteral("Pause"),
                 session_, &PlayerSession::TogglePause);
  menu.addAction(QStringLiteral("Stop"), session_, &PlayerSession::Stop);
  QAction* mute = menu.addAction(QStringLiteral("Mute"), session_,
                                 [this] { session_->SetMute(!session_->Mute()); });
  mute->setCheckable(true);
  mute->setChecked(session_->Mute());
  menu.exec(event->globalPos());
}

}  // namespace velmora::app
