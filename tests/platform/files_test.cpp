#include "platform/files.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

namespace velmora::platform {
namespace {

namespace fs = std::filesystem;
using Bytes = std::vector<std::uint8_t>;

// A fresh folder per test under the system's temporary folder, removed afterwards.
class FilesTest : public ::testing::Test {
 protected:
  void SetUp() override {
    const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
    dir_ = fs::temp_directory_path() / (std::string("velmora-files-") + info->name());
    fs::remove_all(dir_);
    fs::create_directories(dir_);
  }
  void TearDown() override { fs::remove_all(dir_); }

  // Writes `bytes` to the file named by the UTF-8 `name` and returns its UTF-8 path.
  std::string Write(const std::string& name, const Bytes& bytes) {
    const std::string path = Utf8(dir_) + "/" + name;
    std::ofstream out(fs::path(std::u8string(path.begin(), path.end())), std::ios::binary);
    out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    return path;
  }
  static std::string Utf8(const fs::path& p) {
    const std::u8string u8 = p.u8string();
    return std::string(u8.begin(), u8.end());
  }

  fs::path dir_;
};

TEST_F(FilesTest, ReadsAWholeFile) {
  const Bytes content = {'G', 'I', 'F', '8', '9', 'a', 0, 0xFF, '\n', 0x1A};
  const auto result = ReadWholeFile(Write("a.gif", content));
  EXPECT_EQ(result.status, FileReadStatus::kOk);
  EXPECT_EQ(result.bytes, content);
}

TEST_F(FilesTest, NamesBeyondLatin1AndWithinIt) {
  // "анимация-★.gif" lies outside Latin-1; "café.gif" inside it. Both name their file directly.
  const std::string cyrillic = "\xD0\xB0\xD0\xBD\xD0\xB8\xD0\xBC\xD0\xB0\xD1\x86\xD0\xB8\xD1\x8F-"
                               "\xE2\x98\x85.gif";
  const auto a = ReadWholeFile(Write(cyrillic, {1, 2, 3}));
  EXPECT_EQ(a.status, FileReadStatus::kOk);
  EXPECT_EQ(a.bytes, (Bytes{1, 2, 3}));
  const auto b = ReadWholeFile(Write("caf\xC3\xA9.gif", {4}));
  EXPECT_EQ(b.status, FileReadStatus::kOk);
  EXPECT_EQ(b.bytes, (Bytes{4}));
}

TEST_F(FilesTest, FailuresHaveTheirOwnStatus) {
  const std::string empty = Write("empty.gif", {});
  const std::string dir = Utf8(dir_);
  struct Case {
    const char* name;
    std::string path;
    FileReadStatus status;
  };
  const Case cases[] = {
      {"missing", dir + "/missing.gif", FileReadStatus::kMissing},
      {"empty path", "", FileReadStatus::kMissing},
      {"NUL inside the name", empty + std::string(1, '\0') + "x", FileReadStatus::kMissing},
      {"empty file", empty, FileReadStatus::kEmpty},
      {"a directory", dir, FileReadStatus::kUnreadable},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const auto result = ReadWholeFile(c.path);
    EXPECT_EQ(result.status, c.status);
    EXPECT_FALSE(result.Ok());
    EXPECT_TRUE(result.bytes.empty());
  }
}

TEST_F(FilesTest, QueryAttributes) {
  const std::string file = Write("x.gif", {1});
  ASSERT_TRUE(QueryFileAttributes(file).has_value());
  EXPECT_FALSE(QueryFileAttributes(file)->directory);
  ASSERT_TRUE(QueryFileAttributes(Utf8(dir_)).has_value());
  EXPECT_TRUE(QueryFileAttributes(Utf8(dir_))->directory);
  EXPECT_FALSE(QueryFileAttributes(Utf8(dir_) + "/nothing").has_value());
}

TEST(ReadExactlyTest, ShortReadEmptyAndTooLarge) {
  std::istringstream three("abc");
  const auto shortRead = ReadExactly(three, 4);
  EXPECT_EQ(shortRead.status, FileReadStatus::kShortRead);
  EXPECT_TRUE(shortRead.bytes.empty());

  std::istringstream exact("abc");
  EXPECT_EQ(ReadExactly(exact, 3).bytes, (Bytes{'a', 'b', 'c'}));

  std::istringstream any("abc");
  EXPECT_EQ(ReadExactly(any, 0).status, FileReadStatus::kEmpty);
  EXPECT_EQ(ReadExactly(any, kMaxFileBytes + 1).status, FileReadStatus::kTooLarge);
}

}  // namespace
}  // namespace velmora::platform
