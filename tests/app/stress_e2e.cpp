// The radio under stress, end to end on real servers: the station-list server missing at start
// and going away mid-session, a stream whose source stalls, hundreds of station clicks in a
// burst, a page that opens windows by script, and then the real velmora-radio binary put
// through the same and closed from its hot spot. Every server listens on 127.0.0.1 only; every
// process is stopped by PID when its owner goes, also when a check fails half way.

#include <signal.h>

#include <QElapsedTimer>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QTimer>
#include <QWebEnginePage>
#include <QWebEngineSettings>
#include <QWebEngineView>
#include <memory>

#include "app/form1.h"
#include "app/media_player.h"
#include "app/player_session.h"
#include "e2e_support.h"

using velmora::app::Form1;
using velmora::app::PlayerSession;
using namespace velmora::e2e;

namespace {

constexpr int kClicks = 200;
const QString kMount = QStringLiteral("/stress.ogg");

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
  std::unique_ptr<TestStations> site_;
  quint16 stationPort_ = 0;  // fixed, so the server can go and come back where the app looks
  std::unique_ptr<StationServer> stations_;
  std::unique_ptr<TestWindow> window_;
  QString toneUrl_, deadUrl_, playlistUrl_;
  QStringList hrefs_;  // the station page's rows, top to bottom

  QString StationHost() const { return QStringLiteral("127.0.0.1:%1").arg(stationPort_); }
  Form1* Form() const { return &window_->Form(); }
  PlayerSession* Session() const { return &window_->Session(); }
  QWebEngineView* View() const { return window_->View(); }
  QString Status() const { return window_->Player().StatusText(); }

  bool StartStations() {
    stations_ = std::make_unique<StationServer>(site_->Root(), stationPort_);
    return stations_->Ok() && stations_->Port() == stationPort_;
  }

  // A fresh window on the station host, shown; its page may or may not load.
  void OpenForm() { window_ = std::make_unique<TestWindow>(StationHost()); }

  QString PageText() {
    return RunJs(View(), QStringLiteral("document.body ? document.body.innerText : ''")).toString();
  }

  bool ClickStation(int row) {
    return window_->ClickUntil(QStringLiteral("s%1").arg(row),
                               [&] { return Session()->URL() == hrefs_[row]; });
  }

  static int TopLevelCount() {
    return static_cast<int>(QGuiApplication::topLevelWindows().size() +
                            QApplication::topLevelWidgets().size());
  }

