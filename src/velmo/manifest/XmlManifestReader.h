#pragma once

#include <boost/property_tree/ptree.hpp>
#include <cstddef>
#include <functional>
#include <istream>
#include <string>
#include <vector>

namespace velmo {

// Reading of the manifest server's XML documents into property trees, shared
// by every XML manifest source.
//
// The tree is the XML reader's (comments become "<xmlcomment>" children, the
// attributes of an element children of its "<xmlattr>" child, the text of an
// element its value), and then every attribute is also appended to its element
// as a child of the same name, so that a field reads alike whether a document
// writes it as an attribute or as a child element (the element wins when both
// exist, being first). Malformed XML, nesting deeper than
// kMaxXmlManifestDepth and an element with more than kMaxXmlAttributes
// attributes throw ManifestParseException; memory exhaustion passes through as
// std::bad_alloc.
//
// With `streamed`, each element at `streamed->path` (element names from the
// root down) is built as the tree would hold it, handed to
// `streamed->onElement` in document order and left out of the tree: a
// document of a million such elements never becomes a tree of a million.
// The parse holds the document, its parsed form (about a hundred bytes per
// element and fifty per attribute) and the tree, never a copy per step.
struct XmlStreamedElements {
  std::vector<std::string> path;
  std::function<void(const boost::property_tree::ptree&)> onElement;
};
void ReadXmlManifest(std::istream& stream, boost::property_tree::ptree& tree,
                     const XmlStreamedElements* streamed = nullptr);

// Appends the attributes of every element of the tree to the element itself,
// depth first. The "<xmlattr>" children stay in place.
void PromoteXmlAttributes(boost::property_tree::ptree& tree);

// Our documents nest four elements deep. The XML reader recurses once per
// level, so a hostile document nested a million levels deep would overflow the
// stack; such documents are refused before they reach the reader.
constexpr std::size_t kMaxXmlManifestDepth = 64;

// Our elements carry at most a handful of attributes; one that carries
// millions would cost the reader tens of bytes each before any field is read.
constexpr std::size_t kMaxXmlAttributes = 256;

// The most attributes the reader finds on one element of `document`, by the
// same scan as XmlElementDepth.
std::size_t XmlMostAttributes(const std::string& document);

// The deepest element nesting the XML reader reaches on `document`, counting
// empty-element tags at their own level. The scan follows the reader's own
// rules (boost's rapidxml with the flags read_xml uses) for where comments,
// CDATA sections, processing instructions, document types, other "<!" markup,
// quoted attribute values and end tags stop, and stops where the reader
// fails, so markup the reader takes for an element is never hidden from the
// count. Without recursion: any document takes constant stack.
std::size_t XmlElementDepth(const std::string& document);

}  // namespace velmo
