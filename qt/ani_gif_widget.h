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
  Q_PROPERTY(int currentFrame READ currentFrame)
  Q_PROPERTY(int frameCount READ frameCount)
  Q_PROPERTY(int actualWidth READ actualWidth)
  Q_PROPERTY(int actualHeight READ actualHeight)
  Q_PROPERTY(int stretch READ stretch WRITE setStretch)
  Q_PROPERTY(int minFrameDelay READ minFrameDelay WRITE setMinFrameDelay)
  Q_PROPERTY(int loops READ loops WRITE setLoops)
  Q_PROPERTY(int loopsRemaining READ loopsRemaining)
  Q_PROPERTY(int mirrored READ mirrored WRITE setMirrored)
  Q_PROPERTY(int action READ action WRITE setAction)
  Q_PROPERTY(int delayAnimation READ delayAnimation WRITE setDelayAnimation)
  Q_PROPERTY(int mousePointer READ mousePointer WRITE setMousePointer)
  Q_PROPERTY(int offsetX READ offsetX WRITE setOffsetX)
  Q_PROPERTY(int offsetY READ offsetY WRITE setOffsetY)
  Q_PROPERTY(uint solidBkgColor READ solidBkgColor WRITE setSolidBkgColor)
  Q_PROPERTY(bool solidBkgColorUsed READ solidBkgColorUsed WRITE setSolidBkgColorUsed)
  Q_PROPERTY(int steppedDelay READ steppedDelay WRITE setSteppedDelay)
  Q_PROPERTY(bool designMode READ designMode WRITE setDesignMode)

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

  // --- Qt properties ---
  int currentFrame() const { return control_->CurrentFrame(); }
  int frameCount() const { return control_->FrameCount(); }
  int actualWidth() const { return control_->ActualWidth(); }
  int actualHeight() const { return control_->ActualHeight(); }
  int stretch() const { return control_->Stretch(); }
  void setStretch(int value) { control_->SetStretch(value); }
  int minFrameDelay() const { return control_->MinFrameDelay(); }
  void setMinFrameDelay(int value) { control_->SetMinFrameDelay(value); }
  int loops() const { return control_->Loops(); }
  void setLoops(int value);
  int loopsRemaining() const { return control_->LoopsRemaining(); }
  int mirrored() const { return control_->Mirrored(); }
  void setMirrored(int value) { control_->SetMirrored(value); }
  int action() const { return control_->Action(); }
  void setAction(int value) { control_->SetAction(value); }
  int delayAnimation() const { return control_->DelayAnimation(); }
  void setDelayAnimation(int value) { control_->SetDelayAnimation(value); }
  int mousePointer() const { return control_->MousePointer(); }
  void setMousePointer(int value);
  int offsetX() const { return control_->OffsetX(); }
  void setOffsetX(int value) { control_->SetOffsetX(value); }
  int offsetY() const { return control_->OffsetY(); }
  void setOffsetY(int value) { control_->SetOffsetY(value); }
  uint solidBkgColor() const { return control_->SolidBkgColor(); }
  void setSolidBkgColor(uint value) { control_->SetSolidBkgColor(value); }
  bool solidBkgColorUsed() const { return control_->SolidBkgColorUsed(); }
  void setSolidBkgColorUsed(bool value) { control_->SetSolidBkgColorUsed(value); }
  int steppedDelay() const { return control_->SteppedDelay(); }
  void setSteppedDelay(int value) { control_->SetSteppedDelay(value); }
  bool designMode() const { return !host_->UserMode(); }
  void setDesignMode(bool design) { host_->setUserMode(!design); }

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

 protected:
  void paintEvent(QPaintEvent* event) override;
  void resizeEvent(QResizeEvent* event) override;
  void showEvent(QShowEvent* event) override;
  void hideEvent(QHideEvent* event) override;
  void mousePressEvent(QMouseEvent* event) override;
  void mouseReleaseEvent(QMouseEvent* event) override;
  void mouseMoveEvent(QMouseEvent* event) override;

 private:
  bool hit(const QPointF& position);

  std::unique_ptr<WidgetHost> host_;
  bool leftPressed_ = false;
  std::unique_ptr<velmora::ucAniGIF> control_;  // last: built on the host
};

}  // namespace velmora::qt
