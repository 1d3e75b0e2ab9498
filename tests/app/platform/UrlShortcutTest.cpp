#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <stdexcept>
#include <string>

#include "support/TempDir.h"
#include "velmo/app/platform/UrlShortcut.h"
#include "velmo/file/PosixSharedFileFactory.h"

namespace velmo {
namespace {

// Builds the expected UTF-16LE bytes of ASCII text, independently of the code
// under test.
std::string AsciiUtf16(const std::string& text) {
  std::string out;
  for (char c : text) {
    out += c;
    out += '\0';
  }
  return out;
}

std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

TEST(UrlShortcutTest, FileIsByteExact) {
  test::TempDir dir;
  PosixSharedFileFactory files;
  UrlShortcut shortcut("Game", dir / "shortcuts", &files);
  ASSERT_TRUE(shortcut.Create("/opt/My Game/setup.exe"));
  std::string url = "file:///opt/My%20Game/setup.exe";
  std::string expected =
      std::string("\xFF\xFE", 2) + AsciiUtf16("[InternetShortcut]\r\nURL=" + url +
                                              "\r\nIconFile=" + url + "\r\nIconIndex=0\r\n");
  EXPECT_EQ(ReadFile(dir / "shortcuts/Game.url"), expected);
}

TEST(UrlShortcutTest, ReplacesCopiesAndRemoves) {
  test::TempDir dir;
  PosixSharedFileFactory files;
  UrlShortcut shortcut("S", dir.path(), &files);
  ASSERT_TRUE(shortcut.Create("/a/first-but-much-longer-path"));
  ASSERT_TRUE(shortcut.Create("/b"));
  EXPECT_EQ(ReadFile(dir / "S.url"), UrlShortcut::Contents("/b")) << "replaced, not overwritten";
  std::filesystem::create_directory(dir / "copy");
  EXPECT_TRUE(shortcut.CopyTo(dir / "copy", "T"));
  EXPECT_EQ(ReadFile(dir / "copy/T.url"), ReadFile(dir / "S.url"));
  EXPECT_TRUE(shortcut.Remove(dir / "copy", "T"));
  EXPECT_FALSE(shortcut.Remove(dir / "copy", "T"));
  EXPECT_FALSE(shortcut.CopyTo(dir / "missing/x", "T"));
}

TEST(UrlShortcutTest, UrlEncodingAndNonAsciiText) {
  EXPECT_EQ(UrlShortcut::FileUrl("/a b/%/#?/ü"), "file:///a%20b/%25/%23%3F/%C3%BC");
  EXPECT_EQ(UrlShortcut::FileUrl("/A-z_0.9~"), "file:///A-z_0.9~");
  EXPECT_THROW(UrlShortcut::FileUrl(""), std::invalid_argument);
  std::string bytes = UrlShortcut::Contents("/x");
  EXPECT_EQ(bytes.substr(0, 2), std::string("\xFF\xFE", 2));
  EXPECT_EQ(bytes.size() % 2, 0u);
}

}  // namespace
}  // namespace velmo
