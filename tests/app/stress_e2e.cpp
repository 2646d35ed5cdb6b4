// The radio under stress, end to end on real servers: the station-list server missing at start
// and going away mid-session, a stream whose source stalls, hundreds of station clicks in a
// burst, a page that opens windows by script, and then the real velmora-radio binary put
// through the same and closed from its hot spot. Every server listens on 127.0.0.1 only; every
// process is stopped by PID when its owner goes, also when a check fails half way.

#include <signal.h>

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTimer>
#include <QWebEnginePage>
#include <QWebEngineSettings>
#include <QWebEngineView>
#include <QtTest>
#include <functional>
#include <memory>

#include "app/form1.h"
#include "app/media_player.h"
#include "app/player_session.h"
#include "app/startup.h"
#include "e2e_support.h"

using velmora::app::Form1;
using velmora::app::PlayerSession;
using namespace velmora::e2e;

namespace {

constexpr int kPageTimeoutMs = 45000;  // WebEngine's first start under Xvfb is slow
constexpr int kPlayTimeoutMs = 20000;
constexpr int kClicks = 200;
const QString kMount = QStringLiteral("/stress.ogg");

// Station rows are 30 pixels high so the child-process test can click them blind.
constexpr int kRowHeight = 30;

QString StationPage(const QStringList& hrefs) {
  QString links;
  for (int i = 0; i < hrefs.size(); ++i) {
    links += QStringLiteral(
                 "<a id=\"s%1\" class=\"station\" target=\"_blank\" href=\"%2\">Station "
                 "%1</a>\n")
                 .arg(i)
                 .arg(hrefs[i]);
  }
  return QStringLiteral(R"(<!DOCTYPE html><html><head><meta charset="utf-8"><style>
body { margin: 0; font: 13px sans-serif; background: #0c1a2e; }
a { display: block; height: %1px; line-height: %1px; padding-left: 10px; color: #cfe0f5; }
</style></head><body>
%2<a id="rapid" target="_blank" href="about:blank">Rapid</a>
</body></html>)")
      .arg(kRowHeight)
      .arg(links);
}

// Opens windows by itself: a timer every 25 ms without any user gesture, and two buttons whose
// clicks (real gestures) open one address each, the bad one a different refused kind each time.
QString PopupPage(const QString& good, const QString& timerTarget, const QStringList& bad) {
  QString list;
  for (const QString& address : bad) list += QStringLiteral("'%1',").arg(address);
  return QStringLiteral(R"html(<!DOCTYPE html><html><head><meta charset="utf-8"><style>
body { margin: 0; background: #0c1a2e; }
button { display: block; width: 200px; height: 40px; }
</style></head><body>
<button id="good" onclick="window.open('%1', '_blank')">good</button>
<button id="bad" onclick="window.open(bad[n++ % bad.length], '_blank')">bad</button>
<script>
var bad = [%3], n = 0, ticks = 0;
var timer = setInterval(function() {
  ++ticks;
  window.open('%2?tick=' + ticks, '_blank');
  window.open('about:blank', '_blank');
  window.open('javascript:void(0)', '_blank');
}, 25);
</script></body></html>)html")
      .arg(good, timerTarget, list);
}

QVariant RunJs(QWebEngineView* view, const QString& script) {
  QVariant result;
  bool done = false;
  view->page()->runJavaScript(script, [&](const QVariant& value) {
    result = value;
    done = true;
  });
  WaitFor([&] { return done; }, 10000);
  return result;
}

QPoint ElementCentre(QWebEngineView* view, const QString& id) {
  const QVariantList box =
      RunJs(view, QStringLiteral("(function(){var e=document.getElementById('%1');if(!e)return [];"
                                 "var r=e.getBoundingClientRect();return [r.left+r.width/2,"
                                 "r.top+r.height/2];})()")
                      .arg(id))
          .toList();
  if (box.size() != 2) return QPoint(-1, -1);
  return QPoint(qRound(box[0].toDouble()), qRound(box[1].toDouble()));
}

bool WriteFile(const QString& path, const QString& text) {
  QFile file(path);
  return file.open(QIODevice::WriteOnly) && file.write(text.toUtf8()) >= 0;
}

QString Xdotool(const QStringList& arguments) {
  return RunTool(QStringLiteral("xdotool"), arguments, 20000).value_or(QStringLiteral("<failed>"));
}

// Resumes a process paused with SIGSTOP when it goes, so a failed check leaves nothing frozen.
class Paused {
 public:
  explicit Paused(qint64 pid) : pid_(pid) {
    if (pid_ > 0) ::kill(static_cast<pid_t>(pid_), SIGSTOP);
  }
  ~Paused() { Resume(); }
  Paused(const Paused&) = delete;
  Paused& operator=(const Paused&) = delete;
  void Resume() {
    if (pid_ > 0) ::kill(static_cast<pid_t>(pid_), SIGCONT);
    pid_ = -1;
  }

 private:
  qint64 pid_;
};

// Counts the longest stretch the GUI thread went without running its event loop.
class StallMeter {
 public:
  StallMeter() {
    clock_.start();
    last_ = 0;
    QObject::connect(&timer_, &QTimer::timeout, [this] {
      const qint64 now = clock_.elapsed();
      longest_ = std::max(longest_, now - last_);
      last_ = now;
    });
    timer_.start(10);
  }
  qint64 LongestMs() const { return longest_; }

 private:
  QTimer timer_;
  QElapsedTimer clock_;
  qint64 last_ = 0;
  qint64 longest_ = 0;
};

}  // namespace

class StressEndToEnd : public QObject {
  Q_OBJECT

 private:
  QTemporaryDir site_;
  quint16 stationPort_ = 0;  // fixed, so the server can go and come back where the app looks
  std::unique_ptr<StationServer> stations_;
  std::unique_ptr<IcecastServer> icecast_;
  std::unique_ptr<ToneSource> tone_;
  std::unique_ptr<Form1> form_;
  QString toneUrl_, deadUrl_, playlistUrl_;
  QStringList hrefs_;  // the station page's rows, top to bottom

  QString StationHost() const { return QStringLiteral("127.0.0.1:%1").arg(stationPort_); }
  QWidget* Proxy() const { return form_->WebBrowser1()->focusProxy(); }
  PlayerSession* Player() const { return form_->Session(); }

  bool StartStations() {
    stations_ = std::make_unique<StationServer>(site_.path(), stationPort_);
    return stations_->Ok() && stations_->Port() == stationPort_;
  }

  // A fresh window on the station host, shown; its page may or may not load.
  void OpenForm() {
    form_ = std::make_unique<Form1>(StationHost());
    form_->SetExitAction([] { QFAIL("the close hot spot must not end the test process"); });
    form_->move(60, 60);
    form_->show();
  }

  bool PageHas(const QString& id) {
    return WaitFor(
        [&] {
          return Proxy() != nullptr &&
                 RunJs(form_->WebBrowser1(), QStringLiteral("!!document.getElementById('%1') && "
                                                            "document.readyState == 'complete'")
                                                 .arg(id))
                     .toBool();
        },
        kPageTimeoutMs);
  }

  QString PageText() {
    return RunJs(form_->WebBrowser1(),
                 QStringLiteral("document.body ? document.body.innerText : ''"))
        .toString();
  }

  bool WaitPlaying() {
    if (!WaitFor(
            [&] {
              return Player()->PlayState() == PlayerSession::State::Playing &&
                     !Player()->IsBuffering() && Player()->Position() > 0.3;
            },
            kPlayTimeoutMs)) {
      return false;
    }
    const double start = Player()->Position();
    return WaitFor([&] { return Player()->Position() >= start + 1.0; }, kPlayTimeoutMs);
  }

  // Clicks the element with a real (synthetic) mouse click, a user gesture for Chromium, until
  // `done` holds. Chromium may drop input while it sets a page up, so a click that changed
  // nothing is repeated, one pixel apart.
  bool ClickUntil(const QString& id, const std::function<bool()>& done) {
    const QPoint centre = ElementCentre(form_->WebBrowser1(), id);
    if (centre.x() < 0) return false;
    for (int attempt = 0; attempt < 8; ++attempt) {
      const QPoint at = centre + QPoint(attempt % 2, 0);
      QTest::mouseMove(Proxy(), at);
      QTest::mouseClick(Proxy(), Qt::LeftButton, {}, at);
      if (WaitFor(done, 1500)) return true;
    }
    return false;
  }
  bool ClickStation(int row) {
    return ClickUntil(QStringLiteral("s%1").arg(row),
                      [&] { return Player()->URL() == hrefs_[row]; });
  }

  static int TopLevelCount() {
    return static_cast<int>(QGuiApplication::topLevelWindows().size() +
                            QApplication::topLevelWidgets().size());
  }

 private slots:
  void initTestCase() {
    QVERIFY(site_.isValid());
    QVERIFY(QDir(site_.path()).mkpath(QStringLiteral("radio")));
    // No burst: a listener holds only what arrived live, so a stalled source shows at once.
    icecast_ = std::make_unique<IcecastServer>(0);
    QVERIFY2(icecast_->Ok(), qPrintable(icecast_->Log()));
    tone_ = std::make_unique<ToneSource>(*icecast_, kMount);
    QVERIFY2(tone_->Start(), qPrintable(icecast_->Log()));
    toneUrl_ = icecast_->StreamUrl(kMount);
    deadUrl_ = QStringLiteral("http://127.0.0.1:%1/dead.mp3").arg(FreePort());
    stationPort_ = FreePort();
    QVERIFY(stationPort_ != 0);
    playlistUrl_ = QStringLiteral("http://%1/radio/tone.pls").arg(StationHost());
    hrefs_ = {toneUrl_, deadUrl_, playlistUrl_, toneUrl_ + QStringLiteral("?row=3")};
    QVERIFY(WriteFile(site_.path() + QStringLiteral("/radio/tree.asp"), StationPage(hrefs_)));
    QVERIFY(WriteFile(
        site_.path() + QStringLiteral("/radio/tone.pls"),
        QStringLiteral("[playlist]\nNumberOfEntries=1\nFile1=%1\nVersion=2\n").arg(toneUrl_)));
    QVERIFY(WriteFile(
        site_.path() + QStringLiteral("/radio/popups.asp"),
        PopupPage(toneUrl_ + QStringLiteral("?via=gesture"), toneUrl_,
                  {QStringLiteral("javascript:void(0)"), QStringLiteral("file:///etc/passwd"),
                   QStringLiteral("data:text/html,hi"), QStringLiteral("vbscript:msgbox(1)"),
                   QStringLiteral("http://")})));
  }

  // Every test but the first two starts with the station server up.
  void init() {
    const QString name = QString::fromLatin1(QTest::currentTestFunction());
    if (!name.startsWith(QLatin1String("stationList")) && !stations_) QVERIFY(StartStations());
  }

  void cleanup() { form_.reset(); }

  void cleanupTestCase() {
    form_.reset();
    tone_.reset();
    icecast_.reset();
    stations_.reset();
  }

  void stationListMissingAtStartThenReloaded() {
    stations_.reset();
    QVERIFY(!IsListening(stationPort_));
    OpenForm();
    QSignalSpy loads(form_->WebBrowser1(), &QWebEngineView::loadFinished);
    QVERIFY(QTest::qWaitForWindowExposed(form_.get()));
    QVERIFY(loads.wait(kPageTimeoutMs));
    QCOMPARE(loads.first().first().toBool(), false);
    // The browser shows its own error page; the window and the player carry on.
    QVERIFY(WaitFor([&] { return PageText().contains(QStringLiteral("ERR_CONNECTION_REFUSED")); },
                    10000));
    QVERIFY(form_->isVisible());
    QCOMPARE(Player()->PlayState(), PlayerSession::State::Idle);
    // The server comes up; the browser's Reload (its right-click menu) brings the list.
    QVERIFY(StartStations());
    form_->WebBrowser1()->pageAction(QWebEnginePage::Reload)->trigger();
    QVERIFY(PageHas(QStringLiteral("s0")));
    QCOMPARE(form_->WebBrowser1()->url(),
             QUrl(QStringLiteral("http://%1/radio/tree.asp").arg(StationHost())));
    QVERIFY(ClickStation(0));
    QVERIFY2(WaitPlaying(), qPrintable(form_->MediaPlayer1()->StatusText()));
  }

  void stationListGoneMidSession() {
    if (!stations_) QVERIFY(StartStations());
    OpenForm();
    QVERIFY(PageHas(QStringLiteral("s2")));
    // The playlist lives on the station server: it plays while the server is there.
    QVERIFY(ClickStation(2));
    QVERIFY2(WaitPlaying(), qPrintable(form_->MediaPlayer1()->StatusText()));
    stations_.reset();
    QVERIFY(!IsListening(stationPort_));
    // The page already shown still hands its stations over; the stream does not need the
    // station server, so it keeps playing.
    QVERIFY(ClickStation(3));
    QVERIFY2(WaitPlaying(), qPrintable(form_->MediaPlayer1()->StatusText()));
    // A station on the vanished server fails with an error in words; the app goes on.
    QVERIFY(ClickStation(2));
    QVERIFY(WaitFor([&] { return Player()->PlayState() == PlayerSession::State::Error; },
                    kPlayTimeoutMs));
    QVERIFY(!Player()->ErrorText().isEmpty());
    // Reloading now shows the browser's error page.
    QSignalSpy loads(form_->WebBrowser1(), &QWebEngineView::loadFinished);
    form_->WebBrowser1()->pageAction(QWebEnginePage::Reload)->trigger();
    QVERIFY(loads.wait(kPageTimeoutMs));
    QCOMPARE(loads.last().first().toBool(), false);
    QVERIFY(form_->isVisible());
    // Back again: reload, pick the tone.
    QVERIFY(StartStations());
    form_->WebBrowser1()->pageAction(QWebEnginePage::Reload)->trigger();
    QVERIFY(PageHas(QStringLiteral("s0")));
    QVERIFY(ClickStation(0));
    QVERIFY2(WaitPlaying(), qPrintable(form_->MediaPlayer1()->StatusText()));
  }

  void stalledStreamBuffersThenRecovers() {
    OpenForm();
    QVERIFY(PageHas(QStringLiteral("s0")));
    QVERIFY(ClickStation(0));
    QVERIFY2(WaitPlaying(), qPrintable(form_->MediaPlayer1()->StatusText()));
    {
      Paused stall(tone_->Pid());
      // The cache runs dry: the player says so and keeps its station (well before Icecast's
      // ten-second source timeout would drop the mount).
      QVERIFY2(WaitFor([&] { return Player()->IsBuffering(); }, 8000),
               qPrintable(form_->MediaPlayer1()->StatusText()));
      QVERIFY2(form_->MediaPlayer1()->StatusText().contains(QStringLiteral("Buffering")),
               qPrintable(form_->MediaPlayer1()->StatusText()));
      QCOMPARE(Player()->URL(), toneUrl_);
      QVERIFY(form_->isVisible());
      stall.Resume();
    }
    QVERIFY2(WaitPlaying(), qPrintable(form_->MediaPlayer1()->StatusText()));
    QCOMPARE(Player()->URL(), toneUrl_);
    QVERIFY(!form_->MediaPlayer1()->StatusText().contains(QStringLiteral("Buffering")));
  }

  void hundredsOfClicksEndOnTheLastStation() {
    OpenForm();
    QVERIFY(PageHas(QStringLiteral("rapid")));
    // Script clicks are no user gesture: let the page open windows so each reaches the window.
    form_->WebBrowser1()->settings()->setAttribute(QWebEngineSettings::JavascriptCanOpenWindows,
                                                   true);
    const int topLevelBefore = TopLevelCount();
    const auto pagesBefore = form_->findChildren<QWebEnginePage*>().size();
    QSignalSpy handedOff(form_.get(), &Form1::stationRequested);
    StallMeter meter;
    // kClicks clicks in batches of ten, each batch one script run, without waiting in between.
    // Every click has an address of its own; they cycle through the playlist, the tone and a
    // dead port, and the last one (199 % 3 == 1) is the tone.
    const QString bases = QStringLiteral("['%1','%2','%3']").arg(playlistUrl_, toneUrl_, deadUrl_);
    for (int batch = 0; batch < kClicks / 10; ++batch) {
      form_->WebBrowser1()->page()->runJavaScript(
          QStringLiteral(
              "(function(){var a=document.getElementById('rapid'),b=%1;"
              "for(var i=%2;i<%2+10;++i){a.href=b[i%b.length]+'?click='+i;a.click();}})()")
              .arg(bases)
              .arg(batch * 10));
    }
    const QString last = toneUrl_ + QStringLiteral("?click=%1").arg(kClicks - 1);
    QVERIFY2(WaitFor([&] { return handedOff.size() >= kClicks; }, 30000),
             qPrintable(QString::number(handedOff.size())));
    // In click order, each the address it carried.
    for (int i = 0; i < handedOff.size(); ++i) {
      const QString expected =
          QStringList{playlistUrl_, toneUrl_, deadUrl_}[i % 3] + QStringLiteral("?click=%1").arg(i);
      QCOMPARE(handedOff.at(i).first().toString(), expected);
    }
    QCOMPARE(handedOff.size(), kClicks);
    QCOMPARE(Player()->URL(), last);
    QVERIFY2(meter.LongestMs() < 3000, qPrintable(QString::number(meter.LongestMs())));
    QVERIFY2(WaitPlaying(), qPrintable(form_->MediaPlayer1()->StatusText()));
    QCOMPARE(Player()->URL(), last);
    QVERIFY(Player()->ErrorText().isEmpty());
    // Nothing left behind: no window, no page, one stream.
    QCOMPARE(TopLevelCount(), topLevelBefore);
    QCOMPARE(form_->findChildren<QWebEnginePage*>().size(), pagesBefore);
    QVERIFY2(WaitFor([&] { return icecast_->Listeners(kMount) == 1; }, 20000),
             qPrintable(QString::number(icecast_->Listeners(kMount))));
    // Still responsive: the page answers and the transport bar works.
    QCOMPARE(RunJs(form_->WebBrowser1(), QStringLiteral("6*7")).toInt(), 42);
    auto* stop = form_->MediaPlayer1()->findChild<QWidget*>(QStringLiteral("Stop"));
    QVERIFY(stop != nullptr);
    QTest::mouseClick(stop, Qt::LeftButton);
    QVERIFY(WaitFor([&] { return Player()->PlayState() == PlayerSession::State::Idle; }, 5000));
    QVERIFY(WaitFor([&] { return icecast_->Listeners(kMount) == 0; }, 15000));
  }

  void scriptOpenedWindowsNeverOpen() {
    OpenForm();
    const int topLevelBefore = TopLevelCount();
    QSignalSpy handedOff(form_.get(), &Form1::stationRequested);
    // The app's own setting: the page may open windows only while the user clicks.
    QVERIFY(!form_->WebBrowser1()->settings()->testAttribute(
        QWebEngineSettings::JavascriptCanOpenWindows));
    form_->WebBrowser1()->load(
        QUrl(QStringLiteral("http://%1/radio/popups.asp").arg(StationHost())));
    QVERIFY(PageHas(QStringLiteral("bad")));
    // The timer fires a few dozen times without any gesture: nothing gets through.
    QVERIFY(WaitFor(
        [&] { return RunJs(form_->WebBrowser1(), QStringLiteral("ticks")).toInt() >= 40; }, 10000));
    QCOMPARE(handedOff.size(), 0);
    QVERIFY(Player()->URL().isEmpty());
    // Gesture clicks on the refused kinds. A click also lets the page's timer open windows for
    // a few seconds (Chromium's user activation), so what reaches the player then may be the
    // timer's address, but never anything but an address.
    for (int i = 1; i <= 5; ++i) {
      QVERIFY(ClickUntil(QStringLiteral("bad"), [&] {
        return RunJs(form_->WebBrowser1(), QStringLiteral("n")).toInt() >= i;
      }));
    }
    const QString good = toneUrl_ + QStringLiteral("?via=gesture");
    QVERIFY(ClickUntil(QStringLiteral("good"), [&] { return Player()->URL() == good; }));
    QVERIFY(
        WaitFor([&] { return RunJs(form_->WebBrowser1(), QStringLiteral("ticks")).toInt() >= 120; },
                10000));
    RunJs(form_->WebBrowser1(), QStringLiteral("clearInterval(timer)"));
    const QRegularExpression allowed(
        QStringLiteral("^(%1|%2\\?tick=\\d+)$")
            .arg(QRegularExpression::escape(good), QRegularExpression::escape(toneUrl_)));
    for (const QList<QVariant>& call : handedOff) {
      const QString address = call.first().toString();
      QVERIFY2(address.isEmpty() || allowed.match(address).hasMatch(), qPrintable(address));
    }
    QVERIFY(handedOff.size() >= 1);
    QCOMPARE(Player()->URL(), handedOff.last().first().toString());
    QVERIFY2(WaitPlaying(), qPrintable(form_->MediaPlayer1()->StatusText()));
    QCOMPARE(TopLevelCount(), topLevelBefore);
    QVERIFY(form_->isVisible());
  }

  void realProgramSurvivesAllAndClosesCleanly() {
    form_.reset();
    QVERIFY(WaitFor([&] { return icecast_->Listeners(kMount) == 0; }, 15000));
    // The station server is missing when the program starts.
    stations_.reset();
    QVERIFY(!IsListening(stationPort_));
    ChildProcess app(QStringLiteral(VELMORA_RADIO_BIN),
                     {QStringLiteral("--station-host"), StationHost()});
    QVERIFY(app.Started());
    const QString window = Xdotool({QStringLiteral("search"), QStringLiteral("--sync"),
                                    QStringLiteral("--onlyvisible"), QStringLiteral("--pid"),
                                    QString::number(app.Pid()), QStringLiteral("--name"),
                                    QStringLiteral("^Velmora radio 1\\.0$")})
                               .section(QLatin1Char('\n'), 0, 0);
    QVERIFY2(QRegularExpression(QStringLiteral("^\\d+$")).match(window).hasMatch(),
             qPrintable(window));
    QVERIFY(app.Running());
    QVERIFY(StartStations());
    // Reload through the browser's right-click menu until the page is there: clicking a
    // station row then makes the program a listener. Clicks on the error page do nothing.
    const QPoint browser(8, 152);
    auto rowPoint = [&](int row) {
      return browser + QPoint(60, row * kRowHeight + kRowHeight / 2);
    };
    auto clickRow = [&](int row) {
      const QPoint at = rowPoint(row);
      return QStringList{
          QStringLiteral("mousemove"), QStringLiteral("--window"), window,
          QString::number(at.x()),     QString::number(at.y()),    QStringLiteral("click"),
          QStringLiteral("1")};
    };
    QVERIFY(WaitFor(
        [&] {
          if (!app.Running()) return false;
          const QPoint spot = browser + QPoint(140, 250);
          Xdotool({QStringLiteral("mousemove"), QStringLiteral("--window"), window,
                   QString::number(spot.x()), QString::number(spot.y()), QStringLiteral("click"),
                   QStringLiteral("3")});
          // Qt's menu: Back and Forward are disabled on a first page, Reload is the first
          // enabled entry.
          Xdotool({QStringLiteral("key"), QStringLiteral("--delay"), QStringLiteral("100"),
                   QStringLiteral("Down"), QStringLiteral("Return")});
          Xdotool(clickRow(0));
          return WaitFor([&] { return icecast_->Listeners(kMount) >= 1; }, 3000);
        },
        kPageTimeoutMs));
    // kClicks real clicks over the rows in one go, the last on the tone.
    QStringList burst;
    // Rows cycle tone, dead, playlist, tone again; click kClicks - 1 lands on row 3, a tone.
    for (int i = 0; i < kClicks; ++i) burst += clickRow(i % 4);
    Xdotool(burst);
    QVERIFY(app.Running());
    // X may merge clicks that come this fast, so which one came last is not known here: one
    // more click on the tone, repeated until Icecast counts exactly one listener, shows that
    // the program still answers and that no connection of the burst was left open.
    QVERIFY(WaitFor(
        [&] {
          if (!app.Running()) return false;
          Xdotool(clickRow(3));
          return WaitFor([&] { return icecast_->Listeners(kMount) == 1; }, 3000);
        },
        30000));
    // The station server goes away and the stream's source stalls; the close hot spot ends
    // the program at once all the same, while its player waits for data.
    stations_.reset();
    QVERIFY(!IsListening(stationPort_));
    Paused stall(tone_->Pid());
    QVERIFY(app.Running());
    QElapsedTimer clock;
    clock.start();
    Xdotool({QStringLiteral("mousemove"), QStringLiteral("--window"), window, QStringLiteral("275"),
             QStringLiteral("14"), QStringLiteral("click"), QStringLiteral("1")});
    QVERIFY2(app.WaitForExit(3000), "still running 3 s after the close click");
    QVERIFY(clock.elapsed() < 4000);
    QVERIFY(app.ExitedNormally());
    QCOMPARE(app.ExitCode(), 0);
  }
};

int main(int argc, char* argv[]) {
  velmora::app::PrepareWebEngineEnvironment();
  QCoreApplication::setAttribute(Qt::AA_ShareOpenGLContexts);
  QApplication app(argc, argv);
  StressEndToEnd test;
  return QTest::qExec(&test, argc, argv);
}

#include "stress_e2e.moc"
