// Velmora radio: the skin window with the station list and the player, one instance per user,
// on the desktop's media controls, remembering its settings.
#include <QApplication>
#include <QMetaObject>
#include <QTextStream>
#include <QWebEnginePage>
#include <QWebEngineView>
#include <cstdio>
#include <memory>

#include "app/comeback_watch.h"
#include "app/form1.h"
#include "app/mpris.h"
#include "app/player_session.h"
#include "app/settings.h"
#include "app/single_instance.h"
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
  using namespace velmora::app;
  // Environment first: Chromium reads it when WebEngine starts inside QApplication.
  PrepareWebEngineEnvironment();
  QCoreApplication::setAttribute(Qt::AA_ShareOpenGLContexts);
  QApplication app(argc, argv);
  QApplication::setApplicationName(QStringLiteral("Velmora radio"));
  QApplication::setApplicationVersion(QStringLiteral("1.0"));
  QApplication::setDesktopFileName(QString::fromLatin1(kApplicationId));

  const CommandLine options = ParseCommandLine(QApplication::arguments());
  if (!options.error.isEmpty()) {
    QTextStream(stderr) << "velmora-radio: " << options.error << "\n";
    return 2;
  }
  // Before anything slow starts: a second start only hands its station over.
  SingleInstance instance;
  if (instance.Start(options.station) == SingleInstance::Role::HandedOver) return 0;

  // The session sets LC_NUMERIC "C" itself, after QApplication has set the locale.
  Form1 form(options.stationHost);
  PlayerSession& session = *form.Session();
  RadioSettings settings;
  settings.Attach(session, options.resume);
  if (!options.station.isEmpty()) session.SetURL(options.station);

  QObject::connect(&instance, &SingleInstance::activated, &form, [&](const QString& station) {
    form.Raise();
    const QString address = StationArgument(station);
    if (!address.isEmpty()) session.SetURL(address);
  });
  ComebackWatch comeback;
  QObject::connect(&comeback, &ComebackWatch::cameBack, &session, &PlayerSession::RetryNow);
  MprisService mpris(form, session);
  mpris.Register();

  // Connected before the window shows; the page's load starts in the constructor but finishes
  // only in the event loop.
  if (options.reportStartup) ReportStartupWhenListShown(form);
  form.show();
  return QApplication::exec();
}
