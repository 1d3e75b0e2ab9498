#pragma once

#include <cstdint>
#include <string>

namespace velmo {

// The locale the dialog talks to: translation of message ids, filling of
// their "{1}"/"{2}" placeholders, number and size formatting, and the
// remaining-time sentence. Everything but the language, the translation and
// the wording of a duration is implemented here once.
//
// Threads: SetLanguage runs on the main thread before any transfer exists;
// afterwards the other operations may be called from the main and the monitor
// thread, which only read.
class SimpleLocale {
 public:
  virtual ~SimpleLocale();
  SimpleLocale(const SimpleLocale&) = delete;
  SimpleLocale& operator=(const SimpleLocale&) = delete;

  // The language code set last; empty when none was set.
  virtual std::string GetLanguage() const = 0;
  virtual void SetLanguage(const std::string& code) = 0;
  // The translation of `messageId`, or the id itself when there is none.
  virtual std::string Translate(const std::string& messageId) const = 0;
  // Translate(messageId) with every "{1}" replaced by Translate(argument).
  virtual std::string Format(const std::string& messageId, const std::string& argument) const;
  // FormatPlain(messageId, first) with every "{2}" replaced by `second` as it is.
  virtual std::string Format2(const std::string& messageId, const std::string& first,
                              const std::string& second) const;
  // Translate(messageId) with every "{1}" replaced by `argument` as it is.
  virtual std::string FormatPlain(const std::string& messageId, const std::string& argument) const;
  // `value` in fixed notation with `decimals` digits after the point (a
  // negative count is taken as none). Always written with a '.' and without
  // grouping, whatever the language: the same figures on every machine.
  virtual std::string FormatNumber(double value, int decimals) const;
  // FormatNumber(fraction * 100, decimals) followed by "%".
  virtual std::string FormatPercent(double fraction, int decimals) const;
  // Below 1 MiB whole kilobytes (" KB"), below 1 GiB megabytes with two
  // decimals (" MB"), else gigabytes with two decimals (" GB").
  virtual std::string FormatSize(std::uint64_t bytes) const;
  // "Calculating time remaining" for -1; otherwise the estimate in words,
  // never shown below the estimate (from 61 seconds on, whole minutes
  // rounded up).
  virtual std::string RemainingTimeText(std::int32_t seconds) const;
  // The sentence for a duration already split into its parts.
  virtual std::string RemainingTimeWords(std::int32_t hours, std::int32_t minutes,
                                         std::int32_t seconds) const = 0;

 protected:
  SimpleLocale() = default;
};

// `text` with every `placeholder` replaced by `value`; the inserted values
// are not searched again.
std::string ReplaceAll(const std::string& text, const std::string& placeholder,
                       const std::string& value);

}  // namespace velmo
