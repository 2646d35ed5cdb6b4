// The radio on a desktop, end to end: the real velmora-radio binary under Xvfb inside its own
// D-Bus session (dbus-run-session), its own Icecast fed by ffmpeg and its own station page,
// driven over the media-player bus with playerctl and dbus-send as a desktop's media controls
// would. Settings live in a throwaway XDG_CONFIG_HOME; the session bus also stands in for the
// system bus, where the test plays logind announcing a resume.

#include <QDBusConnection>
#include <QDBusMessage>
#include <QScreen>
#include <QSettings>
#include <QTemporaryDir>
#include <QWidget>
#include <memory>

#include "app/player_session.h"
#include "app/settings.h"
#include "e2e_support.h"

using namespace velmora::e2e;
using velmora::app::RadioSettings;

namespace {

const QString kMount = QStringLiteral("/desk.ogg");
const QString kLateMount = QStringLiteral("/late.ogg");  // its source comes after the click
const QString kGoneMount = QStringLiteral("/gone.ogg");  // comes only after the error stays
const QString kIcyMount = QStringLiteral("/latin.mp3");
enum Row { kToneRow, kLateRow, kGoneRow, kIcyRow };

// playerctl on the radio's player; its output, or "<failed>".
QString Playerctl(const QStringList& arguments) {
  return RunTool(QStringLiteral("playerctl"),
                 QStringList{QStringLiteral("--player=velmora")} + arguments)
      .value_or(QStringLiteral("<failed>"));
}

QString Metadata(const char* key) {
  return Playerctl({QStringLiteral("metadata"), QString::fromLatin1(key)});
}

bool WaitForStatus(const char* status, int timeoutMs = kPlayTimeoutMs) {
  return WaitFor([&] { return Playerctl({QStringLiteral("status")}) == QLatin1String(status); },
                 timeoutMs);
}

bool QuitOverTheBus(RadioProcess& app) {
  RunTool(QStringLiteral("dbus-send"),
          Words("--session --print-reply --dest=org.mpris.MediaPlayer2.velmora "
                "/org/mpris/MediaPlayer2 org.mpris.MediaPlayer2.Quit"));
  return app.Process().WaitForExit(5000) && app.Process().ExitCode() == 0;
}

}  // namespace

class DesktopEndToEnd : public QObject {
  Q_OBJECT

 private:
  std::unique_ptr<TestStations> site_;
  std::unique_ptr<StationServer> stations_;
  std::unique_ptr<ToneSource> late_, gone_, icy_;
  QTemporaryDir config_;
  ChildOptions options_;

  QString Url(const QString& mount) const { return site_->Icecast().StreamUrl(mount); }

  std::unique_ptr<RadioProcess> Start(const QStringList& extra = {}) {
    auto app = std::make_unique<RadioProcess>(
        QStringList{QStringLiteral("--station-host"), stations_->Host()} + extra, options_);
    if (!app->HasWindow() ||
        !WaitFor([] { return Playerctl({QStringLiteral("status")}) != QLatin1String("<failed>"); },
                 kPageTimeoutMs)) {
      return nullptr;
    }
    return app;
  }

  // Clicks the row until the player reports playing.
  static bool Play(RadioProcess& app, int row) {
    return WaitFor(
        [&] {
          app.ClickAt(RowInWindow(row));
          return WaitForStatus("Playing", 2000);
        },
        kPageTimeoutMs);
  }

 private slots:
  void initTestCase() {
    site_ = std::make_unique<TestStations>(kMount);
    QVERIFY(site_->Ok());
    stations_ = std::make_unique<StationServer>(site_->Root());
    QVERIFY(stations_->Ok());
    QVERIFY(site_->Write(QStringLiteral("tree.asp"),
                         StationPage({{QStringLiteral("tone"), Url(kMount)},
                                      {QStringLiteral("late"), Url(kLateMount)},
                                      {QStringLiteral("gone"), Url(kGoneMount)},
                                      {QStringLiteral("icy"), Url(kIcyMount)}})));
    late_ = std::make_unique<ToneSource>(site_->Icecast(), kLateMount);
    gone_ = std::make_unique<ToneSource>(site_->Icecast(), kGoneMount);
    icy_ = std::make_unique<ToneSource>(site_->Icecast(), kIcyMount);
    QVERIFY(config_.isValid());
    options_.environment.insert(QStringLiteral("XDG_CONFIG_HOME"), config_.path());
    options_.environment.insert(
        QStringLiteral("DBUS_SYSTEM_BUS_ADDRESS"),
        options_.environment.value(QStringLiteral("DBUS_SESSION_BUS_ADDRESS")));
    QVERIFY2(QDBusConnection::sessionBus().isConnected(), "run inside dbus-run-session");
  }

