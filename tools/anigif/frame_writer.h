#pragma once
// The image files of anigif frames: host surfaces written as binary PPM or as PNG files, the
// files made and written on a thread of their own while the caller draws the next frame.

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "platform/raster.h"
#include "tools/anigif/png_encoder.h"

namespace velmora::anigif {

enum class ImageFormat { kPng, kPpm };

// Writes 32-bit bitmaps (0x00RRGGBB pixels, the fourth byte ignored, rows in either storage
// order) as 8-bit-per-channel images, top row first:
//   PPM: P6, maximum value 255.
//   PNG: an 8-bit palette image when the bitmap has at most 256 distinct colours (entries in the
//        order the colours are first met, rows top to bottom), 8-bit RGB otherwise; no
//        interlacing, no row filters (PngEncoder).
// Either file decodes to exactly the bitmap's colours.
//
// Write takes its copy of the pixels at once and returns; the files are written in the order
// given, on the writer's thread, at most two frames behind. After a file fails nothing more is
// written.
class FrameWriter {
 public:
  explicit FrameWriter(ImageFormat format);
  // Waits for the files still to be written.
  ~FrameWriter();
  FrameWriter(const FrameWriter&) = delete;
  FrameWriter& operator=(const FrameWriter&) = delete;

  // Queues `bitmap` for the file at `path` (replaced). False when the bitmap is not 32 bits per
  // pixel, or once a file has failed (then nothing is queued).
  bool Write(const std::string& path, const platform::Bitmap& bitmap);
  // Waits until every queued file is written. False when one failed: FailedPath() names it (a
  // partial file may be left behind).
  bool Finish();
  std::string FailedPath() const;

  // One file's worth of pixels on its way to the writing thread. Public for the file writers.
  struct Frame {
    std::string path;
    int width = 0;
    int height = 0;
    bool indexed = false;
    std::vector<std::uint8_t> pixels;   // PPM: the whole file; PNG: the rows (PngEncoder's form)
    std::vector<std::uint8_t> palette;  // RGB triples, when indexed
  };

 private:
  void Prepare(const platform::Bitmap& bitmap, Frame& frame) const;
  void Run();
  // Makes and writes the frame's file; the writing thread's (or, without one, the caller's) work.
  bool WriteFile(const Frame& frame);

  ImageFormat format_;
  mutable std::mutex mutex_;
  std::condition_variable changed_;
  std::deque<Frame> queued_;
  std::vector<Frame> spare_;  // written frames, kept for their buffers
  bool writing_ = false;      // the thread holds a frame
  bool stopping_ = false;
  std::string failedPath_;
  PngEncoder png_;                  // the writing thread's
  std::vector<std::uint8_t> file_;  // the writing thread's: the PNG file being made
  std::thread thread_;
};

}  // namespace velmora::anigif
