#include "velmo/manifest/XmlManifestReader.h"

#include <algorithm>
#include <boost/property_tree/xml_parser.hpp>
#include <iterator>
#include <new>
#include <sstream>

#include "velmo/manifest/ManifestExceptions.h"

namespace velmo {

namespace {

const char kXmlAttr[] = "<xmlattr>";

bool StartsWith(const std::string& text, std::size_t at, const char* prefix) {
  return text.compare(at, std::char_traits<char>::length(prefix), prefix) == 0;
}

// Position just past `terminator` searched from `from`, or the end.
std::size_t SkipPast(const std::string& text, std::size_t from, const char* terminator) {
  const auto found = text.find(terminator, from);
  return found == std::string::npos ? text.size()
                                    : found + std::char_traits<char>::length(terminator);
}

}  // namespace

std::size_t XmlElementDepth(const std::string& document) {
  std::size_t depth = 0;
  std::size_t deepest = 0;
  std::size_t i = 0;
  const std::size_t n = document.size();
  while (i < n) {
    if (document[i] != '<') {
      ++i;
      continue;
    }
    if (StartsWith(document, i, "<!--")) {
      i = SkipPast(document, i + 4, "-->");
    } else if (StartsWith(document, i, "<![CDATA[")) {
      i = SkipPast(document, i + 9, "]]>");
    } else if (StartsWith(document, i, "<?")) {
      i = SkipPast(document, i + 2, "?>");
    } else if (StartsWith(document, i, "<!")) {
      // A declaration; a document type may hold an internal subset in brackets.
      std::size_t brackets = 0;
      std::size_t j = i + 2;
      for (; j < n; ++j) {
        if (document[j] == '[') {
          ++brackets;
        } else if (document[j] == ']' && brackets > 0) {
          --brackets;
        } else if (document[j] == '>' && brackets == 0) {
          break;
        }
      }
      i = j + 1;
    } else if (StartsWith(document, i, "</")) {
      if (depth > 0) {
        --depth;
      }
      i = SkipPast(document, i + 2, ">");
    } else {
      // A start tag; '>' and '/' inside quoted attribute values do not count.
      char quote = 0;
      std::size_t j = i + 1;
      for (; j < n; ++j) {
        const char c = document[j];
        if (quote != 0) {
          if (c == quote) {
            quote = 0;
          }
        } else if (c == '"' || c == '\'') {
          quote = c;
        } else if (c == '>') {
          break;
        }
      }
      const bool selfClosing = j < n && document[j - 1] == '/';
      if (!selfClosing) {
        ++depth;
        deepest = std::max(deepest, depth);
      }
      i = j + 1;
    }
  }
  return deepest;
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
