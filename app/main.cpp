// Velmora radio: the skin window with the station list and the player.
#include <QApplication>
#include <QMetaObject>
#include <QTextStream>
#include <QWebEnginePage>
#include <QWebEngineView>
#include <cstdio>
#include <memory>

#include "app/form1.h"
#include "app/startup.h"

namespace {

// --report-startup: one line on stdout when the station page first finishes loading, then the
// connection goes. A failed load is not "shown"; a later successful one (a reload) still counts.
void ReportStartupWhenListShown(velmora::app::Form1& form) {
  auto* view = form.findChild<QWebEngineView*>(QStringLiteral("WebBrowser1"));
  if (view == nullptr) return;
  auto connection = std::make_shared<QMetaObject::Connection>();
  *connection =
      QObject::connect(view->page(), &QWebEnginePage::loadFinished, view, [connection](bool ok) {
        if (!ok) return;
        const QString line =
            velmora::app::StartupReportLine(velmora::app::MillisecondsSinceProcessStart());
        std::fputs(line.toUtf8().append('\n').constData(), stdout);
        std::fflush(stdout);
        QObject::disconnect(*connection);
      });
}

}  // namespace

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
  // Connected before the window shows; the page's load starts in the constructor but finishes
  // only in the event loop.
  if (options.reportStartup) ReportStartupWhenListShown(form);
  form.show();
  return QApplication::exec();
}
