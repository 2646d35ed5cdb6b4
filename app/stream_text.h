#pragma once
// Text from a stream's metadata (ICY titles and station names, tags), as the bytes libmpv passes
// on. Stations send UTF-8 or, mostly older ones, an 8-bit Western encoding; ISO-8859-1 is
// Windows-1252 outside 0x80 to 0x9F, so reading every non-UTF-8 text as Windows-1252 covers both.

#include <QByteArrayView>
#include <QString>

namespace velmora::app {

// `bytes` as UTF-8 when they are valid UTF-8 (a leading byte-order mark skipped), otherwise as
// Windows-1252. Control characters are dropped (the five bytes Windows-1252 leaves unassigned
// decode to C1 controls, so they go too) and white space at either end is trimmed, so the result
// never holds U+FFFD or anything that cannot be shown.
QString DecodeStreamText(QByteArrayView bytes);

}  // namespace velmora::app
