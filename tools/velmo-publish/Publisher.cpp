#include "Publisher.h"

#include <libdeflate.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <limits>
#include <sstream>
#include <system_error>

#include "velmo/manifest/FileManifest.h"

namespace velmo::publish {

namespace fs = std::filesystem;

namespace {

[[noreturn]] void Fail(const std::string& what, const std::string& why) {
  throw PublishError(what + ": " + why);
}

// Identifiers become path components on every server and in the engine's
// URLs, so they must be plain, visible, single components.
void CheckId(const char* option, const std::string& id) {
  if (id.empty()) Fail(option, "must not be empty");
  if (id == "." || id == "..") Fail(option, "must not be '.' or '..'");
  for (const char ch : id) {
    const auto c = static_cast<unsigned char>(ch);
    if (c <= 32 || c == 127 || c == '/' || c == '\\' || c == '?' || c == '#' || c == '%') {
      Fail(option, "'" + id + "' must not contain spaces, control characters or / \\ ? # %");
    }
  }
}

bool IsValidUtf8(const std::string& s) {
  std::size_t i = 0;
  while (i < s.size()) {
    unsigned char c = static_cast<unsigned char>(s[i]);
    std::size_t len = c < 0x80         ? 1
                      : (c >> 5) == 6  ? 2
                      : (c >> 4) == 14 ? 3
                      : (c >> 3) == 30 ? 4
                                       : 0;
    if (len == 0 || i + len > s.size()) return false;
    for (std::size_t k = 1; k < len; ++k) {
      if ((static_cast<unsigned char>(s[i + k]) >> 6) != 2) return false;
    }
    i += len;
  }
  return true;
}

std::string XmlEscape(const std::string& text) {
  std::string out;
  for (char c : text) {
    switch (c) {
      case '&':
        out += "&amp;";
        break;
      case '<':
        out += "&lt;";
        break;
      case '>':
        out += "&gt;";
        break;
      case '"':
        out += "&quot;";
        break;
      case '\'':
        out += "&apos;";
        break;
      default:
        out += c;
    }
  }
  return out;
}

// Text that an XML document can carry unchanged: valid UTF-8 without control
// characters (XML 1.0 forbids most of them, and the engine refuses the rest).
void CheckCarriable(const std::string& what, const std::string& text) {
  if (!IsValidUtf8(text)) Fail(what, "is not valid UTF-8");
  for (const char ch : text) {
    const auto c = static_cast<unsigned char>(ch);
    if (c < 32 || c == 127) Fail(what, "contains a control character");
  }
}

}  // namespace

void WriteAtomically(const fs::path& path, const std::string& content) {
  std::error_code ec;
  fs::create_directories(path.parent_path(), ec);
  if (ec) Fail(path.string(), "cannot create folder: " + ec.message());
  fs::path temp = path;
  temp += ".tmp." + std::to_string(::getpid());
  {
    std::ofstream out(temp, std::ios::binary | std::ios::trunc);
    out << content;
    out.flush();
    if (!out) Fail(temp.string(), "cannot write");
  }
  fs::rename(temp, path, ec);
  if (ec) {
    fs::remove(temp, ec);
    Fail(path.string(), "cannot rename into place");
  }
}

namespace {

std::string ReadWhole(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

PublishedFile Scan(const fs::path& file, const std::string& relative, std::uint32_t chunkSize) {
  PublishedFile out;
  out.path = relative;
  errno = 0;
  std::ifstream in(file, std::ios::binary);
  if (!in) {
    const int error = errno;
    Fail(file.string(),
         "cannot open for reading: " +
             (error != 0 ? std::generic_category().message(error) : std::string("unknown reason")));
  }
  std::vector<char> buffer(chunkSize);
  for (;;) {
    in.read(buffer.data(), chunkSize);
    std::streamsize got = in.gcount();
    if (got <= 0) break;
    out.size += static_cast<std::uint64_t>(got);
    out.checksums.push_back(
        static_cast<std::uint32_t>(libdeflate_crc32(0, buffer.data(), static_cast<size_t>(got))));
    out.sha256s.push_back(Sha256Of(buffer.data(), static_cast<std::size_t>(got)));
    if (got < static_cast<std::streamsize>(chunkSize)) break;
  }
  if (in.bad()) {
    const int error = errno;
    Fail(file.string(), "read error: " + (error != 0 ? std::generic_category().message(error)
                                                     : std::string("unknown reason")));
  }
  if (out.checksums.size() > std::numeric_limits<std::uint32_t>::max()) {
    Fail(file.string(), "has more than 2^32-1 chunks; use a larger --chunk-size");
  }
  return out;
}

bool SameContent(const fs::path& a, const fs::path& b) {
  std::error_code ec;
  if (fs::file_size(a, ec) != fs::file_size(b, ec) || ec) return false;
  if (fs::equivalent(a, b, ec)) return true;
  std::ifstream x(a, std::ios::binary);
  std::ifstream y(b, std::ios::binary);
  std::vector<char> bx(1 << 16);
  std::vector<char> by(1 << 16);
  while (x && y) {
    x.read(bx.data(), static_cast<std::streamsize>(bx.size()));
    y.read(by.data(), static_cast<std::streamsize>(by.size()));
    if (x.gcount() != y.gcount() ||
        std::memcmp(bx.data(), by.data(), static_cast<std::size_t>(x.gcount())) != 0) {
      return false;
    }
  }
  return true;
}

}  // namespace

NodeSpec ParseNodeSpec(const std::string& text) {
  NodeSpec node;
  std::vector<std::string> parts;
  std::stringstream ss(text);
  for (std::string part; std::getline(ss, part, ',');) parts.push_back(part);
  if (parts.empty()) Fail("--node '" + text + "'", "expected ID=HOST[:PORT]");
  auto eq = parts[0].find('=');
  if (eq == std::string::npos) Fail("--node '" + text + "'", "expected ID=HOST[:PORT]");
  node.nodeId = parts[0].substr(0, eq);
  node.host = parts[0].substr(eq + 1);
  CheckId("--node id", node.nodeId);
  if (node.host.empty()) Fail("--node '" + text + "'", "host must not be empty");
  CheckCarriable("--node host", node.host);
  for (std::size_t i = 1; i < parts.size(); ++i) {
    const std::string& p = parts[i];
    if (p.rfind("path=", 0) == 0) {
      node.path = p.substr(5);
      CheckCarriable("--node path", node.path);
    } else if (p.rfind("weight=", 0) == 0) {
      std::string w = p.substr(7);
      char* end = nullptr;
      errno = 0;
      long value = std::strtol(w.c_str(), &end, 10);
      if (w.empty() || *end != '\0' || errno != 0 || value < 0 ||
          value > std::numeric_limits<std::int32_t>::max()) {
        Fail("--node '" + text + "'", "weight must be a number from 0 to 2147483647");
      }
      node.weight = static_cast<std::int32_t>(value);
    } else {
      Fail("--node '" + text + "'", "unknown setting '" + p + "' (expected path= or weight=)");
    }
  }
  return node;
}

std::string PackageManifestXml(const PackageOptions& options,
                               const std::vector<PublishedFile>& files) {
  std::ostringstream xml;
  xml << "<?xml version=\"1.0\" encoding=\"utf-8\"?>\n<package>\n"
      << "  <id>" << XmlEscape(options.packageId) << "</id>\n"
      << "  <name>" << XmlEscape(options.name) << "</name>\n"
      << "  <partnerId>" << XmlEscape(options.partnerId) << "</partnerId>\n"
      << "  <versionId>" << XmlEscape(options.versionId) << "</versionId>\n";
  if (!options.run.empty()) xml << "  <run>" << XmlEscape(options.run) << "</run>\n";
  xml << "  <files>\n";
  for (const PublishedFile& f : files) {
    // The SHA-256s sit in an attribute, which readers that know only the
    // CRC-32s pass over. A scan always has one per chunk.
    xml << "    <file";
    if (f.sha256s.size() == f.checksums.size()) {
      xml << " sha256=\"";
      for (const Sha256Digest& d : f.sha256s) xml << Sha256Hex(d);
      xml << '"';
    }
    xml << ">\n      <path>" << XmlEscape(f.path) << "</path>\n"
        << "      <chunksize>" << options.chunkSize << "</chunksize>\n"
        << "      <size>" << f.size << "</size>\n      <checksums>";
    for (std::uint32_t c : f.checksums) {
      char hex[9];
      std::snprintf(hex, sizeof hex, "%08x", c);
      xml << hex;
    }
    xml << "</checksums>\n    </file>\n";
  }
  xml << "  </files>\n</package>\n";
  return xml.str();
}

PublishedPackage PublishPackage(const PackageOptions& options) {
  CheckId("--partner", options.partnerId);
  CheckId("--package", options.packageId);
  CheckId("--version", options.versionId);
  if (options.versionId == "current") {
    Fail("--version", "'current' is reserved for the current-version manifest");
  }
  if (options.name.empty()) Fail("--name", "must not be empty");
  CheckCarriable("--name", options.name);
  if (options.chunkSize == 0) Fail("--chunk-size", "must be at least 1");
  if (options.tree.empty()) Fail("--out", "must be given");

  std::error_code ec;
  fs::path source(options.source);
  if (options.source.empty()) Fail("SOURCE_DIR", "must be given");
  if (!fs::exists(fs::symlink_status(source, ec))) {
    Fail(options.source, "the source folder does not exist");
  }
  if (!fs::is_directory(source, ec)) Fail(options.source, "is not a folder");

  std::vector<std::pair<std::string, fs::path>> found;
  fs::recursive_directory_iterator it(source, fs::directory_options::none, ec);
  if (ec) Fail(options.source, "cannot read folder: " + ec.message());
  for (; it != fs::recursive_directory_iterator(); it.increment(ec)) {
    if (ec) Fail(options.source, "cannot read folder: " + ec.message());
    const fs::path& p = it->path();
    std::string relative = p.lexically_relative(source).generic_string();
    fs::file_status status = it->symlink_status(ec);
    if (fs::is_symlink(status)) Fail(p.string(), "is a symbolic link; publish real files only");
    if (fs::is_directory(status)) continue;
    if (!fs::is_regular_file(status)) Fail(p.string(), "is not a regular file");
    if (!IsContainedRelativePath(relative) || relative.find('\\') != std::string::npos) {
      Fail(p.string(), "has a path the engine refuses");
    }
    CheckCarriable(p.string() + " (path)", relative);
    found.emplace_back(relative, p);
  }
  std::sort(found.begin(), found.end());

  // The run file is checked before anything is read: a typo should not cost
  // a scan of the whole package.
  bool runFound = options.run.empty();
  for (const auto& entry : found) runFound = runFound || entry.first == options.run;
  if (!runFound) {
    Fail("--run " + options.run, "is not a file of the package: no regular file '" + options.run +
                                     "' below " + options.source);
  }

  PublishedPackage result;
  for (const auto& [relative, path] : found) {
    result.files.push_back(Scan(path, relative, options.chunkSize));
  }

  fs::path tree(options.tree);
  fs::path manifestDir = tree / "manifests" / options.packageId;
  fs::path versionManifest = manifestDir / (options.versionId + ".xml");
  std::string xml = PackageManifestXml(options, result.files);
  if (options.sign.Enabled()) xml = WithExpiry(xml, "package", options.sign.expires);
  // Publishing a version again renews its expiry and signature; only the
  // content must stay the same.
  if (fs::exists(versionManifest, ec) &&
      WithoutExpiry(ReadWhole(versionManifest), "package") != WithoutExpiry(xml, "package")) {
    Fail(versionManifest.string(), "version '" + options.versionId +
                                       "' is already published with other content; "
                                       "publish a new version");
  }

  fs::path filesRoot =
      tree / "packages" / options.partnerId / options.packageId / options.versionId;
  // Check every target before placing anything, so a refusal changes nothing.
  for (const auto& [relative, path] : found) {
    fs::path target = filesRoot / relative;
    if (fs::exists(fs::symlink_status(target, ec)) && !SameContent(path, target)) {
      Fail(target.string(), "already exists with other content; publish a new version");
    }
  }
  for (const auto& [relative, path] : found) {
    fs::path target = filesRoot / relative;
    if (fs::exists(fs::symlink_status(target, ec))) continue;
    fs::create_directories(target.parent_path(), ec);
    if (ec) Fail(target.parent_path().string(), "cannot create folder: " + ec.message());
    fs::create_hard_link(path, target, ec);
    if (!ec) {
      ++result.linkedFiles;
      continue;
    }
    fs::path temp = target;
    temp += ".tmp";
    fs::copy_file(path, temp, fs::copy_options::overwrite_existing, ec);
    if (!ec) fs::rename(temp, target, ec);
    if (ec) Fail(target.string(), "cannot copy: " + ec.message());
    ++result.copiedFiles;
  }

  WriteSigned(versionManifest, xml, options.sign);
  if (options.updateCurrent) WriteSigned(manifestDir / "current.xml", xml, options.sign);
  result.manifestPath = versionManifest.lexically_relative(tree).generic_string();
  return result;
}

std::string PublishNodes(const std::string& tree, const std::string& partnerId,
                         const std::vector<NodeSpec>& nodes, const SignOptions& sign) {
  CheckId("--partner", partnerId);
  if (tree.empty()) Fail("--out", "must be given");
  if (nodes.empty()) Fail("--node", "at least one node is needed");
  std::ostringstream xml;
  xml << "<?xml version=\"1.0\" encoding=\"utf-8\"?>\n<ArrayOfNodeInfo>\n";
  for (const NodeSpec& n : nodes) {
    xml << "  <NodeInfo>\n    <NodeId>" << XmlEscape(n.nodeId) << "</NodeId>\n"
        << "    <Host>" << XmlEscape(n.host) << "</Host>\n"
        << "    <Path>" << XmlEscape(n.path) << "</Path>\n"
        << "    <Weight>" << n.weight << "</Weight>\n  </NodeInfo>\n";
  }
  xml << "</ArrayOfNodeInfo>\n";
  fs::path path = fs::path(tree) / "nodes" / (partnerId + ".xml");
  std::string document = xml.str();
  if (sign.Enabled()) document = WithExpiry(document, "ArrayOfNodeInfo", sign.expires);
  WriteSigned(path, document, sign);
  return "nodes/" + partnerId + ".xml";
}

}  // namespace velmo::publish
