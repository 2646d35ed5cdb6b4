// Qt writing every composited frame of a GIF to files, as `anigif frames` does, as a whole
// program for the whole-process rows of scripts/bench (bench/process_bench):
//
//   qt_frames FILE DIR [ppm|png]   QImageReader reads frame after frame (each read composites the
//                                  next one) and QImage::save writes DIR/frame-0001.ppm, ... in
//                                  the format given (default ppm), with Qt's default settings
//
// Exit status 0 when every frame was read and written, 1 otherwise.

#include <QByteArray>
#include <QDir>
#include <QImage>
#include <QImageReader>
#include <QString>

#include <cstdio>
#include <cstring>

int main(int argc, char** argv) {
  if (argc < 3 || argc > 4) {
    std::fprintf(stderr, "usage: qt_frames FILE DIR [ppm|png]\n");
    return 2;
  }
  const QByteArray format = argc == 4 ? QByteArray(argv[3]) : QByteArray("ppm");
  const QDir dir(QString::fromLocal8Bit(argv[2]));
  if (!dir.mkpath(".")) return 1;
  QImageReader reader(QString::fromLocal8Bit(argv[1]), "gif");
  QImage image;
  int frames = 0;
  while (reader.read(&image)) {
    ++frames;
    char name[32];
    std::snprintf(name, sizeof name, "frame-%04d.%s", frames, format.constData());
    if (!image.save(dir.filePath(QString::fromLatin1(name)), format.constData())) return 1;
  }
  return frames > 0 ? 0 : 1;
}