  void cleanupTestCase() {
    late_.reset();
    gone_.reset();
    icy_.reset();
    stations_.reset();
    site_.reset();
  }

  void mediaControlsOverTheBus() {
    options_.mergeOutput = true;
    auto app = Start({QStringLiteral("--report-startup")});
    options_.mergeOutput = false;
    QVERIFY(app);
    QCOMPARE(Playerctl({QStringLiteral("status")}), QStringLiteral("Stopped"));
    ChildProcess follow(QStringLiteral("playerctl"), Words("--player=velmora --follow status"));
    QCOMPARE(follow.ReadLine(5000), QStringLiteral("Stopped"));
    QVERIFY(Play(*app, kToneRow));
    QTRY_COMPARE_WITH_TIMEOUT(Metadata("xesam:title"), QString::fromLatin1(ToneSource::kTitle),
                              kPlayTimeoutMs);
    QCOMPARE(Metadata("xesam:album"), QString::fromLatin1(ToneSource::kStationName));
    QCOMPARE(Metadata("xesam:url"), Url(kMount));
    Playerctl({QStringLiteral("pause")});
    QVERIFY(WaitForStatus("Paused"));
    Playerctl({QStringLiteral("play-pause")});
    QVERIFY(WaitForStatus("Playing"));
    // Every change was announced (PropertiesChanged), in order.
    for (const char* status : {"Playing", "Paused", "Playing"}) {
      QCOMPARE(follow.ReadLine(5000), QString::fromLatin1(status));
    }
    // Volume both ways: the bus sets the player's (kept in the settings), the window's Down key
    // shows on the bus.
    Playerctl(Words("volume 0.3"));
    QSettings settings(config_.path() + QStringLiteral("/velmora/radio.conf"),
                       QSettings::IniFormat);
    QVERIFY(WaitFor(
        [&] {
          settings.sync();
          return settings.value(RadioSettings::kVolume).toInt() == 30;
        },
        5000));
    app->PressKey(QStringLiteral("Down"));
    QTRY_COMPARE_WITH_TIMEOUT(Playerctl({QStringLiteral("volume")}), QStringLiteral("0.250000"),
                              5000);
    QVERIFY(QuitOverTheBus(*app));
    // A normal run says nothing but what it was asked for.
    const QString output = app->Process().ReadAll().trimmed();
    QVERIFY2(QRegularExpression(QStringLiteral("^startup: station list shown after \\d+ ms$"))
                 .match(output)
                 .hasMatch(),
             qPrintable(output));
  }

