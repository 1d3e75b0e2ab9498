#include "velmo/manifest/XmlManifestReader.h"

#include <algorithm>
#include <boost/property_tree/detail/rapidxml.hpp>
#include <boost/property_tree/ptree.hpp>
#include <iterator>
#include <new>
#include <string>
#include <utility>
#include <vector>

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
  // Where the elements at the streamed path start ('<') and end (past '>').
  std::vector<std::pair<std::size_t, std::size_t>> streamed;
};

// The document's shape, by the reader's own rules; with a `path`, the ranges
// of the whole elements found at it.
XmlShape ScanXml(const std::string& document, const std::vector<std::string>* path = nullptr) {
  const char* const begin = document.c_str();
  const char* p = begin;
  if (Follows(p, "\xEF\xBB\xBF")) p += 3;
  XmlShape shape;
  std::size_t depth = 0;  // elements open around `p`
  // The open elements at levels below `matched` carry the path's names, so
  // an element at level `matched` with the next name continues the path.
  // Above the streamed level only the first element of a name counts, as a
  // reader of the tree finds the first: a second <files> is no list of files.
  std::size_t matched = 0;
  const std::size_t pathSize = path == nullptr ? 0 : path->size();
  std::vector<bool> taken(pathSize, false);
  std::size_t openStart = 0;  // of the streamed element open now
  for (;;) {
    if (depth == 0) {
      // Between top-level nodes only white space may stand.
      SkipSpace(p);
      if (*p != '<') return shape;
    } else if (*p != '<') {
      // Character data, up to the next markup.
      while (*p != '\0' && *p != '<') ++p;
      if (*p == '\0') return shape;
    }
    const char* const tag = p;
    if (depth > 0 && p[1] == '/') {
      // An end tag; its name is not compared with the start tag's.
      p += 2;
      while (IsNameChar(*p)) ++p;
      SkipSpace(p);
      if (*p != '>') return shape;
      ++p;
      if (matched == depth) {
        if (depth == pathSize) {
          shape.streamed.emplace_back(openStart, static_cast<std::size_t>(p - begin));
        }
        --matched;
      }
      --depth;
      continue;
    }
    ++p;
    // Every element counts at its own level, empty-element tags included:
    // the tree built from the document is that deep.
    const bool isElement = *p != '?' && *p != '!';
    const char* const name = p;
    bool opened = false;
    std::size_t attributes = 0;
    if (isElement) shape.depth = std::max(shape.depth, depth + 1);
    const bool read = SkipMarkup(p, opened, attributes);
    shape.attributes = std::max(shape.attributes, attributes);
    if (!read) return shape;
    if (isElement && matched == depth && depth < pathSize) {
      const char* nameEnd = name;
      while (IsNameChar(*nameEnd)) ++nameEnd;
      if ((*path)[depth].compare(0, std::string::npos, name,
                                 static_cast<std::size_t>(nameEnd - name)) == 0) {
        const bool last = depth + 1 == pathSize;
        if (last && !opened) {
          shape.streamed.emplace_back(tag - begin, p - begin);
        } else if (last || !taken[depth]) {
          taken[depth] = true;
          if (opened) ++matched;
          if (opened && last) openStart = static_cast<std::size_t>(tag - begin);
        }
      }
    }
    if (opened) ++depth;
  }
}

namespace rx = boost::property_tree::detail::rapidxml;
using boost::property_tree::ptree;

// One node of the parsed document into `parent`, as boost's XML reader
// builds it ("<xmlattr>" first, then the children, text appended to the
// value, comments as "<xmlcomment>"), with the attributes then appended again
// as children.
void AddNode(const rx::xml_node<char>& node, ptree& parent) {
  switch (node.type()) {
    case rx::node_element: {
      ptree& element =
          parent.push_back(ptree::value_type(std::string(node.name(), node.name_size()), ptree()))
              ->second;
      if (node.first_attribute() != nullptr) {
        ptree& attributes = element.push_back(ptree::value_type("<xmlattr>", ptree()))->second;
        for (auto* a = node.first_attribute(); a != nullptr; a = a->next_attribute()) {
          attributes.push_back(ptree::value_type(std::string(a->name(), a->name_size()),
                                                 ptree(std::string(a->value(), a->value_size()))));
        }
      }
      for (auto* child = node.first_node(); child != nullptr; child = child->next_sibling()) {
        AddNode(*child, element);
      }
      for (auto* a = node.first_attribute(); a != nullptr; a = a->next_attribute()) {
        element.push_back(ptree::value_type(std::string(a->name(), a->name_size()),
                                            ptree(std::string(a->value(), a->value_size()))));
      }
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

// Parses the zero-terminated `text` in place (it lies within `document`, for
// the line of an error) and adds its nodes to `tree`.
void ParseInPlace(rx::xml_document<char>& parsed, char* text, const std::string& document,
                  ptree& tree) {
  try {
    parsed.parse<rx::parse_comment_nodes>(text);
  } catch (const rx::parse_error& e) {
    const char* where = e.where<char>();
    const auto line = 1 + std::count(document.data(), static_cast<const char*>(where), '\n');
    throw ManifestParseException("line " + std::to_string(line) + ": " + e.what());
  }
  for (auto* node = parsed.first_node(); node != nullptr; node = node->next_sibling()) {
    AddNode(*node, tree);
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
    // One copy, of the document's own size where the stream can tell it
    // (growing a string by doubling would hold up to twice that).
    std::string document;
    const auto start = stream.tellg();
    if (start != std::istream::pos_type(-1) && stream.seekg(0, std::ios::end)) {
      const auto end = stream.tellg();
      stream.seekg(start);
      if (end > start) document.reserve(static_cast<std::size_t>(end - start));
    }
    stream.clear();
    document.assign(std::istreambuf_iterator<char>(stream), std::istreambuf_iterator<char>());
    const XmlShape shape = ScanXml(document, streamed != nullptr ? &streamed->path : nullptr);
    if (shape.depth > kMaxXmlManifestDepth) {
      throw ManifestParseException("manifest document nests elements too deeply");
    }
    if (shape.attributes > kMaxXmlAttributes) {
      throw ManifestParseException("a manifest element carries more than " +
                                   std::to_string(kMaxXmlAttributes) + " attributes");
    }
    // The parser builds about a hundred bytes per node (text runs between
    // elements included), ten times a dense document, so the streamed
    // elements are parsed one at a time and the rest of the document without
    // them. The rest goes first: a document malformed anywhere hands out
    // nothing.
    std::string rest;
    std::size_t from = 0;
    for (const auto& [first, last] : shape.streamed) {
      rest.append(document, from, first - from);
      from = last;
    }
    rest.append(document, from, std::string::npos);
    rx::xml_document<char> parsed;
    ptree built;
    ParseInPlace(parsed, &rest[0], rest, built);
    std::string().swap(rest);
    // In place: names and values point into the document, which the parser
    // changes (entities, ends of strings); each element ends in a NUL for
    // the parse, and the byte there is put back for the next.
    for (const auto& [first, last] : shape.streamed) {
      const char after = document[last];
      document[last] = '\0';
      parsed.clear();
      ptree element;
      ParseInPlace(parsed, &document[first], document, element);
      document[last] = after;
      if (element.size() != 1) throw ManifestParseException("a streamed element did not parse");
      streamed->onElement(element.front().second);
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
