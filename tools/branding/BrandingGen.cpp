// Turns a branding file into C++ source compiled into the program, so that the
// bootstrapper's string table and build values travel inside the executable.
//
// Branding file format: "[section]" lines, "key=value" lines, comments starting
// with ';' or '#'. Keys are trimmed; values are taken verbatim after the first
// '=' (list values such as "de=Deutsch;en=English" keep every character).
// Section [strings] holds numeric string ids; section [build] holds the named
// build values listed in kBuildKeys.
#include <cctype>
#include <cstdio>
#include <fstream>
#include <iostream>
#include <map>
#include <sstream>
#include <string>

namespace {

const char* const kBuildKeys[] = {"manifestHost", "supportHost", "analyticsEventsUrl",
                                  "analyticsTransfersUrl", "signingKeys"};

// A public key as 'velmo-publish keygen' writes it: base64 of 32 bytes is 43
// characters of the alphabet and one '='. A typo is caught at build time
// rather than leaving a program that can never verify anything.
bool IsPublicKeyText(const std::string& key) {
  if (key.size() != 44 || key[43] != '=') return false;
  for (std::size_t i = 0; i < 43; ++i) {
    const unsigned char c = static_cast<unsigned char>(key[i]);
    if (!std::isalnum(c) && c != '+' && c != '/') return false;
  }
  return true;
}

// signingKeys lists keys separated by commas, semicolons or spaces.
bool CheckSigningKeys(const std::string& list, std::string& bad) {
  std::string key;
  for (std::size_t i = 0; i <= list.size(); ++i) {
    const char c = i < list.size() ? list[i] : ' ';
    if (c == ',' || c == ';' || c == ' ' || c == '\t') {
      if (!key.empty() && !IsPublicKeyText(key)) {
        bad = key;
        return false;
      }
      key.clear();
    } else {
      key += c;
    }
  }
  return true;
}

std::string Trim(const std::string& s) {
  std::size_t b = 0;
  std::size_t e = s.size();
  while (b < e && std::isspace(static_cast<unsigned char>(s[b]))) ++b;
  while (e > b && std::isspace(static_cast<unsigned char>(s[e - 1]))) --e;
  return s.substr(b, e - b);
}

std::string Literal(const std::string& s) {
  std::string out = "\"";
  for (const char ch : s) {
    const auto c = static_cast<unsigned char>(ch);
    if (std::isalnum(c) || c == ' ' || c == '.' || c == '_' || c == '-' || c == '=' || c == ';' ||
        c == ':' || c == '/') {
      out += static_cast<char>(c);
    } else {
      char buf[8];
      std::snprintf(buf, sizeof buf, "\\%03o", c);
      out += buf;
    }
  }
  return out + "\"";
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 3) {
    std::cerr << "usage: velmo-branding-gen BRANDING.ini OUTPUT.cpp\n";
    return 2;
  }
  std::ifstream in(argv[1], std::ios::binary);
  if (!in) {
    std::cerr << argv[1] << ": cannot open branding file\n";
    return 1;
  }
  std::map<unsigned, std::string> strings;
  std::map<std::string, std::string> build;
  std::string section;
  std::string line;
  int lineNo = 0;
  while (std::getline(in, line)) {
    ++lineNo;
    if (!line.empty() && line.back() == '\r') line.pop_back();
    std::string t = Trim(line);
    if (t.empty() || t[0] == ';' || t[0] == '#') continue;
    if (t.front() == '[' && t.back() == ']') {
      section = t.substr(1, t.size() - 2);
      if (section != "strings" && section != "build") {
        std::cerr << argv[1] << ":" << lineNo << ": unknown section [" << section << "]\n";
        return 1;
      }
      continue;
    }
    auto eq = line.find('=');
    if (eq == std::string::npos || section.empty()) {
      std::cerr << argv[1] << ":" << lineNo << ": expected key=value inside a section\n";
      return 1;
    }
    std::string key = Trim(line.substr(0, eq));
    std::string value = line.substr(eq + 1);
    if (section == "strings") {
      char* end = nullptr;
      unsigned long id = std::strtoul(key.c_str(), &end, 10);
      if (key.empty() || *end != '\0' || id > 65535) {
        std::cerr << argv[1] << ":" << lineNo << ": string id must be a number: " << key << "\n";
        return 1;
      }
      strings[static_cast<unsigned>(id)] = value;
    } else {
      bool known = false;
      for (const char* k : kBuildKeys) known = known || key == k;
      if (!known) {
        std::cerr << argv[1] << ":" << lineNo << ": unknown build value " << key << "\n";
        return 1;
      }
      build[key] = Trim(value);
      std::string bad;
      if (key == "signingKeys" && !CheckSigningKeys(build[key], bad)) {
        std::cerr << argv[1] << ":" << lineNo << ": signingKeys: '" << bad
                  << "' is not a base64 Ed25519 public key\n";
        return 1;
      }
    }
  }

  std::ostringstream out;
  out << "// Generated from " << argv[1] << " by velmo-branding-gen. Do not edit.\n"
      << "#include \"velmo/platform/BuildValues.h\"\n\n"
      << "namespace velmo::build {\n\n"
      << "const StringEntry kStrings[] = {\n";
  for (const auto& [id, text] : strings) out << "    {" << id << ", " << Literal(text) << "},\n";
  out << "    {0, nullptr}};\n"
      << "const std::size_t kStringCount = " << strings.size() << ";\n";
  for (const char* k : kBuildKeys) {
    std::string name = k;
    name[0] = static_cast<char>(std::toupper(static_cast<unsigned char>(name[0])));
    out << "const char* const k" << name << " = " << Literal(build[k]) << ";\n";
  }
  out << "\n}  // namespace velmo::build\n";

  // Rewrite only on change so a rebuild does not recompile for nothing.
  std::ifstream old(argv[2], std::ios::binary);
  std::stringstream oldText;
  oldText << old.rdbuf();
  if (old && oldText.str() == out.str()) return 0;
  std::ofstream file(argv[2], std::ios::binary | std::ios::trunc);
  file << out.str();
  if (!file) {
    std::cerr << argv[2] << ": cannot write\n";
    return 1;
  }
  return 0;
}
