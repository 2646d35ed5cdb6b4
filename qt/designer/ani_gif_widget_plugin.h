#pragma once
// The Qt Designer plugin of AniGifWidget: the widget in Designer's widget box ("Velmora"), its
// properties in the property editor, and a "Choose GIF..." entry in its context menu that stores
// the chosen file in the form (the gifData property, base64).
//
// In Designer (initialize() with a form editor) every widget is made in design mode: the control
// shows its outline and frame 1 and runs no timer. QUiLoader creates widgets through the same
// plugin without initializing it: those are in run mode and animate with the form's settings.

#include <QObject>
#include <QtUiPlugin/QDesignerCustomWidgetInterface>

namespace velmora::qt {

class AniGifWidgetPlugin final : public QObject, public QDesignerCustomWidgetInterface {
  Q_OBJECT
  Q_PLUGIN_METADATA(IID "org.qt-project.Qt.QDesignerCustomWidgetInterface")
  Q_INTERFACES(QDesignerCustomWidgetInterface)

 public:
  explicit AniGifWidgetPlugin(QObject* parent = nullptr);

  QString name() const override;
  QString group() const override;
  QString toolTip() const override;
  QString whatsThis() const override;
  QString includeFile() const override;
  QIcon icon() const override;
  bool isContainer() const override { return false; }
  QString domXml() const override;
  QWidget* createWidget(QWidget* parent) override;
  bool isInitialized() const override { return initialized_; }
  void initialize(QDesignerFormEditorInterface* core) override;

 private:
  bool initialized_ = false;
  bool designer_ = false;  // initialized by Designer's form editor
};

}  // namespace velmora::qt
