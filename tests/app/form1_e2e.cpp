// End-to-end tests of the radio window on real servers: a station page served by
// scripts/serve-stations.py, an Icecast 2 server fed by ffmpeg with a tone, and the real
// velmora-radio binary for the close hot spot. Input is real: Qt mouse and key events on the web
// view's focus proxy, X events through xdotool for dragging and for the child process.
// Everything listens on 127.0.0.1 only; every process is stopped by PID when its owner goes.

#include <QAccessible>
#include <QFile>
#include <QImage>
#include <QLabel>
#include <QRegularExpression>
#include <QScreen>
#include <QSignalSpy>
#include <QSlider>
#include <QTemporaryDir>
#include <QWebEngineSettings>
#include <QWebEngineView>
#include <QWindow>
#include <algorithm>
#include <memory>

#include "app/form1.h"
#include "app/media_player.h"
#include "app/mpv_library.h"
#include "app/player_session.h"
#include "app/stream_text.h"
#include "e2e_support.h"
#include "qt/ani_gif_widget.h"

using velmora::app::Form1;
using velmora::app::PlayerSession;
using namespace velmora::e2e;

namespace {

constexpr int kReconnectTimeoutMs = 40000;
const QString kMount = QStringLiteral("/test.ogg");

int VisibleTopLevelWindows() {
  int count = 0;
  for (QWindow* window : QGuiApplication::topLevelWindows()) count += window->isVisible() ? 1 : 0;
  return count;
}

}  // namespace

class Form1EndToEnd : public QObject {
  Q_OBJECT

 private:
  std::unique_ptr<TestStations> site_;
  std::unique_ptr<StationServer> stations_;
  std::unique_ptr<TestWindow> window_;
  QString toneUrl_, keyboardUrl_, deadUrl_, playlistUrl_, m3uUrl_, hlsUrl_;

  Form1* Form() const { return &window_->Form(); }
  PlayerSession* Session() const { return &window_->Session(); }
  QWidget* Proxy() const { return window_->Proxy(); }
  QString Status() const { return window_->Player().StatusText(); }

 private slots:
  void initTestCase() {
    site_ = std::make_unique<TestStations>(kMount);
    QVERIFY(site_->Ok());
    toneUrl_ = site_->ToneUrl();
    // Icecast ignores the query, so this is the same stream under an address of its own.
    keyboardUrl_ = toneUrl_ + QStringLiteral("?via=keyboard");
    deadUrl_ = QStringLiteral("http://127.0.0.1:%1/dead.mp3").arg(FreePort());
    stations_ = std::make_unique<StationServer>(site_->Root());
    QVERIFY(stations_->Ok());
    playlistUrl_ = QStringLiteral("http://%1/radio/tone.pls").arg(stations_->Host());
    m3uUrl_ = QStringLiteral("http://%1/radio/tone.m3u").arg(stations_->Host());
    hlsUrl_ = QStringLiteral("http://%1/radio/hls/tone.m3u8").arg(stations_->Host());
    // Six seconds of tone cut into two-second HLS segments.
    QVERIFY(QDir(site_->Root()).mkpath(QStringLiteral("radio/hls")));
    QVERIFY(RunTool(QStringLiteral("ffmpeg"),
                    Words("-nostdin -loglevel error -f lavfi -i sine=frequency=660:duration=6 "
                          "-c:a aac -f hls -hls_time 2 -hls_playlist_type vod") +
                        QStringList{site_->Root() + QStringLiteral("/radio/hls/tone.m3u8")},
                    30000)
                .has_value());
    QVERIFY(site_->Write(QStringLiteral("tone.m3u"),
                         QStringLiteral("#EXTM3U\n#EXTINF:-1,Tone\n%1\n").arg(toneUrl_)));
    QVERIFY(site_->Write(
        QStringLiteral("tone.pls"),
        QStringLiteral("[playlist]\nNumberOfEntries=1\nFile1=%1\nTitle1=Tone\nLength1=-1\n"
                       "Version=2\n")
            .arg(toneUrl_)));
    QVERIFY(site_->Write(QStringLiteral("tree.asp"),
                         StationPage({{QStringLiteral("tone"), toneUrl_},
                                      {QStringLiteral("keyboard"), keyboardUrl_},
                                      {QStringLiteral("dead"), deadUrl_},
                                      {QStringLiteral("playlist"), playlistUrl_},
                                      {QStringLiteral("m3u"), m3uUrl_},
                                      {QStringLiteral("hls"), hlsUrl_}})));
  }

