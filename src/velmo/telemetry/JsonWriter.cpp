#include "velmo/telemetry/JsonWriter.h"

#include <locale>
#include <ostream>
#include <sstream>

namespace velmo {

const char* const kJsonEmptyObject = "boost::property_tree::json_parser::empty_object";
const char* const kJsonEmptyArray = "boost::property_tree::json_parser::empty_array";

namespace {

using boost::property_tree::ptree;

bool AllKeysEmpty(const ptree& node) {
  for (const auto& child : node) {
    if (!child.first.empty()) return false;
  }
  return true;
}

void AppendEscaped(std::string& out, const std::string& text) {
  static const char kHex[] = "0123456789ABCDEF";
  for (char c : text) {
    const auto byte = static_cast<unsigned char>(c);
    switch (byte) {
      case '"':
        out += "\\\"";
        break;
      case '\\':
        out += "\\\\";
        break;
      case '/':
        out += "\\/";
        break;
      case '\b':
        out += "\\b";
        break;
      case '\t':
        out += "\\t";
        break;
      case '\n':
        out += "\\n";
        break;
      case '\f':
        out += "\\f";
        break;
      case '\r':
        out += "\\r";
        break;
      default:
        if (byte < 0x20 || byte >= 0x80) {
          out += "\\u00";
          out += kHex[byte >> 4];
          out += kHex[byte & 0x0F];
        } else {
          out += c;  // 127 (DEL) is copied as it is
        }
    }
  }
}

void AppendString(std::string& out, const std::string& text) {
  out += '"';
  AppendEscaped(out, text);
  out += '"';
}

// Recursion depth equals the depth of the tree, which the engine builds itself
// (at most a handful of levels).
void AppendValue(std::string& out, const ptree& node, bool topLevel) {
  if (node.empty() && !topLevel) {
    const std::string& value = node.data();
    if (value == kJsonEmptyObject) {
      out += "{}";
    } else if (value == kJsonEmptyArray) {
      out += "[]";
    } else {
      AppendString(out, value);
    }
    return;
  }
  if (AllKeysEmpty(node)) {
    out += '[';
    bool first = true;
    for (const auto& child : node) {
      if (!first) out += ',';
      first = false;
      AppendValue(out, child.second, false);
    }
    out += ']';
    return;
  }
  out += '{';
  bool first = true;
  for (const auto& child : node) {
    if (!first) out += ',';
    first = false;
    AppendString(out, child.first);
    out += ':';
    AppendValue(out, child.second, false);
  }
  out += '}';
}

}  // namespace

std::string ToJson(const ptree& tree) {
  std::string text;
  AppendValue(text, tree, true);
  text += '\n';
  return text;
}

void WriteJson(std::ostream& out, const ptree& tree) {
  const std::string text = ToJson(tree);
  if (out.good()) out.write(text.data(), static_cast<std::streamsize>(text.size()));
  if (!out.good()) throw std::ios_base::failure("WriteJson: the output stream failed");
}

std::string EscapeJsonString(const std::string& text) {
  std::string out;
  AppendEscaped(out, text);
  return out;
}

std::string FormatJsonDouble(double value) {
  // The classic locale keeps the decimal point a '.' whatever locale the
  // program has chosen for its user interface; default float notation with a
  // precision of 16 is the %.16g conversion.
  std::ostringstream out;
  out.imbue(std::locale::classic());
  out.precision(16);
  out << value;
  return out.str();
}

}  // namespace velmo
