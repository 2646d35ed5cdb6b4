#pragma once
// Form1: the radio's only window. A frameless, fixed 290 x 480 skin window cut to a rounded
// rectangle (at any device pixel ratio, on X11 and Wayland alike), with the station-list page
// (WebBrowser1, Qt WebEngine) below the player (MediaPlayer1, the widget showing the window's
// PlayerSession on libmpv), two invisible hot spots over the skin's painted minimise and close
// buttons (Image2 index 0 and 1), a credit line (Label1) and two animated decorations.
//
// Station hand-off: the page's station links open in a new window (target="_blank"). Form1
// refuses every new-window request (nothing opens) and gives the player the address the request
// carries; only a request without one falls back to the last status text (the last hovered link).
// Either way the player only receives an absolute address with a stream scheme (IsStationAddress),
// so a keyboard-activated link plays its own target and page text never reaches the player.
//
// Dragging the skin moves the window: the window manager's move when it offers one, otherwise
// the window follows the pointer itself (bare X servers have no window manager).
// The close hot spot ends the process at once with status 0; nothing else runs, whatever plays.

#include <QList>
#include <QRegion>
#include <QString>
#include <QUrl>
#include <QWidget>
#include <array>
#include <functional>

class QLabel;
class QWebEngineNewWindowRequest;
class QWebEngineView;

namespace velmora::app {

class MediaPlayer;
class PlayerSession;

class Form1 : public QWidget {
  Q_OBJECT

 public:
  static constexpr int kWidth = 290;
  static constexpr int kHeight = 480;
  static constexpr int kCornerEllipse = 40;
  static inline const char* const kCaption = "Velmora radio 1.0";
  static inline const char* const kCredit = "Velmora radio \u00b7 hello@velmora.example";
  // Child geometry in pixels (left, top, width, height), the stored design values.
  static constexpr QRect kMediaPlayer1Rect{8, 88, 273, 64};
  static constexpr QRect kWebBrowser1Rect{8, 152, 273, 305};
  static constexpr QRect kLabel1Rect{88, 460, 192, 12};
  static constexpr std::array<QRect, 2> kImage2Rects{QRect{245, 8, 17, 12}, QRect{267, 8, 17, 12}};
  static constexpr QRect kUcAniGIF2Rect{16, 8, 36, 30};
  static constexpr QRect kUcAniGIF1Rect{16, 40, 140, 24};

  // `stationHost` is HOST[:PORT] of the station-list server; empty for the list built into the
  // binary. Creates every child, runs the load step (context menu off, navigate to the page, cut
  // the region); the caller shows the window.
  explicit Form1(const QString& stationHost, QWidget* parent = nullptr);
  ~Form1() override;

  // Cuts `window` to CreateRoundRectRgn(0, 0, width, height, 40, 40): on X11 its shape (at a
  // device pixel ratio of 1 the widget's mask), elsewhere its input region over a translucent
  // window whose skin has antialiased corners (see window_shape.h). Cut again when the window
  // moves to a screen of another device pixel ratio.
  void DoTransparency(QWidget* window);

  // The region CreateRoundRectRgn(0, 0, width, height, ellipseW, ellipseH) covers: the
  // rectangle [0, width) x [0, height) minus the corners outside ellipses of the given size. A
  // pixel belongs to the region when its centre lies inside the corner ellipse. Empty for a
  // non-positive width or height; ellipse sizes are clamped to the rectangle.
  static QRegion RoundRectRegion(int width, int height, int ellipseWidth, int ellipseHeight);
  // True for an absolute URL the player may be handed: http, https, mms, mmsh, rtsp, rtmp.
  static bool IsStationAddress(const QString& text);

  // The children, under their design names, for tests and the host layer.
  QWidget* Image1() const { return image1_; }
  QWidget* Image2(int index) const;
  QLabel* Label1() const { return label1_; }
  QWebEngineView* WebBrowser1() const { return webBrowser1_; }
  MediaPlayer* MediaPlayer1() const { return mediaPlayer1_; }
  // The player itself, which MediaPlayer1 shows.
  PlayerSession* Session() const { return session_; }
  // The decorations (the Qt host layer's AniGifWidget); null when the stored form lacks one.
  QWidget* ucAniGIF1() const { return ucAniGIF1_; }
  QWidget* ucAniGIF2() const { return ucAniGIF2_; }

  QUrl StationListUrl() const { return stationListUrl_; }
  QString LastStatusText() const { return lastStatusText_; }

  // What the close hot spot does; ::_exit(0) unless a test replaces it.
  void SetExitAction(std::function<void()> action) { exitAction_ = std::move(action); }
  // Ends the program as the close hot spot does.
  void Quit() { exitAction_(); }
  // Brings the window back: shown, no longer minimised, raised and, where the platform lets an
  // application do so, active.
  void Raise();

  // Event handlers under their design names; public so tests can drive them directly too.
  void WebBrowser1_StatusTextChange(const QString& text);
  void WebBrowser1_NewWindow2(QWebEngineNewWindowRequest& request);
  void Image2_Click(int index);

 signals:
  // A new-window request was refused; `address` went to the player (empty when none did).
  void stationRequested(const QString& address);

 private:
  void Form_Load();
  void CreateDecorations();

  QString stationHost_;
  QUrl stationListUrl_;
  QString lastStatusText_;
  std::function<void()> exitAction_;

  QWidget* image1_ = nullptr;
  std::array<QWidget*, 2> image2_{};
  QLabel* label1_ = nullptr;
  QWebEngineView* webBrowser1_ = nullptr;
  PlayerSession* session_ = nullptr;
  MediaPlayer* mediaPlayer1_ = nullptr;
  QWidget* ucAniGIF1_ = nullptr;
  QWidget* ucAniGIF2_ = nullptr;
};

}  // namespace velmora::app