  void init() {
    window_ = std::make_unique<TestWindow>(stations_->Host());
    QVERIFY(QTest::qWaitForWindowExposed(Form()));
    QVERIFY(window_->PageHas(QStringLiteral("tone")));
  }

  void cleanup() { window_.reset(); }

  void cleanupTestCase() {
    window_.reset();
    stations_.reset();
    site_.reset();
  }

  void windowHasTheStoredDesign() {
    QVERIFY(Form()->windowFlags() & Qt::FramelessWindowHint);
    QCOMPARE(Form()->size(), QSize(290, 480));
    QCOMPARE(Form()->minimumSize(), Form()->maximumSize());
    QCOMPARE(Form()->windowTitle(), QStringLiteral("Velmora radio 1.0"));
    QVERIFY(Form()->windowIcon().availableSizes().contains(QSize(32, 32)));
    QCOMPARE(Form()->Image1()->geometry(), QRect(0, 0, 290, 480));
    QCOMPARE(Form()->children().indexOf(Form()->Image1()), 0);  // backmost
    QCOMPARE(Form()->MediaPlayer1()->geometry(), QRect(8, 88, 273, 64));
    QCOMPARE(window_->View()->geometry(), QRect(8, 152, 273, 305));
    QCOMPARE(Form()->Image2(0)->geometry(), QRect(245, 8, 17, 12));
    QCOMPARE(Form()->Image2(1)->geometry(), QRect(267, 8, 17, 12));
    QCOMPARE(Form()->Image2(2), nullptr);
    QCOMPARE(Form()->Label1()->geometry(), QRect(88, 460, 192, 12));
    QVERIFY(!Form()->Label1()->text().isEmpty());
    QVERIFY(Form()->Label1()->fontMetrics().horizontalAdvance(Form()->Label1()->text()) <= 192);
    QCOMPARE(window_->View()->url(),
             QUrl(QStringLiteral("http://%1/radio/tree.asp").arg(stations_->Host())));
    // The load step switched the player's context menu off; the player starts at volume 50.
    QVERIFY(!window_->Player().enableContextMenu());
    QCOMPARE(Session()->Volume(), 50);
    QCOMPARE(Session()->PlayState(), PlayerSession::State::Idle);
    // What assistive technology and the keyboard find: the hot spots are named buttons, the
    // transport bar takes focus.
    const struct {
      QWidget* widget;
      const char* name;
    } named[] = {{Form()->Image2(0), "Minimise"}, {Form()->Image2(1), "Close"}};
    for (const auto& [widget, name] : named) {
      QAccessibleInterface* accessible = QAccessible::queryAccessibleInterface(widget);
      QVERIFY(accessible != nullptr);
      QCOMPARE(accessible->role(), QAccessible::Button);
      QCOMPARE(accessible->text(QAccessible::Name), QString::fromLatin1(name));
    }
    for (const char* name : {"PlayPause", "Stop", "Mute", "Volume"}) {
      auto* control = window_->Player().findChild<QWidget*>(QString::fromLatin1(name));
      QVERIFY2(control != nullptr && control->focusPolicy() == Qt::StrongFocus, name);
      QVERIFY2(!control->accessibleName().isEmpty(), name);
    }
  }

