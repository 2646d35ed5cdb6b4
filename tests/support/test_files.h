#pragma once
// Files for the tests: whole files read and written, the shared test data, scratch folders that
// remove themselves, and the descriptions (.conf) that come with the GIF test suite.

#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <span>
#include <sstream>
#include <string>
#include <string_view>
#include <system_error>
#include <vector>

namespace velmora::testing {

// The whole file; empty when it cannot be read.
inline std::vector<std::uint8_t> ReadBytes(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

inline std::string ReadText(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// Replaces the file with `bytes`; false when it cannot be written.
inline bool WriteBytes(const std::filesystem::path& path, std::span<const std::uint8_t> bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(bytes.data()),
            static_cast<std::streamsize>(bytes.size()));
  return static_cast<bool>(out);
}

// A file of the shared test data ("gif-corpus/muybridge.gif").
inline std::filesystem::path TestDataPath(std::string_view relative) {
  return std::filesystem::path(VELMORA_TESTDATA_DIR) / relative;
}

inline std::vector<std::uint8_t> ReadTestFile(std::string_view relative) {
  return ReadBytes(TestDataPath(relative));
}

// The .gif files of a test data folder ("gif-suite"), sorted; none when the folder is missing.
inline std::vector<std::filesystem::path> TestDataGifs(std::string_view folder) {
  std::vector<std::filesystem::path> files;
  std::error_code ec;
  for (const auto& entry : std::filesystem::directory_iterator(TestDataPath(folder), ec)) {
    if (entry.path().extension() == ".gif") files.push_back(entry.path());
  }
  std::sort(files.begin(), files.end());
  return files;
}

// An empty folder of its own under the system's temporary folder, removed with everything in it
// when the object goes. The name holds `tag`, the process id and a count, so tests running at
// the same time never share one.
class TempDir {
 public:
  explicit TempDir(const std::string& tag) {
    static std::atomic<int> count{0};
    path_ = std::filesystem::temp_directory_path() /
            ("velmora-" + tag + "-" + std::to_string(::getpid()) + "-" + std::to_string(++count));
    std::filesystem::remove_all(path_);
    std::filesystem::create_directories(path_);
  }
  ~TempDir() {
    std::error_code ec;
    std::filesystem::remove_all(path_, ec);
  }
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;

  const std::filesystem::path& path() const { return path_; }
  std::filesystem::path operator/(const std::string& name) const { return path_ / name; }
  // Writes the file `name` in the folder and returns its path.
  std::filesystem::path Write(const std::string& name,
                              const std::vector<std::uint8_t>& bytes) const {
    WriteBytes(path_ / name, bytes);
    return path_ / name;
  }

 private:
  std::filesystem::path path_;
};

// A suite description: section -> key -> value, white space around keys and values trimmed,
// comments and blank lines skipped.
using SuiteConf = std::map<std::string, std::map<std::string, std::string>>;

namespace detail {

inline std::string Trim(const std::string& s) {
  const auto first = s.find_first_not_of(" \t\r");
  const auto last = s.find_last_not_of(" \t\r");
  return first == std::string::npos ? std::string() : s.substr(first, last - first + 1);
}

}  // namespace detail

inline SuiteConf ReadSuiteConf(const std::filesystem::path& path) {
  SuiteConf conf;
  std::ifstream in(path);
  std::string line;
  std::string section;
  while (std::getline(in, line)) {
    line = detail::Trim(line);
    if (line.empty() || line[0] == '#') continue;
    if (line.front() == '[' && line.back() == ']') {
      section = line.substr(1, line.size() - 2);
      continue;
    }
    const auto eq = line.find('=');
    if (eq != std::string::npos) {
      conf[section][detail::Trim(line.substr(0, eq))] = detail::Trim(line.substr(eq + 1));
    }
  }
  return conf;
}

// "frame0,frame1" -> {"frame0", "frame1"}; empty items are dropped.
inline std::vector<std::string> SplitList(const std::string& text) {
  std::vector<std::string> items;
  std::stringstream in(text);
  for (std::string item; std::getline(in, item, ',');) {
    item = detail::Trim(item);
    if (!item.empty()) items.push_back(item);
  }
  return items;
}

}  // namespace velmora::testing
