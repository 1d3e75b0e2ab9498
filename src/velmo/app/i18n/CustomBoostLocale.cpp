#include "velmo/app/i18n/CustomBoostLocale.h"

#include <boost/locale/generator.hpp>
#include <boost/locale/gnu_gettext.hpp>
#include <boost/locale/info.hpp>
#include <boost/locale/localization_backend.hpp>
#include <cstdlib>
#include <exception>
#include <utility>

#include "velmo/app/i18n/MessageCatalog.h"
#include "velmo/platform/System.h"

namespace velmo {

namespace {

std::string UserLocaleFromEnvironment() {
  for (const char* name : {"LC_ALL", "LC_MESSAGES", "LANG"}) {
    std::string value = EnvironmentValue(name).value_or(std::string());
    if (!value.empty()) return value;
  }
  return std::string();
}

std::locale Generate(const std::string& name) {
  boost::locale::localization_backend_manager manager =
      boost::locale::localization_backend_manager::global();
  manager.select("std");
  boost::locale::generator generator(manager);
  return generator(name);
}

}  // namespace

std::string LocaleNameForLanguage(const std::string& code) {
  std::string name = code.empty() ? UserLocaleFromEnvironment() : code;
  std::string variant;
  const std::size_t at = name.find('@');
  if (at != std::string::npos) {
    variant = name.substr(at);
    name.erase(at);
  }
  const std::size_t dot = name.find('.');
  if (dot != std::string::npos) name.erase(dot);
  if (name.empty() || name == "C" || name == "POSIX") return "C.UTF-8";
  return name + ".UTF-8" + variant;
}

CustomBoostLocale::CustomBoostLocale(const MessageCatalog& catalog, const std::string& code,
                                     std::string supportHost)
    : BoostLocale(catalog.GetDomain(), catalog.GetRoot(), code, &catalog, std::move(supportHost)) {
  locale_ = std::locale();
  SetLanguage(code);
}

void CustomBoostLocale::SetLanguage(const std::string& code) {
  language_ = code;
  std::locale generated;
  try {
    generated = Generate(LocaleNameForLanguage(code));
  } catch (const std::exception&) {
    // A code Boost.Locale cannot make sense of: no translation, plain texts.
    generated = Generate("C.UTF-8");
  }
  const auto& info = std::use_facet<boost::locale::info>(generated);
  boost::locale::gnu_gettext::messages_info messages;
  messages.language = info.language();
  messages.country = info.country();
  messages.variant = info.variant();
  messages.encoding = info.encoding();
  messages.paths.push_back(root_);
  messages.domains.push_back(boost::locale::gnu_gettext::messages_info::domain(domain_));
  const MessageCatalog* catalog = catalog_;
  messages.callback = [catalog](const std::string& path, const std::string& encoding) {
    return catalog->Load(path, encoding);
  };
  try {
    locale_ =
        std::locale(generated, boost::locale::gnu_gettext::create_messages_facet<char>(messages));
  } catch (const std::exception&) {
    // A catalog the loader rejects: the generated locale has an empty
    // messages facet, so every text stays English.
    locale_ = generated;
  }
}

}  // namespace velmo
