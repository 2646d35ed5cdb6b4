// Velmora radio: the skin window with the station list and the player.
#include <QApplication>
#include <QTextStream>

#include "app/form1.h"
#include "app/startup.h"

int main(int argc, char* argv[]) {
  // Environment first: Chromium reads it when WebEngine starts inside QApplication.
  velmora::app::PrepareWebEngineEnvironment();
  QCoreApplication::setAttribute(Qt::AA_ShareOpenGLContexts);
  QApplication app(argc, argv);
  QApplication::setApplicationName(QStringLiteral("Velmora radio"));
  QApplication::setApplicationVersion(QStringLiteral("1.0"));
  QApplication::setDesktopFileName(QStringLiteral("velmora-radio"));

  const velmora::app::CommandLine options =
      velmora::app::ParseCommandLine(QApplication::arguments());
  if (!options.error.isEmpty()) {
    QTextStream(stderr) << "velmora-radio: " << options.error << "\n";
    return 2;
  }
  // The player sets LC_NUMERIC "C" itself, after QApplication has set the locale.
  velmora::app::Form1 form(options.stationHost);
  form.show();
  return QApplication::exec();
}
