#include "qt/qt_test_main.h"

#include <QApplication>
#include <QStringList>
#include <QTest>

#include "qt/qt_picture_formats.h"

namespace velmora::qttest {

std::vector<Factory>& Registry() {
  static std::vector<Factory> factories;
  return factories;
}

}  // namespace velmora::qttest

int main(int argc, char* argv[]) {
  QApplication app(argc, argv);
  velmora::qt::RegisterQtPictureFormats();
  // Test function names on the command line pick the classes that have them.
  QStringList functions;
  for (int i = 1; i < argc; ++i) {
    if (argv[i][0] != '-') functions << QString::fromLocal8Bit(argv[i]).section(QLatin1Char(':'), 0, 0);
  }
  int failures = 0;
  for (const auto& factory : velmora::qttest::Registry()) {
    std::unique_ptr<QObject> test = factory();
    bool selected = functions.isEmpty();
    for (const QString& function : functions) {
      selected = selected || test->metaObject()->indexOfMethod(qPrintable(function + QStringLiteral("()"))) >= 0;
    }
    if (selected) failures += QTest::qExec(test.get(), argc, argv);
  }
  return failures == 0 ? 0 : 1;
}
