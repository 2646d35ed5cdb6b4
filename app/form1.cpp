#include "app/form1.h"

#include <unistd.h>

#include <QAbstractButton>
#include <QIcon>
#include <QLabel>
#include <QMouseEvent>
#include <QPainter>
#include <QWebEngineNewWindowRequest>
#include <QWebEnginePage>
#include <QWebEngineSettings>
#include <QWebEngineView>
#include <QWindow>
#include <algorithm>
#include <cmath>

#include "app/decorations.h"
#include "app/media_player.h"
#include "app/player_session.h"
#include "app/startup.h"
#include "app/window_shape.h"

namespace velmora::app {
namespace {

// Image1: the skin. Paints the skin picture, cut to the window's rounded shape at the device
// pixel ratio, and moves the window when dragged.
class SkinImage final : public QWidget {
 public:
  // What the skin shows outside the window's shape, and beneath its antialiased edge on an
  // opaque window.
  static constexpr QRgb kKey = qRgb(0xff, 0x00, 0xff);
  static constexpr QRgb kBase = qRgb(0x0a, 0x18, 0x2c);

  SkinImage(QWidget* parent, bool translucent) : QWidget(parent), translucent_(translucent) {
    setObjectName(QStringLiteral("Image1"));
    // On a translucent window the corners must be cleared before each paint.
    setAttribute(Qt::WA_OpaquePaintEvent, !translucent_);
  }

 protected:
  void paintEvent(QPaintEvent*) override {
    const qreal ratio = devicePixelRatioF();
    if (shaped_.isNull() || shaped_.devicePixelRatio() != ratio) {
      shaped_ = RoundedSkin(SkinPicture(ratio), QColor(kKey), size(), ratio, Form1::kCornerEllipse);
    }
    QPainter painter(this);
    if (!translucent_) painter.fillRect(rect(), QColor(kBase));
    painter.drawImage(rect(), shaped_);
  }

  void mousePressEvent(QMouseEvent* event) override {
    if (event->button() != Qt::LeftButton) return;
    pressGlobal_ = event->globalPosition().toPoint();
    windowAtPress_ = window()->pos();
    dragging_ = true;
    systemMoveTried_ = false;
  }

  // The classic skin window starts the system's move loop on any mouse move over the skin; with
  // no button held that loop ends at once, so only a held left button really drags.
  void mouseMoveEvent(QMouseEvent* event) override {
    if (!dragging_ || !(event->buttons() & Qt::LeftButton)) return;
    if (!systemMoveTried_) {
      systemMoveTried_ = true;
      QWindow* handle = window()->windowHandle();
      if (handle != nullptr && handle->startSystemMove()) {
        dragging_ = false;  // the window manager moves the window from here on
        return;
      }
    }
    window()->move(windowAtPress_ + (event->globalPosition().toPoint() - pressGlobal_));
  }

  void mouseReleaseEvent(QMouseEvent* event) override {
    if (event->button() == Qt::LeftButton) dragging_ = false;
  }

 private:
  QImage shaped_;  // the skin as painted, for the current device pixel ratio
  bool translucent_;
  QPoint pressGlobal_;
  QPoint windowAtPress_;
  bool dragging_ = false;
  bool systemMoveTried_ = false;
};

// Image2 index 0 and 1: invisible hot spots over the painted buttons, buttons to the keyboard-less
// user and to assistive technology alike. A click is a left press and release both inside.
class HotSpot final : public QAbstractButton {
 public:
  HotSpot(QWidget* parent, int index, const QString& name) : QAbstractButton(parent) {
    setObjectName(QStringLiteral("Image2_%1").arg(index));
    setAccessibleName(name);
    setToolTip(name);
    setAttribute(Qt::WA_NoSystemBackground);
    setCursor(Qt::PointingHandCursor);
    setFocusPolicy(Qt::NoFocus);
  }

