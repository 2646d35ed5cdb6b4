#include "app/mpris.h"

#include <QDBusAbstractAdaptor>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusObjectPath>
#include <QFileInfo>
#include <QTimer>
#include <algorithm>
#include <cmath>

#include "app/form1.h"
#include "app/player_session.h"
#include "app/startup.h"

namespace velmora::app {
namespace {

const QString kPlayerInterface = QStringLiteral("org.mpris.MediaPlayer2.Player");
const QString kNoTrack = QStringLiteral("/org/mpris/MediaPlayer2/TrackList/NoTrack");
// Quit replies before the process ends; the reply leaves on the bus's own thread.
constexpr int kQuitDelayMs = 100;

// Without a session bus libdbus would try to launch one (X11 autolaunch); the radio only uses a
// bus that is there: one named in the environment or the user bus of a systemd session.
bool SessionBusAvailable() {
  if (!qEnvironmentVariableIsEmpty("DBUS_SESSION_BUS_ADDRESS")) return true;
  const QString runtime = qEnvironmentVariable("XDG_RUNTIME_DIR");
  return !runtime.isEmpty() && QFileInfo::exists(runtime + QStringLiteral("/bus"));
}

class RootAdaptor final : public QDBusAbstractAdaptor {
  Q_OBJECT
  Q_CLASSINFO("D-Bus Interface", "org.mpris.MediaPlayer2")
  Q_PROPERTY(bool CanQuit READ Yes)
  Q_PROPERTY(bool CanRaise READ Yes)
  Q_PROPERTY(bool HasTrackList READ No)
  Q_PROPERTY(QString Identity READ Identity)
  Q_PROPERTY(QString DesktopEntry READ DesktopEntry)
  Q_PROPERTY(QStringList SupportedUriSchemes READ SupportedUriSchemes)
  Q_PROPERTY(QStringList SupportedMimeTypes READ SupportedMimeTypes)

 public:
  explicit RootAdaptor(MprisService* service) : QDBusAbstractAdaptor(service), service_(*service) {}

  bool Yes() const { return true; }
  bool No() const { return false; }
  QString Identity() const { return QStringLiteral("Velmora radio"); }
  QString DesktopEntry() const { return QString::fromLatin1(kApplicationId); }
  QStringList SupportedUriSchemes() const {
    return {QStringLiteral("http"), QStringLiteral("https"), QStringLiteral("mms"),
            QStringLiteral("mmsh"), QStringLiteral("rtsp"),  QStringLiteral("rtmp"),
            QStringLiteral("file")};
  }
  QStringList SupportedMimeTypes() const {
    return {QStringLiteral("audio/mpeg"),      QStringLiteral("audio/aac"),
            QStringLiteral("audio/ogg"),       QStringLiteral("audio/x-scpls"),
            QStringLiteral("audio/x-mpegurl"), QStringLiteral("application/vnd.apple.mpegurl")};
  }

 public slots:
  void Raise() { service_.Window().Raise(); }
  void Quit() {
    Form1* form = &service_.Window();
    QTimer::singleShot(kQuitDelayMs, form, [form] { form->Quit(); });
  }

 private:
  MprisService& service_;
};

class PlayerAdaptor final : public QDBusAbstractAdaptor {
  Q_OBJECT
  Q_CLASSINFO("D-Bus Interface", "org.mpris.MediaPlayer2.Player")
  Q_PROPERTY(QString PlaybackStatus READ PlaybackStatus)
  Q_PROPERTY(double Rate READ Rate WRITE SetRate)
  Q_PROPERTY(double MinimumRate READ Rate)
  Q_PROPERTY(double MaximumRate READ Rate)
  Q_PROPERTY(QVariantMap Metadata READ Metadata)
  Q_PROPERTY(double Volume READ Volume WRITE SetVolume)
  Q_PROPERTY(qlonglong Position READ Position)
  Q_PROPERTY(bool CanGoNext READ No)
  Q_PROPERTY(bool CanGoPrevious READ No)
  Q_PROPERTY(bool CanPlay READ Yes)
  Q_PROPERTY(bool CanPause READ Yes)
  Q_PROPERTY(bool CanSeek READ No)
  Q_PROPERTY(bool CanControl READ Yes)

 public:
  explicit PlayerAdaptor(MprisService* service)
      : QDBusAbstractAdaptor(service), service_(*service), session_(service->Session()) {}

  QString PlaybackStatus() const { return service_.PlaybackStatus(); }
  QVariantMap Metadata() const { return service_.Metadata(); }
  double Rate() const { return 1.0; }
  void SetRate(double) {}  // live radio plays at its own pace
  double Volume() const { return session_.Volume() / 100.0; }
  void SetVolume(double volume) {
    if (!std::isfinite(volume)) return;
    session_.SetVolume(static_cast<int>(std::lround(std::clamp(volume, 0.0, 1.0) * 100)));
  }
  qlonglong Position() const {
    return session_.Position() > 0 ? static_cast<qlonglong>(session_.Position() * 1e6) : 0;
  }
  bool Yes() const { return true; }
  bool No() const { return false; }

