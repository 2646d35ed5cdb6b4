#pragma once
// AniGifWidget: a QWidget hosting one ucAniGIF control.
//
// The widget owns the control and its WidgetHost (the container and host surface, see
// widget_host.h) and adapts between them and Qt: paint, resize, show and hide events go to the
// host; mouse press, release, move and click reach the control, buttons mapped to 1 left,
// 2 right, 4 middle and modifiers to 1 Shift, 2 Ctrl, 4 Alt (a click is a left press and release
// both over the widget; it follows MouseUp). The control's properties are Qt properties here and
// its events Qt signals, emitted while the control raises them (direct connections see
// by-reference arguments such as `cancel`).

#include <QImage>
#include <QString>
#include <QWidget>
#include <memory>

#include "qt/widget_host.h"
#include "ucAniGIF/control/ucAniGIF.h"

class QByteArray;
class QNetworkAccessManager;

namespace velmora::qt {

class AniGifWidget : public QWidget {
  Q_OBJECT
  // In the order a form sets them: the mode first (it is read when a GIF loads; Designer's
  // plugin sets it, so it is not edited there), then the GIF, then the settings, some of which
  // (loops) belong to the GIF loaded.
  Q_PROPERTY(bool designMode READ designMode WRITE setDesignMode NOTIFY designModeChanged
             DESIGNABLE false)
  // The GIF shown, as its file's bytes in base64, so that a form (.ui) can carry it. Setting it
  // loads those bytes.
  Q_PROPERTY(QString gifData READ gifData WRITE setGifData NOTIFY gifDataChanged)
  Q_PROPERTY(int currentFrame READ currentFrame NOTIFY currentFrameChanged)
  Q_PROPERTY(int frameCount READ frameCount NOTIFY frameCountChanged)
  Q_PROPERTY(int actualWidth READ actualWidth NOTIFY actualSizeChanged)
  Q_PROPERTY(int actualHeight READ actualHeight NOTIFY actualSizeChanged)
  Q_PROPERTY(Stretch stretch READ stretch WRITE setStretch NOTIFY stretchChanged)
  Q_PROPERTY(int minFrameDelay READ minFrameDelay WRITE setMinFrameDelay NOTIFY minFrameDelayChanged)
  Q_PROPERTY(int loops READ loops WRITE setLoops NOTIFY loopsChanged)
  Q_PROPERTY(int loopsRemaining READ loopsRemaining NOTIFY loopsRemainingChanged)
  Q_PROPERTY(Mirror mirrored READ mirrored WRITE setMirrored NOTIFY mirroredChanged)
  Q_PROPERTY(Action action READ action WRITE setAction NOTIFY actionChanged)
  Q_PROPERTY(int delayAnimation READ delayAnimation WRITE setDelayAnimation NOTIFY delayAnimationChanged)
  Q_PROPERTY(int mousePointer READ mousePointer WRITE setMousePointer NOTIFY mousePointerChanged)
  Q_PROPERTY(int offsetX READ offsetX WRITE setOffsetX NOTIFY offsetXChanged)
  Q_PROPERTY(int offsetY READ offsetY WRITE setOffsetY NOTIFY offsetYChanged)
  Q_PROPERTY(uint solidBkgColor READ solidBkgColor WRITE setSolidBkgColor NOTIFY solidBkgColorChanged)
  Q_PROPERTY(bool solidBkgColorUsed READ solidBkgColorUsed WRITE setSolidBkgColorUsed
             NOTIFY solidBkgColorUsedChanged)
  Q_PROPERTY(int steppedDelay READ steppedDelay WRITE setSteppedDelay NOTIFY steppedDelayChanged)

 public:
  // How the GIF is fitted to the widget: actual size (cut, never enlarged), fit keeping the
  // aspect ratio, fill, shrink to fit (never enlarge), or the widget takes the GIF's size.
  enum Stretch { ActualSize = 0, Fit = 1, Fill = 2, ShrinkToFit = 3, CanvasSize = 4 };
  Q_ENUM(Stretch)
  enum Mirror { NotMirrored = 0, LeftRight = 1, TopBottom = 2, BothWays = 3 };
  Q_ENUM(Mirror)
  // Read, the state: Stop (stopped), Play (playing), Pause (paused). Written, a command: also
  // Step (pause on the next frame) and Restart (from frame 1).
  enum Action { Stop = 0, Play = 1, Pause = 2, Step = 3, Restart = 4 };
  Q_ENUM(Action)

 public:
  // `timers` and `network` are not owned and must outlive the widget; null uses
  // QtTimerService::shared() and AsyncDownloads::sharedManager().
  explicit AniGifWidget(QWidget* parent = nullptr, QtTimerService* timers = nullptr,
                        QNetworkAccessManager* network = nullptr);
  ~AniGifWidget() override;

  velmora::ucAniGIF& control() { return *control_; }
  const velmora::ucAniGIF& control() const { return *control_; }
  // The control's container and host surface.
  WidgetHost& host() { return *host_; }
  // The widget's own downloads (limits can be changed there).
  AsyncDownloads& downloads() { return host_->downloads(); }

  // --- Loading and persistence ---
  bool loadFile(const QString& path);
  bool loadBytes(const QByteArray& bytes);
  void loadRemote(const QString& location);  // outcome: remoteLoadComplete / remoteLoadFailure
  void readProperties(platform::PropertyBag& bag);
  void writeProperties(platform::PropertyBag& bag);

