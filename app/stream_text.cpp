#include "app/stream_text.h"

#include <QStringDecoder>
#include <array>

namespace velmora::app {
namespace {

// Windows-1252 0x80 to 0x9F; the rest of its bytes are the Unicode code points of equal value.
// The unassigned 0x81, 0x8D, 0x8F, 0x90 and 0x9D map to the C1 controls of equal value, as
// browsers decode them.
constexpr std::array<char16_t, 32> kWindows1252High = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021,  // 0x80
    0x02C6, 0x2030, 0x0160, 0x2039, 0x0152, 0x008D, 0x017D, 0x008F,  // 0x88
    0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,  // 0x90
    0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178,  // 0x98
};

QString FromWindows1252(QByteArrayView bytes) {
  QString text;
  text.reserve(bytes.size());
  for (const char byte : bytes) {
    const auto value = static_cast<unsigned char>(byte);
    text.append(QChar(value >= 0x80 && value <= 0x9F ? kWindows1252High[value - 0x80] : value));
  }
  return text;
}

}  // namespace

QString DecodeStreamText(QByteArrayView bytes) {
  QStringDecoder utf8(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
  QString text = utf8.decode(bytes);
  if (utf8.hasError()) text = FromWindows1252(bytes);
  text.removeIf([](QChar c) { return c.category() == QChar::Other_Control; });
  return text.trimmed();
}

}  // namespace velmora::app