 private slots:
  void initTestCase() {
    // No burst: a listener holds only what arrived live, so a stalled source shows at once.
    site_ = std::make_unique<TestStations>(kMount, 0);
    QVERIFY(site_->Ok());
    toneUrl_ = site_->ToneUrl();
    deadUrl_ = QStringLiteral("http://127.0.0.1:%1/dead.mp3").arg(FreePort());
    stationPort_ = FreePort();
    QVERIFY(stationPort_ != 0);
    playlistUrl_ = QStringLiteral("http://%1/radio/tone.pls").arg(StationHost());
    hrefs_ = {toneUrl_, deadUrl_, playlistUrl_, toneUrl_ + QStringLiteral("?row=3")};
    QList<PageLink> links;
    for (int row = 0; row < hrefs_.size(); ++row) {
      links.append({QStringLiteral("s%1").arg(row), hrefs_[row]});
    }
    links.append({QStringLiteral("rapid"), QStringLiteral("about:blank")});
    QVERIFY(site_->Write(QStringLiteral("tree.asp"), StationPage(links)));
    QVERIFY(site_->Write(
        QStringLiteral("tone.pls"),
        QStringLiteral("[playlist]\nNumberOfEntries=1\nFile1=%1\nVersion=2\n").arg(toneUrl_)));
    QVERIFY(site_->Write(
        QStringLiteral("popups.asp"),
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

  void cleanup() { window_.reset(); }

  void cleanupTestCase() {
    window_.reset();
    stations_.reset();
    site_.reset();
  }

  void stationListMissingAtStartThenReloaded() {
    stations_.reset();
    QVERIFY(!IsListening(stationPort_));
    OpenForm();
    QSignalSpy loads(View(), &QWebEngineView::loadFinished);
    QVERIFY(QTest::qWaitForWindowExposed(Form()));
    QVERIFY(loads.wait(kPageTimeoutMs));
    QCOMPARE(loads.first().first().toBool(), false);
    // The browser shows its own error page; the window and the player carry on.
    QVERIFY(WaitFor([&] { return PageText().contains(QStringLiteral("ERR_CONNECTION_REFUSED")); },
                    10000));
    QVERIFY(Form()->isVisible());
    QCOMPARE(Session()->PlayState(), PlayerSession::State::Idle);
    // The server comes up; the browser's Reload (its right-click menu) brings the list.
    QVERIFY(StartStations());
    View()->pageAction(QWebEnginePage::Reload)->trigger();
    QVERIFY(window_->PageHas(QStringLiteral("s0")));
    QCOMPARE(View()->url(), QUrl(QStringLiteral("http://%1/radio/tree.asp").arg(StationHost())));
    QVERIFY(ClickStation(0));
    QVERIFY2(window_->WaitPlaying(), qPrintable(Status()));
  }

  void stationListGoneMidSession() {
    if (!stations_) QVERIFY(StartStations());
    OpenForm();
    QVERIFY(window_->PageHas(QStringLiteral("s2")));
    // The playlist lives on the station server: it plays while the server is there.
    QVERIFY(ClickStation(2));
    QVERIFY2(window_->WaitPlaying(), qPrintable(Status()));
    stations_.reset();
    QVERIFY(!IsListening(stationPort_));
    // The page already shown still hands its stations over; the stream does not need the
    // station server, so it keeps playing.
    QVERIFY(ClickStation(3));
    QVERIFY2(window_->WaitPlaying(), qPrintable(Status()));
    // A station on the vanished server fails with an error in words; the app goes on.
    QVERIFY(ClickStation(2));
    QVERIFY(WaitFor([&] { return Session()->PlayState() == PlayerSession::State::Error; },
                    kPlayTimeoutMs));
    QVERIFY(!Session()->ErrorText().isEmpty());
    // Reloading now shows the browser's error page.
    QSignalSpy loads(View(), &QWebEngineView::loadFinished);
    View()->pageAction(QWebEnginePage::Reload)->trigger();
    QVERIFY(loads.wait(kPageTimeoutMs));
    QCOMPARE(loads.last().first().toBool(), false);
    QVERIFY(Form()->isVisible());
    // Back again: reload, pick the tone.
    QVERIFY(StartStations());
    View()->pageAction(QWebEnginePage::Reload)->trigger();
    QVERIFY(window_->PageHas(QStringLiteral("s0")));
    QVERIFY(ClickStation(0));
    QVERIFY2(window_->WaitPlaying(), qPrintable(Status()));
  }

  void stalledStreamBuffersThenRecovers() {
    OpenForm();
    QVERIFY(window_->PageHas(QStringLiteral("s0")));
    QVERIFY(ClickStation(0));
    QVERIFY2(window_->WaitPlaying(), qPrintable(Status()));
    {
      Paused stall(site_->Tone().Pid());
      // The cache runs dry: the player says so and keeps its station (well before Icecast's
      // ten-second source timeout would drop the mount).
      QVERIFY2(WaitFor([&] { return Session()->IsBuffering(); }, 8000), qPrintable(Status()));
      QVERIFY2(Status().contains(QStringLiteral("Buffering")), qPrintable(Status()));
      QCOMPARE(Session()->URL(), toneUrl_);
      QVERIFY(Form()->isVisible());
      stall.Resume();
    }
    QVERIFY2(window_->WaitPlaying(), qPrintable(Status()));
    QCOMPARE(Session()->URL(), toneUrl_);
    QVERIFY(!Status().contains(QStringLiteral("Buffering")));
  }

  void hundredsOfClicksEndOnTheLastStation() {
    OpenForm();
    QVERIFY(window_->PageHas(QStringLiteral("rapid")));
    // Script clicks are no user gesture: let the page open windows so each reaches the window.
    View()->settings()->setAttribute(QWebEngineSettings::JavascriptCanOpenWindows, true);
    const int topLevelBefore = TopLevelCount();
    const auto pagesBefore = Form()->findChildren<QWebEnginePage*>().size();
    QSignalSpy handedOff(Form(), &Form1::stationRequested);
    StallMeter meter;
    // kClicks clicks in batches of ten, each batch one script run, without waiting in between.
    // Every click has an address of its own; they cycle through the playlist, the tone and a
    // dead port, and the last one (199 % 3 == 1) is the tone.
    const QString bases = QStringLiteral("['%1','%2','%3']").arg(playlistUrl_, toneUrl_, deadUrl_);
    for (int batch = 0; batch < kClicks / 10; ++batch) {
      View()->page()->runJavaScript(
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
    QCOMPARE(Session()->URL(), last);
    QVERIFY2(meter.LongestMs() < 3000, qPrintable(QString::number(meter.LongestMs())));
    QVERIFY2(window_->WaitPlaying(), qPrintable(Status()));
    QCOMPARE(Session()->URL(), last);
    QVERIFY(Session()->ErrorText().isEmpty());
    // Nothing left behind: no window, no page, one stream.
    QCOMPARE(TopLevelCount(), topLevelBefore);
    QCOMPARE(Form()->findChildren<QWebEnginePage*>().size(), pagesBefore);
    QVERIFY2(WaitFor([&] { return site_->Icecast().Listeners(kMount) == 1; }, 20000),
             qPrintable(QString::number(site_->Icecast().Listeners(kMount))));
    // Still responsive: the page answers and the transport bar works.
    QCOMPARE(RunJs(View(), QStringLiteral("6*7")).toInt(), 42);
    auto* stop = window_->Player().findChild<QWidget*>(QStringLiteral("Stop"));
    QVERIFY(stop != nullptr);
    QTest::mouseClick(stop, Qt::LeftButton);
    QVERIFY(WaitFor([&] { return Session()->PlayState() == PlayerSession::State::Idle; }, 5000));
    QVERIFY(WaitFor([&] { return site_->Icecast().Listeners(kMount) == 0; }, 15000));
  }

  void scriptOpenedWindowsNeverOpen() {
    OpenForm();
    const int topLevelBefore = TopLevelCount();
    QSignalSpy handedOff(Form(), &Form1::stationRequested);
    // The app's own setting: the page may open windows only while the user clicks.
    QVERIFY(!View()->settings()->testAttribute(QWebEngineSettings::JavascriptCanOpenWindows));
    View()->load(QUrl(QStringLiteral("http://%1/radio/popups.asp").arg(StationHost())));
    QVERIFY(window_->PageHas(QStringLiteral("bad")));
    // The timer fires a few dozen times without any gesture: nothing gets through.
    QVERIFY(WaitFor([&] { return RunJs(View(), QStringLiteral("ticks")).toInt() >= 40; }, 10000));
    QCOMPARE(handedOff.size(), 0);
    QVERIFY(Session()->URL().isEmpty());
    // Gesture clicks on the refused kinds. A click also lets the page's timer open windows for
    // a few seconds (Chromium's user activation), so what reaches the player then may be the
    // timer's address, but never anything but an address.
    for (int i = 1; i <= 5; ++i) {
      QVERIFY(window_->ClickUntil(QStringLiteral("bad"),
                                  [&] { return RunJs(View(), QStringLiteral("n")).toInt() >= i; }));
    }
    const QString good = toneUrl_ + QStringLiteral("?via=gesture");
    QVERIFY(window_->ClickUntil(QStringLiteral("good"), [&] { return Session()->URL() == good; }));
    QVERIFY(WaitFor([&] { return RunJs(View(), QStringLiteral("ticks")).toInt() >= 120; }, 10000));
    RunJs(View(), QStringLiteral("clearInterval(timer)"));
    const QRegularExpression allowed(
        QStringLiteral("^(%1|%2\\?tick=\\d+)$")
            .arg(QRegularExpression::escape(good), QRegularExpression::escape(toneUrl_)));
    for (const QList<QVariant>& call : handedOff) {
      const QString address = call.first().toString();
      QVERIFY2(address.isEmpty() || allowed.match(address).hasMatch(), qPrintable(address));
    }
    QVERIFY(handedOff.size() >= 1);
    QCOMPARE(Session()->URL(), handedOff.last().first().toString());
    QVERIFY2(window_->WaitPlaying(), qPrintable(Status()));
    QCOMPARE(TopLevelCount(), topLevelBefore);
    QVERIFY(Form()->isVisible());
  }

  void realProgramSurvivesAllAndClosesCleanly() {
    window_.reset();
    QVERIFY(WaitFor([&] { return site_->Icecast().Listeners(kMount) == 0; }, 15000));
    // The station server is missing when the program starts.
    stations_.reset();
    QVERIFY(!IsListening(stationPort_));
    RadioProcess app({QStringLiteral("--station-host"), StationHost()});
    QVERIFY(app.HasWindow());
    QVERIFY(app.Process().Running());
    QVERIFY(StartStations());
    // Reload through the browser's right-click menu until the page is there: clicking a
    // station row then makes the program a listener. Clicks on the error page do nothing.
    QVERIFY(WaitFor(
        [&] {
          if (!app.Process().Running()) return false;
          Xdotool(app.ClickWords(Form1::kWebBrowser1Rect.topLeft() + QPoint(140, 250), 3));
          // Qt's menu: Back and Forward are disabled on a first page, Reload is the first
          // enabled entry.
          Xdotool(Words("key --delay 100 Down Return"));
          Xdotool(app.ClickWords(RowInWindow(0)));
          return WaitFor([&] { return site_->Icecast().Listeners(kMount) >= 1; }, 3000);
        },
        kPageTimeoutMs));
    // kClicks real clicks over the rows in one go, the last on the tone.
    QStringList burst;
    // Rows cycle tone, dead, playlist, tone again; click kClicks - 1 lands on row 3, a tone.
    for (int i = 0; i < kClicks; ++i) burst += app.ClickWords(RowInWindow(i % 4));
    Xdotool(burst);
    QVERIFY(app.Process().Running());
    // X may merge clicks that come this fast, so which one came last is not known here: one
    // more click on the tone, repeated until Icecast counts exactly one listener, shows that
    // the program still answers and that no connection of the burst was left open.
    QVERIFY(WaitFor(
        [&] {
          if (!app.Process().Running()) return false;
          Xdotool(app.ClickWords(RowInWindow(3)));
          return WaitFor([&] { return site_->Icecast().Listeners(kMount) == 1; }, 3000);
        },
        30000));
    // The station server goes away and the stream's source stalls; the close hot spot ends
    // the program at once all the same, while its player waits for data.
    stations_.reset();
    QVERIFY(!IsListening(stationPort_));
    Paused stall(site_->Tone().Pid());
    QVERIFY(app.Process().Running());
    QVERIFY2(app.CloseFromHotSpot(), "not ended with status 0 within 3 s of the close click");
  }
};

int main(int argc, char* argv[]) {
  return RunEndToEnd<StressEndToEnd>(argc, argv);
}

#include "stress_e2e.moc"
