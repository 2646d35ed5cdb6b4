#pragma once
// MediaPlayer1: the widget that shows a PlayerSession. A transport bar (play/pause, stop, mute,
// volume; focusable, with accessible names) drives the session; a status line shows the station
// name, the now-playing title, buffering, the seconds to the next try and errors in words, each
// elided to fit with the whole text in its tooltip; a right-click menu offers play/pause, stop
// and mute. Keys anywhere in its window: Space plays or pauses (or presses a focused transport
// button), M mutes, Up and Down change the volume by kVolumeStep, and the keyboard's media keys
// do what they say. The widget holds no playback state of its own: everything it shows it reads
// from the session when the session signals.

#include <QString>
#include <QWidget>

class QLabel;
class QSlider;
class QToolButton;

namespace velmora::app {

class PlayerSession;

class MediaPlayer : public QWidget {
  Q_OBJECT

 public:
  // Shows `session`, which must outlive the widget.
  explicit MediaPlayer(PlayerSession* session, QWidget* parent = nullptr);
  ~MediaPlayer() override;

  static constexpr int kVolumeStep = 5;

  PlayerSession* Session() const { return session_; }

  // The right-click menu (play/pause, stop, mute). On by default; Form1 switches it off.
  void setEnableContextMenu(bool on) { enableContextMenu_ = on; }
  bool enableContextMenu() const { return enableContextMenu_; }

  // The status line as shown, whole: the name line, a newline, the state line.
  QString StatusText() const;

 protected:
  void contextMenuEvent(QContextMenuEvent* event) override;
  void resizeEvent(QResizeEvent* event) override;

 private:
  void BuildControls();
  void AddKeys();
  void RefreshStatus();
  void RefreshButtons();

  PlayerSession* session_;
  bool enableContextMenu_ = true;

  QLabel* nameLabel_ = nullptr;
  QLabel* titleLabel_ = nullptr;
  QToolButton* playButton_ = nullptr;
  QToolButton* stopButton_ = nullptr;
  QToolButton* muteButton_ = nullptr;
  QSlider* volumeSlider_ = nullptr;
};

}  // namespace velmora::app
