#include "velmo/app/platform/UrlShortcut.h"

#include <cstdio>
#include <filesystem>
#include <stdexcept>
#include <system_error>

#include "velmo/file/SharedFile.h"
#include "velmo/file/SharedFileFactory.h"
#include "velmo/platform/PrivateFolder.h"
#include "velmo/platform/System.h"

namespace velmo {

namespace fs = std::filesystem;

namespace {

// UTF-8 to UTF-16LE bytes. Invalid sequences become U+FFFD rather than
// failing: the shortcut is a convenience and must not stop the launch.
std::string Utf16Le(const std::string& text) {
  std::string out;
  auto put = [&out](unsigned unit) {
    out += static_cast<char>(unit & 0xFF);
    out += static_cast<char>((unit >> 8) & 0xFF);
  };
  for (std::size_t i = 0; i < text.size();) {
    unsigned char c = static_cast<unsigned char>(text[i]);
    unsigned cp = 0xFFFD;
    std::size_t len = 1;
    if (c < 0x80) {
      cp = c;
    } else if ((c >> 5) == 6 && i + 1 < text.size()) {
      cp = ((c & 0x1Fu) << 6) | (static_cast<unsigned char>(text[i + 1]) & 0x3Fu);
      len = 2;
    } else if ((c >> 4) == 14 && i + 2 < text.size()) {
      cp = ((c & 0x0Fu) << 12) | ((static_cast<unsigned char>(text[i + 1]) & 0x3Fu) << 6) |
           (static_cast<unsigned char>(text[i + 2]) & 0x3Fu);
      len = 3;
    } else if ((c >> 3) == 30 && i + 3 < text.size()) {
      cp = ((c & 0x07u) << 18) | ((static_cast<unsigned char>(text[i + 1]) & 0x3Fu) << 12) |
           ((static_cast<unsigned char>(text[i + 2]) & 0x3Fu) << 6) |
           (static_cast<unsigned char>(text[i + 3]) & 0x3Fu);
      len = 4;
    }
    if (cp >= 0x10000) {
      cp -= 0x10000;
      put(0xD800 + (cp >> 10));
      put(0xDC00 + (cp & 0x3FF));
    } else {
      put(cp);
    }
    i += len;
  }
  return out;
}

}  // namespace

UrlShortcut::UrlShortcut(const std::string& name, std::string folder, SharedFileFactory* files)
    : SimpleShortcut(name), fileName_(name + ".url"), folder_(std::move(folder)), files_(files) {}

std::string UrlShortcut::FileUrl(const std::string& path) {
  if (path.empty() || path.front() != '/' || path.find('\0') != std::string::npos) {
    throw std::invalid_argument("Cannot convert path to URL");
  }
  std::string url = "file://";
  for (const char ch : path) {
    const auto c = static_cast<unsigned char>(ch);
    bool unreserved = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') ||
                      c == '-' || c == '.' || c == '_' || c == '~' || c == '/';
    if (unreserved) {
      url += static_cast<char>(c);
    } else {
      char buf[4];
      std::snprintf(buf, sizeof buf, "%%%02X", c);
      url += buf;
    }
  }
  return url;
}

std::string UrlShortcut::Contents(const std::string& target) {
  std::string url = FileUrl(fs::absolute(target).lexically_normal().string());
  std::string text =
      "[InternetShortcut]\r\nURL=" + url + "\r\nIconFile=" + url + "\r\nIconIndex=0\r\n";
  return std::string("\xFF\xFE", 2) + Utf16Le(text);
}

bool UrlShortcut::Create(const std::string& target) {
  try {
    std::error_code ec;
    MakePrivateFolderPath(folder_);  // throws for a folder another user controls
    std::string path = JoinPath(folder_, fileName_);
    if (fs::exists(fs::symlink_status(path, ec)) && !fs::remove(path, ec)) return false;
    std::string bytes = Contents(target);
    auto file = files_->OpenFile(folder_, fileName_, FileOpenMode::CreateNew, 0, UINT64_MAX);
    file->Write(bytes.data(), static_cast<std::uint32_t>(bytes.size()));
    return true;
  } catch (...) {
    return false;
  }
}

bool UrlShortcut::CopyTo(const std::string& folder, const std::string& newName) {
  std::error_code ec;
  fs::copy_file(JoinPath(folder_, fileName_), JoinPath(folder, newName + ".url"),
                fs::copy_options::overwrite_existing, ec);
  return !ec;
}

bool UrlShortcut::Remove(const std::string& folder, const std::string& name) {
  std::error_code ec;
  return fs::remove(JoinPath(folder, name + ".url"), ec) && !ec;
}

}  // namespace velmo
