#pragma once
// File reading: a whole file, named by a UTF-8 path, into memory.
//
// Two steps, as the load pipeline takes them: first query the file's attributes (does the name
// exist at all), then open it, take its size, read exactly that many bytes. Each way of failing
// is reported as its own status; the caller (the control's file load) treats every one of them
// alike, but tests and tools tell them apart. Nothing here throws.
//
// Paths are UTF-8 byte strings; any Unicode character, inside Latin-1 or not, names the file
// directly (no code-page conversion is involved on the platforms we build for).

#include <cstdint>
#include <istream>
#include <optional>
#include <string_view>
#include <vector>

namespace velmora::platform {

// Largest file ReadWholeFile reads: a GIF is held in memory whole, and a file beyond this bound
// is refused rather than risking an allocation the process cannot satisfy.
inline constexpr std::uint64_t kMaxFileBytes = std::uint64_t{256} << 20;

enum class FileReadStatus {
  kOk,
  kMissing,     // the attributes cannot be read: no such name (also: an empty path, a NUL in it)
  kUnreadable,  // the name exists but cannot be opened for reading (a directory, no permission)
  kEmpty,       // opened, size 0
  kTooLarge,    // opened, size above kMaxFileBytes
  kShortRead,   // fewer bytes could be read than the size announced
};

struct FileAttributes {
  bool directory = false;
};

// The "query attributes" step: nullopt when the name does not exist or cannot be examined.
std::optional<FileAttributes> QueryFileAttributes(std::string_view utf8Path);

struct FileReadResult {
  FileReadStatus status = FileReadStatus::kMissing;
  std::vector<std::uint8_t> bytes;  // the whole file when status is kOk, otherwise empty

  bool Ok() const { return status == FileReadStatus::kOk; }
};

// Both steps: attributes, then open, size and read.
FileReadResult ReadWholeFile(std::string_view utf8Path);

// The read step on an opened stream whose size is `size` bytes: kEmpty for 0, kTooLarge above
// kMaxFileBytes, kShortRead when the stream ends before `size` bytes, else kOk with the bytes.
// Reads from the stream's current position.
FileReadResult ReadExactly(std::istream& in, std::uint64_t size);

}  // namespace velmora::platform
