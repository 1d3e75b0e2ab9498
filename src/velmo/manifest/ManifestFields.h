#pragma once

#include <boost/property_tree/ptree.hpp>
#include <cstdint>
#include <optional>
#include <string>

namespace velmo {

// Field access shared by the manifest parsers. Field names are looked up as
// direct children (never as dotted paths); with attributes promoted, the
// first child of a name is the element when both an element and an attribute
// exist. Every failure is a ManifestParseException.

// The text of the first child named `name`; ManifestParseException if absent.
const std::string& RequiredField(const boost::property_tree::ptree& tree, const std::string& name);

// The text of the first child named `name`, or nothing.
std::optional<std::string> OptionalField(const boost::property_tree::ptree& tree,
                                         const std::string& name);

// An unsigned decimal number: ASCII digits only, optionally surrounded by
// white space (documents may be pretty-printed). A sign, any other character
// or a value beyond the type's range is a ManifestParseException: the stream
// conversion would read "-1" as the largest value, turning a broken size into
// an absurd one.
std::uint32_t ParseDecimalUint32(const std::string& text);
std::uint64_t ParseDecimalUint64(const std::string& text);

}  // namespace velmo