  void regionIsTheRoundedRectangle() {
    const QRegion region = Form()->mask();
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

  void streamTextDecoding_data() {
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<QString>("text");
    QTest::newRow("ascii") << QByteArray("Plain Song") << QStringLiteral("Plain Song");
    QTest::newRow("utf-8") << QByteArray("Caf\xc3\xa9 \xe2\x80\x94 Bj\xc3\xb6rk")
                           << QStringLiteral("Caf\u00e9 \u2014 Bj\u00f6rk");
    QTest::newRow("utf-8 with byte-order mark")
        << QByteArray("\xef\xbb\xbfSong") << QStringLiteral("Song");
    QTest::newRow("latin-1") << QByteArray("Caf\xe9 del Mar \xb7 Bj\xf6rk")
                             << QStringLiteral("Caf\u00e9 del Mar \u00b7 Bj\u00f6rk");
    QTest::newRow("windows-1252 quotes, dash, euro")
        << QByteArray("\x93Hi\x94 \x96 5\x80") << QStringLiteral("\u201cHi\u201d \u2013 5\u20ac");
    // One bad sequence makes the whole text 8-bit: a lone continuation byte, a truncated
    // sequence, an overlong slash, an encoded surrogate.
    QTest::newRow("stray continuation byte") << QByteArray(
                                                    "a\x80"
                                                    "b")
                                             << QStringLiteral("a\u20acb");
    QTest::newRow("truncated sequence") << QByteArray("\xc3") << QStringLiteral("\u00c3");
    QTest::newRow("overlong") << QByteArray("\xc0\xaf") << QStringLiteral("\u00c0\u00af");
    QTest::newRow("surrogate") << QByteArray("\xed\xa0\x80")
                               << QStringLiteral("\u00ed\u00a0\u20ac");
    QTest::newRow("unassigned bytes and controls dropped")
        << QByteArray("\x81x\x8d\x8f\x90\x9dy\x01\tz\xe9") << QStringLiteral("xyz\u00e9");
    QTest::newRow("trimmed") << QByteArray("  Song \r\n") << QStringLiteral("Song");
    QTest::newRow("empty") << QByteArray() << QString();
  }

  void streamTextDecoding() {
    QFETCH(QByteArray, bytes);
    QFETCH(QString, text);
    QCOMPARE(velmora::app::DecodeStreamText(bytes), text);
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
    // The command line: station host, start-up report, resume and the station to play (the
    // first usable of those a desktop hands over); refused ones give an error.
    QTemporaryDir saved;
    const QString playlist = saved.filePath(QStringLiteral("saved.m3u"));
    QVERIFY(WriteFile(playlist, QStringLiteral("http://radio.example/a\n")));
    const struct {
      QString words;
      const char* stationHost;
      QString station;
      bool resume;
      bool refused;
    } lines[] = {
        {QStringLiteral("velmora-radio"), "", {}, false, false},
        {QStringLiteral("velmora-radio --station-host radio.lan:81 --report-startup"),
         "radio.lan:81",
         {},
         false,
         false},
        {QStringLiteral("velmora-radio --resume http://radio.example/live.pls"), "",
         QStringLiteral("http://radio.example/live.pls"), true, false},
        {QStringLiteral("velmora-radio nothing-here ") + playlist +
             QStringLiteral(" http://radio.example/b"),
         "", QUrl::fromLocalFile(playlist).toString(), false, false},
        {QStringLiteral("velmora-radio --station-host a/b"), nullptr, {}, false, true},
        {QStringLiteral("velmora-radio --station-host= "), nullptr, {}, false, true},
        {QStringLiteral("velmora-radio --bogus"), nullptr, {}, false, true},
        {QStringLiteral("velmora-radio extra"), nullptr, {}, false, true},
        {QStringLiteral("velmora-radio extra javascript:void(0)"), nullptr, {}, false, true},
    };
    for (const auto& line : lines) {
      const auto parsed =
          velmora::app::ParseCommandLine(line.words.split(QLatin1Char(' '), Qt::SkipEmptyParts));
      QVERIFY2(parsed.error.isEmpty() != line.refused, qPrintable(line.words));
      if (line.refused) continue;
      QCOMPARE(parsed.stationHost, QString::fromUtf8(line.stationHost));
      QCOMPARE(parsed.station, line.station);
      QCOMPARE(parsed.resume, line.resume);
    }
    using velmora::app::StationListUrl;
    QCOMPARE(StationListUrl(QStringLiteral("127.0.0.1:8765")),
             QUrl(QStringLiteral("http://127.0.0.1:8765/radio/tree.asp")));
    QCOMPARE(StationListUrl(QStringLiteral("radio.example")),
             QUrl(QStringLiteral("http://radio.example/radio/tree.asp")));
    QCOMPARE(StationListUrl(QString()), QUrl(QStringLiteral("qrc:/radio/tree.html")));
    QVERIFY(!StationListUrl(QStringLiteral("host?x=1")).isValid());
    QVERIFY(!StationListUrl(QStringLiteral("user@host")).isValid());
  }

  void playerLibraryThatCannotOpen() {
    using velmora::app::OpenMpvLibrary;
    QVERIFY(velmora::app::MpvLibraryFileName().startsWith(QLatin1String("libmpv.so.")));
    QString why;
    QVERIFY(OpenMpvLibrary(QStringLiteral("libvelmora-none.so.9"), &why) == nullptr);
    QVERIFY2(why.contains(QLatin1String("libvelmora-none.so.9")), qPrintable(why));
    // A library that is there but is not libmpv: the first entry point it lacks is named.
    QVERIFY(OpenMpvLibrary(QStringLiteral("libz.so.1"), &why) == nullptr);
    QCOMPARE(why, QStringLiteral("no mpv_create in the player library"));
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

  // The first station of the process: the player's library opens on another thread, and the
  // station asked for last is the one that plays.
  void stationChangedWhileThePlayerOpens() {
    QFile maps(QStringLiteral("/proc/self/maps"));
    QVERIFY(maps.open(QIODevice::ReadOnly));
    if (maps.readAll().contains("/libmpv.so")) QSKIP("the player's library is open already");
    QSignalSpy errors(Session(), &PlayerSession::errorOccurred);
    Session()->SetURL(deadUrl_);
    QCOMPARE(Session()->PlayState(), PlayerSession::State::Opening);
    Session()->SetURL(toneUrl_);
    QVERIFY2(window_->WaitPlaying(), qPrintable(Status()));
    QCOMPARE(Session()->URL(), toneUrl_);
    QCOMPARE(errors.count(), 0);
  }

  void clickedStationPlaysWithoutANewWindow() {
    const int windowsBefore = VisibleTopLevelWindows();
    QSignalSpy handedOff(Form(), &Form1::stationRequested);
    QVERIFY(window_->ClickLink(QStringLiteral("tone"), toneUrl_));
    QCOMPARE(handedOff.count(), 1);
    QCOMPARE(handedOff.first().first().toString(), toneUrl_);
    QCOMPARE(Session()->URL(), toneUrl_);
    QCOMPARE(VisibleTopLevelWindows(), windowsBefore);
    QCOMPARE(window_->View()->url().path(), QStringLiteral("/radio/tree.asp"));
    QVERIFY2(window_->WaitPlaying(), qPrintable(Status()));
    QTRY_COMPARE_WITH_TIMEOUT(Session()->StationName(),
                              QString::fromLatin1(ToneSource::kStationName), kPlayTimeoutMs);
    QTRY_COMPARE_WITH_TIMEOUT(Session()->Title(), QString::fromLatin1(ToneSource::kTitle),
                              kPlayTimeoutMs);
    QVERIFY(Status().contains(QString::fromLatin1(ToneSource::kTitle)));
    QVERIFY(site_->Icecast().Listeners(kMount) >= 1);
    QCOMPARE(VisibleTopLevelWindows(), windowsBefore);
  }

  void builtInListShowsWithoutAServerAndHandsOverClicks() {
    window_ = std::make_unique<TestWindow>(QString());
    const QString links =
        QStringLiteral("Array.from(document.querySelectorAll('a[target=_blank]'))");
    QVERIFY(WaitFor(
        [&] {
          return RunJs(window_->View(), QStringLiteral("document.readyState == 'complete' && %1"
                                                       ".length > 0")
                                            .arg(links))
              .toBool();
        },
        kPageTimeoutMs));
    QCOMPARE(window_->View()->url(), QUrl(QStringLiteral("qrc:/radio/tree.html")));
    QFile bundled(QStringLiteral(VELMORA_SOURCE_DIR "/radio/tree.asp"));
    QVERIFY(bundled.open(QIODevice::ReadOnly));
    const QString source = QString::fromUtf8(bundled.readAll());
    const QStringList hrefs =
        RunJs(window_->View(), links + QStringLiteral(".map(a => a.href)")).toStringList();
    QVERIFY(hrefs.size() >= 10);
    for (const QString& href : hrefs) QVERIFY2(source.contains(href), qPrintable(href));
    // The list's stations are out on the internet: the session only takes the address here,
    // it does not open it, so the test stays on this machine.
    Session()->SetAutoStart(false);
    const int windowsBefore = VisibleTopLevelWindows();
    QSignalSpy handedOff(Form(), &Form1::stationRequested);
    RunJs(window_->View(), links + QStringLiteral("[0].id = 'first'"));
    QVERIFY(window_->ClickLink(QStringLiteral("first"), hrefs.first()));
    QCOMPARE(handedOff.count(), 1);
    QCOMPARE(VisibleTopLevelWindows(), windowsBefore);
    QCOMPARE(window_->View()->url(), QUrl(QStringLiteral("qrc:/radio/tree.html")));
    QCOMPARE(Session()->PlayState(), PlayerSession::State::Idle);
  }

  void keyboardActivatedLinkPlaysItsOwnTarget() {
    // The keyboard focuses the second link ...
    RunJs(window_->View(), QStringLiteral("document.getElementById('keyboard').focus()"));
    // Without a window manager nobody activates the window but the window itself.
    Form()->activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(Form()));
    Proxy()->setFocus();
    const auto focusedId = [&] {
      return RunJs(window_->View(), QStringLiteral("document.activeElement.id")).toString();
    };
    QVERIFY(WaitFor([&] { return focusedId() == QLatin1String("keyboard"); }, 5000));
    // ... then the pointer comes to rest on the first one, so the last status text names it (the
    // page may show the focused link's address when focus moves, hence focus first, pointer
    // second, coming from outside the links).
    QTest::mouseMove(Proxy(), QPoint(1, 1));
    QVERIFY(window_->Hover(QStringLiteral("tone"), toneUrl_));
    QCOMPARE(focusedId(), QStringLiteral("keyboard"));
    QTest::keyClick(Proxy(), Qt::Key_Return);
    QTRY_COMPARE_WITH_TIMEOUT(Session()->URL(), keyboardUrl_, 10000);
    QVERIFY2(window_->WaitPlaying(), qPrintable(Status()));
  }

  void requestWithoutTargetFallsBackToAnAddressOnly() {
    window_->View()->settings()->setAttribute(QWebEngineSettings::JavascriptCanOpenWindows, true);
    QSignalSpy handedOff(Form(), &Form1::stationRequested);
    const int windowsBefore = VisibleTopLevelWindows();
    // A blank window opened by the page carries no target: the hovered link stands in.
    QVERIFY(window_->Hover(QStringLiteral("playlist"), playlistUrl_));
    RunJs(window_->View(), QStringLiteral("window.open('about:blank', '_blank'); true"));
    QTRY_COMPARE_WITH_TIMEOUT(handedOff.count(), 1, 10000);
    QCOMPARE(Session()->URL(), playlistUrl_);
    // Off the links the status text is empty: nothing reaches the player then.
    QVERIFY(window_->Hover(QStringLiteral("empty"), QString()));
    RunJs(window_->View(), QStringLiteral("window.open('', '_blank'); true"));
    QTRY_COMPARE_WITH_TIMEOUT(handedOff.count(), 2, 10000);
    QCOMPARE(handedOff.at(1).first().toString(), QString());
    QCOMPARE(Session()->URL(), playlistUrl_);
    QCOMPARE(VisibleTopLevelWindows(), windowsBefore);
  }

  void playlistStationPlays() {
    QVERIFY(window_->ClickLink(QStringLiteral("playlist"), playlistUrl_));
    QVERIFY2(window_->WaitPlaying(), qPrintable(Status()));
    QCOMPARE(Session()->URL(), playlistUrl_);
    QTRY_COMPARE_WITH_TIMEOUT(Session()->Title(), QString::fromLatin1(ToneSource::kTitle),
                              kPlayTimeoutMs);
  }

  void m3uPlaylistAndHlsStationsPlay() {
    QVERIFY(window_->ClickLink(QStringLiteral("m3u"), m3uUrl_));
    QVERIFY2(window_->WaitPlaying(), qPrintable(Status()));
    QTRY_COMPARE_WITH_TIMEOUT(Session()->StationName(),
                              QString::fromLatin1(ToneSource::kStationName), kPlayTimeoutMs);
    QVERIFY(window_->ClickLink(QStringLiteral("hls"), hlsUrl_));
    QVERIFY2(window_->WaitPlaying(), qPrintable(Status()));
    QCOMPARE(Session()->URL(), hlsUrl_);
  }

  void deadStationShowsAnErrorAndTheAppGoesOn() {
    QVERIFY(window_->ClickLink(QStringLiteral("dead"), deadUrl_));
    // A few more tries, the status line counting down to each with the cause mpv logged.
    const QRegularExpression countdown(
        QStringLiteral("Connection refused \u2014 trying again in [1-4] s$"));
    QTRY_VERIFY2_WITH_TIMEOUT(countdown.match(Status()).hasMatch(), qPrintable(Status()), 5000);
    // As shown, the line fits its label and keeps the countdown, the cause cut short if need be.
    const auto* shown = window_->Player().findChild<QLabel*>(QStringLiteral("NowPlaying"));
    QVERIFY(shown != nullptr);
    QVERIFY2(QRegularExpression(QStringLiteral("trying again in [1-4] s$"))
                 .match(shown->text())
                 .hasMatch(),
             qPrintable(shown->text()));
    QVERIFY(shown->fontMetrics().horizontalAdvance(shown->text()) <= shown->contentsRect().width());
    QTRY_COMPARE_WITH_TIMEOUT(Session()->PlayState(), PlayerSession::State::Error, kPlayTimeoutMs);
    QCOMPARE(Session()->RetryCount(), PlayerSession::kFirstOpenRetries);
    // The cause mpv logged completes the words, whenever it arrives.
    QTRY_VERIFY2_WITH_TIMEOUT(Session()->ErrorText().contains(QStringLiteral("Connection refused")),
                              qPrintable(Session()->ErrorText()), 5000);
    QVERIFY2(Status().contains(Session()->ErrorText()), qPrintable(Status()));
    QVERIFY(Form()->isVisible());
    QVERIFY(window_->ClickLink(QStringLiteral("tone"), toneUrl_));
    QVERIFY2(window_->WaitPlaying(), qPrintable(Status()));
    QVERIFY(Session()->ErrorText().isEmpty());
  }

  void droppedStreamReconnectsWhenTheSourceReturns() {
    QVERIFY(window_->ClickLink(QStringLiteral("tone"), toneUrl_));
    QVERIFY2(window_->WaitPlaying(), qPrintable(Status()));
    site_->Tone().Stop();
    QTRY_COMPARE_WITH_TIMEOUT(Session()->PlayState(), PlayerSession::State::Reconnecting,
                              kReconnectTimeoutMs);
    QVERIFY(Status().contains(QStringLiteral("econnect")));
    // Let at least one reopen fail against the missing mount before the source returns.
    QTRY_VERIFY_WITH_TIMEOUT(Session()->RetryCount() >= 1, kReconnectTimeoutMs);
    QVERIFY(Session()->NextRetryDelayMs() > PlayerSession::kFirstRetryDelayMs);
    QVERIFY(site_->Tone().Start());
    QVERIFY2(window_->WaitPlaying(), qPrintable(Status()));
    QCOMPARE(Session()->URL(), toneUrl_);
    QCOMPARE(Session()->RetryCount(), 0);
    QCOMPARE(Session()->NextRetryDelayMs(), PlayerSession::kFirstRetryDelayMs);
  }

  void transportBarControlsPlayback() {
    QVERIFY(window_->ClickLink(QStringLiteral("tone"), toneUrl_));
    QVERIFY2(window_->WaitPlaying(), qPrintable(Status()));
    auto* stop = window_->Player().findChild<QWidget*>(QStringLiteral("Stop"));
    auto* play = window_->Player().findChild<QWidget*>(QStringLiteral("PlayPause"));
    auto* mute = window_->Player().findChild<QWidget*>(QStringLiteral("Mute"));
    QVERIFY(stop && play && mute);
    QTest::mouseClick(play, Qt::LeftButton);
    QTRY_COMPARE_WITH_TIMEOUT(Session()->PlayState(), PlayerSession::State::Paused, 5000);
    QTest::mouseClick(play, Qt::LeftButton);
    QTRY_COMPARE_WITH_TIMEOUT(Session()->PlayState(), PlayerSession::State::Playing, 10000);
    QTest::mouseClick(mute, Qt::LeftButton);
    QVERIFY(Session()->Mute());
    QTest::mouseClick(stop, Qt::LeftButton);
    QTRY_COMPARE_WITH_TIMEOUT(Session()->PlayState(), PlayerSession::State::Idle, 5000);
    QCOMPARE(Session()->URL(), toneUrl_);
    QTest::mouseClick(play, Qt::LeftButton);
    QVERIFY2(window_->WaitPlaying(), qPrintable(Status()));
    // The keys work with the focus in the station list.
    Form()->activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(Form()));
    Proxy()->setFocus();
    QTest::keyClick(Proxy(), Qt::Key_Space);
    QTRY_COMPARE_WITH_TIMEOUT(Session()->PlayState(), PlayerSession::State::Paused, 5000);
    QTest::sendKeyEvent(QTest::Click, Proxy(), Qt::Key_MediaTogglePlayPause, QString(), {});
    QTRY_COMPARE_WITH_TIMEOUT(Session()->PlayState(), PlayerSession::State::Playing, 10000);
    QTest::keyClick(Proxy(), Qt::Key_M);
    QVERIFY(!Session()->Mute());
    QTest::keyClick(Proxy(), Qt::Key_Up);
    QTest::keyClick(Proxy(), Qt::Key_Up);
    QTest::keyClick(Proxy(), Qt::Key_Down);
    QCOMPARE(Session()->Volume(), 55);
    QCOMPARE(window_->Player().findChild<QSlider*>(QStringLiteral("Volume"))->value(), 55);
    // Space on a focused transport button presses that button.
    stop->setFocus();
    QTest::keyClick(stop, Qt::Key_Space);
    QTRY_COMPARE_WITH_TIMEOUT(Session()->PlayState(), PlayerSession::State::Idle, 5000);
  }

