#include "qt/designer/ani_gif_widget_plugin.h"

#include <QAction>
#include <QFile>
#include <QFileDialog>
#include <QIcon>
#include <QMessageBox>
#include <QtDesigner/QDesignerFormEditorInterface>
#include <QtDesigner/QDesignerFormWindowCursorInterface>
#include <QtDesigner/QDesignerFormWindowInterface>
#include <QtDesigner/QDesignerTaskMenuExtension>
#include <QtDesigner/QExtensionFactory>
#include <QtDesigner/QExtensionManager>

#include "qt/ani_gif_widget.h"

namespace velmora::qt {
namespace {

constexpr auto kClassName = "velmora::qt::AniGifWidget";

// "Choose GIF..." in the widget's context menu: the file goes into the form through the form
// window's cursor, so that it is undoable and saved with the form like any property edit.
class ChooseGifTaskMenu final : public QObject, public QDesignerTaskMenuExtension {
  Q_OBJECT
  Q_INTERFACES(QDesignerTaskMenuExtension)

 public:
  ChooseGifTaskMenu(AniGifWidget* widget, QObject* parent)
      : QObject(parent), widget_(widget), choose_(tr("Choose GIF..."), this) {
    connect(&choose_, &QAction::triggered, this, &ChooseGifTaskMenu::chooseGif);
  }
  QAction* preferredEditAction() const override { return const_cast<QAction*>(&choose_); }
  QList<QAction*> taskActions() const override { return {const_cast<QAction*>(&choose_)}; }

 private:
  void chooseGif() {
    const QString path = QFileDialog::getOpenFileName(widget_, tr("Choose GIF"), QString(),
                                                      tr("GIF images (*.gif);;All files (*)"));
    if (path.isEmpty()) return;
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
      QMessageBox::warning(widget_, tr("Choose GIF"), tr("%1 cannot be read.").arg(path));
      return;
    }
    const QString data = QString::fromLatin1(file.readAll().toBase64());
    QDesignerFormWindowInterface* form = QDesignerFormWindowInterface::findFormWindow(widget_);
    if (form != nullptr) {
      form->cursor()->setWidgetProperty(widget_, QStringLiteral("gifData"), data);
    } else {
      widget_->setGifData(data);
    }
    if (widget_->frameCount() == 0) {
      QMessageBox::warning(widget_, tr("Choose GIF"), tr("%1 is not a GIF with a usable frame.").arg(path));
    }
  }

  AniGifWidget* widget_;
  QAction choose_;
};

class ChooseGifFactory final : public QExtensionFactory {
 public:
  explicit ChooseGifFactory(QExtensionManager* parent) : QExtensionFactory(parent) {}

 protected:
  QObject* createExtension(QObject* object, const QString& iid, QObject* parent) const override {
    auto* widget = qobject_cast<AniGifWidget*>(object);
    if (widget == nullptr || iid != Q_TYPEID(QDesignerTaskMenuExtension)) return nullptr;
    return new ChooseGifTaskMenu(widget, parent);
  }
};

}  // namespace

AniGifWidgetPlugin::AniGifWidgetPlugin(QObject* parent) : QObject(parent) {}

QString AniGifWidgetPlugin::name() const { return QString::fromLatin1(kClassName); }
QString AniGifWidgetPlugin::group() const { return QStringLiteral("Velmora"); }
QString AniGifWidgetPlugin::toolTip() const { return tr("Animated GIF"); }
QString AniGifWidgetPlugin::whatsThis() const {
  return tr("Shows and animates a GIF: stretch modes, offsets, mirroring, loops and an optional "
            "background. Right-click it and choose \"Choose GIF...\" to store a GIF in the form.");
}
QString AniGifWidgetPlugin::includeFile() const { return QStringLiteral("velmora/AniGifWidget"); }
QIcon AniGifWidgetPlugin::icon() const { return QIcon(); }

QString AniGifWidgetPlugin::domXml() const {
  return QStringLiteral(
      "<ui language=\"c++\">\n"
      " <widget class=\"velmora::qt::AniGifWidget\" name=\"aniGifWidget\"/>\n"
      " <customwidgets>\n"
      "  <customwidget>\n"
      "   <class>velmora::qt::AniGifWidget</class>\n"
      "   <header location=\"global\">velmora/AniGifWidget</header>\n"
      "  </customwidget>\n"
      " </customwidgets>\n"
      "</ui>\n");
}

QWidget* AniGifWidgetPlugin::createWidget(QWidget* parent) {
  auto* widget = new AniGifWidget(parent);
  // Before any property of the form reaches it: the mode is read when a GIF loads.
  widget->setDesignMode(designer_);
  return widget;
}

void AniGifWidgetPlugin::initialize(QDesignerFormEditorInterface* core) {
  if (initialized_) return;
  initialized_ = true;
  designer_ = core != nullptr;
  if (core == nullptr) return;
  QExtensionManager* manager = core->extensionManager();
  manager->registerExtensions(new ChooseGifFactory(manager), Q_TYPEID(QDesignerTaskMenuExtension));
}

}  // namespace velmora::qt

#include "ani_gif_widget_plugin.moc"
