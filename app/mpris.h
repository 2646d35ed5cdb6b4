#pragma once
// The radio as an MPRIS 2 media player on the session bus, so the desktop's media controls and
// media keys reach it: bus name org.mpris.MediaPlayer2.velmora, object /org/mpris/MediaPlayer2,
// interfaces org.mpris.MediaPlayer2 (Identity "Velmora radio", DesktopEntry the application id,
// Raise, Quit) and org.mpris.MediaPlayer2.Player (PlaybackStatus, Play, Pause, PlayPause, Stop,
// OpenUri, Volume read and written, Metadata with the title now playing as xesam:title (the
// station's name until there is one), the station's name as xesam:album and its address as
// xesam:url). Every property change is
// announced with org.freedesktop.DBus.Properties.PropertiesChanged. There is no track list:
// CanGoNext and CanGoPrevious are false, Next and Previous do nothing; nor seeking (live radio).

#include <QObject>
#include <QString>
#include <QVariantMap>

namespace velmora::app {

class Form1;
class PlayerSession;

class MprisService : public QObject {
  Q_OBJECT

 public:
  static inline const char* const kServiceName = "org.mpris.MediaPlayer2.velmora";
  static inline const char* const kObjectPath = "/org/mpris/MediaPlayer2";

  // Serves `session` and `form` (raise, quit); both must outlive the service.
  MprisService(Form1& form, PlayerSession& session, QObject* parent = nullptr);

  // Puts the service on the session bus. False, saying nothing, when there is no session bus
  // (the radio then simply runs without it) or the name is taken.
  bool Register();

  // What the adaptors serve, in the bus's terms.
  Form1& Window() const { return form_; }
  PlayerSession& Session() const { return session_; }
  QString PlaybackStatus() const;
  QVariantMap Metadata() const;

 private:
  void Announce(const QString& interface, const QVariantMap& changed);
  void OnStatus();
  void OnMetadata();

  Form1& form_;
  PlayerSession& session_;
  bool registered_ = false;
  QString lastStatus_;
  QVariantMap lastMetadata_;
  int trackNumber_ = 0;
};

}  // namespace velmora::app