  void minimiseHotSpotMinimises() {
    QVERIFY(!Form()->isMinimized());
    QTest::mouseClick(Form()->Image2(0), Qt::LeftButton, {}, QPoint(8, 6));
    QTRY_VERIFY_WITH_TIMEOUT(Form()->isMinimized(), 5000);
  }

  void closeHotSpotIsRoutedToTheExitAction() {
    int exits = 0;
    Form()->SetExitAction([&] { ++exits; });
    QTest::mouseClick(Form()->Image2(1), Qt::LeftButton, {}, QPoint(8, 6));
    QCOMPARE(exits, 1);
    // A press that leaves the spot before the release is no click.
    QTest::mousePress(Form()->Image2(1), Qt::LeftButton, {}, QPoint(8, 6));
    QTest::mouseRelease(Form()->Image2(1), Qt::LeftButton, {}, QPoint(40, 6));
    QCOMPARE(exits, 1);
  }

  void draggingTheSkinMovesTheWindow() {
    const QStringList onSkin = {QStringLiteral("mousemove"), QStringLiteral("--window"),
                                QString::number(Form()->winId()), QStringLiteral("200"),
                                QStringLiteral("72")};
    const QPoint start = Form()->pos();
    // No button held: the window stays.
    Xdotool(onSkin + Words("mousemove_relative -- 30 20"));
    QVERIFY(WaitFor([&] { return QCursor::pos() == Form()->mapToGlobal(QPoint(230, 92)); }, 5000));
    QCOMPARE(Form()->pos(), start);
    // Held left button: the window follows the pointer.
    Xdotool(onSkin + Words("mousedown 1 mousemove_relative -- 20 10 mousemove_relative -- 20 15 "
                           "mouseup 1"));
    QTRY_COMPARE_WITH_TIMEOUT(Form()->pos(), start + QPoint(40, 25), 5000);
  }

