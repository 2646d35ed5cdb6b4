// The Designer plugin as QUiLoader uses it: the widget is listed and created from a form, in run
// mode, with the form's properties, and animates the GIF the form carries.

// First: it names a local "emit", which Qt's headers make a macro.
#include "support/gif_builder.h"

#include <QBuffer>
#include <QSignalSpy>
#include <QTest>
#include <QUiLoader>
#include <QWidget>
#include <memory>
#include <vector>

#include "qt/qt_test_main.h"

namespace {

constexpr int kWait = 5000;

QByteArray Form(const QByteArray& gifBase64) {
  return QByteArray(R"(<?xml version="1.0" encoding="UTF-8"?>
<ui version="4.0">
 <class>Form</class>
 <widget class="QWidget" name="Form">
  <widget class="velmora::qt::AniGifWidget" name="gif">
   <property name="geometry"><rect><x>0</x><y>0</y><width>30</width><height>20</height></rect></property>
   <property name="gifData"><string>)") +
         gifBase64 + R"(</string></property>
   <property name="stretch"><enum>velmora::qt::AniGifWidget::Fill</enum></property>
   <property name="mirrored"><enum>velmora::qt::AniGifWidget::LeftRight</enum></property>
   <property name="loops"><number>1</number></property>
   <property name="minFrameDelay"><number>10</number></property>
  </widget>
 </widget>
 <customwidgets>
  <customwidget><class>velmora::qt::AniGifWidget</class><header location="global">velmora/AniGifWidget</header></customwidget>
 </customwidgets>
</ui>
)";
}

class DesignerPluginTest final : public QObject {
  Q_OBJECT

 private slots:
  void aFormLoadedWithTheBuiltPluginAnimatesWithItsSettings() {
    QUiLoader loader;
    loader.clearPluginPaths();
    loader.addPluginPath(QStringLiteral(VELMORA_DESIGNER_PLUGIN_DIR));
    QVERIFY(loader.availableWidgets().contains(QStringLiteral("velmora::qt::AniGifWidget")));

    const std::vector<std::uint8_t> bytes = velmora::testing::AnimationGif(3, 2);
    const QByteArray gif(reinterpret_cast<const char*>(bytes.data()),
                         static_cast<qsizetype>(bytes.size()));
    QByteArray form = Form(gif.toBase64());
    QBuffer buffer(&form);
    const std::unique_ptr<QWidget> root(loader.load(&buffer));
    QVERIFY2(root != nullptr, qPrintable(loader.errorString()));
    QObject* widget = root->findChild<QObject*>(QStringLiteral("gif"));
    QVERIFY(widget != nullptr);
    QCOMPARE(widget->metaObject()->className(), "velmora::qt::AniGifWidget");

    // The plugin's widget lives in the plugin's own copy of the library: properties and signals
    // by name only.
    QCOMPARE(widget->property("designMode").toBool(), false);
    QCOMPARE(widget->property("frameCount").toInt(), 3);
    QCOMPARE(widget->property("stretch").toInt(), 2);
    QCOMPARE(widget->property("mirrored").toInt(), 1);
    QCOMPARE(widget->property("loops").toInt(), 1);
    QVERIFY(!widget->property("gifData").toString().isEmpty());

    QSignalSpy ended(widget, SIGNAL(loopsEnded()));
    QSignalSpy frames(widget, SIGNAL(frameChanged(int, bool)));
    root->show();
    QVERIFY(ended.wait(kWait));
    // One loop of three frames: frames 1, 2, 3 shown by the timer, back to frame 1, stopped.
    QVERIFY(frames.count() >= 3);
    QCOMPARE(widget->property("currentFrame").toInt(), 1);
    QCOMPARE(widget->property("action").toInt(), 0);
  }
};

}  // namespace

VELMORA_QT_TEST(DesignerPluginTest)
#include "designer_plugin_test.moc"
