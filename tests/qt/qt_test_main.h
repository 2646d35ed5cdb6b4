#pragma once
// One QtTest program for several test classes: each test file registers its class with
// VELMORA_QT_TEST(Class); main() runs them all under one QApplication.

#include <QObject>
#include <functional>
#include <memory>
#include <vector>

namespace velmora::qttest {

using Factory = std::function<std::unique_ptr<QObject>()>;
std::vector<Factory>& Registry();

struct Registration {
  explicit Registration(Factory factory) { Registry().push_back(std::move(factory)); }
};

}  // namespace velmora::qttest

#define VELMORA_QT_TEST(Class)                                      \
  static const ::velmora::qttest::Registration kRegister##Class{    \
      [] { return std::unique_ptr<QObject>(std::make_unique<Class>()); }};
