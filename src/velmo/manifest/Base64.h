#pragma once

#include <optional>
#include <string>

namespace velmo {

// Standard base64 (RFC 4648 alphabet, '=' padding) for keys and signatures.
// Encoding never breaks lines.
std::string EncodeBase64(const std::string& bytes);

// Strict decoding: the text must be a whole number of 4-character groups of
// the standard alphabet with correct padding and zero bits after the last
// byte, and nothing else (no white space, no line breaks). Anything else is
// std::nullopt, so that one key or signature has exactly one written form.
std::optional<std::string> DecodeBase64(const std::string& text);

}  // namespace velmo
