#pragma once
// The viewer window: the form from viewer.ui (an AniGifWidget over a row of controls) wired to
// the widget's properties and signals.

#include <QWidget>

#include "ui_viewer.h"

class Viewer : public QWidget {
  Q_OBJECT

 public:
  explicit Viewer(QWidget* parent = nullptr);

  velmora::qt::AniGifWidget& gif() { return *ui_.gif; }
  // Loads `path`; false (and the status line says so) when it is not a GIF with a frame.
  bool open(const QString& path);

 private:
  void chooseFile();
  void showStatus();

  Ui::Viewer ui_;
  QString name_;
};
