#include "platform/files.h"

#include <filesystem>
#include <fstream>
#include <new>
#include <string>
#include <system_error>

namespace velmora::platform {

namespace {

std::filesystem::path PathFromUtf8(std::string_view utf8Path) {
  const std::u8string u8(reinterpret_cast<const char8_t*>(utf8Path.data()), utf8Path.size());
  return std::filesystem::path(u8);
}

// A NUL would end the name early at the system call and name a different file.
bool UsablePath(std::string_view utf8Path) {
  return !utf8Path.empty() && utf8Path.find('\0') == std::string_view::npos;
}

FileReadResult Failed(FileReadStatus status) { return {status, {}}; }

}  // namespace

std::optional<FileAttributes> QueryFileAttributes(std::string_view utf8Path) {
  if (!UsablePath(utf8Path)) {
    return std::nullopt;
  }
  std::error_code error;
  const auto status = std::filesystem::status(PathFromUtf8(utf8Path), error);
  if (error || !std::filesystem::exists(status)) {
    return std::nullopt;
  }
  return FileAttributes{std::filesystem::is_directory(status)};
}

FileReadResult ReadExactly(std::istream& in, std::uint64_t size) {
  if (size == 0) {
    return Failed(FileReadStatus::kEmpty);
  }
  if (size > kMaxFileBytes) {
    return Failed(FileReadStatus::kTooLarge);
  }
  FileReadResult result;
  try {
    result.bytes.resize(static_cast<std::size_t>(size));
  } catch (const std::bad_alloc&) {
    return Failed(FileReadStatus::kTooLarge);
  }
  in.read(reinterpret_cast<char*>(result.bytes.data()), static_cast<std::streamsize>(size));
  // A file that shrank between taking its size and reading it: the bytes are not the file.
  if (static_cast<std::uint64_t>(in.gcount()) != size) {
    return Failed(FileReadStatus::kShortRead);
  }
  result.status = FileReadStatus::kOk;
  return result;
}

FileReadResult ReadWholeFile(std::string_view utf8Path) {
  const auto attributes = QueryFileAttributes(utf8Path);
  if (!attributes) {
    return Failed(FileReadStatus::kMissing);
  }
  // Opening a directory succeeds on some systems and then reads nothing; it is not a file.
  if (attributes->directory) {
    return Failed(FileReadStatus::kUnreadable);
  }
  std::ifstream in(PathFromUtf8(utf8Path), std::ios::binary);
  if (!in.is_open()) {
    return Failed(FileReadStatus::kUnreadable);
  }
  in.seekg(0, std::ios::end);
  const std::streamoff end = in.tellg();
  if (!in || end < 0) {
    return Failed(FileReadStatus::kUnreadable);
  }
  in.seekg(0, std::ios::beg);
  if (!in) {
    return Failed(FileReadStatus::kUnreadable);
  }
  return ReadExactly(in, static_cast<std::uint64_t>(end));
}

}  // namespace velmora::platform
