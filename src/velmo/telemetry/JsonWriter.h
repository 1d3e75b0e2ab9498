#pragma once

// The engine's JSON text form of a property tree. The analytics endpoints and
// the readers of the work log depend on its exact bytes, which differ from the
// usual property-tree writer:
//
// - compact: no spaces and no line breaks inside the document; the text ends
//   with one line feed;
// - a node whose children all have empty keys is an array of their values (so
//   is an empty tree at the top level); any other node with children is an
//   object with its keys in insertion order;
// - a node without children (below the top level) is a string of its value,
//   numbers included, except the two marker values below, written as {} and [];
// - keys and strings are escaped byte by byte (see EscapeJsonString), so every
//   byte of a multi-byte UTF-8 sequence becomes its own \u00XX escape.

#include <boost/property_tree/ptree.hpp>
#include <iosfwd>
#include <string>

namespace velmo {

// Leaf values that stand for an empty object and an empty array.
extern const char* const kJsonEmptyObject;  // "boost::property_tree::json_parser::empty_object"
extern const char* const kJsonEmptyArray;   // "boost::property_tree::json_parser::empty_array"

// Writes `tree` and a terminating line feed. Throws std::ios_base::failure when
// the stream fails while (or before) the text is written.
void WriteJson(std::ostream& out, const boost::property_tree::ptree& tree);

// The same text as a string, line feed included.
std::string ToJson(const boost::property_tree::ptree& tree);

// `text` escaped for use between quotation marks: quote, backslash and slash get
// a backslash; bytes 8, 9, 10, 12, 13 become \b \t \n \f \r; every other byte
// below 32 and every byte from 128 up becomes \u00 and two uppercase hex digits.
std::string EscapeJsonString(const std::string& text);

// A double as printf's %.16g writes it: 1.5 -> "1.5", 0 -> "0",
// 1/3 -> "0.3333333333333333". Used for the values that are seconds.
std::string FormatJsonDouble(double value);

}  // namespace velmo
