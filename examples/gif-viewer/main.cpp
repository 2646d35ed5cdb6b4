// gif-viewer: open a GIF, play, pause, step, choose how it is stretched and how often it loops.
//
//   gif-viewer [FILE]
//   gif-viewer --self-test FILE [FRAMES]
//
// --self-test loads FILE into the window, plays it on Qt's event loop and exits 0 once the
// animation timer has moved to FRAMES frames (default: one more than the GIF has, so the loop
// wraps), printing what it saw; 1 when the file does not load or the frames do not come within
// a generous real-time limit. It runs headless with QT_QPA_PLATFORM=offscreen.

#include <QApplication>
#include <QStringList>
#include <QTextStream>
#include <QTimer>

#include "viewer.h"

namespace {

// Only a guard against a GIF that never animates: the frames come from the GIF's own delays.
constexpr int kSelfTestLimitMs = 20000;

int RunSelfTest(Viewer& viewer, const QString& path, int wanted) {
  QTextStream out(stdout);
  velmora::qt::AniGifWidget& gif = viewer.gif();
  if (!viewer.open(path)) {
    out << "gif-viewer: " << path << ": does not load\n";
    return 1;
  }
  if (wanted <= 0) wanted = gif.frameCount() + 1;
  int seen = 0;
  QObject::connect(&gif, &velmora::qt::AniGifWidget::frameChanged, &gif,
                   [&](int frame, bool viaTimer) {
                     if (!viaTimer) return;
                     out << "frame " << frame << "\n";
                     if (++seen == wanted) QApplication::exit(0);
                   });
  QObject::connect(&gif, &velmora::qt::AniGifWidget::loopsEnded, &gif,
                   [] { QApplication::exit(1); });
  QTimer::singleShot(kSelfTestLimitMs, [] { QApplication::exit(1); });
  viewer.show();
  gif.setAction(velmora::qt::AniGifWidget::Play);
  const int status = QApplication::exec();
  out << "gif-viewer: " << path << ": " << gif.frameCount() << " frames, " << seen
      << " frame changes by the timer\n";
  return status;
}

}  // namespace

int main(int argc, char* argv[]) {
  QApplication app(argc, argv);
  const QStringList args = QApplication::arguments().mid(1);
  Viewer viewer;
  if (args.value(0) == QLatin1String("--self-test") && args.size() >= 2) {
    return RunSelfTest(viewer, args[1], args.value(2).toInt());
  }
  if (!args.isEmpty()) viewer.open(args[0]);
  viewer.show();
  return QApplication::exec();
}
