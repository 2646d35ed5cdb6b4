// End-to-end tests of the radio window on real servers: a station page served by
// scripts/serve-stations.py, an Icecast 2 server fed by ffmpeg with a tone, and the real
// velmora-radio binary for the close hot spot. Input is real: Qt mouse and key events on the web
// view's focus proxy, X events through xdotool for dragging and for the child process.
// Everything listens on 127.0.0.1 only; every process is stopped by PID when its owner goes.

#include <QApplication>
#include <QFile>
#include <QImage>
#include <QLabel>
#include <QRegularExpression>
#include <QScreen>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QWebEnginePage>
#include <QWebEngineSettings>
#include <QWebEngineView>
#include <QWindow>
#include <QtTest>
#include <algorithm>
#include <memory>

#include "app/form1.h"
#include "app/media_player.h"
#include "app/player_session.h"
#include "app/startup.h"
#include "e2e_support.h"
#include "platform/qt/ani_gif_widget.h"

using velmora::app::Form1;
using velmora::app::PlayerSession;
using namespace velmora::e2e;

namespace {

constexpr int kPageTimeoutMs = 45000;  // WebEngine's first start under Xvfb is slow
constexpr int kPlayTimeoutMs = 20000;
constexpr int kReconnectTimeoutMs = 40000;
const QString kMount = QStringLiteral("/test.ogg");

// Each link is a 30-pixel row, so the child-process test knows where they are without asking.
constexpr int kRowHeight = 30;
enum Row { kToneRow, kKeyboardRow, kDeadRow, kPlaylistRow, kM3uRow, kHlsRow, kRows };

QString TestPage(const QString& tone, const QString& keyboardTone, const QString& dead,
                 const QString& playlist, const QString& m3u, const QString& hls) {
  return QStringLiteral(R"(<!DOCTYPE html><html><head><meta charset="utf-8"><style>
body { margin: 0; font: 13px sans-serif; background: #0c1a2e; }
a { display: block; height: %1px; line-height: %1px; padding-left: 10px; color: #cfe0f5; }
#empty { height: 120px; }
</style></head><body>
<a id="tone" target="_blank" href="%2">Velmora test tone</a>
<a id="keyboard" target="_blank" href="%3">The tone again (for the keyboard)</a>
<a id="dead" target="_blank" href="%4">A dead station</a>
<a id="playlist" target="_blank" href="%5">The tone as a playlist</a>
<a id="m3u" target="_blank" href="%6">The tone as an M3U playlist</a>
<a id="hls" target="_blank" href="%7">A tone over HLS</a>
<div id="empty"></div>
</body></html>)")
      .arg(kRowHeight)
      .arg(tone, keyboardTone, dead, playlist, m3u, hls);
}

QPoint RowCentre(int row) {
  return QPoint(60, row * kRowHeight + kRowHeight / 2);
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

// Centre of the element with `id`, in the view's pixels.
QPoint ElementCentre(QWebEngineView* view, const QString& id) {
  const QVariantList box =
      RunJs(view, QStringLiteral("(function(){var r=document.getElementById('%1')"
                                 ".getBoundingClientRect();return [r.left+r.width/2,"
                                 "r.top+r.height/2];})()")
                      .arg(id))
          .toList();
  if (box.size() != 2) return QPoint(-1, -1);
  return QPoint(qRound(box[0].toDouble()), qRound(box[1].toDouble()));
}

int VisibleTopLevelWindows() {
  int count = 0;
  for (QWindow* window : QGuiApplication::topLevelWindows()) count += window->isVisible() ? 1 : 0;
  return count;
}

QString Xdotool(const QStringList& arguments) {
  return RunTool(QStringLiteral("xdotool"), arguments, 15000).value_or(QStringLiteral("<failed>"));
}

}  // namespace

class Form1EndToEnd : public QObject {
  Q_OBJECT

 private:
  QTemporaryDir site_;
  std::unique_ptr<StationServer> stations_;
  std::unique_ptr<IcecastServer> icecast_;
  std::unique_ptr<ToneSource> tone_;
  std::unique_ptr<Form1> form_;
  QString toneUrl_, keyboardUrl_, deadUrl_, playlistUrl_, m3uUrl_, hlsUrl_;

  QWidget* Proxy() const { return form_->WebBrowser1()->focusProxy(); }
  PlayerSession* Player() const { return form_->Session(); }

  // Moves the pointer onto the link until the page reports it as status text. Chromium may drop
  // the first synthetic move while it sets up, so the move is repeated, one pixel apart.
  bool Hover(const QString& id, const QString& expectedStatus) {
    const QPoint centre = ElementCentre(form_->WebBrowser1(), id);
    if (centre.x() < 0) return false;
    int step = 0;
    return WaitFor(
        [&] {
          QTest::mouseMove(Proxy(), centre + QPoint(step++ % 2, 0));
          return form_->LastStatusText() == expectedStatus;
        },
        10000);
  }

  bool ClickLink(const QString& id, const QString& target) {
    if (!Hover(id, target)) return false;
    QTest::mouseClick(Proxy(), Qt::LeftButton, {}, ElementCentre(form_->WebBrowser1(), id));
    return WaitFor([&] { return Player()->URL() == target; }, 10000);
  }

  bool WaitPlaying() {
    if (!WaitFor(
            [&] {
              return Player()->PlayState() == PlayerSession::State::Playing &&
                     Player()->Position() > 0.3;
            },
            kPlayTimeoutMs)) {
      return false;
    }
    const double start = Player()->Position();
    return WaitFor([&] { return Player()->Position() >= start + 1.0; }, kPlayTimeoutMs);
  }

 private slots:
  void initTestCase() {
    QVERIFY(site_.isValid());
    icecast_ = std::make_unique<IcecastServer>();
    QVERIFY2(icecast_->Ok(), qPrintable(icecast_->Log()));
    tone_ = std::make_unique<ToneSource>(*icecast_, kMount);
    QVERIFY2(tone_->Start(), qPrintable(icecast_->Log()));

    QVERIFY(QDir(site_.path()).mkpath(QStringLiteral("radio")));
    toneUrl_ = icecast_->StreamUrl(kMount);
    // Icecast ignores the query, so this is the same stream under an address of its own.
    keyboardUrl_ = toneUrl_ + QStringLiteral("?via=keyboard");
    deadUrl_ = QStringLiteral("http://127.0.0.1:%1/dead.mp3").arg(FreePort());
    stations_ = std::make_unique<StationServer>(site_.path());
    QVERIFY(stations_->Ok());
    playlistUrl_ = QStringLiteral("http://%1/radio/tone.pls").arg(stations_->Host());
    m3uUrl_ = QStringLiteral("http://%1/radio/tone.m3u").arg(stations_->Host());
    hlsUrl_ = QStringLiteral("http://%1/radio/hls/tone.m3u8").arg(stations_->Host());
    // Six seconds of tone cut into two-second HLS segments.
    QVERIFY(QDir(site_.path()).mkpath(QStringLiteral("radio/hls")));
    QVERIFY(RunTool(QStringLiteral("ffmpeg"),
                    {QStringLiteral("-nostdin"), QStringLiteral("-loglevel"),
                     QStringLiteral("error"), QStringLiteral("-f"), QStringLiteral("lavfi"),
                     QStringLiteral("-i"), QStringLiteral("sine=frequency=660:duration=6"),
                     QStringLiteral("-c:a"), QStringLiteral("aac"), QStringLiteral("-f"),
                     QStringLiteral("hls"), QStringLiteral("-hls_time"), QStringLiteral("2"),
                     QStringLiteral("-hls_playlist_type"), QStringLiteral("vod"),
                     site_.path() + QStringLiteral("/radio/hls/tone.m3u8")},
                    30000)
                .has_value());
    QFile m3u(site_.path() + QStringLiteral("/radio/tone.m3u"));
    QVERIFY(m3u.open(QIODevice::WriteOnly));
    m3u.write(QStringLiteral("#EXTM3U\n#EXTINF:-1,Tone\n%1\n").arg(toneUrl_).toUtf8());
    m3u.close();
    QFile page(site_.path() + QStringLiteral("/radio/tree.asp"));
    QVERIFY(page.open(QIODevice::WriteOnly));
    page.write(TestPage(toneUrl_, keyboardUrl_, deadUrl_, playlistUrl_, m3uUrl_, hlsUrl_).toUtf8());
    page.close();
    QFile playlist(site_.path() + QStringLiteral("/radio/tone.pls"));
    QVERIFY(playlist.open(QIODevice::WriteOnly));
    playlist.write(
        QStringLiteral("[playlist]\nNumberOfEntries=1\nFile1=%1\nTitle1=Tone\nLength1=-1\n"
                       "Version=2\n")
            .arg(toneUrl_)
            .toUtf8());
  }

  void init() {
    form_ = std::make_unique<Form1>(stations_->Host());
    form_->SetExitAction([] { QFAIL("the close hot spot must not end the test process"); });
    form_->move(60, 60);
    form_->show();
    QVERIFY(QTest::qWaitForWindowExposed(form_.get()));
    // The page is up when its links are laid out and the view has its input widget.
    QVERIFY(WaitFor(
        [&] {
          return Proxy() != nullptr &&
                 RunJs(form_->WebBrowser1(), QStringLiteral("!!document.getElementById('tone') && "
                                                            "document.readyState == 'complete'"))
                     .toBool();
        },
        kPageTimeoutMs));
  }

  void cleanup() { form_.reset(); }

  void cleanupTestCase() {
    form_.reset();
    tone_.reset();
    icecast_.reset();
    stations_.reset();
  }

  void windowHasTheStoredDesign() {
    QVERIFY(form_->windowFlags() & Qt::FramelessWindowHint);
    QCOMPARE(form_->size(), QSize(290, 480));
    QCOMPARE(form_->minimumSize(), form_->maximumSize());
    QCOMPARE(form_->windowTitle(), QStringLiteral("Velmora radio 1.0"));
    QVERIFY(form_->windowIcon().availableSizes().contains(QSize(32, 32)));
    QCOMPARE(form_->Image1()->geometry(), QRect(0, 0, 290, 480));
    QCOMPARE(form_->children().indexOf(form_->Image1()), 0);  // backmost
    QCOMPARE(form_->MediaPlayer1()->geometry(), QRect(8, 88, 273, 64));
    QCOMPARE(form_->WebBrowser1()->geometry(), QRect(8, 152, 273, 305));
    QCOMPARE(form_->Image2(0)->geometry(), QRect(245, 8, 17, 12));
    QCOMPARE(form_->Image2(1)->geometry(), QRect(267, 8, 17, 12));
    QCOMPARE(form_->Image2(2), nullptr);
    QCOMPARE(form_->Label1()->geometry(), QRect(88, 460, 192, 12));
    QVERIFY(!form_->Label1()->text().isEmpty());
    QVERIFY(form_->Label1()->fontMetrics().horizontalAdvance(form_->Label1()->text()) <= 192);
    QCOMPARE(form_->WebBrowser1()->url(),
             QUrl(QStringLiteral("http://%1/radio/tree.asp").arg(stations_->Host())));
    // The load step switched the player's context menu off; the player starts at volume 50.
    QVERIFY(!form_->MediaPlayer1()->enableContextMenu());
    QCOMPARE(Player()->Volume(), 50);
    QCOMPARE(Player()->PlayState(), PlayerSession::State::Idle);
  }

  void regionIsTheRoundedRectangle() {
    const QRegion region = form_->mask();
    QCOMPARE(region, Form1::RoundRectRegion(290, 480, 40, 40));
    // Row 0: the corner ellipse's centre is 19.5 rows away, so 16 pixels are cut on each side.
    QVERIFY(!region.contains(QPoint(15, 0)));
    QVERIFY(region.contains(QPoint(16, 0)));
    QVERIFY(region.contains(QPoint(273, 0)));
    QVERIFY(!region.contains(QPoint(274, 0)));
    QVERIFY(!region.contains(QPoint(0, 0)));
    QVERIFY(!region.contains(QPoint(289, 479)));
    QVERIFY(!region.contains(QPoint(0, 479)));
    QVERIFY(region.contains(QPoint(0, 20)));
    QVERIFY(region.contains(QPoint(289, 240)));
    QVERIFY(!region.contains(QPoint(290, 240)));
    QVERIFY(!region.contains(QPoint(145, 480)));
    QCOMPARE(region.boundingRect(), QRect(0, 0, 290, 480));
  }

  void roundRectRegionCases_data() {
    QTest::addColumn<QSize>("size");
    QTest::addColumn<QSize>("ellipse");
    QTest::addColumn<QList<QRect>>("rows");  // expected region as row bands
    QTest::newRow("8x6 with a 4x4 ellipse")
        << QSize(8, 6) << QSize(4, 4)
        << QList<QRect>{QRect(1, 0, 6, 1), QRect(0, 1, 8, 4), QRect(1, 5, 6, 1)};
    QTest::newRow("no ellipse is a rectangle")
        << QSize(5, 3) << QSize(0, 0) << QList<QRect>{QRect(0, 0, 5, 3)};
    // r = 2.5: row 0 keeps x >= ceil(2.5 - 2.5*sqrt(1-0.64) - 0.5) = 1; row 1 (dy 1) none cut.
    QTest::newRow("ellipse larger than the rectangle is clamped")
        << QSize(5, 5) << QSize(40, 40)
        << QList<QRect>{QRect(1, 0, 3, 1), QRect(0, 1, 5, 3), QRect(1, 4, 3, 1)};
    QTest::newRow("empty width") << QSize(0, 10) << QSize(4, 4) << QList<QRect>{};
    QTest::newRow("negative height") << QSize(10, -1) << QSize(4, 4) << QList<QRect>{};
  }

  void roundRectRegionCases() {
    QFETCH(QSize, size);
    QFETCH(QSize, ellipse);
    QFETCH(QList<QRect>, rows);
    QRegion expected;
    for (const QRect& row : rows) expected += row;
    QCOMPARE(Form1::RoundRectRegion(size.width(), size.height(), ellipse.width(), ellipse.height()),
             expected);
  }

  void stationAddressesAndCommandLine() {
    const struct {
      const char* text;
      bool address;
    } addresses[] = {
        {"http://127.0.0.1:8000/test.ogg", true},
        {"https://ice1.example/groove-128-mp3", true},
        {"HTTP://EXAMPLE.ORG/x.pls", true},
        {"mms://media.example/live", true},
        {"  http://example.org/padded  ", true},
        {"", false},
        {"Done", false},
        {"javascript:void(0)", false},
        {"file:///etc/passwd", false},
        {"about:blank", false},
        {"http://", false},
        {"example.org/stream.mp3", false},
    };
    for (const auto& row : addresses) {
      QVERIFY2(Form1::IsStationAddress(QString::fromUtf8(row.text)) == row.address, row.text);
    }
    using velmora::app::ParseCommandLine;
    using velmora::app::StationListUrl;
    QCOMPARE(ParseCommandLine({QStringLiteral("velmora-radio")}).stationHost,
             QStringLiteral("127.0.0.1:8765"));
    const auto given =
        ParseCommandLine({QStringLiteral("velmora-radio"), QStringLiteral("--station-host"),
                          QStringLiteral("radio.lan:81")});
    QCOMPARE(given.stationHost, QStringLiteral("radio.lan:81"));
    QVERIFY(given.error.isEmpty());
    QVERIFY(!ParseCommandLine({QStringLiteral("velmora-radio"), QStringLiteral("--station-host"),
                               QStringLiteral("a/b")})
                 .error.isEmpty());
    QVERIFY(!ParseCommandLine({QStringLiteral("velmora-radio"), QStringLiteral("--bogus")})
                 .error.isEmpty());
    QVERIFY(!ParseCommandLine({QStringLiteral("velmora-radio"), QStringLiteral("extra")})
                 .error.isEmpty());
    QCOMPARE(StationListUrl(QStringLiteral("127.0.0.1:8765")),
             QUrl(QStringLiteral("http://127.0.0.1:8765/radio/tree.asp")));
    QCOMPARE(StationListUrl(QStringLiteral("radio.example")),
             QUrl(QStringLiteral("http://radio.example/radio/tree.asp")));
    QVERIFY(!StationListUrl(QString()).isValid());
    QVERIFY(!StationListUrl(QStringLiteral("host?x=1")).isValid());
    QVERIFY(!StationListUrl(QStringLiteral("user@host")).isValid());
  }

  void reconnectionBacksOffToThirtySeconds() {
    const int expected[] = {2000, 4000, 8000, 16000, 30000, 30000};
    int delay = PlayerSession::kFirstRetryDelayMs;
    for (int next : expected) {
      delay = PlayerSession::NextRetryDelay(delay);
      QCOMPARE(delay, next);
    }
    QCOMPARE(PlayerSession::NextRetryDelay(20000), 30000);
    QCOMPARE(PlayerSession::NextRetryDelay(14999), 29998);
  }

  void clickedStationPlaysWithoutANewWindow() {
    const int windowsBefore = VisibleTopLevelWindows();
    QSignalSpy handedOff(form_.get(), &Form1::stationRequested);
    QVERIFY(ClickLink(QStringLiteral("tone"), toneUrl_));
    QCOMPARE(handedOff.count(), 1);
    QCOMPARE(handedOff.first().first().toString(), toneUrl_);
    QCOMPARE(Player()->URL(), toneUrl_);
    QCOMPARE(VisibleTopLevelWindows(), windowsBefore);
    QCOMPARE(form_->WebBrowser1()->url().path(), QStringLiteral("/radio/tree.asp"));
    QVERIFY2(WaitPlaying(), qPrintable(form_->MediaPlayer1()->StatusText()));
    QTRY_COMPARE_WITH_TIMEOUT(Player()->StationName(),
                              QString::fromLatin1(ToneSource::kStationName), kPlayTimeoutMs);
    QTRY_COMPARE_WITH_TIMEOUT(Player()->Title(), QString::fromLatin1(ToneSource::kTitle),
                              kPlayTimeoutMs);
    QVERIFY(form_->MediaPlayer1()->StatusText().contains(QString::fromLatin1(ToneSource::kTitle)));
    QVERIFY(icecast_->Listeners(kMount) >= 1);
    QCOMPARE(VisibleTopLevelWindows(), windowsBefore);
  }

  void keyboardActivatedLinkPlaysItsOwnTarget() {
    // The keyboard focuses the second link ...
    RunJs(form_->WebBrowser1(), QStringLiteral("document.getElementById('keyboard').focus()"));
    // Without a window manager nobody activates the window but the window itself.
    form_->activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(form_.get()));
    Proxy()->setFocus();
    const auto focusedId = [&] {
      return RunJs(form_->WebBrowser1(), QStringLiteral("document.activeElement.id")).toString();
    };
    QVERIFY(WaitFor([&] { return focusedId() == QLatin1String("keyboard"); }, 5000));
    // ... then the pointer comes to rest on the first one, so the last status text names it (the
    // page may show the focused link's address when focus moves, hence focus first, pointer
    // second, coming from outside the links).
    QTest::mouseMove(Proxy(), QPoint(1, 1));
    QVERIFY(Hover(QStringLiteral("tone"), toneUrl_));
    QCOMPARE(focusedId(), QStringLiteral("keyboard"));
    QTest::keyClick(Proxy(), Qt::Key_Return);
    QTRY_COMPARE_WITH_TIMEOUT(Player()->URL(), keyboardUrl_, 10000);
    QVERIFY2(WaitPlaying(), qPrintable(form_->MediaPlayer1()->StatusText()));
  }

  void requestWithoutTargetFallsBackToAnAddressOnly() {
    form_->WebBrowser1()->settings()->setAttribute(QWebEngineSettings::JavascriptCanOpenWindows,
                                                   true);
    QSignalSpy handedOff(form_.get(), &Form1::stationRequested);
    const int windowsBefore = VisibleTopLevelWindows();
    // A blank window opened by the page carries no target: the hovered link stands in.
    QVERIFY(Hover(QStringLiteral("playlist"), playlistUrl_));
    RunJs(form_->WebBrowser1(), QStringLiteral("window.open('about:blank', '_blank'); true"));
    QTRY_COMPARE_WITH_TIMEOUT(handedOff.count(), 1, 10000);
    QCOMPARE(Player()->URL(), playlistUrl_);
    // Off the links the status text is empty: nothing reaches the player then.
    QVERIFY(Hover(QStringLiteral("empty"), QString()));
    RunJs(form_->WebBrowser1(), QStringLiteral("window.open('', '_blank'); true"));
    QTRY_COMPARE_WITH_TIMEOUT(handedOff.count(), 2, 10000);
    QCOMPARE(handedOff.at(1).first().toString(), QString());
    QCOMPARE(Player()->URL(), playlistUrl_);
    QCOMPARE(VisibleTopLevelWindows(), windowsBefore);
  }

  void playlistStationPlays() {
    QVERIFY(ClickLink(QStringLiteral("playlist"), playlistUrl_));
    QVERIFY2(WaitPlaying(), qPrintable(form_->MediaPlayer1()->StatusText()));
    QCOMPARE(Player()->URL(), playlistUrl_);
    QTRY_COMPARE_WITH_TIMEOUT(Player()->Title(), QString::fromLatin1(ToneSource::kTitle),
                              kPlayTimeoutMs);
  }

  void m3uPlaylistAndHlsStationsPlay() {
    QVERIFY(ClickLink(QStringLiteral("m3u"), m3uUrl_));
    QVERIFY2(WaitPlaying(), qPrintable(form_->MediaPlayer1()->StatusText()));
    QTRY_COMPARE_WITH_TIMEOUT(Player()->StationName(),
                              QString::fromLatin1(ToneSource::kStationName), kPlayTimeoutMs);
    QVERIFY(ClickLink(QStringLiteral("hls"), hlsUrl_));
    QVERIFY2(WaitPlaying(), qPrintable(form_->MediaPlayer1()->StatusText()));
    QCOMPARE(Player()->URL(), hlsUrl_);
  }

  void deadStationShowsAnErrorAndTheAppGoesOn() {
    QVERIFY(ClickLink(QStringLiteral("dead"), deadUrl_));
    QTRY_COMPARE_WITH_TIMEOUT(Player()->PlayState(), PlayerSession::State::Error, kPlayTimeoutMs);
    QVERIFY(!Player()->ErrorText().isEmpty());
    // The cause mpv logged completes the words, whenever it arrives.
    QTRY_VERIFY2_WITH_TIMEOUT(Player()->ErrorText().contains(QStringLiteral("Connection refused")),
                              qPrintable(Player()->ErrorText()), 5000);
    QVERIFY2(form_->MediaPlayer1()->StatusText().contains(Player()->ErrorText()),
             qPrintable(form_->MediaPlayer1()->StatusText()));
    QVERIFY(form_->isVisible());
    // No reconnection storm for a station that never played.
    QCOMPARE(Player()->RetryCount(), 0);
    QVERIFY(ClickLink(QStringLiteral("tone"), toneUrl_));
    QVERIFY2(WaitPlaying(), qPrintable(form_->MediaPlayer1()->StatusText()));
    QVERIFY(Player()->ErrorText().isEmpty());
  }

  void droppedStreamReconnectsWhenTheSourceReturns() {
    QVERIFY(ClickLink(QStringLiteral("tone"), toneUrl_));
    QVERIFY2(WaitPlaying(), qPrintable(form_->MediaPlayer1()->StatusText()));
    tone_->Stop();
    QTRY_COMPARE_WITH_TIMEOUT(Player()->PlayState(), PlayerSession::State::Reconnecting,
                              kReconnectTimeoutMs);
    QVERIFY(form_->MediaPlayer1()->StatusText().contains(QStringLiteral("econnect")));
    // Let at least one reopen fail against the missing mount before the source returns.
    QTRY_VERIFY_WITH_TIMEOUT(Player()->RetryCount() >= 1, kReconnectTimeoutMs);
    QVERIFY(Player()->NextRetryDelayMs() > PlayerSession::kFirstRetryDelayMs);
    QVERIFY(tone_->Start());
    QVERIFY2(WaitPlaying(), qPrintable(form_->MediaPlayer1()->StatusText()));
    QCOMPARE(Player()->URL(), toneUrl_);
    QCOMPARE(Player()->RetryCount(), 0);
    QCOMPARE(Player()->NextRetryDelayMs(), PlayerSession::kFirstRetryDelayMs);
  }

  void transportBarControlsPlayback() {
    QVERIFY(ClickLink(QStringLiteral("tone"), toneUrl_));
    QVERIFY2(WaitPlaying(), qPrintable(form_->MediaPlayer1()->StatusText()));
    auto* stop = form_->MediaPlayer1()->findChild<QWidget*>(QStringLiteral("Stop"));
    auto* play = form_->MediaPlayer1()->findChild<QWidget*>(QStringLiteral("PlayPause"));
    auto* mute = form_->MediaPlayer1()->findChild<QWidget*>(QStringLiteral("Mute"));
    QVERIFY(stop && play && mute);
    QTest::mouseClick(play, Qt::LeftButton);
    QTRY_COMPARE_WITH_TIMEOUT(Player()->PlayState(), PlayerSession::State::Paused, 5000);
    QTest::mouseClick(play, Qt::LeftButton);
    QTRY_COMPARE_WITH_TIMEOUT(Player()->PlayState(), PlayerSession::State::Playing, 10000);
    QTest::mouseClick(mute, Qt::LeftButton);
    QVERIFY(Player()->Mute());
    QTest::mouseClick(stop, Qt::LeftButton);
    QTRY_COMPARE_WITH_TIMEOUT(Player()->PlayState(), PlayerSession::State::Idle, 5000);
    QCOMPARE(Player()->URL(), toneUrl_);
    QTest::mouseClick(play, Qt::LeftButton);
    QVERIFY2(WaitPlaying(), qPrintable(form_->MediaPlayer1()->StatusText()));
  }

  void minimiseHotSpotMinimises() {
    QVERIFY(!form_->isMinimized());
    QTest::mouseClick(form_->Image2(0), Qt::LeftButton, {}, QPoint(8, 6));
    QTRY_VERIFY_WITH_TIMEOUT(form_->isMinimized(), 5000);
  }

  void closeHotSpotIsRoutedToTheExitAction() {
    int exits = 0;
    form_->SetExitAction([&] { ++exits; });
    QTest::mouseClick(form_->Image2(1), Qt::LeftButton, {}, QPoint(8, 6));
    QCOMPARE(exits, 1);
    // A press that leaves the spot before the release is no click.
    QTest::mousePress(form_->Image2(1), Qt::LeftButton, {}, QPoint(8, 6));
    QTest::mouseRelease(form_->Image2(1), Qt::LeftButton, {}, QPoint(40, 6));
    QCOMPARE(exits, 1);
  }

  void draggingTheSkinMovesTheWindow() {
    const QString window = QString::number(form_->winId());
    const QPoint start = form_->pos();
    // No button held: the window stays.
    Xdotool({QStringLiteral("mousemove"), QStringLiteral("--window"), window, QStringLiteral("200"),
             QStringLiteral("72"), QStringLiteral("mousemove_relative"), QStringLiteral("--"),
             QStringLiteral("30"), QStringLiteral("20")});
    QVERIFY(WaitFor([&] { return QCursor::pos() == form_->mapToGlobal(QPoint(230, 92)); }, 5000));
    QCOMPARE(form_->pos(), start);
    // Held left button: the window follows the pointer.
    Xdotool({QStringLiteral("mousemove"), QStringLiteral("--window"), window, QStringLiteral("200"),
             QStringLiteral("72"), QStringLiteral("mousedown"), QStringLiteral("1"),
             QStringLiteral("mousemove_relative"), QStringLiteral("--"), QStringLiteral("20"),
             QStringLiteral("10"), QStringLiteral("mousemove_relative"), QStringLiteral("--"),
             QStringLiteral("20"), QStringLiteral("15"), QStringLiteral("mouseup"),
             QStringLiteral("1")});
    QTRY_COMPARE_WITH_TIMEOUT(form_->pos(), start + QPoint(40, 25), 5000);
  }

  void screenshotShowsTheRoundedSkin() {
    QVERIFY(ClickLink(QStringLiteral("tone"), toneUrl_));
    QVERIFY2(WaitPlaying(), qPrintable(form_->MediaPlayer1()->StatusText()));
    QTRY_COMPARE_WITH_TIMEOUT(Player()->Title(), QString::fromLatin1(ToneSource::kTitle),
                              kPlayTimeoutMs);
    QTest::mouseMove(Proxy(), ElementCentre(form_->WebBrowser1(), QStringLiteral("empty")));
    // The screen as X shows it: what lies outside the region is the root window's background.
    constexpr int kMargin = 10;
    const QPoint origin = form_->geometry().topLeft();
    QImage shot;
    QVERIFY(WaitFor(
        [&] {
          shot = form_->screen()
                     ->grabWindow(0, origin.x() - kMargin, origin.y() - kMargin, 290 + 2 * kMargin,
                                  480 + 2 * kMargin)
                     .toImage()
                     .convertToFormat(QImage::Format_RGB32);
          // Painted once the player's line shows the title.
          return !shot.isNull() && shot.pixel(kMargin + 145, kMargin + 2) != shot.pixel(1, 1);
        },
        10000));
    const QRgb background = shot.pixel(1, 1);
    const QRegion region = form_->mask();
    int outside = 0;
    int key = 0;
    for (int y = 0; y < 480; ++y) {
      for (int x = 0; x < 290; ++x) {
        const QRgb pixel = shot.pixel(kMargin + x, kMargin + y);
        if (qRed(pixel) > 240 && qGreen(pixel) < 16 && qBlue(pixel) > 240) ++key;
        if (region.contains(QPoint(x, y))) continue;
        ++outside;
        QVERIFY2(pixel == background,
                 qPrintable(QStringLiteral("pixel %1,%2 drawn").arg(x).arg(y)));
      }
    }
    int inside = 0;
    for (const QRect& band : region) inside += band.width() * band.height();
    QCOMPARE(outside, 290 * 480 - inside);
    QVERIFY(outside > 4 * 50);  // four corners were cut
    QCOMPARE(key, 0);           // the skin's key colour never shows
    QVERIFY(shot.pixel(kMargin + 16, kMargin) != background);
    // Keep it for people to look at, with the cut corners transparent.
    QImage window = shot.copy(kMargin, kMargin, 290, 480).convertToFormat(QImage::Format_ARGB32);
    for (int y = 0; y < 480; ++y) {
      for (int x = 0; x < 290; ++x) {
        if (!region.contains(QPoint(x, y))) window.setPixel(x, y, qRgba(0, 0, 0, 0));
      }
    }
    QVERIFY(window.save(QStringLiteral(VELMORA_BUILD_DIR "/form1.png")));
  }

  void decorationsAnimateSideBySide() {
    auto* mast = qobject_cast<velmora::qt::AniGifWidget*>(form_->ucAniGIF2());
    auto* trace = qobject_cast<velmora::qt::AniGifWidget*>(form_->ucAniGIF1());
    QVERIFY(mast != nullptr && trace != nullptr);
    QCOMPARE(mast->geometry(), QRect(16, 8, 36, 30));
    QCOMPARE(trace->geometry(), QRect(16, 40, 140, 24));
    QVERIFY(mast->isVisible() && trace->isVisible());
    // Frame changes as they happen: (milliseconds, frame index, via timer).
    struct Change {
      qint64 at;
      int frame;
      bool viaTimer;
    };
    QElapsedTimer clock;
    clock.start();
    QList<Change> mastChanges, traceChanges;
    connect(mast, &velmora::qt::AniGifWidget::frameChanged, this, [&](int frame, bool viaTimer) {
      mastChanges.append({clock.elapsed(), frame, viaTimer});
    });
    connect(trace, &velmora::qt::AniGifWidget::frameChanged, this, [&](int frame, bool viaTimer) {
      traceChanges.append({clock.elapsed(), frame, viaTimer});
    });
    QVERIFY(WaitFor([&] { return mastChanges.size() >= 5 && traceChanges.size() >= 12; }, 15000));
    mast->disconnect(this);
    trace->disconnect(this);
    // Each runs on its own delays: the median gap is its frames' delay. The bounds only absorb
    // a busy machine; swapped or shared timers would be far off (200 against 500 ms).
    auto medianGap = [](const QList<Change>& changes) {
      QList<qint64> gaps;
      for (int i = 1; i < changes.size(); ++i) gaps.append(changes[i].at - changes[i - 1].at);
      std::sort(gaps.begin(), gaps.end());
      return gaps[gaps.size() / 2];
    };
    const qint64 mastGap = medianGap(mastChanges);
    const qint64 traceGap = medianGap(traceChanges);
    QVERIFY2(mastGap >= 400 && mastGap <= 650, qPrintable(QString::number(mastGap)));
    QVERIFY2(traceGap >= 150 && traceGap <= 300, qPrintable(QString::number(traceGap)));
    // Two frames each, alternating, all from the timer.
    for (const QList<Change>* changes : {&mastChanges, &traceChanges}) {
      for (int i = 0; i < changes->size(); ++i) {
        QVERIFY(changes->at(i).viaTimer);
        QVERIFY(changes->at(i).frame == 1 || changes->at(i).frame == 2);
        if (i > 0) QVERIFY(changes->at(i).frame != changes->at(i - 1).frame);
      }
    }
    // At the same time: the fast one keeps changing between the slow one's changes.
    const int during = static_cast<int>(
        std::count_if(traceChanges.begin(), traceChanges.end(), [&](const Change& change) {
          return change.at > mastChanges.first().at && change.at < mastChanges.last().at;
        }));
    QVERIFY2(during >= 6, qPrintable(QString::number(during)));
  }

  void closeHotSpotEndsTheRealProgramWhilePlaying() {
    form_.reset();  // only the child plays now
    QVERIFY(WaitFor([&] { return icecast_->Listeners(kMount) == 0; }, 15000));
    ChildProcess app(QStringLiteral(VELMORA_RADIO_BIN),
                     {QStringLiteral("--station-host"), stations_->Host()});
    QVERIFY(app.Started());
    const QString window = Xdotool({QStringLiteral("search"), QStringLiteral("--sync"),
                                    QStringLiteral("--onlyvisible"), QStringLiteral("--pid"),
                                    QString::number(app.Pid()), QStringLiteral("--name"),
                                    QStringLiteral("^Velmora radio 1\\.0$")})
                               .section(QLatin1Char('\n'), 0, 0);
    QVERIFY2(QRegularExpression(QStringLiteral("^\\d+$")).match(window).hasMatch(),
             qPrintable(window));
    // Click the tone's row (the page lays its links out in fixed rows) until Icecast counts the
    // child as a listener: its page may still be loading at first.
    const QPoint link = RowCentre(kToneRow) + QPoint(8, 152);
    QVERIFY(WaitFor(
        [&] {
          if (!app.Running()) return false;
          Xdotool({QStringLiteral("mousemove"), QStringLiteral("--window"), window,
                   QString::number(link.x()), QString::number(link.y() + 1),
                   QStringLiteral("mousemove"), QStringLiteral("--window"), window,
                   QString::number(link.x()), QString::number(link.y()), QStringLiteral("click"),
                   QStringLiteral("1")});
          return WaitFor([&] { return icecast_->Listeners(kMount) >= 1; }, 2000);
        },
        kPageTimeoutMs));
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
  Form1EndToEnd test;
  return QTest::qExec(&test, argc, argv);
}

#include "form1_e2e.moc"
