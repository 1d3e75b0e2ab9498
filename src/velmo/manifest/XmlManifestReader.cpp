#include "velmo/manifest/XmlManifestReader.h"

#include <algorithm>
#include <boost/property_tree/xml_parser.hpp>
#include <iterator>
#include <new>
#include <sstream>
#include <string>

#include "velmo/manifest/ManifestExceptions.h"

namespace velmo {

namespace {

const char kXmlAttr[] = "<xmlattr>";

// The character classes of the XML reader (boost's rapidxml), which scans a
// zero-terminated copy of the document: a NUL ends the text wherever it is.
bool IsSpace(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r'; }
bool IsNameChar(char c) { return c != '\0' && !IsSpace(c) && c != '/' && c != '>' && c != '?'; }
bool IsAttributeNameChar(char c) { return IsNameChar(c) && c != '<' && c != '=' && c != '!'; }

void SkipSpace(const char*& p) {
  while (IsSpace(*p)) ++p;
}

// Whether `text` starts at `p`; never reads past the text's end, where the
// terminating NUL differs from every character of `text`.
bool Follows(const char* p, const char* text) {
  for (; *text != '\0'; ++p, ++text) {
    if (*p != *text) return false;
  }
  return true;
}

// Moves `p` past the next `terminator`; false when the text ends first.
bool SkipPast(const char*& p, const char* terminator) {
  for (; *p != '\0'; ++p) {
    if (Follows(p, terminator)) {
      p += std::char_traits<char>::length(terminator);
      return true;
    }
  }
  return false;
}

// Past the markup that follows a '<' that does not close an element: the
// reader's own choice between declaration, instruction, comment, CDATA,
// document type, other "<!" markup and element. Sets `opened` when an element
// start tag (not an empty-element tag) was read. False where the reader
// fails.
bool SkipMarkup(const char*& p, bool& opened) {
  opened = false;
  if (*p == '?') {
    // The declaration and every processing instruction end at the first "?>".
    return SkipPast(++p, "?>");
  }
  if (*p == '!') {
    if (Follows(p + 1, "--")) {
      p += 3;
      return SkipPast(p, "-->");
    }
    if (Follows(p + 1, "[CDATA[")) {
      p += 8;
      return SkipPast(p, "]]>");
    }
    if (Follows(p + 1, "DOCTYPE") && IsSpace(p[8])) {
      // Up to the first '>' outside brackets, brackets counted naively.
      for (p += 9; *p != '>';) {
        if (*p == '\0') return false;
        if (*p != '[') {
          ++p;
          continue;
        }
        ++p;
        for (std::size_t brackets = 1; brackets > 0; ++p) {
          if (*p == '\0') return false;
          if (*p == '[') ++brackets;
          if (*p == ']') --brackets;
        }
      }
      ++p;
      return true;
    }
    // Any other "<!" markup ends at the first '>', brackets or not.
    return SkipPast(++p, ">");
  }
  // An element: a name, attributes with quoted values, then '>' or "/>".
  const char* name = p;
  while (IsNameChar(*p)) ++p;
  if (p == name) return false;
  SkipSpace(p);
  while (IsAttributeNameChar(*p)) {
    while (IsAttributeNameChar(*p)) ++p;
    SkipSpace(p);
    if (*p != '=') return false;
    ++p;
    SkipSpace(p);
    const char quote = *p;
    if (quote != '"' && quote != '\'') return false;
    for (++p; *p != quote; ++p) {
      if (*p == '\0') return false;
    }
    ++p;
    SkipSpace(p);
  }
  if (*p == '>') {
    ++p;
    opened = true;
    return true;
  }
  if (p[0] == '/' && p[1] == '>') {
    p += 2;
    return true;
  }
  return false;
}

}  // namespace

std::size_t XmlElementDepth(const std::string& document) {
  const char* p = document.c_str();
  if (Follows(p, "\xEF\xBB\xBF")) p += 3;
  std::size_t depth = 0;  // elements open around `p`
  std::size_t deepest = 0;
  for (;;) {
    if (depth == 0) {
      // Between top-level nodes only white space may stand.
      SkipSpace(p);
      if (*p != '<') return deepest;
    } else if (*p != '<') {
      // Character data, up to the next markup.
      while (*p != '\0' && *p != '<') ++p;
      if (*p == '\0') return deepest;
    }
    if (depth > 0 && p[1] == '/') {
      // An end tag; its name is not compared with the start tag's.
      p += 2;
      while (IsNameChar(*p)) ++p;
      SkipSpace(p);
      if (*p != '>') return deepest;
      ++p;
      --depth;
      continue;
    }
    ++p;
    // Every element counts at its own level, empty-element tags included:
    // the tree built from the document is that deep.
    const bool isElement = *p != '?' && *p != '!';
    bool opened = false;
    if (isElement) deepest = std::max(deepest, depth + 1);
    if (!SkipMarkup(p, opened)) return deepest;
    if (opened) ++depth;
  }
}

void PromoteXmlAttributes(boost::property_tree::ptree& tree) {
  for (auto& child : tree) {
    if (child.first != kXmlAttr) {
      PromoteXmlAttributes(child.second);
    }
  }
  const auto attributes = tree.find(kXmlAttr);
  if (attributes == tree.not_found()) {
    return;
  }
  // Children are stored in a node-based list, so appending to `tree` leaves
  // the "<xmlattr>" subtree being walked where it is.
  for (const auto& attribute : attributes->second) {
    tree.push_back(attribute);
  }
}

void ReadXmlManifest(std::istream& stream, boost::property_tree::ptree& tree) {
  try {
    const std::string document{std::istreambuf_iterator<char>(stream),
                               std::istreambuf_iterator<char>()};
    if (XmlElementDepth(document) > kMaxXmlManifestDepth) {
      throw ManifestParseException("manifest document nests elements too deeply");
    }
    std::istringstream input(document);
    boost::property_tree::ptree parsed;
    boost::property_tree::read_xml(input, parsed);
    PromoteXmlAttributes(parsed);
    tree.swap(parsed);
  } catch (const ManifestParseException&) {
    throw;
  } catch (const std::bad_alloc&) {
    throw;
  } catch (const std::exception& e) {
    throw ManifestParseException(e.what());
  }
}

}  // namespace velmo
