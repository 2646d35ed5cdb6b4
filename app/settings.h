#pragma once
// What the radio remembers between runs: the volume, mute, the last station (address and name)
// and whether to play it at start. Kept with QSettings in the user's configuration folder
// ($XDG_CONFIG_HOME, by default ~/.config: velmora/radio.conf) and written the moment a value
// changes: the close hot spot ends the process at once, so no orderly exit would save them.

#include <QObject>
#include <QSettings>

namespace velmora::app {

class PlayerSession;

class RadioSettings : public QObject {
  Q_OBJECT

 public:
  static inline const char* const kVolume = "player/volume";
  static inline const char* const kMute = "player/mute";
  static inline const char* const kResume = "player/resume";  // play the last station at start
  static inline const char* const kStationAddress = "station/address";
  static inline const char* const kStationName = "station/name";

  explicit RadioSettings(QObject* parent = nullptr);

  // Gives `session` the remembered volume and mute and the last station, ready to play, or
  // playing when `resume` or the resume setting is on; from then on follows the session.
  // Values of the wrong type or out of range are left at the session's own.
  void Attach(PlayerSession& session, bool resume);

 private:
  void Store(const char* key, const QVariant& value);

  QSettings settings_;
};

}  // namespace velmora::app
