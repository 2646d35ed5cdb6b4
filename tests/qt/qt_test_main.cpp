#include "qt/qt_test_main.h"

#include <QApplication>
#include <QTest>

#include "platform/qt/qt_picture_formats.h"

namespace velmora::qttest {

std::vector<Factory>& Registry() {
  static std::vector<Factory> factories;
  return factories;
}

}  // namespace velmora::qttest

int main(int argc, char* argv[]) {
  QApplication app(argc, argv);
  velmora::qt::RegisterQtPictureFormats();
  int failures = 0;
  for (const auto& factory : velmora::qttest::Registry()) {
    std::unique_ptr<QObject> test = factory();
    failures += QTest::qExec(test.get(), argc, argv);
  }
  return failures == 0 ? 0 : 1;
}
