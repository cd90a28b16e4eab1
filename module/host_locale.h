// The host's locale conventions the plug-in follows (month names, time separator, decimal sign),
// read from the environment on every use, and upper-casing that is the same in every locale.
#pragma once

#include <locale.h>

#include <string>
#include <string_view>

namespace pullwire {

enum class LocaleCategory { kTime, kNumeric };

// The locale the environment names for one category: LC_ALL, else the category's own variable
// (LC_TIME, LC_NUMERIC), else LANG. The environment is read for each object, so a change takes
// effect at the next use; neither the process's nor the thread's locale is touched, and a host
// that never calls setlocale still gets its user's conventions. A locale the machine does not
// have reads as "C".
class HostLocale {
 public:
  explicit HostLocale(LocaleCategory category);

  // LC_TIME: the abbreviated name of `month` (0 is January) in UTF-8: "Mar", "Mär".
  std::string MonthAbbreviation(int month) const;
  // LC_TIME: what stands between hours and minutes in the locale's time format: ":" mostly,
  // "." in Finnish.
  std::string TimeSeparator() const;
  // LC_NUMERIC: the decimal sign in UTF-8: ".", or "," in German.
  std::string DecimalSign() const;

 private:
  locale_t locale_;  // kept by a module-wide cache, one per category
};

// The time separator of a strftime time format (`ampm_format` stands in for %r). Only
// punctuation counts: a format with a clock unit there ("%H時%M分") or none at all gives ":".
std::string TimeSeparatorOf(std::u32string_view time_format, std::u32string_view ampm_format);

// `text` (UTF-8) in upper case by Unicode's default mapping, the same whatever the locale ("é"
// gives "É"; "i" gives "I" under a Turkish locale too). Letters without a single upper-case
// letter ("ß") stay; text that is not UTF-8 has only its ASCII letters upper-cased.
std::string UpperCaseText(std::string_view text);

}  // namespace pullwire