  void screenshotShowsTheRoundedSkin() {
    QVERIFY(window_->ClickLink(QStringLiteral("tone"), toneUrl_));
    QVERIFY2(window_->WaitPlaying(), qPrintable(Status()));
    QTRY_COMPARE_WITH_TIMEOUT(Session()->Title(), QString::fromLatin1(ToneSource::kTitle),
                              kPlayTimeoutMs);
    QTest::mouseMove(Proxy(), ElementCentre(window_->View(), QStringLiteral("empty")));
    // The screen as X shows it: what lies outside the region is the root window's background.
    constexpr int kMargin = 10;
    const QPoint origin = Form()->geometry().topLeft();
    QImage shot;
    QVERIFY(WaitFor(
        [&] {
          shot = Form()
                     ->screen()
                     ->grabWindow(0, origin.x() - kMargin, origin.y() - kMargin, 290 + 2 * kMargin,
                                  480 + 2 * kMargin)
                     .toImage()
                     .convertToFormat(QImage::Format_RGB32);
          // Painted once the player's line shows the title.
          return !shot.isNull() && shot.pixel(kMargin + 145, kMargin + 2) != shot.pixel(1, 1);
        },
        10000));
    const QRgb background = shot.pixel(1, 1);
    const QRegion region = Form()->mask();
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
    auto* mast = qobject_cast<velmora::qt::AniGifWidget*>(Form()->ucAniGIF2());
    auto* trace = qobject_cast<velmora::qt::AniGifWidget*>(Form()->ucAniGIF1());
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
    window_.reset();  // only the child plays now
    QVERIFY(WaitFor([&] { return site_->Icecast().Listeners(kMount) == 0; }, 15000));
    RadioProcess app({QStringLiteral("--station-host"), stations_->Host()});
    QVERIFY(app.HasWindow());
    // Click the tone's row (the page lays its links out in fixed rows) until Icecast counts the
    // child as a listener: its page may still be loading at first.
    QVERIFY(WaitFor(
        [&] {
          if (!app.Process().Running()) return false;
          app.ClickAt(RowInWindow(0));
          return WaitFor([&] { return site_->Icecast().Listeners(kMount) >= 1; }, 2000);
        },
        kPageTimeoutMs));
    QVERIFY2(app.CloseFromHotSpot(), "not ended with status 0 within 3 s of the close click");
  }
};

int main(int argc, char* argv[]) {
  return RunEndToEnd<Form1EndToEnd>(argc, argv);
}

#include "form1_e2e.moc"