  void settingsKeptAcrossARestartAndOneInstance() {
    auto app = Start();
    QVERIFY(app);
    // The last station is there, ready to play, at the volume it was left at.
    QCOMPARE(Playerctl({QStringLiteral("status")}), QStringLiteral("Stopped"));
    QCOMPARE(Metadata("xesam:url"), Url(kMount));
    QCOMPARE(Metadata("xesam:album"), QString::fromLatin1(ToneSource::kStationName));
    // No title from the stream yet: the station's name stands in for the desktop to show.
    QCOMPARE(Metadata("xesam:title"), QString::fromLatin1(ToneSource::kStationName));
    QCOMPARE(Playerctl({QStringLiteral("volume")}), QStringLiteral("0.250000"));
    // A second start with an address plays it in the first and ends at once.
    ChildProcess second(QStringLiteral(VELMORA_RADIO_BIN),
                        {Url(kMount) + QStringLiteral("?second")}, options_);
    QVERIFY(second.WaitForExit(10000));
    QCOMPARE(second.ExitCode(), 0);
    QTRY_COMPARE_WITH_TIMEOUT(Metadata("xesam:url"), Url(kMount) + QStringLiteral("?second"), 5000);
    QVERIFY(WaitForStatus("Playing"));
    // A second start without one raises the window: a window of the test's covers it first.
    QWidget cover;
    cover.setGeometry(app->Geometry());
    cover.setStyleSheet(QStringLiteral("background: #00ff00"));
    cover.show();
    const QPoint middle = app->Geometry().center();
    const auto covered = [&] {
      return cover.screen()->grabWindow(0, middle.x(), middle.y(), 1, 1).toImage().pixel(0, 0) ==
             qRgb(0, 255, 0);
    };
    QVERIFY(WaitFor(covered, 5000));
    ChildProcess third(QStringLiteral(VELMORA_RADIO_BIN), {}, options_);
    QVERIFY(third.WaitForExit(10000));
    QCOMPARE(third.ExitCode(), 0);
    QVERIFY(WaitFor([&] { return !covered(); }, 5000));
    QVERIFY(QuitOverTheBus(*app));
    // --resume plays the last station at once.
    app = Start({QStringLiteral("--resume")});
    QVERIFY(app);
    QVERIFY(WaitForStatus("Playing"));
    QCOMPARE(Metadata("xesam:url"), Url(kMount) + QStringLiteral("?second"));
    QVERIFY(QuitOverTheBus(*app));
  }

  void stationsThatComeBack() {
    // logind, played on the bus the radio takes for the system bus.
    QDBusConnection logind =
        QDBusConnection::connectToBus(QDBusConnection::SessionBus, QStringLiteral("logind"));
    QVERIFY(logind.registerService(QStringLiteral("org.freedesktop.login1")));
    auto app = Start();
    QVERIFY(app);
    // A source that appears only after the click: the first open fails, a later try plays.
    QVERIFY(WaitFor(
        [&] {
          app->ClickAt(RowInWindow(kLateRow));
          return WaitFor([&] { return site_->Icecast().Requests(kLateMount) >= 1; }, 2000);
        },
        kPageTimeoutMs));
    QVERIFY(late_->Start());
    QVERIFY(WaitFor([&] { return site_->Icecast().Listeners(kLateMount) == 1; }, kPlayTimeoutMs));
    QVERIFY(WaitForStatus("Playing"));
    // A station whose tries are all used up stays stopped, until the machine wakes up.
    app->ClickAt(RowInWindow(kGoneRow));
    QTRY_COMPARE_WITH_TIMEOUT(Metadata("xesam:url"), Url(kGoneMount), 10000);
    QVERIFY(WaitForStatus("Stopped", kPlayTimeoutMs));
    QVERIFY(WaitFor(
        [&] {
          return site_->Icecast().Requests(kGoneMount) >=
                 1 + velmora::app::PlayerSession::kFirstOpenRetries;
        },
        5000));
    QVERIFY(gone_->Start());
    QDBusMessage resumed = QDBusMessage::createSignal(
        QStringLiteral("/org/freedesktop/login1"), QStringLiteral("org.freedesktop.login1.Manager"),
        QStringLiteral("PrepareForSleep"));
    resumed << false;
    QVERIFY(logind.send(resumed));
    QVERIFY(WaitFor([&] { return site_->Icecast().Listeners(kGoneMount) == 1; }, kPlayTimeoutMs));
    QVERIFY(WaitForStatus("Playing"));
    QVERIFY(QuitOverTheBus(*app));
  }

  void latin1IcyTitle() {
    QVERIFY(icy_->Start());
    auto app = Start();
    QVERIFY(app);
    QVERIFY(Play(*app, kIcyRow));
    // Café Olé in ISO-8859-1, as an old source sends it.
    QVERIFY(site_->Icecast().SetIcyTitle(kIcyMount, QByteArray("Caf\xe9 Ol\xe9")));
    QTRY_COMPARE_WITH_TIMEOUT(Metadata("xesam:title"), QStringLiteral("Caf\u00e9 Ol\u00e9"),
                              kPlayTimeoutMs);
    QVERIFY(QuitOverTheBus(*app));
  }
};

int main(int argc, char* argv[]) {
  return RunEndToEnd<DesktopEndToEnd>(argc, argv);
}

#include "desktop_e2e.moc"
