#include "velmo/engine/JsonTempFileManifestStoreImpl.h"

#include <algorithm>
#include <boost/locale/encoding_errors.hpp>
#include <boost/locale/encoding_utf.hpp>
#include <boost/property_tree/json_parser.hpp>
#include <cstdio>
#include <iterator>
#include <new>
#include <sstream>

#include "velmo/manifest/ManifestExceptions.h"

namespace velmo {

using boost::property_tree::ptree;

namespace {

void AppendUnitEscape(std::string& out, unsigned unit) {
  char escape[8];
  std::snprintf(escape, sizeof escape, "\\u%04X", unit & 0xFFFFu);
  out += escape;
}

void AppendUtf8(std::string& out, char32_t c) {
  if (c < 0x80) {
    out += static_cast<char>(c);
  } else {  // only U+0080 to U+00FF come here
    out += static_cast<char>(0xC0 | (c >> 6));
    out += static_cast<char>(0x80 | (c & 0x3F));
  }
}

std::string Escape(const std::string& text) {
  std::u32string characters;
  try {
    characters = boost::locale::conv::utf_to_utf<char32_t>(text, boost::locale::conv::stop);
  } catch (const boost::locale::conv::conversion_error&) {
    throw ManifestParseException("stored document text is not UTF-8");
  }
  std::string out;
  out.reserve(text.size());
  for (char32_t c : characters) {
    switch (c) {
      case U'"':
        out += "\\\"";
        break;
      case U'\\':
        out += "\\\\";
        break;
      case U'/':
        out += "\\/";
        break;
      case U'\b':
        out += "\\b";
        break;
      case U'\f':
        out += "\\f";
        break;
      case U'\n':
        out += "\\n";
        break;
      case U'\r':
        out += "\\r";
        break;
      case U'\t':
        out += "\\t";
        break;
      default:
        // Latin-1 text stays readable; control characters and the rest of
        // the basic plane are \u escapes, beyond it surrogate pairs.
        if (c >= 0x20 && c <= 0xFF) {
          AppendUtf8(out, c);
        } else if (c <= 0xFFFF) {
          AppendUnitEscape(out, c);
        } else {
          const char32_t v = c - 0x10000;
          AppendUnitEscape(out, 0xD800 + (v >> 10));
          AppendUnitEscape(out, 0xDC00 + (v & 0x3FF));
        }
    }
  }
  return out;
}

void WriteNode(const ptree& node, bool top, std::string& out) {
  if (node.empty()) {
    if (top) {
      out += "{}";
    } else {
      out += '"' + Escape(node.data()) + '"';
    }
    return;
  }
  if (!node.data().empty()) {
    throw ManifestParseException("a node with a value and children has no JSON form");
  }
  bool array = true;
  for (const auto& child : node) array = array && child.first.empty();
  out += array ? '[' : '{';
  bool first = true;
  for (const auto& child : node) {
    if (!first) out += ',';
    first = false;
    if (!array) out += '"' + Escape(child.first) + "\":";
    WriteNode(child.second, false, out);
  }
  out += array ? ']' : '}';
}

}  // namespace

std::size_t JsonNestingDepth(const std::string& text) {
  std::size_t depth = 0;
  std::size_t deepest = 0;
  bool inString = false;
  for (std::size_t i = 0; i < text.size(); ++i) {
    const char c = text[i];
    if (inString) {
      if (c == '\\') {
        ++i;  // the escaped character cannot end the string
      } else if (c == '"') {
        inString = false;
      }
    } else if (c == '"') {
      inString = true;
    } else if (c == '[' || c == '{') {
      deepest = std::max(deepest, ++depth);
    } else if ((c == ']' || c == '}') && depth > 0) {
      --depth;
    }
  }
  return deepest;
}

void JsonTempFileManifestStoreImpl::Parse(std::istream& stream, ptree& tree) {
  try {
    const std::string text((std::istreambuf_iterator<char>(stream)),
                           std::istreambuf_iterator<char>());
    // The JSON reader passes raw bytes through; checking the whole text first
    // keeps malformed UTF-8 out of the identifiers.
    boost::locale::conv::utf_to_utf<char16_t>(text, boost::locale::conv::stop);
    if (JsonNestingDepth(text) > kMaxStoredJsonDepth) {
      throw ManifestParseException("stored document nests too deeply");
    }
    std::istringstream in(text);
    ptree parsed;
    boost::property_tree::read_json(in, parsed);
    tree.swap(parsed);
  } catch (const boost::locale::conv::conversion_error&) {
    throw ManifestParseException("stored document is not UTF-8");
  } catch (const ManifestParseException&) {
    throw;
  } catch (const std::bad_alloc&) {
    throw;  // out of memory stays itself, not a damaged document
  } catch (const std::exception& e) {
    throw ManifestParseException(std::string("stored document is not JSON: ") + e.what());
  }
}

void JsonTempFileManifestStoreImpl::Serialize(const ptree& tree, std::ostream& stream) {
  std::string text;
  try {
    WriteNode(tree, true, text);
  } catch (const ManifestParseException&) {
    throw;
  } catch (const std::bad_alloc&) {
    throw;  // out of memory stays itself, not a damaged document
  } catch (const std::exception& e) {
    throw ManifestParseException(std::string("cannot write the document: ") + e.what());
  }
  text += '\n';
  stream << text;
  if (!stream) throw ManifestParseException("cannot write the document to its stream");
}

std::string JsonTempFileManifestStoreImpl::FileName(const std::string& key) const {
  return key + ".json";
}

}  // namespace velmo