 public slots:
  void Next() {}
  void Previous() {}
  void Play() { session_.Play(); }
  void Pause() { session_.Pause(); }
  void PlayPause() { session_.TogglePause(); }
  void Stop() { session_.Stop(); }
  void Seek(qlonglong) {}
  void SetPosition(const QDBusObjectPath&, qlonglong) {}
  void OpenUri(const QString& uri) {
    const QString station = StationArgument(uri);
    if (!station.isEmpty()) session_.SetURL(station);
  }

 signals:
  void Seeked(qlonglong position);

 private:
  MprisService& service_;
  PlayerSession& session_;
};

}  // namespace

MprisService::MprisService(Form1& form, PlayerSession& session, QObject* parent)
    : QObject(parent), form_(form), session_(session) {
  new RootAdaptor(this);
  new PlayerAdaptor(this);
  lastStatus_ = PlaybackStatus();
  lastMetadata_ = Metadata();
  connect(&session_, &PlayerSession::statusChanged, this, &MprisService::OnStatus);
  connect(&session_, &PlayerSession::stationChanged, this, [this] { ++trackNumber_; });
  connect(&session_, &PlayerSession::metadataChanged, this, &MprisService::OnMetadata);
  connect(&session_, &PlayerSession::volumeChanged, this, [this](int volume) {
    Announce(kPlayerInterface, {{QStringLiteral("Volume"), volume / 100.0}});
  });
}

bool MprisService::Register() {
  if (!SessionBusAvailable()) return false;
  QDBusConnection bus = QDBusConnection::sessionBus();
  if (!bus.isConnected()) return false;
  if (!bus.registerObject(QLatin1String(kObjectPath), this, QDBusConnection::ExportAdaptors)) {
    return false;
  }
  if (!bus.registerService(QLatin1String(kServiceName))) {
    bus.unregisterObject(QLatin1String(kObjectPath));
    return false;
  }
  registered_ = true;
  return true;
}

QString MprisService::PlaybackStatus() const {
  switch (session_.PlayState()) {
    case PlayerSession::State::Opening:
    case PlayerSession::State::Buffering:
    case PlayerSession::State::Playing:
    case PlayerSession::State::Reconnecting:
      return QStringLiteral("Playing");
    case PlayerSession::State::Paused:
      return QStringLiteral("Paused");
    case PlayerSession::State::Idle:
    case PlayerSession::State::Error:
      return QStringLiteral("Stopped");
  }
  return QStringLiteral("Stopped");
}

QVariantMap MprisService::Metadata() const {
  const QString url = session_.URL();
  if (url.isEmpty()) {
    return {{QStringLiteral("mpris:trackid"), QVariant::fromValue(QDBusObjectPath(kNoTrack))}};
  }
  // A track is a station as picked: a new address, or the same one picked again.
  const QString track = QStringLiteral("/org/velmora/Radio/Station/%1").arg(trackNumber_);
  QVariantMap metadata = {
      {QStringLiteral("mpris:trackid"), QVariant::fromValue(QDBusObjectPath(track))},
      {QStringLiteral("xesam:url"), url},
  };
  // Media controls show the title first: before the stream names one (or for a stream that
  // never does), the station's name stands in.
  const QString title = session_.Title().isEmpty() ? session_.StationName() : session_.Title();
  if (!title.isEmpty()) metadata.insert(QStringLiteral("xesam:title"), title);
  if (!session_.StationName().isEmpty()) {
    metadata.insert(QStringLiteral("xesam:album"), session_.StationName());
  }
  return metadata;
}

void MprisService::OnStatus() {
  const QString status = PlaybackStatus();
  if (status == lastStatus_) return;
  lastStatus_ = status;
  Announce(kPlayerInterface, {{QStringLiteral("PlaybackStatus"), status}});
}

void MprisService::OnMetadata() {
  const QVariantMap metadata = Metadata();
  if (metadata == lastMetadata_) return;
  lastMetadata_ = metadata;
  Announce(kPlayerInterface, {{QStringLiteral("Metadata"), metadata}});
}

void MprisService::Announce(const QString& interface, const QVariantMap& changed) {
  if (!registered_) return;
  QDBusMessage signal = QDBusMessage::createSignal(
      QLatin1String(kObjectPath), QStringLiteral("org.freedesktop.DBus.Properties"),
      QStringLiteral("PropertiesChanged"));
  signal << interface << changed << QStringList();
  QDBusConnection::sessionBus().send(signal);
}

}  // namespace velmora::app

#include "mpris.moc"
