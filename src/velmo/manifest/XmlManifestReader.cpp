#include "velmo/manifest/XmlManifestReader.h"

#include <algorithm>
#include <boost/property_tree/detail/rapidxml.hpp>
#include <boost/property_tree/ptree.hpp>
#include <iterator>
#include <new>
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
// start tag (not an empty-element tag) was read, and `attributes` to the
// count of its attributes. False where the reader fails.
bool SkipMarkup(const char*& p, bool& opened, std::size_t& attributes) {
  opened = false;
  attributes = 0;
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
    ++attributes;
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

struct XmlShape {
  std::size_t depth = 0;       // deepest element nesting
  std::size_t attributes = 0;  // most attributes on one element
};

XmlShape ScanXml(const std::string& document) {
  const char* p = document.c_str();
  if (Follows(p, "\xEF\xBB\xBF")) p += 3;
  std::size_t depth = 0;  // elements open around `p`
  std::size_t deepest = 0;
  std::size_t most = 0;
  const auto shape = [&] { return XmlShape{deepest, most}; };
  for (;;) {
    if (depth == 0) {
      // Between top-level nodes only white space may stand.
      SkipSpace(p);
      if (*p != '<') return shape();
    } else if (*p != '<') {
      // Character data, up to the next markup.
      while (*p != '\0' && *p != '<') ++p;
      if (*p == '\0') return shape();
    }
    if (depth > 0 && p[1] == '/') {
      // An end tag; its name is not compared with the start tag's.
      p += 2;
      while (IsNameChar(*p)) ++p;
      SkipSpace(p);
      if (*p != '>') return shape();
      ++p;
      --depth;
      continue;
    }
    ++p;
    // Every element counts at its own level, empty-element tags included:
    // the tree built from the document is that deep.
    const bool isElement = *p != '?' && *p != '!';
    bool opened = false;
    std::size_t attributes = 0;
    if (isElement) deepest = std::max(deepest, depth + 1);
    const bool read = SkipMarkup(p, opened, attributes);
    most = std::max(most, attributes);
    if (!read) return shape();
    if (opened) ++depth;
  }
}

namespace rx = boost::property_tree::detail::rapidxml;
using boost::property_tree::ptree;

// One node of the parsed document into `parent`, as boost's XML reader
// builds it ("<xmlattr>" first, then the children, text appended to the
// value, comments as "<xmlcomment>"), with the attributes then appended again
// as children. `depth` is the node's level below the root (the root is 0).
void AddNode(const rx::xml_node<char>& node, ptree& parent, std::size_t depth,
             const XmlStreamedElements* streamed, bool onPath) {
  switch (node.type()) {
    case rx::node_element: {
      const std::string name(node.name(), node.name_size());
      onPath = onPath && streamed != nullptr && depth < streamed->path.size() &&
               streamed->path[depth] == name;
      const bool handOut = onPath && depth + 1 == streamed->path.size();
      ptree own;
      ptree& element = handOut ? own : parent.push_back(ptree::value_type(name, ptree()))->second;
      if (node.first_attribute() != nullptr) {
        ptree& attributes = element.push_back(ptree::value_type("<xmlattr>", ptree()))->second;
        for (auto* a = node.first_attribute(); a != nullptr; a = a->next_attribute()) {
          attributes.push_back(ptree::value_type(std::string(a->name(), a->name_size()),
                                                 ptree(std::string(a->value(), a->value_size()))));
        }
      }
      for (auto* child = node.first_node(); child != nullptr; child = child->next_sibling()) {
        AddNode(*child, element, depth + 1, streamed, onPath);
      }
      for (auto* a = node.first_attribute(); a != nullptr; a = a->next_attribute()) {
        element.push_back(ptree::value_type(std::string(a->name(), a->name_size()),
                                            ptree(std::string(a->value(), a->value_size()))));
      }
      if (handOut) streamed->onElement(own);
      break;
    }
    case rx::node_data:
    case rx::node_cdata:
      parent.data().append(node.value(), node.value_size());
      break;
    case rx::node_comment:
      parent.push_back(
          ptree::value_type("<xmlcomment>", ptree(std::string(node.value(), node.value_size()))));
      break;
    default:
      break;
  }
}

}  // namespace

std::size_t XmlElementDepth(const std::string& document) { return ScanXml(document).depth; }

std::size_t XmlMostAttributes(const std::string& document) { return ScanXml(document).attributes; }

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

void ReadXmlManifest(std::istream& stream, boost::property_tree::ptree& tree,
                     const XmlStreamedElements* streamed) {
  try {
    std::string document{std::istreambuf_iterator<char>(stream), std::istreambuf_iterator<char>()};
    const XmlShape shape = ScanXml(document);
    if (shape.depth > kMaxXmlManifestDepth) {
      throw ManifestParseException("manifest document nests elements too deeply");
    }
    if (shape.attributes > kMaxXmlAttributes) {
      throw ManifestParseException("a manifest element carries more than " +
                                   std::to_string(kMaxXmlAttributes) + " attributes");
    }
    // Parsed in place: names and values point into the document, which the
    // parser changes (entities, ends of strings), so the scan came first.
    rx::xml_document<char> parsed;
    try {
      parsed.parse<rx::parse_comment_nodes>(&document[0]);
    } catch (const rx::parse_error& e) {
      const char* where = e.where<char>();
      const auto line = 1 + std::count(static_cast<const char*>(document.data()), where, '\n');
      throw ManifestParseException("line " + std::to_string(line) + ": " + e.what());
    }
    ptree built;
    for (auto* node = parsed.first_node(); node != nullptr; node = node->next_sibling()) {
      AddNode(*node, built, 0, streamed, true);
    }
    tree.swap(built);
  } catch (const ManifestParseException&) {
    throw;
  } catch (const std::bad_alloc&) {
    throw;
  } catch (const std::exception& e) {
    throw ManifestParseException(e.what());
  }
}

}  // namespace velmo