 protected:
  void paintEvent(QPaintEvent*) override {}  // the skin shows the button
};

}  // namespace

Form1::Form1(const QString& stationHost, QWidget* parent)
    : QWidget(parent, Qt::Window | Qt::FramelessWindowHint),
      stationHost_(stationHost),
      stationListUrl_(velmora::app::StationListUrl(stationHost)),
      exitAction_([] { ::_exit(0); }) {
  setObjectName(QStringLiteral("Form1"));
  setWindowTitle(QString::fromUtf8(kCaption));
  setWindowIcon(QIcon(QStringLiteral(":/assets/icon.gif")));
  setFixedSize(kWidth, kHeight);

  const bool translucent = ShapesByTranslucency();
  // Before the native window exists: its format follows.
  setAttribute(Qt::WA_TranslucentBackground, translucent);
  image1_ = new SkinImage(this, translucent);
  image1_->setGeometry(0, 0, kWidth, kHeight);

  session_ = new PlayerSession(this);
  mediaPlayer1_ = new MediaPlayer(session_, this);
  mediaPlayer1_->setGeometry(kMediaPlayer1Rect);

  webBrowser1_ = new QWebEngineView(this);
  webBrowser1_->setObjectName(QStringLiteral("WebBrowser1"));
  webBrowser1_->setGeometry(kWebBrowser1Rect);
  QWebEnginePage* page = webBrowser1_->page();
  // WebEngine lets scripts open windows without a click by default. Every new-window request
  // becomes the player's station, so a page timer calling window.open would switch stations on
  // its own, as often as it likes (a reconnect storm against the stream servers). With this off
  // Chromium's pop-up blocker only lets through windows opened while the user clicks or presses
  // a key, which is what every station link does.
  page->settings()->setAttribute(QWebEngineSettings::JavascriptCanOpenWindows, false);
  connect(page, &QWebEnginePage::linkHovered, this, &Form1::WebBrowser1_StatusTextChange);
  connect(page, &QWebEnginePage::newWindowRequested, this, &Form1::WebBrowser1_NewWindow2);

  const QString hotSpotNames[] = {QStringLiteral("Minimise"), QStringLiteral("Close")};
  for (int index = 0; index < 2; ++index) {
    auto* spot = new HotSpot(this, index, hotSpotNames[index]);
    connect(spot, &QAbstractButton::clicked, this, [this, index] { Image2_Click(index); });
    spot->setGeometry(kImage2Rects[index]);
    image2_[index] = spot;
  }

  label1_ = new QLabel(QString::fromUtf8(kCredit), this);
  label1_->setObjectName(QStringLiteral("Label1"));
  label1_->setGeometry(kLabel1Rect);
  QFont credit = label1_->font();
  credit.setPixelSize(9);
  label1_->setFont(credit);
  label1_->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
  label1_->setStyleSheet(QStringLiteral("color: #8fb3da; background: transparent;"));

  CreateDecorations();
  image1_->lower();  // the skin is the backmost layer
  Form_Load();
}

Form1::~Form1() {
  // The view goes before the session it shows (children go in the order they came).
  delete mediaPlayer1_;
}

QWidget* Form1::Image2(int index) const {
  if (index < 0 || index >= static_cast<int>(image2_.size())) return nullptr;
  return image2_[index];
}

// The decorations are the Qt host layer's ucAniGIF widgets, restored from the stored form; the
// window only places them above the skin and names them.
void Form1::CreateDecorations() {
  const Decorations decorations = velmora::app::CreateDecorations(this);
  ucAniGIF1_ = decorations.ucAniGIF1;
  ucAniGIF2_ = decorations.ucAniGIF2;
  if (ucAniGIF1_ != nullptr) ucAniGIF1_->setObjectName(QStringLiteral("ucAniGIF1"));
  if (ucAniGIF2_ != nullptr) ucAniGIF2_->setObjectName(QStringLiteral("ucAniGIF2"));
}

void Form1::Form_Load() {
  mediaPlayer1_->setEnableContextMenu(false);
  webBrowser1_->load(stationListUrl_);
  DoTransparency(this);
}

void Form1::DoTransparency(QWidget* window) {
  // Frameless, so the outer size is the client size. The window is never resized, so the shape
  // is cut once and again only when the window moves to a screen of another pixel ratio.
  ApplyWindowShape(window, kCornerEllipse);
  if (window == nullptr || window->windowHandle() == nullptr) return;
  connect(window->windowHandle(), &QWindow::screenChanged, window,
          [window] { ApplyWindowShape(window, kCornerEllipse); });
}

QRegion Form1::RoundRectRegion(int width, int height, int ellipseWidth, int ellipseHeight) {
  if (width <= 0 || height <= 0) return {};
  const double rx = std::clamp(ellipseWidth, 0, width) / 2.0;
  const double ry = std::clamp(ellipseHeight, 0, height) / 2.0;
  if (rx <= 0 || ry <= 0) return QRegion(0, 0, width, height);
  // One span per row; rows with the same inset merge into one rectangle.
  QRegion region;
  int bandTop = 0;
  int bandInset = -1;
  auto flush = [&](int bandBottom) {
    if (bandInset >= 0 && bandBottom > bandTop && width - 2 * bandInset > 0) {
      region += QRect(bandInset, bandTop, width - 2 * bandInset, bandBottom - bandTop);
    }
  };
  for (int y = 0; y < height; ++y) {
    const double centreY = y + 0.5;
    double dy = 0;
    if (centreY < ry) dy = ry - centreY;
    if (centreY > height - ry) dy = centreY - (height - ry);
    int inset = 0;
    if (dy > 0) {
      const double t = std::max(0.0, 1.0 - (dy / ry) * (dy / ry));
      const double dx = rx * std::sqrt(t);
      // Pixel x is inside when its centre x + 0.5 is at least rx - dx.
      inset = std::max(0, static_cast<int>(std::ceil(rx - dx - 0.5)));
    }
    if (inset != bandInset) {
      flush(y);
      bandTop = y;
      bandInset = inset;
    }
  }
  flush(height);
  return region;
}

bool Form1::IsStationAddress(const QString& text) {
  static const QStringList kSchemes = {QStringLiteral("http"), QStringLiteral("https"),
                                       QStringLiteral("mms"),  QStringLiteral("mmsh"),
                                       QStringLiteral("rtsp"), QStringLiteral("rtmp")};
  const QUrl url(text.trimmed(), QUrl::StrictMode);
  return url.isValid() && !url.host().isEmpty() && kSchemes.contains(url.scheme().toLower());
}

void Form1::WebBrowser1_StatusTextChange(const QString& text) {
  lastStatusText_ = text;
}

void Form1::WebBrowser1_NewWindow2(QWebEngineNewWindowRequest& request) {
  // Not calling request.openIn() refuses the window: the view's createWindow() gives no page.
  // The address the request carries is the activated link's own (mouse or keyboard); the last
  // hovered link is only a fallback for requests that carry none (script-opened blank windows).
  const QUrl requested = request.requestedUrl();
  QString address;
  if (requested.isValid() && !requested.isEmpty() && requested.scheme() != QLatin1String("about")) {
    address = requested.toString();
  } else {
    address = lastStatusText_;
  }
  if (!IsStationAddress(address)) {
    emit stationRequested(QString());
    return;
  }
  session_->SetURL(address.trimmed());
  emit stationRequested(address.trimmed());
}

void Form1::Image2_Click(int index) {
  if (index == 0) {
    showMinimized();
    return;
  }
  if (index == 1) Quit();
}

void Form1::Raise() {
  if (isMinimized()) showNormal();
  show();
  raise();
  activateWindow();
}

}  // namespace velmora::app