  // The GIF's canvas in pixels once one is loaded; 32 x 32 before.
  QSize sizeHint() const override;

  // --- Qt properties ---
  int currentFrame() const { return control_->CurrentFrame(); }
  int frameCount() const { return control_->FrameCount(); }
  int actualWidth() const { return control_->ActualWidth(); }
  int actualHeight() const { return control_->ActualHeight(); }
  Stretch stretch() const { return static_cast<Stretch>(control_->Stretch()); }
  void setStretch(Stretch value);
  int minFrameDelay() const { return control_->MinFrameDelay(); }
  void setMinFrameDelay(int value);
  int loops() const { return control_->Loops(); }
  void setLoops(int value);
  int loopsRemaining() const { return control_->LoopsRemaining(); }
  // The style the frames are mirrored to (a deferred load's frame-1 flag left out).
  Mirror mirrored() const { return static_cast<Mirror>(control_->Mirrored() & BothWays); }
  void setMirrored(Mirror value);
  Action action() const { return static_cast<Action>(control_->Action()); }
  void setAction(Action value);
  int delayAnimation() const { return control_->DelayAnimation(); }
  void setDelayAnimation(int value);
  int mousePointer() const { return control_->MousePointer(); }
  void setMousePointer(int value);
  int offsetX() const { return control_->OffsetX(); }
  void setOffsetX(int value);
  int offsetY() const { return control_->OffsetY(); }
  void setOffsetY(int value);
  uint solidBkgColor() const { return control_->SolidBkgColor(); }
  void setSolidBkgColor(uint value);
  bool solidBkgColorUsed() const { return control_->SolidBkgColorUsed(); }
  void setSolidBkgColorUsed(bool value);
  int steppedDelay() const { return control_->SteppedDelay(); }
  void setSteppedDelay(int value);
  bool designMode() const { return !host_->UserMode(); }
  void setDesignMode(bool design);
  QString gifData() const { return QString::fromLatin1(gif_.toBase64()); }
  void setGifData(const QString& base64);

  // The surface as last painted (a copy), for tests and screenshots.
  QImage surfaceImage() const { return host_->surfaceImage(); }
  // Paints the control into the surface (background first) without touching the screen.
  void renderSurface() { host_->renderSurface(); }
  // What lies beneath the widget, as its paints take it (for tests and diagnostics).
  const BeneathCache& beneath() const { return host_->beneath(); }

 signals:
  // The control's change notice: its saved properties are out of date ("Stretch", "Delay", ...).
  void propertyChanged(const QString& name);
  void clicked();
  void mouseDown(int button, int shift, float x, float y);
  void mouseUp(int button, int shift, float x, float y);
  void mouseMove(int button, int shift, float x, float y);
  void loopsEnded();
  void frameChanged(int frameIndex, bool viaTimer);
  // Set `cancel` (direct connections only) to keep the GIF shown before.
  void remoteLoadComplete(float gifWidth, float gifHeight, bool& cancel);
  void remoteLoadFailure();

  // Property notifications: each is emitted once the value differs from what was last reported,
  // whoever changed it (a setter, a load, the animation).
  void currentFrameChanged(int frame);
  void frameCountChanged(int count);
  void actualSizeChanged();
  void stretchChanged(velmora::qt::AniGifWidget::Stretch stretch);
  void minFrameDelayChanged(int delay);
  void loopsChanged(int loops);
  void loopsRemainingChanged(int loops);
  void mirroredChanged(velmora::qt::AniGifWidget::Mirror mirrored);
  void actionChanged(velmora::qt::AniGifWidget::Action action);
  void delayAnimationChanged(int mode);
  void mousePointerChanged(int pointer);
  void offsetXChanged(int offset);
  void offsetYChanged(int offset);
  void solidBkgColorChanged(uint color);
  void solidBkgColorUsedChanged(bool used);
  void steppedDelayChanged(int delay);
  void designModeChanged(bool design);
  void gifDataChanged();

 protected:
  void paintEvent(QPaintEvent* event) override;
  void resizeEvent(QResizeEvent* event) override;
  void showEvent(QShowEvent* event) override;
  void hideEvent(QHideEvent* event) override;
  void mousePressEvent(QMouseEvent* event) override;
  void mouseReleaseEvent(QMouseEvent* event) override;
  void mouseMoveEvent(QMouseEvent* event) override;

 private:
  friend class WidgetHost;

  // The property values last reported through the notifications.
  struct Reported {
    int currentFrame = 0, frameCount = 0, actualWidth = 0, actualHeight = 0, stretch = 0;
    int minFrameDelay = 0, loops = 0, loopsRemaining = 0, mirrored = 0, action = 0;
    int delayAnimation = 0, mousePointer = 0, offsetX = 0, offsetY = 0, steppedDelay = 0;
    uint solidBkgColor = 0;
    bool solidBkgColorUsed = false, designMode = false;
  };
  Reported current() const;
  // Emits the notification of every property whose value differs from the one last reported.
  void reportChanges();
  // Runs a change through Guarded and reports what it changed.
  template <typename Change>
  void change(Change&& change);
  bool loadGif(QByteArray bytes);
  bool hit(const QPointF& position);

  std::unique_ptr<WidgetHost> host_;
  bool leftPressed_ = false;
  QByteArray gif_;  // the file loaded through loadFile, loadBytes or gifData
  std::unique_ptr<velmora::ucAniGIF> control_;  // last: built on the host
  Reported reported_;
};

}  // namespace velmora::qt
