#include "app/settings.h"

#include "app/player_session.h"
#include "app/startup.h"

namespace velmora::app {

RadioSettings::RadioSettings(QObject* parent)
    : QObject(parent), settings_(QStringLiteral("velmora"), QStringLiteral("radio")) {}

void RadioSettings::Attach(PlayerSession& session, bool resume) {
  bool ok = false;
  const int volume = settings_.value(QLatin1String(kVolume)).toInt(&ok);
  if (ok && volume >= 0 && volume <= 100) session.SetVolume(volume);
  session.SetMute(settings_.value(QLatin1String(kMute), false).toBool());
  // The address is checked as any address from outside the window is.
  const QString station =
      StationArgument(settings_.value(QLatin1String(kStationAddress)).toString());
  if (!station.isEmpty()) {
    const bool autoStart = session.AutoStart();
    session.SetAutoStart(false);
    session.SetURL(station, settings_.value(QLatin1String(kStationName)).toString());
    session.SetAutoStart(autoStart);
    if (resume || settings_.value(QLatin1String(kResume), false).toBool()) session.Play();
  }
  connect(&session, &PlayerSession::volumeChanged, this,
          [this](int value) { Store(kVolume, value); });
  connect(&session, &PlayerSession::muteChanged, this, [this](bool on) { Store(kMute, on); });
  connect(&session, &PlayerSession::metadataChanged, this, [this, &session] {
    if (session.URL().isEmpty()) return;
    settings_.setValue(QLatin1String(kStationAddress), session.URL());
    Store(kStationName, session.StationName());
  });
}

void RadioSettings::Store(const char* key, const QVariant& value) {
  settings_.setValue(QLatin1String(key), value);
  settings_.sync();
}

}  // namespace velmora::app
