#pragma once

#include <string>
#include <utility>
#include <vector>

namespace velmo {

// Ordered (key, value) pairs, such as a language list of (code, name).
using KeyValueList = std::vector<std::pair<std::string, std::string>>;

// Splits `text` at every ';' and each piece at its first '=': "de=Deutsch;
// a=b=c" gives (de, Deutsch) and (a, b=c). Empty pieces and pieces without
// '=' are skipped; nothing is trimmed; the order is kept.
KeyValueList ParseKeyValueList(const std::string& text);

// The per-language reading of a localizable value. Without a language the
// value is returned as it is; with one, `value` is read as a key=value list
// and the value of the first key equal to `language` (case-sensitive) is
// returned, or an empty string when there is none.
std::string Localized(const std::string& value, const std::string& language);

}  // namespace velmo
